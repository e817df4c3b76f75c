#!/usr/bin/env bash
# Cross-builds the workstation for 64-bit Windows and packs it:
#   build/windows/bin/        qtl33.exe, qtl-settings.exe, qtl_unit_tests.exe (MinGW-w64, Release)
#   build/windows/deploy/     the program folder as the MSI installs it
#   build/windows/qtl33-VERSION.msi
#
#   bash scripts/windows.sh [--no-msi]
#
# The MinGW Qt comes from ../shared/toolchains/qt-6.4.2-mingw64.tar.xz when it is there (unpacked
# into the cache), else from the cache (QTL_QT_MINGW, default ~/.cache/qtl33/qt6-mingw64), else it
# is built into the cache from Debian's source package (scripts/build-qt-mingw.sh, ~50 minutes).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QTL_WINDOWS_BUILD:-$ROOT/build/windows}
CACHE=${QTL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qtl33}
QT=${QTL_QT_MINGW:-$CACHE/qt6-mingw64}
TARBALL=$ROOT/../shared/toolchains/qt-6.4.2-mingw64.tar.xz
MINGW_GCC_DIR=/usr/lib/gcc/x86_64-w64-mingw32/12-posix
MINGW_LIB_DIR=/usr/x86_64-w64-mingw32/lib
QT_TRANSLATIONS=/usr/share/qt6/translations
MAKE_MSI=1
[ "${1:-}" = "--no-msi" ] && MAKE_MSI=0

log() { echo "windows.sh: $*"; }

# --- the MinGW Qt ---------------------------------------------------------------------------------
qt_ready() { [ -x "$QT/bin/qt-cmake" ] && [ -f "$QT/lib/cmake/Qt6/qt.toolchain.cmake" ]; }
if [ -f "$TARBALL" ] && { ! qt_ready || [ "$TARBALL" -nt "$QT/.unpacked" ]; }; then
  log "unpacking $(basename "$TARBALL") into $(dirname "$QT")"
  rm -rf "$QT" "$QT.tmp" && mkdir -p "$QT.tmp"
  tar -C "$QT.tmp" -xJf "$TARBALL"
  mv "$QT.tmp/qt6-mingw64" "$QT" && rmdir "$QT.tmp"
  touch "$QT/.unpacked"
elif ! qt_ready; then
  log "no MinGW Qt in $QT: building it from Debian's qt6-base source (about 50 minutes)"
  bash "$ROOT/scripts/build-qt-mingw.sh" "$QT" "$CACHE/qt-build"
fi
qt_ready || { log "no usable MinGW Qt in $QT"; exit 1; }

# --- the build -------------------------------------------------------------------------------------
start=$(date +%s)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -G Ninja -S "$ROOT" -B "$BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$QT/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQTL_WERROR=ON -DQTL_BUILD_BENCH=OFF -DQTL_BUILD_TESTS=ON \
  "${launcher[@]}" >"$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log"; exit 1; }
cmake --build "$BUILD" --parallel "${QTL_JOBS:-2}"
log "cross build done in $(( $(date +%s) - start )) s"

# --- the program folder ----------------------------------------------------------------------------
# What the program loads, found by asking the executables and plugins which DLLs they import, so
# nothing is shipped that is not needed and nothing needed is missing.
DEPLOY=$BUILD/deploy
rm -rf "$DEPLOY" && mkdir -p "$DEPLOY"/{platforms,sqldrivers,styles,translations,Data}
cp "$BUILD/bin/qtl33.exe" "$BUILD/bin/qtl-settings.exe" "$DEPLOY/"
cp "$QT/plugins/platforms/qwindows.dll" "$DEPLOY/platforms/"
cp "$QT/plugins/sqldrivers/qsqlodbc.dll" "$DEPLOY/sqldrivers/"
cp "$QT/plugins/styles/qwindowsvistastyle.dll" "$DEPLOY/styles/"
cp "$QT_TRANSLATIONS/qtbase_ru.qm" "$DEPLOY/translations/"
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
pending=("$DEPLOY"/*.exe "$DEPLOY"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
  file=${pending[0]}; pending=("${pending[@]:1}")
  for dll in $(imports "$file"); do
    [ -e "$DEPLOY/$dll" ] && continue
    for dir in "$QT/bin" "$MINGW_GCC_DIR" "$MINGW_LIB_DIR"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$DEPLOY/" && pending+=("$DEPLOY/$dll")
        break
      fi
    done  # not found: a DLL of Windows itself
  done
done
rmdir "$DEPLOY/Data"  # the MSI makes it; its files are the site's
log "program folder: $DEPLOY ($(find "$DEPLOY" -type f | wc -l) files)"

# --- the MSI ---------------------------------------------------------------------------------------
if [ "$MAKE_MSI" = 1 ]; then
  version=${QTL_MSI_VERSION:-$(sed -n 's/^project(qtl33 VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")}
  msi=$BUILD/qtl33-$version.msi
  title="QTL 33 Регистратор студентов"
  # wixl takes the files' paths relative to where it runs.
  (cd "$DEPLOY" && find . -type f | sed 's|^\./||' | sort |
     wixl-heat -p "" --var var.SourceDir --directory-ref INSTALLDIR --component-group ProgramFiles --win64) \
    >"$BUILD/files.wxs"
  (cd "$BUILD" && wixl -a x64 -D Version="$version" -D Win64=yes -D SourceDir=deploy -o "$msi.tmp" \
     "$ROOT/packaging/windows/qtl33.wxs" files.wxs)
  # The title in Cyrillic, which wixl cannot write itself (see qtl33.wxs).
  printf '\r\n\r\n1251\t_ForceCodepage\r\n' >"$BUILD/_ForceCodepage.idt"
  msibuild "$msi.tmp" -i "$BUILD/_ForceCodepage.idt"
  msibuild "$msi.tmp" -q "UPDATE Property SET Value='$title' WHERE Property='ProductName'"
  msibuild "$msi.tmp" -q "UPDATE Shortcut SET Name='QTL33|$title', Description='$title' WHERE Shortcut='QtlShortcut'"
  mv "$msi.tmp" "$msi"
  log "MSI: $msi"
fi
