# Sourced by the Wine scripts: the environment a program of the Windows build runs in.
#   wine_prefix=<prefix> wine_sdk=<sdk>; . tools/wine-env.sh
# The SDK's DLLs and the MinGW runtime are found through Wine's PATH, Qt's plugins
# through QT_PLUGIN_PATH; Wine's own helpers (Mono, Gecko, the menu builder) stay off.
export WINEPREFIX="$wine_prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINELOADER=/usr/lib/wine/wine64
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
gcc_dlls="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")"
export WINEPATH="$(windows_path "$wine_sdk/bin");$(windows_path "$gcc_dlls");$(windows_path /usr/x86_64-w64-mingw32/lib)"
export QT_PLUGIN_PATH="$(windows_path "$wine_sdk/plugins")"
# Qt's offscreen platform on Windows reads its fonts from one folder: the host's
# DejaVu fonts, which the Linux tests draw with too.
export QT_QPA_FONTDIR="$(windows_path /usr/share/fonts/truetype/dejavu)"
