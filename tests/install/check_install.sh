#!/bin/sh
# Installs the programs into a scratch folder and checks what a desktop and a Debian
# system need there:
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
    depends=$(dpkg-deb -f "$2" Depends)
    echo "$depends" | grep -q 'libqt6serialport6' \
        || { echo "no Qt dependencies in the package"; exit 1; }
    # The icon needs Qt's SVG plugin, which no binary links.
    echo "$depends" | grep -q 'libqt6svg6' || { echo "the package does not depend on libqt6svg6"; exit 1; }
    echo "$depends" | grep -q 'libqt6sql6-sqlite' || { echo "the package does not depend on libqt6sql6-sqlite"; exit 1; }
    # The changelog's latest entry is this package's version.
    version=$(dpkg-deb -f "$2" Version)
    gzip -dc "$scratch/usr/share/doc/lorit-service/changelog.gz" | head -n 1 \
        | grep -q "^lorit-service ($version) " || { echo "the changelog does not begin with $version"; exit 1; }
    for program in "$scratch/usr/bin/lorit-service" "$scratch/usr/bin/lorit-service-demo"; do
        if objdump -p "$program" 2>/dev/null | grep -q 'NEEDED.*libxlsxwriter'; then
            echo "$depends" | grep -q 'libxlsxwriter' \
                || { echo "$program needs libxlsxwriter, which the package does not depend on"; exit 1; }
        fi
    done ;;
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

# A manual page for each program, in English and in Russian, gzipped, that man shows
# without a complaint.
for page in "$prefix"/share/man/man1/lorit-service.1.gz "$prefix"/share/man/man1/lorit-service-demo.1.gz \
            "$prefix"/share/man/ru/man1/lorit-service.1.gz "$prefix"/share/man/ru/man1/lorit-service-demo.1.gz; do
    program=$(basename "$page" .1.gz)
    [ -f "$page" ] || fail "no manual page $page"
    gzip -t "$page" || fail "$program.1.gz is not gzipped"
    if command -v man >/dev/null; then
        complaints=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
        [ -z "$complaints" ] || fail "$program.1: $complaints"
    fi
done

# What software centres list: valid AppStream metadata that launches the menu entry.
set -- "$prefix"/share/metainfo/*.metainfo.xml
[ -f "$1" ] || fail "no AppStream metadata in share/metainfo"
id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$1")
[ "$(basename "$1")" = "$id.metainfo.xml" ] || fail "the metadata file is not named after its id $id"
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$1")
[ -f "$prefix/share/applications/$launchable" ] || fail "the metadata launches $launchable, which is not installed"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$1" >/dev/null 2>&1 || fail "$(appstreamcli validate --no-net "$1" 2>&1)"
fi
[ -f "$prefix/share/doc/lorit-service/copyright" ] || fail "no copyright file"
gzip -t "$prefix/share/doc/lorit-service/changelog.gz" || fail "no gzipped changelog"
# The user guide that F1 opens, with every picture it shows.
guide="$prefix/share/doc/lorit-service/guide-ru.md"
[ -f "$guide" ] || fail "no user guide guide-ru.md"
for picture in $(grep -o '([a-z-]*\.png)' "$guide" | tr -d '()' | sort -u); do
    [ -f "$prefix/share/doc/lorit-service/$picture" ] || fail "the user guide shows $picture, which is not installed"
done

# Nothing else is installed: no test program, no library, no headers.
extra=$(cd "$scratch" && find . -type f \
    ! -path ./usr/bin/lorit-service ! -path ./usr/bin/lorit-service-demo \
    ! -path './usr/share/applications/*' ! -path './usr/share/icons/*' ! -path './usr/share/doc/*' \
    ! -path './usr/share/man/man1/*' ! -path './usr/share/man/ru/man1/*' ! -path './usr/share/metainfo/*')
[ -z "$extra" ] || fail "unexpected files installed: $extra"
echo "installed files are complete"
