#!/bin/sh
# Installs the Debian packages the build needs, only those that are missing.
#   tools/install-deps.sh           the Linux build
#   tools/install-deps.sh windows   the Windows cross build, its SDK, Wine and the installer
set -e
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
PKGS="g++ cmake ninja-build ccache make pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-serialport-dev libqt6svg6 libxlsxwriter-dev libeigen3-dev zlib1g-dev libgl-dev libbenchmark-dev dpkg-dev file desktop-file-utils xdg-utils qt6-translations-l10n poppler-utils"
if [ "$1" = windows ]; then
  PKGS="$PKGS g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev libwine-dev wine wine64 nsis tcl xvfb xauth xz-utils x11-utils xdotool imagemagick fonts-dejavu-core"
  # The SDK is built from Debian's source packages: the archive's sources must be listed.
  SOURCES=/etc/apt/sources.list.d/debian.sources
  if [ -f "$SOURCES" ] && ! grep -q '^Types:.*deb-src' "$SOURCES"; then
    echo "Listing Debian's source packages in $SOURCES"
    $SUDO sed -i 's/^Types: *deb *$/Types: deb deb-src/' "$SOURCES"
    $SUDO apt-get update -qq
  fi
fi
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
