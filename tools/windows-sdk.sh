#!/bin/bash
# Builds the Qt SDK the Windows cross build links against: Qt's base (Debian's own
# source package, the version of the host's Qt, whose code generators the build uses)
# with its SQL module and SQLite driver (SQLite from Debian's source as well),
# Qt Serial Port and Qt SVG (Qt's sources in ../shared/qt-sources) and libxlsxwriter
# (Debian's source), all for x86_64-w64-mingw32, into one folder.
#
#   tools/windows-sdk.sh            prints the SDK's folder; builds it first if needed
#
# The folder is $LORIT_WINDOWS_SDK, or ~/.cache/lorit-service/windows-sdk-<qt version>-r<recipe>:
# a tree of an older recipe (another branch's) keeps its own folder and neither is
# built over the other. A complete SDK carries a stamp and is never built again.
# Most of its CPU time is Qt's base; each step's time is printed. JOBS sets the
# parallel jobs (the machine's cores).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
QT_DEB_VERSION="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
QT_VERSION="${QT_DEB_VERSION%%+*}"
# Bumped whenever what this script builds changes, so that an older SDK is rebuilt.
RECIPE=5
SDK="${LORIT_WINDOWS_SDK:-$HOME/.cache/lorit-service/windows-sdk-$QT_VERSION-r$RECIPE}"
QT_SOURCES="${LORIT_QT_SOURCES:-$ROOT/../shared/qt-sources}"
JOBS="${JOBS:-$(nproc)}"
STAMP="$SDK/lorit-sdk.stamp"

done_already() { [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "qt $QT_DEB_VERSION recipe $RECIPE" ]; }
if done_already; then
  echo "$SDK"
  exit 0
fi
# One build at a time: a second run waits for the first and then finds its work done.
mkdir -p "$(dirname "$SDK")"
exec 9>"$SDK.lock"
flock 9
if done_already; then
  echo "$SDK"
  exit 0
fi

log() { echo "windows-sdk: $*" >&2; }
# A run that was cut off goes on where it stopped: each step that ended well leaves a
# mark in the work folder.
WORK="$SDK.build"
mkdir -p "$WORK"
cd "$WORK"
START=$(date +%s)

LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
TOOLCHAIN="$ROOT/cmake/mingw-w64-x86_64.cmake"
COMMON=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$SDK" "${LAUNCHER[@]}")

