#!/usr/bin/env bash
# Builds the MinGW Qt that scripts/windows.sh compiles against, from Debian's qt6-base source
# package (6.4.2) with Debian's Qt host tools: qtbase only (Core, Gui, Widgets, Sql with the ODBC
# driver, PrintSupport, Network, Test, Concurrent, Xml), shared, Release, no OpenGL.
#
#   bash scripts/build-qt-mingw.sh PREFIX [WORKDIR]
#
# Needs g++-mingw-w64-x86-64-posix, qt6-base-dev-tools, cmake, ninja-build and a deb-src line for
# Debian's archive (added when missing). About 50 minutes on 2 cores. PREFIX can be moved later.
set -euo pipefail
PREFIX=${1:?usage: build-qt-mingw.sh PREFIX [WORKDIR]}
WORK=${2:-$(mktemp -d)}
mkdir -p "$WORK" "$PREFIX"
PREFIX=$(cd "$PREFIX" && pwd)
cd "$WORK"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if ! ls qt6-base_6.4.2+dfsg.orig.tar.xz >/dev/null 2>&1; then
  if ! grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/qtl33-debian-src.sources >/dev/null
  fi
  $SUDO apt-get update -qq
  apt-get source --download-only qt6-base=6.4.2+dfsg-10
fi
SRC=qtbase-everywhere-src-6.4.2
[ -d "$SRC" ] || tar xJf qt6-base_6.4.2+dfsg.orig.tar.xz
# Without OpenGL the Windows platform plugin must not reach for its dynamic-GL context either.
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
  "$SRC/src/plugins/platforms/windows/qwindowswindow.cpp"

cat > mingw64.cmake <<'TOOLCHAIN'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN

features=(
  -DFEATURE_sql=ON -DFEATURE_sql_odbc=ON
  -DFEATURE_sql_sqlite=OFF -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF
  -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF
  -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF
  -DFEATURE_network=ON -DFEATURE_ssl=OFF -DFEATURE_openssl=OFF -DFEATURE_schannel=OFF -DFEATURE_zstd=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_testlib=ON -DFEATURE_printsupport=ON -DFEATURE_widgets=ON -DFEATURE_concurrent=ON
  -DFEATURE_xml=ON
)
cmake -G Ninja -S "$SRC" -B build \
  -DCMAKE_TOOLCHAIN_FILE="$WORK/mingw64.cmake" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF "${features[@]}"
cmake --build build --parallel "$(nproc)"
cmake --install build
# Qt's installed toolchain file names the one it was configured with by absolute path: keep that
# one inside the install and name it relatively, so the folder can move.
cp mingw64.cmake "$PREFIX/mingw64.cmake"
sed -i 's|^set(__qt_initially_configured_toolchain_file ".*")|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../../../mingw64.cmake")|' \
  "$PREFIX/lib/cmake/Qt6/qt.toolchain.cmake"
echo "build-qt-mingw: Qt 6.4.2 for x86_64-w64-mingw32 in $PREFIX"
