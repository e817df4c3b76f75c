#!/usr/bin/env bash
# Builds everything and runs every test: first under AddressSanitizer + UndefinedBehaviorSanitizer,
# then on a real X server (Xvfb) for the display tests, then in a plain optimised build, then a
# short run of each fuzzer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

JOBS=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# Leaks inside system libraries we cannot fix are suppressed one by one, each with its reason.
export LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DQTL_WERROR=ON "$@"
  cmake --build "$dir" -j "$JOBS"
  local status=0
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS" --timeout 600 || status=$?
  # A test that passed on its rerun shows nothing in ctest's summary; say which and why.
  grep -h 'test-launcher: ' "$dir/Testing/Temporary/LastTest.log" 2>/dev/null || true
  return "$status"
}

echo "== format check (.clang-format)"
bash scripts/format.sh --check

echo "== sanitizer build"
run_build build/asan -DCMAKE_BUILD_TYPE=Debug -DQTL_SANITIZE=ON -DQTL_BUILD_BENCH=OFF

if [ "${QTL_SKIP_DISPLAY:-0}" != "1" ]; then
  # Offscreen, Qt neither decorates titles nor takes input from a window system; on a real X
  # server it does both, so the input and look tests run once more there.
  echo "== GUI tests on a real X server (Xvfb, xcb)"
  display_start=$(date +%s)
  xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/display-tests.sh build/asan
  echo "== display stage took $(( $(date +%s) - display_start )) s"
fi

if [ "${QTL_SKIP_PLAIN:-0}" != "1" ]; then
  echo "== plain build"
  # Hardened as the packages are, so the package stage reuses this build as it stands.
  run_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DQTL_DEBIAN_BUILDFLAGS=ON
  echo "== clang-tidy (.clang-tidy) on src/, tools/, devserver/"
  bash scripts/tidy.sh build/release
fi

if [ "${QTL_SKIP_FUZZ:-0}" != "1" ] && command -v clang++ >/dev/null; then
  echo "== fuzzers (short run)"
  cmake -S "$ROOT" -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Debug -DQTL_BUILD_FUZZERS=ON -DQTL_BUILD_TESTS=OFF -DQTL_BUILD_BENCH=OFF
  cmake --build build/fuzz -j "$JOBS" --target fuzzers
  for f in build/fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="tests/fuzz/corpus/${name#fuzz_}"
    mkdir -p "build/fuzz/work/$name"
    echo "-- $name"
    "$f" -max_total_time="${QTL_FUZZ_SECONDS:-30}" -rss_limit_mb=2048 "build/fuzz/work/$name" "$corpus"
  done
fi
echo "== Debian packages (built, listed, lintian, the packaged programs checked)"
bash scripts/package.sh "$([ "${QTL_SKIP_PLAIN:-0}" = 1 ] && echo build/package || echo build/release)"

# The Windows build and its MSI under Wine, wherever the MinGW Qt is at hand. In CI, with the
# toolchain copy beside the checkout, a skip is a failure.
TOOLCHAIN_QT=$ROOT/../shared/toolchains/qt-6.4.2-mingw64.tar.xz
CACHED_QT=${QTL_QT_MINGW:-${QTL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qtl33}/qt6-mingw64}
skip_windows=""
if [ "${QTL_SKIP_WINDOWS:-0}" = 1 ]; then
  skip_windows="QTL_SKIP_WINDOWS=1"
elif [ ! -f "$TOOLCHAIN_QT" ] && [ ! -x "$CACHED_QT/bin/qt-cmake" ]; then
  skip_windows="no MinGW Qt: neither $TOOLCHAIN_QT nor $CACHED_QT"
fi
if [ -n "$skip_windows" ]; then
  echo "== Windows stage skipped: $skip_windows"
  if [ -n "${CI:-}" ] && [ -f "$TOOLCHAIN_QT" ]; then
    echo "== the toolchain is here and CI is set: a skipped Windows stage fails the run"
    exit 1
  fi
else
  echo "== Windows build, MSI and tests under Wine"
  windows_start=$(date +%s)
  bash scripts/windows.sh
  QTL_LINUX_BUILD=$ROOT/$([ "${QTL_SKIP_PLAIN:-0}" = 1 ] && echo build/asan || echo build/release) \
    bash scripts/windows-tests.sh
  echo "== Windows stage took $(( $(date +%s) - windows_start )) s"
fi
echo "== all tests passed"
