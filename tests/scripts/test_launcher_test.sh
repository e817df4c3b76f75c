#!/usr/bin/env bash
# scripts/test-launcher.sh reruns a test only when the sanitizer runtime itself crashed, and
# at most twice: a finding, a failed test or a third runtime crash in a row must still fail.
#   bash tests/scripts/test_launcher_test.sh PATH/TO/test-launcher.sh
set -uo pipefail
launcher=${1:?usage: $0 PATH/TO/test-launcher.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A fake test program: its N-th run prints what the N-th named outcome prints and ends the way
# that outcome ends (abort_on_error turns a sanitizer's exit into SIGABRT).
cat >"$work/fake" <<'FAKE'
#!/usr/bin/env bash
runs=$1; shift
n=$(( $(cat "$runs" 2>/dev/null || echo 0) + 1 ))
echo "$n" >"$runs"
outcome=${!n}
echo "listing-line-$n"
case $outcome in
  clean) echo '[  PASSED  ] 1 test.'; exit 0 ;;
  tracer)
    echo '[  PASSED  ] 1 test.'
    echo 'Tracer caught signal 11: addr=0x0 pc=0x7f0000001000 sp=0x7f0000002000' >&2
    echo '==4242==LeakSanitizer has encountered a fatal error.' >&2
    echo '==4242==HINT: For debugging, try setting environment variable LSAN_OPTIONS=verbosity=1:log_threads=1' >&2
    kill -ABRT $$ ;;
  check)
    echo '==4242==AddressSanitizer CHECK failed: sanitizer_allocator.cpp:42 "((x)) != (0)" (0x0, 0x0) (tid=7)' >&2
    kill -ABRT $$ ;;
  leak)
    echo '[  PASSED  ] 1 test.'
    echo '==4242==ERROR: LeakSanitizer: detected memory leaks' >&2
    echo 'Direct leak of 24 byte(s) in 1 object(s) allocated from:' >&2
    echo 'SUMMARY: AddressSanitizer: 24 byte(s) leaked in 1 allocation(s).' >&2
    exit 23 ;;
  leak+tracer)  # a leak found and the runtime crashing afterwards: the leak stands
    echo '==4242==ERROR: LeakSanitizer: detected memory leaks' >&2
    echo 'Tracer caught signal 11: addr=0x0 pc=0x1 sp=0x2' >&2
    echo '==4242==LeakSanitizer has encountered a fatal error.' >&2
    kill -ABRT $$ ;;
  asan)
    echo '==4242==ERROR: AddressSanitizer: heap-use-after-free on address 0x602000000010' >&2
    kill -ABRT $$ ;;
  ubsan)
    echo 'src/platform/Query.cpp:10:5: runtime error: signed integer overflow' >&2
    kill -ABRT $$ ;;
  failed+tracer)
    echo '[  FAILED  ] Suite.Case (12 ms)'
    echo 'Tracer caught signal 11: addr=0x0 pc=0x1 sp=0x2' >&2
    kill -ABRT $$ ;;
  failed) echo '[  FAILED  ] Suite.Case (12 ms)'; exit 1 ;;
  segv) kill -SEGV $$ ;;
  timeout) exit 124 ;;
esac
FAKE
chmod +x "$work/fake"

failures=0
# name | outcomes of the first and second run | expected exit | expected runs | expected note
while IFS='|' read -r name outcomes want_status want_runs want_note; do
  [ -n "$name" ] || continue
  runs="$work/$name.runs"
  # shellcheck disable=SC2086  # the outcomes are separate words on purpose
  "$launcher" "$work/fake" "$runs" $outcomes --gtest_filter=Suite.Case >"$work/$name.out" 2>"$work/$name.err"
  status=$?
  got_runs=$(cat "$runs")
  problems=()
  if [ "$want_status" = 0 ]; then [ "$status" -eq 0 ] || problems+=("exit $status, wanted 0")
  else [ "$status" -ne 0 ] || problems+=("exit 0, wanted a failure"); fi
  [ "$got_runs" = "$want_runs" ] || problems+=("ran $got_runs times, wanted $want_runs")
  if [ -n "$want_note" ]; then
    grep -q -- "$want_note" "$work/$name.err" || problems+=("no '$want_note' on standard error")
  else
    ! grep -q 'test-launcher:' "$work/$name.err" || problems+=("unexpected note: $(grep 'test-launcher:' "$work/$name.err")")
  fi
  # Standard output passes through unchanged, every run's (the test listing is read from it).
  expected_out=$(for i in $(seq "$got_runs"); do echo "listing-line-$i"; done)
  [ "$(grep '^listing-line-' "$work/$name.out")" = "$expected_out" ] || problems+=("standard output not passed through")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: ${problems[*]}"
    failures=$((failures + 1))
  fi
done <<'CASES'
clean|clean|0|1|
plain test failure|failed|1|1|
crash without a report|segv|1|1|
timeout|timeout|1|1|
tracer crash then clean|tracer clean|0|2|sanitizer runtime crashed in Suite.Case (not a finding); rerunning (run 2 of at most 3)
runtime CHECK then clean|check clean|0|2|rerunning (run 2
tracer crash twice then clean|tracer tracer clean|0|3|passed on run 3
tracer crash three times|tracer tracer tracer clean|1|3|sanitizer runtime crashed in Suite.Case on all 3 runs; failing
tracer crash then a leak|tracer leak|1|2|rerunning (run 2
tracer crash twice then a leak|tracer check leak|1|3|rerunning (run 3
tracer crash then a test failure|tracer failed|1|2|rerunning (run 2
leak report|leak clean|1|1|
leak report with a tracer crash|leak+tracer clean|1|1|
ASan error|asan clean|1|1|
UBSan error|ubsan clean|1|1|
failed test with a tracer crash|failed+tracer clean|1|1|
CASES
[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
echo "all cases passed"
