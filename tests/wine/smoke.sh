#!/usr/bin/env bash
# The whole program under Wine on a virtual display: it starts and shows its
# window, unpacks its payload (which no other program can change meanwhile),
# a second copy restores the first and exits 0
# without a window of its own, and closing removes the work folder.
# Usage: smoke.sh Corvaner.exe wincheck.exe
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exe="$1"; check="$2"
if [ -z "${DISPLAY:-}" ]; then exec "$here/xvfb-run-here" "$0" "$@"; fi
run() { "$here/wine-run" "$@"; }
wc() { run "$check" "$1" | tr -d '\r'; }
fail() { echo "smoke: FAIL: $*"; exit 1; }
wait_for() { # wait_for CMD EXPECTED SECONDS
  for _ in $(seq $(( $3 * 5 ))); do
    [ "$(wc "$1")" = "$2" ] && return 0
    sleep 0.2
  done
  return 1
}

run "$exe" &
first=$!
trap 'kill $first 2>/dev/null || true' EXIT
wait_for count 1 60 || fail "the main window did not appear"
echo "smoke: main window found (class TFrm_Main, caption QuilloWin10升级助理)"
wait_for workfolder present 20 || fail "the payload was not unpacked into the work folder"
echo "smoke: work folder holds bcdedit.exe"
[ "$(wc tamper)" = refused ] || fail "another program could change the unpacked payload while the program runs"
echo "smoke: another program can neither change the payload nor swap its folder"

run "$check" minimize
wait_for iconic 1 10 || fail "could not minimise the window"
set +e
run "$exe"
code=$?
set -e
[ "$code" = 0 ] || fail "the second copy exited with $code"
[ "$(wc count)" = 1 ] || fail "a second window appeared"
wait_for iconic 0 10 || fail "the first copy was not restored"
echo "smoke: second copy exited 0 and restored the first"

run "$check" close
for _ in $(seq 100); do
  kill -0 $first 2>/dev/null || break
  sleep 0.2
done
kill -0 $first 2>/dev/null && fail "the program did not end after its window closed"
trap - EXIT
wait_for workfolder absent 10 || fail "the work folder is still there after the end"
echo "smoke: work folder removed at exit"
echo "smoke: 1 passed, 0 failed"
