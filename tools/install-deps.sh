#!/bin/sh
# Installs the Debian packages the build needs, only those that are missing.
set -e
PKGS="g++ cmake ninja-build make pkg-config qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6svg6 libxlsxwriter-dev libeigen3-dev zlib1g-dev libgl-dev libbenchmark-dev dpkg-dev file desktop-file-utils xdg-utils qt6-translations-l10n poppler-utils"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
