#!/bin/sh
# Makes the Wine prefix the Windows build's tests run in, once.
#   tools/wine-prefix.sh <prefix> <sdk> [desktop]
# Without "desktop" Wine draws nothing (the tests use Qt's offscreen platform and need
# no display); with it, windows go to $DISPLAY.
set -e
prefix="$1"
[ -f "$prefix/lorit-ready" ] && exit 0
wine_prefix="$1" wine_sdk="$2"
. "$(dirname "$0")/wine-env.sh"
rm -rf "$prefix"
mkdir -p "$prefix"
/usr/lib/wine/wine64 wineboot --init >"$prefix/wineboot.log" 2>&1
# Wine maps the machine's /dev/ttyS* as COM ports, and opening one whose line nobody
# drives hangs. COM1 to COM255 are declared absent, which leaves Wine only COM256 for
# the machine's first port, a number the program never opens by itself. Under Wine the
# line is the virtual instrument's.
{
  echo 'REGEDIT4'
  echo '[HKEY_LOCAL_MACHINE\Software\Wine\Ports]'
  n=1
  while [ $n -le 255 ]; do echo "\"COM$n\"=\"\""; n=$((n + 1)); done
  if [ "$3" != desktop ]; then
    echo '[HKEY_CURRENT_USER\Software\Wine\Drivers]'
    echo '"Graphics"="null"'
  fi
} >"$prefix/lorit.reg"
/usr/lib/wine/wine64 regedit /S "$(windows_path "$prefix/lorit.reg")" >>"$prefix/wineboot.log" 2>&1
# The user's temporary folder has a Cyrillic name, as a lab user's may: the C library's
# narrow calls must still reach it.
temp='C:\\users\\Пользователь Иванов\\Temp'
mkdir -p "$prefix/drive_c/users/Пользователь Иванов/Temp"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n"TEMP"="%s"\r\n"TMP"="%s"\r\n' \
  "$temp" "$temp" | iconv -f UTF-8 -t UTF-16 >"$prefix/lorit-user.reg"
/usr/lib/wine/wine64 regedit /S "$(windows_path "$prefix/lorit-user.reg")" >>"$prefix/wineboot.log" 2>&1
/usr/lib/wine/wineserver -w
rm -f "$prefix"/dosdevices/com*
touch "$prefix/lorit-ready"
