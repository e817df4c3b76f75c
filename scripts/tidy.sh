#!/usr/bin/env bash
# clang-tidy with the repository's .clang-tidy over the product code (src/, tools/, devserver/),
# using the compile commands of a configured build directory. Fails on any warning.
#   scripts/tidy.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/tidy.sh BUILD_DIR}
[ -f "$build/compile_commands.json" ] || { echo "tidy: $build has no compile_commands.json" >&2; exit 2; }
root=$(pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
run-clang-tidy -p "$build" -quiet -j "$(nproc 2>/dev/null || echo 2)" "^$root/(src|tools|devserver)/" >"$out" 2>&1 || true
warnings=$(sed 's/\x1b\[[0-9;]*m//g' "$out" | grep -E '^/.*: (warning|error):' | sort -u || true)
if [ -n "$warnings" ]; then
  echo "$warnings"
  echo "tidy: $(echo "$warnings" | wc -l) findings" >&2
  exit 1
fi
echo "tidy: no findings in src/, tools/ and devserver/"
