#!/usr/bin/env bash
# Builds the workstation and qtl-devserver, starts the server with demo data on 127.0.0.1:11433,
# writes the settings file beside the workstation and starts the workstation.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
bash scripts/install-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S "$ROOT" -B build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQTL_BUILD_TESTS=OFF -DQTL_BUILD_BENCH=OFF
cmake --build build/demo -j "$JOBS"
BIN=$ROOT/build/demo/bin
mkdir -p "$BIN/Data" build/demo/run
PORT=${QTL_DEMO_PORT:-11433}
"$BIN/qtl-devserver" --port "$PORT" --db build/demo/run/qtl-demo.db --demo small \
    --log build/demo/run/batches.log --write-settings "$BIN/Data/QTL" &
SERVER=$!
trap 'kill $SERVER 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  (exec 3<>/dev/tcp/127.0.0.1/"$PORT") 2>/dev/null && break
  sleep 0.2
done
echo "qtl-devserver is listening on 127.0.0.1:$PORT (log: build/demo/run/batches.log)"
echo "Sign in as: operator / operator   (or viewer / viewer1, without the removal right)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
  echo "No display found: starting the workstation under Xvfb"
  exec xvfb-run -a "$BIN/qtl33"
fi
"$BIN/qtl33"
