#!/bin/sh
# Makes lorit-service-<version>-setup.exe from a Windows build folder (`make
# windows-installer`): stages the component "windows" and hands it to NSIS, with the
# list of staged files for the uninstaller to remove.
#   tools/windows-installer.sh <build folder>
set -e
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "$1" && pwd)"
VERSION="$(sed -n 's/^project(LoritService VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
STAGE="$BUILD/stage"
rm -rf "$STAGE"
cmake --install "$BUILD" --component windows --prefix "$STAGE" >/dev/null
x86_64-w64-mingw32-strip "$STAGE"/*.exe
(
  cd "$STAGE"
  find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
  find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
) >"$BUILD/installed-files.nsh"
OUT="$ROOT/lorit-service-$VERSION-setup.exe"
rm -f "$OUT"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DSTAGE="$STAGE" -DOUTFILE="$OUT" \
  "$ROOT/packaging/windows/lorit-service.nsi"
sh "$ROOT/tests/install/check_windows_installer.sh" "$OUT" "$BUILD"
echo "$OUT"
