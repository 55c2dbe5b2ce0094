#!/bin/sh
# Runs a program of the Windows build under Wine, in a prefix that tools/wine-prefix.sh
# made: the emulator of the cross build's tests.
#   tools/wine-run.sh <prefix> <sdk> <program.exe> [arguments...]
set -e
. "$(dirname "$0")/wine-env.sh" "$1" "$2"
shift 2
exec /usr/lib/wine/wine64 "$@"
