#!/usr/bin/env bash
# Runs GUI tests on a real X server, each test in its own process as ctest does offscreen. Meant
# to run under xvfb-run (scripts/test.sh does); needs xprop and xdotool (scripts/install-deps.sh).
#   bash scripts/display-tests.sh BUILD_DIR [GTEST_FILTER]
# The RealDisplay tests answer what only a real display can (native window titles, the wheel
# under the pointer, Tab from the keyboard); the others are the input and look tests of the
# selectors, the student list and the lookup windows, run once more on xcb.
set -euo pipefail
build=$1
filter=${2:-'RealDisplay.*:SelectorInput.*:StudentListInput.*:LookupWindowKeys.*:RealMessageBoxes.*:StudentList.*:MainWindowLayout.*:RegistrationsWindow.ButtonsAtTheEndsWithTheirInkInTheMiddle'}
bin="$build/bin/qtl_gui_tests"
launcher="$(dirname "$0")/test-launcher.sh"
[ -n "${DISPLAY:-}" ] || { echo "display-tests: no DISPLAY (run under xvfb-run)" >&2; exit 2; }
export QT_QPA_PLATFORM=xcb
export QTL_DEVSERVER="${QTL_DEVSERVER:-$build/bin/qtl-devserver}"

mapfile -t tests < <("$bin" --gtest_list_tests --gtest_filter="$filter" 2>/dev/null |
  awk '/^[^ ]/ { suite = $1; next } /^  / { print suite $1 }')
[ ${#tests[@]} -gt 0 ] || { echo "display-tests: no test matches $filter" >&2; exit 2; }

passed=0 failed=0 reruns=0
failures=()
log=$(mktemp)
for t in "${tests[@]}"; do
  # A skip counts as a failure here: on xcb every one of these tests must really run. The
  # launcher reruns a test (at most twice) when the sanitizer runtime itself crashed, as under ctest.
  if bash "$launcher" timeout 300 "$bin" --gtest_filter="$t" >"$log" 2>&1 &&
     ! grep -q '^\[  SKIPPED \]' "$log"; then
    passed=$((passed + 1))
    echo "ok   $t"
    if grep -q 'test-launcher: ' "$log"; then
      reruns=$((reruns + 1))
      grep 'test-launcher: ' "$log"
    fi
  else
    failed=$((failed + 1))
    failures+=("$t")
    echo "FAIL $t"
    cat "$log"
  fi
done
rm -f "$log"
echo "display: $passed passed ($reruns after a sanitizer runtime crash), $failed failed"
[ "$failed" -eq 0 ] || { printf 'failed: %s\n' "${failures[@]}"; exit 1; }
