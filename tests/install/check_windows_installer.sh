#!/bin/sh
# The Windows installer under Wine, in a prefix of its own: "/S" installs the programs,
# the Start-menu entries and the entry in "Programs and Features"; the installed demo
# starts and shows its window (a screenshot under a virtual display is left as
# <build>/installed-demo.png) and leaves the real program's files beside it as they
# were; "/S" on the uninstaller takes everything away again, the demo's files with it,
# and leaves the real program's working files.
#   tests/install/check_windows_installer.sh <setup.exe> <build folder>
set -eu
SETUP="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
BUILD="$(cd "$2" && pwd)"
TOOLS="$(cd "$(dirname "$0")/../../tools" && pwd)"
PREFIX="$BUILD/wine-installer"
rm -rf "$PREFIX"
sh "$TOOLS/wine-prefix.sh" "$PREFIX" /nonexistent desktop
# The installed programs find everything beside themselves: no SDK on Wine's PATH.
wine_prefix="$PREFIX" wine_sdk=/nonexistent
. "$TOOLS/wine-env.sh"
unset WINEPATH QT_PLUGIN_PATH
WINE=/usr/lib/wine/wine64
APP="$PREFIX/drive_c/Program Files/ЛОРИТ-сервис"
MENU="$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/ЛОРИТ-сервис"
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\lorit-service'
fail() { echo "check_windows_installer: $*" >&2; exit 1; }

"$WINE" "$(printf 'Z:%s' "$SETUP" | tr / '\\')" /S
/usr/lib/wine/wineserver -w
for file in lorit-service.exe lorit-service-demo.exe Qt6Core.dll plugins/platforms/qwindows.dll doc/guide-ru.md uninstall.exe; do
  [ -f "$APP/$file" ] || fail "not installed: $file"
done
[ -f "$MENU/ЛОРИТ-сервис.lnk" ] && [ -f "$MENU/ЛОРИТ-сервис (демонстрация).lnk" ] || fail "no Start-menu entries"
"$WINE" reg query "$KEY" /v UninstallString >/dev/null 2>&1 || fail "not in Programs and Features"

# The real program's working files, with the names of the demo's samples: the demo
# must leave them as they are.
mkdir -p "$APP/FilesInTavelon"
printf 'real control program' >"$APP/FilesInTavelon/Tavelon_2008.tsk"
printf 'TavBDTS' >"$APP/FilesInTavelon/Tavelon_BDTS.bdt"
printf 'protocol' >"$APP/MSTempProtokol.txt"
REAL_SUMS="$(cd "$APP" && md5sum FilesInTavelon/Tavelon_2008.tsk FilesInTavelon/Tavelon_BDTS.bdt MSTempProtokol.txt)"

# The installed demo on a virtual display, until its window is there.
xvfb-run -a -s "-screen 0 1280x900x24" sh -c '
  cd "$1" && "$2" lorit-service-demo.exe >/dev/null 2>&1 &
  for i in $(seq 1 90); do
    if xwininfo -root -tree | grep -q "ЛОРИТ-сервис"; then
      sleep 3; import -window root "$3"; /usr/lib/wine/wineserver -k; exit 0
    fi
    sleep 1
  done
  /usr/lib/wine/wineserver -k; exit 1' sh "$APP" "$WINE" "$BUILD/installed-demo.png" \
  || fail "the installed demo showed no window"
[ "$(cd "$APP" && md5sum FilesInTavelon/Tavelon_2008.tsk FilesInTavelon/Tavelon_BDTS.bdt MSTempProtokol.txt)" = "$REAL_SUMS" ] \
  || fail "the demo changed the real program's files"
[ -f "$APP/demo/FilesInTavelon/Tavelon_2008.tsk" ] || fail "the demo wrote its samples elsewhere than its own folder"

"$WINE" "C:\\Program Files\\ЛОРИТ-сервис\\uninstall.exe" /S
/usr/lib/wine/wineserver -w
[ ! -e "$APP/lorit-service.exe" ] || fail "the uninstaller left the program"
[ ! -e "$MENU" ] || fail "the uninstaller left the Start-menu entries"
! "$WINE" reg query "$KEY" >/dev/null 2>&1 || fail "the uninstaller left its entry in Programs and Features"
[ ! -e "$APP/demo" ] || fail "the uninstaller left the demo's files"
demo_left="$(find "$PREFIX/drive_c" -iname 'lorit-service-demo*' -print)"
[ -z "$demo_left" ] || fail "the uninstaller left the demo's files: $demo_left"
[ "$(cd "$APP" && md5sum FilesInTavelon/Tavelon_2008.tsk FilesInTavelon/Tavelon_BDTS.bdt MSTempProtokol.txt)" = "$REAL_SUMS" ] \
  || fail "the uninstaller took the real program's working files"
rm -rf "$PREFIX"
echo "installed, started and uninstalled under Wine: $BUILD/installed-demo.png"
