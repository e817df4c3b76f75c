#!/usr/bin/env bash
# Runs one test command and passes its output and exit status through. When the sanitizer
# runtime itself crashed (LeakSanitizer's tracer dying while it stops the threads at exit, a
# CHECK inside the runtime) the test said nothing about our code, so it runs again, at most twice;
# a third such crash in a row fails. Twice, because on a real X server the tracer crashes in about
# 4 runs in 100 of a passing GUI test (16 of 448 in 14 display stages), so a single rerun would
# still fail one display stage in 25. A sanitizer finding (leak, ASan or UBSan report) or a test
# failure is never rerun. ctest runs every test of a sanitizer build through this (tests/CMakeLists.txt), and
# scripts/display-tests.sh runs each of its tests through it.
#   scripts/test-launcher.sh COMMAND [ARGS...]
set -uo pipefail

# What the runtime prints when it failed, as opposed to what it found.
runtime_crash='LeakSanitizer has encountered a fatal error|Tracer caught signal|Sanitizer CHECK failed'
# Findings and test failures; any of these makes the run a failure whatever else it printed.
finding='ERROR: [A-Za-z]*Sanitizer|runtime error:|SUMMARY: [A-Za-z]*Sanitizer|^\[  FAILED  \]'

classify() {  # status, file with the run's standard error and output
  local status=$1 file=$2
  if [ "$status" -eq 0 ]; then echo pass
  elif grep -Eq -- "$finding" "$file"; then echo fail
  elif grep -Eq -- "$runtime_crash" "$file"; then echo rerun
  else echo fail
  fi
}

[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }

# The test's name for the log: its --gtest_filter, else the program.
name=$(basename "$1")
for arg in "$@"; do
  case $arg in --gtest_filter=*) name=${arg#--gtest_filter=} ;; esac
done

# Both streams go through unchanged (gtest_discover_tests reads the listing from standard
# output); a copy of both is kept to classify the run.
copy=$(mktemp)
trap 'rm -f "$copy"' EXIT
run() {
  { "$@" 2>&1 1>&3 3>&- | tee -a "$copy" >&2 3>&-; } 3>&1 | tee -a "$copy"
  return "${PIPESTATUS[0]}"
}

attempts=3
for attempt in $(seq "$attempts"); do
  : >"$copy"
  run "$@"
  status=$?
  case $(classify "$status" "$copy") in
    pass) [ "$attempt" -eq 1 ] || echo "test-launcher: $name passed on run $attempt" >&2; exit 0 ;;
    fail) exit "$status" ;;
    rerun)
      if [ "$attempt" -lt "$attempts" ]; then
        echo "test-launcher: sanitizer runtime crashed in $name (not a finding); rerunning (run $((attempt + 1)) of at most $attempts)" >&2
      else
        echo "test-launcher: sanitizer runtime crashed in $name on all $attempts runs; failing" >&2
        exit "$status"
      fi ;;
  esac
done
