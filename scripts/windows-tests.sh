#!/usr/bin/env bash
# Tests the Windows build under Wine, on a virtual X server, in a fresh Wine prefix:
#   1. installs the MSI silently and checks what it put where;
#   2. starts the installed qtl33.exe, against a qtl-devserver started here on the Linux side, and
#      waits for its login window;
#   3. runs the Windows unit tests (build/windows/bin/qtl_unit_tests.exe), and the GUI tests of
#      tests/windows/gui_tests.txt against qtl-devservers the Linux side starts for them
#      (qtl-devserver-broker): each must pass, and send the server the same statements, byte for
#      byte, as the same test of the Linux build (the computer's name and address aside);
#   4. upgrades to a newer MSI and checks that the site's Data\QTL and Data\driver stayed;
#   5. uninstalls silently and checks that only the site's files are left.
#
#   bash scripts/windows-tests.sh        (after scripts/windows.sh and a Linux build; QTL_LINUX_BUILD:
#                                        that build's folder, default the first under build/ with
#                                        bin/qtl-devserver-broker and bin/qtl_gui_tests)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QTL_WINDOWS_BUILD:-$ROOT/build/windows}
CACHE=${QTL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qtl33}
QT=${QTL_QT_MINGW:-$CACHE/qt6-mingw64}
version=$(sed -n 's/^project(qtl33 VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
MSI=$BUILD/qtl33-$version.msi

if [ -z "${QTL_WINE_UNDER_X:-}" ]; then
  exec env QTL_WINE_UNDER_X=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

log() { echo "windows-tests: $*"; }
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then log "ok   $what"; else log "FAIL $what"; failures=$((failures + 1)); fi
}

[ -f "$MSI" ] || { log "no $MSI: run scripts/windows.sh first"; exit 1; }
LINUX=${QTL_LINUX_BUILD:-}
if [ -z "$LINUX" ]; then
  for candidate in "$ROOT"/build/*/; do
    [ -x "$candidate/bin/qtl-devserver-broker" ] && [ -x "$candidate/bin/qtl_gui_tests" ] && LINUX=${candidate%/} && break
  done
fi
[ -n "$LINUX" ] && [ -x "$LINUX/bin/qtl-devserver-broker" ] && [ -x "$LINUX/bin/qtl_gui_tests" ] ||
  { log "no Linux build with qtl-devserver-broker and qtl_gui_tests (set QTL_LINUX_BUILD)"; exit 1; }
DEVSERVER=$LINUX/bin/qtl-devserver
[ -f "$BUILD/bin/qtl_gui_tests.exe" ] || { log "no $BUILD/bin/qtl_gui_tests.exe: run scripts/windows.sh first"; exit 1; }

WORK=$(mktemp -d)
export WINEPREFIX=$WORK/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server_pid=""
broker_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null && wait "$broker_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
# Wine's ODBC is the host's unixODBC: the FreeTDS driver is registered here by its full path, so
# the tests do not depend on whether the package registered it system-wide.
tds_driver=$(ls /usr/lib/*/odbc/libtdsodbc.so 2>/dev/null | head -1)
[ -n "$tds_driver" ] || { log "no FreeTDS ODBC driver (libtdsodbc.so) installed"; exit 1; }
mkdir -p "$WORK/odbc"
printf '[FreeTDS]\nDescription=FreeTDS\nDriver=%s\n' "$tds_driver" >"$WORK/odbc/odbcinst.ini"
export ODBCSYSINI=$WORK/odbc
start=$(date +%s)
wineboot -i >/dev/null 2>&1
log "fresh Wine prefix in $(( $(date +%s) - start )) s"

APP="$WINEPREFIX/drive_c/Program Files/QTL 33"
APP_WIN='C:\Program Files\QTL 33'
# Wine 8's installer puts even a per-machine (ALLUSERS=1) shortcut into the user's Start menu, where
# Windows puts it into ProgramData's: look in both.
menu_link() {
  find "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu" "$WINEPREFIX/drive_c/users" \
    -path '*Start Menu/Programs/QTL 33 Регистратор студентов.lnk' 2>/dev/null | grep -q .
}
per_machine() { msiinfo export "$MSI" Property | tr -d '\r' | awk -F'\t' '$1 == "ALLUSERS" && $2 == "1" { found = 1 } END { exit !found }'; }
uninstall_entry() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r'; }
no_menu_link() { ! menu_link; }
no_uninstall_entry() { ! uninstall_entry | grep -q 'QTL 33'; }

# --- 1. silent install ------------------------------------------------------------------------------
wine msiexec /i "$(winepath -w "$MSI")" /qn
check "MSI installs qtl33.exe and qtl-settings.exe into Program Files" test -f "$APP/qtl33.exe" -a -f "$APP/qtl-settings.exe"
for f in platforms/qwindows.dll sqldrivers/qsqlodbc.dll styles/qwindowsvistastyle.dll translations/qtbase_ru.qm \
         Qt6Core.dll Qt6Widgets.dll Qt6Sql.dll Qt6PrintSupport.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  check "installed $f" test -f "$APP/$f"
