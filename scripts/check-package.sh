#!/usr/bin/env bash
# Checks the packaged programs, unpacked into a temporary root (nothing is installed):
#  1. every package the workstation depends on is a Debian package present here;
#  2. the packaged qtl-settings writes a settings file byte-identical to the one the packaged
#     qtl-devserver writes, and its `check` signs in to that server through the workstation's own
#     connection code (Qt SQL's ODBC plugin, unixODBC, FreeTDS): the server's log must show the
#     settings-file account logging in;
#  3. the packaged workstation, started through a link as /usr/bin/qtl33 is one, starts offscreen
#     and creates its login window (which deletes "QTL 32.bat" beside the program, not beside the
#     link) and is still waiting there. It has no way to sign in without a person at the keyboard,
#     so the sign-in itself is what step 2 proves;
#  4. the systemd unit of qtl-devserver passes systemd-analyze verify (where that is available);
#  5. installed with dpkg into a throw-away root (its own database, the maintainer scripts run
#     outside a chroot with DPKG_ROOT), a plain removal keeps the site's Data/QTL and Data/driver
#     and a purge leaves nothing under /opt/qtl33.
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
for program in qtl33 qtl-settings; do
  [ "$(readlink "$WORK/root/usr/bin/$program")" = "/opt/qtl33/$program" ] || fail "no /usr/bin/$program link"
done

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

# 3. The packaged workstation reaches its login window, started through a link from another folder.
mkdir "$WORK/bin"
ln -s "$OPT/qtl33" "$WORK/bin/qtl33"
touch "$OPT/QTL 32.bat"
QT_QPA_PLATFORM=offscreen "$WORK/bin/qtl33" > "$WORK/qtl33.out" 2>&1 &
APP=$!
for _ in $(seq 1 100); do
  [ -e "$OPT/QTL 32.bat" ] || break
  sleep 0.1
done
[ ! -e "$OPT/QTL 32.bat" ] || fail "qtl33 did not reach its login window: $(cat "$WORK/qtl33.out")"
sleep 1
kill -0 "$APP" 2>/dev/null || fail "qtl33 ended at its login window: $(cat "$WORK/qtl33.out")"
echo "check-package: the packaged qtl33, started through a link, waits at its login window"
kill "$APP" 2>/dev/null || true
wait "$APP" 2>/dev/null || true
APP=""

# 4. The service unit, checked where it can run: its ExecStart pointed at the unpacked program.
# systemd-analyze verify exits 0 on unknown keys and bad values, so any word from it fails.
UNIT=$WORK/root/lib/systemd/system/qtl-devserver.service
[ -f "$UNIT" ] || fail "no /lib/systemd/system/qtl-devserver.service"
if command -v systemd-analyze > /dev/null; then
  sed "s|/usr/bin/qtl-devserver|$WORK/root/usr/bin/qtl-devserver|" "$UNIT" > "$WORK/qtl-devserver.service"
  verdict=$(systemd-analyze verify --man=no "$WORK/qtl-devserver.service" 2>&1) && [ -z "$verdict" ] \
    || fail "systemd-analyze verify: qtl-devserver.service: $verdict"
  echo "check-package: systemd-analyze verify accepts qtl-devserver.service"
fi

# 5. Removal and purge, as the administrator does them after writing the site's files.
DROOT=$WORK/dpkg-root
mkdir -p "$DROOT/var/lib/dpkg/info" "$DROOT/var/lib/dpkg/updates"
touch "$DROOT/var/lib/dpkg/status"
sitedpkg() { dpkg --root="$DROOT" --log=/dev/null --force-script-chrootless --force-depends "$@" > "$WORK/dpkg.out" 2>&1 \
  || fail "dpkg $*: $(cat "$WORK/dpkg.out")"; }
for deb in "$@"; do
  case "$(dpkg-deb -f "$deb" Package)" in qtl33) sitedpkg --install "$deb" ;; esac
done
echo entry_pw | "$DROOT/opt/qtl33/qtl-settings" write "$DROOT/opt/qtl33/Data/QTL" --server 10.0.0.5,1433 \
  --database QTL --user qtl_entry > /dev/null
echo "ODBC Driver 18 for SQL Server" > "$DROOT/opt/qtl33/Data/driver"
sitedpkg --remove qtl33
[ -f "$DROOT/opt/qtl33/Data/QTL" ] && [ -f "$DROOT/opt/qtl33/Data/driver" ] \
  || fail "removing qtl33 (without purge) lost the site's Data/QTL or Data/driver"
sitedpkg --purge qtl33
[ ! -e "$DROOT/opt/qtl33" ] || fail "purging qtl33 left: $(find "$DROOT/opt/qtl33" | tr '\n' ' ')"
echo "check-package: removing qtl33 keeps Data/QTL and Data/driver, purging leaves nothing in /opt/qtl33"
