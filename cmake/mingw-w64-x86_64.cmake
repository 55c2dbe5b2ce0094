# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread model, which
# std::thread and Qt need), against the Qt SDK that tools/windows-sdk.sh builds.
# `make windows` passes it to Qt's own toolchain file of the SDK, which loads it first:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=<sdk>/lib/cmake/Qt6/qt.toolchain.cmake \
#         -DQT_CHAINLOAD_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DLORIT_WINDOWS_SDK=<the SDK's folder>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_lorit_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_lorit_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_lorit_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_lorit_triplet}-windres)

# The SDK's folder comes from the cache variable or the environment; try_compile
# projects see it through the environment only.
if(NOT LORIT_WINDOWS_SDK AND DEFINED ENV{LORIT_WINDOWS_SDK})
  set(LORIT_WINDOWS_SDK "$ENV{LORIT_WINDOWS_SDK}")
endif()
if(LORIT_WINDOWS_SDK)
  set(ENV{LORIT_WINDOWS_SDK} "${LORIT_WINDOWS_SDK}")
  list(APPEND CMAKE_PREFIX_PATH "${LORIT_WINDOWS_SDK}")
endif()

# Headers and libraries only from MinGW's own folder and the SDK, programs (moc, rcc)
# from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_lorit_triplet} ${LORIT_WINDOWS_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's code generators are Debian's own, of the same version as the SDK.
set(QT_HOST_PATH /usr CACHE PATH "Host Qt for moc, rcc and uic")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Host Qt's CMake packages")


# pkg-config answers for the SDK's libraries (libxlsxwriter), never the host's.
if(LORIT_WINDOWS_SDK)
  set(ENV{PKG_CONFIG_LIBDIR} "${LORIT_WINDOWS_SDK}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()
