#!/bin/sh
# Runs a program of the Windows build under Wine, in a prefix that tools/wine-prefix.sh
# made: the emulator of the cross build's tests.
#   tools/wine-run.sh <prefix> <sdk> <program.exe> [arguments...]
set -e
wine_prefix="$1" wine_sdk="$2"
. "$(dirname "$0")/wine-env.sh"
shift 2
exec /usr/lib/wine/wine64 "$@"
