#!/usr/bin/env bash
# Checks the packaged programs, unpacked into a temporary root (nothing is installed):
#  1. every package the workstation depends on is a Debian package present here;
#  2. the packaged qtl-settings writes a settings file byte-identical to the one the packaged
#     qtl-devserver writes, and its `check` signs in to that server through the workstation's own
#     connection code (Qt SQL's ODBC plugin, unixODBC, FreeTDS): the server's log must show the
#     settings-file account logging in;
#  3. the packaged workstation starts offscreen and creates its login window (which deletes
#     "QTL 32.bat" beside the program) and is still waiting there. It has no way to sign in
#     without a person at the keyboard, so the sign-in itself is what step 2 proves.
# Usage: scripts/check-package.sh qtl33_*.deb qtl-devserver_*.deb
set -euo pipefail
WORK=$(mktemp -d)
SERVER=""
APP=""
cleanup() {
  [ -n "$APP" ] && kill "$APP" 2>/dev/null || true
  [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

for deb in "$@"; do dpkg-deb -x "$deb" "$WORK/root"; done
OPT=$WORK/root/opt/qtl33
[ -x "$OPT/qtl33" ] && [ -x "$OPT/qtl-settings" ] && [ -d "$OPT/Data" ] || fail "programs missing in /opt/qtl33"
[ "$(readlink "$WORK/root/usr/bin/qtl-settings")" = /opt/qtl33/qtl-settings ] || fail "no /usr/bin/qtl-settings link"

# 1. Declared dependencies.
for deb in "$@"; do
  dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | while read -r dep; do
    [ -z "$dep" ] && continue
    dpkg-query -W -f='${Status}' "$dep" 2>/dev/null | grep -q 'install ok installed' \
      || fail "$(basename "$deb") depends on $dep, which is not an installed package here"
  done
done
echo "check-package: dependencies are installed packages"

# 2. Settings file and sign-in through the packaged programs.
"$WORK/root/usr/bin/qtl-devserver" --port 0 --db "$WORK/qtl.db" --demo none --log "$WORK/requests.log" \
    --write-settings "$WORK/reference" > "$WORK/server.out" 2>&1 &
SERVER=$!
PORT=""
for _ in $(seq 1 100); do
  PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/server.out")
  [ -n "$PORT" ] && break
  sleep 0.1
done
[ -n "$PORT" ] || fail "qtl-devserver did not start: $(cat "$WORK/server.out")"

# The settings-file account of the demo server (devserver/README.md).
echo entry_pw | "$OPT/qtl-settings" write "$OPT/Data/QTL" --server "127.0.0.1,$PORT" --database QTL --user qtl_entry
cmp "$OPT/Data/QTL" "$WORK/reference" || fail "qtl-settings and qtl-devserver wrote different files"
"$OPT/qtl-settings" show "$OPT/Data/QTL"
QT_QPA_PLATFORM=offscreen "$OPT/qtl-settings" check "$OPT/Data/QTL" || fail "qtl-settings check failed"
grep -q '"kind":"login".*"user":"qtl_entry"\|"user":"qtl_entry".*"kind":"login"' "$WORK/requests.log" \
  || fail "the server's log shows no login of qtl_entry: $(cat "$WORK/requests.log")"
echo "check-package: the packaged qtl-settings signed in to qtl-devserver as qtl_entry"

# 3. The packaged workstation reaches its login window.
touch "$OPT/QTL 32.bat"
QT_QPA_PLATFORM=offscreen "$OPT/qtl33" > "$WORK/qtl33.out" 2>&1 &
APP=$!
for _ in $(seq 1 100); do
  [ -e "$OPT/QTL 32.bat" ] || break
  sleep 0.1
done
[ ! -e "$OPT/QTL 32.bat" ] || fail "qtl33 did not reach its login window: $(cat "$WORK/qtl33.out")"
sleep 1
kill -0 "$APP" 2>/dev/null || fail "qtl33 ended at its login window: $(cat "$WORK/qtl33.out")"
echo "check-package: the packaged qtl33 started offscreen and waits at its login window"