# A work folder left by another recipe is not continued.
if [ "$(cat "$WORK/recipe" 2>/dev/null)" != "qt $QT_DEB_VERSION recipe $RECIPE" ]; then
  rm -rf "${WORK:?}"/* && echo "qt $QT_DEB_VERSION recipe $RECIPE" >"$WORK/recipe"
fi

# Each step's output goes to a log of its own, shown only when the step fails; the
# step's wall time is printed when it ends.
step() {
  local name="$1"; shift
  [ -f "$WORK/$name.done" ] && return 0
  local began
  began=$(date +%s)
  if ! "$@" >"$WORK/$name.log" 2>&1; then
    tail -n 60 "$WORK/$name.log" >&2
    log "$name failed; its whole log is $WORK/$name.log"
    exit 1
  fi
  log "$name: $(( $(date +%s) - began )) s"
  touch "$WORK/$name.done"
}

# --- SQLite, for Qt's SQLite driver -----------------------------------------------------
# Debian's source of the host's version; its one-file form (sqlite3.c) is generated on
# the host (with tclsh) and compiled into a static library the driver takes whole, so
# no further DLL is carried.
SQLITE_DEB_VERSION="$(dpkg-query -W -f='${Version}' libsqlite3-0)"
step sqlite-source apt-get source --download-only "sqlite3=$SQLITE_DEB_VERSION"
step sqlite-unpack sh -c 'rm -rf sqlite && dpkg-source -x sqlite3_*.dsc sqlite'
step sqlite-amalgamation sh -c 'rm -rf build-sqlite && mkdir build-sqlite && cd build-sqlite \
  && ../sqlite/configure --disable-tcl --disable-readline >configure.log && make sqlite3.c'
CC_LAUNCH="$(command -v ccache || true)"
step sqlite-build sh -c "cd build-sqlite && $CC_LAUNCH x86_64-w64-mingw32-gcc-posix -O2 \
  -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_OMIT_LOAD_EXTENSION \
  -DSQLITE_DEFAULT_FOREIGN_KEYS=1 -c sqlite3.c -o sqlite3.o \
  && x86_64-w64-mingw32-ar rcs libsqlite3.a sqlite3.o"

# --- Qt's base -------------------------------------------------------------------------
step qtbase-source apt-get source --download-only "qt6-base=$QT_DEB_VERSION"
step qtbase-unpack sh -c 'rm -rf qtbase && dpkg-source -x qt6-base_*.dsc qtbase'
# Debian's repacked source leaves out the tablet headers the Windows platform plugin
# includes; Wine's development package carries the same two.
WINTAB="$(dirname "$(find /usr/include/wine -name pktdef.h | head -n 1)")"
# Wine's header leans on two macros of Wine's own headers, and Qt on one of the
# original's.
mkdir -p qtbase/src/3rdparty/wintab
cp -p "$WINTAB/pktdef.h" qtbase/src/3rdparty/wintab/
cat - "$WINTAB/wintab.h" >qtbase/src/3rdparty/wintab/wintab.h <<'HEADER'
#ifndef WINELIB_NAME_AW
# ifdef UNICODE
#  define WINELIB_NAME_AW(func) func##W
# else
#  define WINELIB_NAME_AW(func) func##A
# endif
#endif
#ifndef DECL_WINELIB_TYPE_AW
# define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif
#ifndef API
# define API WINAPI
#endif
HEADER
touch -r "$WINTAB/wintab.h" qtbase/src/3rdparty/wintab/wintab.h
# The Direct2D platform plugin is left out: the programs use the windows platform, and
# the other one compiles most of its sources again. Direct2D itself stays, since
# without it Gui lacks the DirectWrite font engine Qt6PrintSupport.dll links to.
step qtbase-no-direct2d-plugin sed -i \
  's/^ *add_subdirectory(direct2d)$/    # direct2d: not built for this SDK/' \
  qtbase/src/plugins/platforms/CMakeLists.txt
# Only what the programs and their tests load: no OpenGL (Windows' own renderer
# paints), no JPEG, no network, D-Bus, XML, concurrency or Vulkan, of the database
# drivers SQLite's alone (the run archive); Qt's own tools come from the host, its
# examples and tests are not built. FreeType stays: the offscreen platform the tests
# use draws text with it on Windows too.
step qtbase-configure cmake -S qtbase -B build-qtbase "${COMMON[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_sql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON \
  -DFEATURE_sql_odbc=OFF -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF \
  -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF -DFEATURE_sql_ibase=OFF \
  -DSQLite3_INCLUDE_DIR="$WORK/build-sqlite" -DSQLite3_LIBRARY="$WORK/build-sqlite/libsqlite3.a" \
  -DFEATURE_network=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_jpeg=OFF
step qtbase-build cmake --build build-qtbase --parallel "$JOBS"
step qtbase-install cmake --install build-qtbase
log "Qt's base took $(( $(date +%s) - START )) s"

# --- Qt Serial Port and Qt SVG ---------------------------------------------------------
for module in qtserialport qtsvg; do
  step "$module-unpack" tar -xf "$QT_SOURCES/$module-$QT_VERSION.tar.xz"
  step "$module-configure" cmake -S "$module-$QT_VERSION" -B "build-$module" \
    "${COMMON[@]}" -DCMAKE_TOOLCHAIN_FILE="$SDK/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  step "$module-build" cmake --build "build-$module" --parallel "$JOBS"
  step "$module-install" cmake --install "build-$module"
done

# --- libxlsxwriter, a DLL against MinGW's zlib --------------------------------------------
step xlsxwriter-source apt-get source --download-only libxlsxwriter
step xlsxwriter-unpack sh -c 'rm -rf xlsxwriter && dpkg-source -x libxlsxwriter_*.dsc xlsxwriter'
step xlsxwriter-configure cmake -S xlsxwriter -B build-xlsxwriter "${COMMON[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DBUILD_SHARED_LIBS=ON -DUSE_SYSTEM_MINIZIP=OFF
step xlsxwriter-build cmake --build build-xlsxwriter --parallel "$JOBS"
step xlsxwriter-install cmake --install build-xlsxwriter

echo "qt $QT_DEB_VERSION recipe $RECIPE" >"$STAMP"
cd /
rm -rf "$WORK"
log "built in $(( $(date +%s) - START )) s: $SDK"
echo "$SDK"