done
check "an empty Data folder" test -d "$APP/Data"
check "the Start-menu shortcut" menu_link
check "installed per machine (ALLUSERS=1)" per_machine
check "an uninstall entry with the version" grep -q "DisplayVersion.*$version" <(uninstall_entry)

# --- 2. the installed program reaches its login window -----------------------------------------------
"$DEVSERVER" --port 0 --db "$WORK/qtl.db" --demo small --log "$WORK/batches.log" \
  --write-settings "$APP/Data/QTL" >"$WORK/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$WORK/server.out" && break; sleep 0.2; done
printf 'FreeTDS\n' >"$APP/Data/driver"
cp "$APP/Data/QTL" "$WORK/QTL.site"
wine "$APP_WIN\\qtl33.exe" >"$WORK/qtl33.out" 2>&1 &
login_seen=0
for _ in $(seq 120); do
  if xdotool search --name 'Аутентификация' >/dev/null 2>&1; then login_seen=1; break; fi
  sleep 0.5
done
check "the installed qtl33.exe shows its login window" test "$login_seen" = 1
wineserver -k 2>/dev/null || true

# --- 3. the Windows unit tests ------------------------------------------------------------------------
export WINEPATH="$(winepath -w "$QT/bin");$(winepath -w /usr/lib/gcc/x86_64-w64-mingw32/12-posix);$(winepath -w /usr/x86_64-w64-mingw32/lib)"
start=$(date +%s)
check "Windows unit tests" env QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$(winepath -w "$QT/plugins")" \
  wine "$BUILD/bin/qtl_unit_tests.exe" --gtest_brief=1
log "unit tests in $(( $(date +%s) - start )) s"

"$LINUX/bin/qtl-devserver-broker" --port 0 >"$WORK/broker.out" 2>"$WORK/broker.err" &
broker_pid=$!
broker_port=""
for _ in $(seq 300); do
  broker_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/broker.out")
  [ -n "$broker_port" ] && break
  sleep 0.1
done
check "qtl-devserver-broker started" test -n "$broker_port"
mkdir -p "$WORK/linux" "$WORK/windows"
passes() { grep -q '^\[  PASSED  \] 1 test' "$1"; }
start=$(date +%s)
for t in $(grep -v '^#' "$ROOT/tests/windows/gui_tests.txt" | grep .); do
  QT_QPA_PLATFORM=offscreen QTL_STATEMENT_DUMP="$WORK/linux" "$LINUX/bin/qtl_gui_tests" --gtest_filter="$t" \
    >"$WORK/$t.linux.out" 2>&1 || true
  QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$(winepath -w "$QT/plugins")" QTL_DEVSERVER_BROKER="127.0.0.1:$broker_port" \
    QTL_STATEMENT_DUMP="$(winepath -w "$WORK/windows")" wine "$BUILD/bin/qtl_gui_tests.exe" --gtest_filter="$t" \
    >"$WORK/$t.windows.out" 2>&1 || true
  check "GUI test $t on Linux" passes "$WORK/$t.linux.out"
  passes "$WORK/$t.linux.out" || tail -30 "$WORK/$t.linux.out"
  check "GUI test $t under Wine" passes "$WORK/$t.windows.out"
  passes "$WORK/$t.windows.out" || tail -40 "$WORK/$t.windows.out"
  check "$t: statements recorded" test -s "$WORK/linux/$t.log"
  check "$t: the same statements as on Linux ($(wc -l <"$WORK/linux/$t.log" 2>/dev/null || echo 0))" \
    cmp -s "$WORK/linux/$t.log" "$WORK/windows/$t.log"
  cmp -s "$WORK/linux/$t.log" "$WORK/windows/$t.log" || diff -u "$WORK/linux/$t.log" "$WORK/windows/$t.log" | head -40 || true
done
log "GUI tests in $(( $(date +%s) - start )) s"
unset WINEPATH

# --- 4. an upgrade keeps the site's files -------------------------------------------------------------
newer=$WORK/qtl33-newer.msi
(cd "$BUILD" && wixl -a x64 -D Version="$version.1" -D Win64=yes -D SourceDir=deploy -o "$newer" \
   "$ROOT/packaging/windows/qtl33.wxs" files.wxs)
wine msiexec /i "$(winepath -w "$newer")" /qn
check "the upgrade replaced the installed version" grep -q "DisplayVersion.*$version\.1" <(uninstall_entry)
check "only one uninstall entry after the upgrade" test "$(uninstall_entry | grep -c 'DisplayVersion')" = 1
check "the upgrade kept Data\\QTL" cmp -s "$APP/Data/QTL" "$WORK/QTL.site"
check "the upgrade kept Data\\driver" test "$(cat "$APP/Data/driver")" = FreeTDS

# --- 5. uninstall leaves only the site's files ---------------------------------------------------------
wine msiexec /x "$(winepath -w "$newer")" /qn
left=$(cd "$APP" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' ')
check "uninstall left only Data\\QTL and Data\\driver (left: $left)" test "$left" = "./Data ./Data/QTL ./Data/driver "
check "uninstall removed the shortcut" no_menu_link
check "uninstall removed the uninstall entry" no_uninstall_entry

if [ "$failures" -gt 0 ]; then log "$failures check(s) failed"; exit 1; fi
log "all checks passed"
