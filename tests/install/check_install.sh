#!/bin/sh
# Installs the programs into a scratch folder and checks what a desktop needs there:
#   check_install.sh install <cmake> <build folder>   (cmake --install with a prefix)
#   check_install.sh deb <package.deb>                (the package's own files)
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case "$1" in
install)
    "$2" --install "$3" --prefix "$scratch/usr" >/dev/null ;;
deb)
    dpkg-deb -x "$2" "$scratch"
    # The Qt libraries come from dpkg-shlibdeps, not from a list kept by hand.
    dpkg-deb -f "$2" Depends | grep -q 'libqt6serialport6' \
        || { echo "no Qt dependencies in the package"; exit 1; } ;;
*)
    echo "usage: $0 install <cmake> <build folder> | deb <package.deb>"; exit 2 ;;
esac

prefix="$scratch/usr"
fail() { echo "FAIL: $*"; exit 1; }

for program in lorit-service lorit-service-demo; do
    [ -x "$prefix/bin/$program" ] || fail "$program is not in bin"
    entry="$prefix/share/applications/$program.desktop"
    [ -f "$entry" ] || fail "no desktop entry $program.desktop"
    desktop-file-validate "$entry" || fail "$program.desktop is not valid"
    # The menu starts what was installed, and shows an icon that is there.
    grep -qx "Exec=$program" "$entry" || fail "$program.desktop does not start $program"
    grep -q '^Name\[ru\]=ЛОРИТ-сервис' "$entry" || fail "$program.desktop has no Russian name"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] \
        || fail "$program.desktop names the icon $icon, which is not installed"
done
grep -q '^Name\[ru\]=.*демонстрац' "$prefix/share/applications/lorit-service-demo.desktop" \
    || fail "the demo is not named as a demo"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/lorit-service.svg" || fail "the icon is no SVG"

# Nothing else is installed: no test program, no library, no headers.
extra=$(cd "$scratch" && find . -type f \
    ! -path ./usr/bin/lorit-service ! -path ./usr/bin/lorit-service-demo \
    ! -path './usr/share/applications/*' ! -path './usr/share/icons/*' ! -path './usr/share/doc/*')
[ -z "$extra" ] || fail "unexpected files installed: $extra"
echo "installed files are complete"
