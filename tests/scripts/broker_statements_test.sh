#!/usr/bin/env bash
# The chosen GUI tests (tests/windows/gui_tests.txt), each run once with its own qtl-devserver
# and once through qtl-devserver-broker: both pass, and the statements each server received
# are the same, byte for byte.
#   broker_statements_test.sh BROKER GUI_TESTS [LIST]
set -uo pipefail
broker=$1 gui=$2
list=${3:-$(cd "$(dirname "$0")/.." && pwd)/windows/gui_tests.txt}
work=$(mktemp -d)
broker_pid=""
cleanup() {
  [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null && wait "$broker_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$broker" --port 0 >"$work/broker.out" 2>"$work/broker.err" &
broker_pid=$!
port=""
for _ in $(seq 300); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/broker.out")
  [ -n "$port" ] && break
  kill -0 "$broker_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || { echo "the broker did not start: $(cat "$work/broker.err")"; exit 1; }

failures=0
tests=$(grep -v '^#' "$list" | grep .)
for t in $tests; do
  for how in direct broker; do
    env_broker=()
    [ "$how" = broker ] && env_broker=(QTL_DEVSERVER_BROKER="127.0.0.1:$port")
    if ! env "${env_broker[@]}" QTL_STATEMENT_DUMP="$work/$how" "$gui" --gtest_filter="$t" \
         >"$work/$t.$how.out" 2>&1 || ! grep -q '^\[  PASSED  \] 1 test' "$work/$t.$how.out"; then
      echo "FAIL $t ($how):"; tail -40 "$work/$t.$how.out"; failures=$((failures + 1))
    fi
  done
  if [ ! -s "$work/direct/$t.log" ]; then
    echo "FAIL $t: no statements were recorded"; failures=$((failures + 1))
  elif ! diff -u "$work/direct/$t.log" "$work/broker/$t.log"; then
    echo "FAIL $t: the statements differ through the broker"; failures=$((failures + 1))
  else
    echo "ok   $t: $(wc -l <"$work/direct/$t.log") statements, the same both ways"
  fi
done
[ "$failures" -eq 0 ]
