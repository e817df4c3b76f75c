#!/usr/bin/env bash
# Builds the Debian packages (qtl33, qtl-devserver) with CPack and Debian's hardening flags, lists
# them, runs lintian (any error, warning or pedantic tag fails) and checks the packaged programs
# and their removal (scripts/check-package.sh).
# Usage: scripts/package.sh [BUILD_DIR]   (default build/package; an existing build is reused)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${1:-build/package}
JOBS=$(nproc 2>/dev/null || echo 2)

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DQTL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQTL_BUILD_TESTS=OFF -DQTL_BUILD_BENCH=OFF
fi
# Also for a reused build: the packaged programs are always hardened as Debian's own are (a build
# configured without it is compiled once more, and keeps the flags from then on).
cmake -S "$ROOT" -B "$BUILD" -DQTL_DEBIAN_BUILDFLAGS=ON > /dev/null
rm -f "$BUILD"/*.deb
cmake --build "$BUILD" -j "$JOBS" --target package
shopt -s nullglob
debs=("$BUILD"/qtl33_*.deb "$BUILD"/qtl-devserver_*.deb)
[ ${#debs[@]} -eq 2 ] || { echo "package: expected the qtl33 and qtl-devserver packages" >&2; exit 1; }

for deb in "${debs[@]}"; do
  echo "-- $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Architecture Depends
  dpkg-deb -c "$deb"
done

echo "-- lintian"
lintian --pedantic --display-info --fail-on error,warning,pedantic --tag-display-limit 0 "${debs[@]}"

bash scripts/check-package.sh "${debs[@]}"
