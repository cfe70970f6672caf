#!/usr/bin/env bash
# One whole self-update of the real program under Wine on a virtual display,
# against the loopback operator server (any free port; the test build takes
# the server's address from CORVANE_SERVER_URL):
#   1. the server offers "#version=8" and a new Corvaner.exe (a stand-in that
#      records its arguments), sent slowly; the program, installed in a
#      folder with a blank in its name, finds it at start-up, shows PnlUpdate
#      with moving progress (screenshot), writes the replacer and closes; the
#      replacer puts the new file in place and starts it with "/afterupgrade";
#      no ".uTMP" file is left;
#   2. with "#version=7" on the server, the menu's "检测升级" shows the
#      message box that the program is current (screenshot).
# Usage: self_update.sh Corvaner.exe newversion.exe winpanel.exe opserver OUTDIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exe="$1"; newversion="$2"; panel="$3"; opserver="$4"; out="$5"
if [ -z "${DISPLAY:-}" ]; then exec "$here/xvfb-run-here" "$0" "$@"; fi
mkdir -p "$out"
run() { "$here/wine-run" "$@"; }
texts() { run "$panel" texts 2>/dev/null | tr -d '\r' || true; }
fail() { echo "self_update: FAIL: $*"; exit 1; }
title="QuilloWin10升级助理"

prefix="$("$here/wine-prefix")"
export WINEPREFIX="$prefix"
. "$here/lib.sh"

work="$(mktemp -d /tmp/cvt-selfupdate-XXXXXX)"
install_dir="$WINEPREFIX/drive_c/Program Files/Corvane Test"
win_exe='C:\Program Files\Corvane Test\Corvaner.exe'
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  exec 8>&- 2>/dev/null || true
  [ -n "${server:-}" ] && wait "$server" 2>/dev/null || true
  rm -rf "$work" "$install_dir"
}
trap cleanup EXIT

# The site, and the server on a free port; the new version is padded to
# 3 MB and sent at 300 KB/s, so the download takes about ten seconds.
mkdir -p "$work/site/corvane/files"
cp "$newversion" "$work/site/corvane/files/Corvaner.exe"
truncate -s 3M "$work/site/corvane/files/Corvaner.exe"
mkfifo "$work/in"
"$opserver" --root "$work/site" --port-file "$work/port" --stat-log "$work/stat.log" --exit-on-stdin-eof \
  --fault "path=/corvane/files/,throttle=300000" <"$work/in" >/dev/null 2>&1 &
server=$!
exec 8>"$work/in"
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || fail "the operator server did not start"
base="http://127.0.0.1:$(cat "$work/port")"
export CORVANE_SERVER_URL="$base/corvane/" CORVANE_DIRECTORY_URL="$base/directory.html"
printf '#version=8\r\n#url=%s/corvane/files/Corvaner.exe\r\n' "$base" >"$work/site/corvane/update.inf"

install_program() {
  rm -rf "$install_dir"
  mkdir -p "$install_dir"
  cp "$exe" "$install_dir/Corvaner.exe"
}

# ---- 1. the whole self-update ------------------------------------------------
install_program
run "$win_exe" >/dev/null 2>&1 &
app=$!
wid="$(wait_main_window "$title")"
[ -n "$wid" ] || fail "the main window did not appear"
seen=()
shot=""
for _ in $(seq 200); do
  line="$(texts | grep '^正在升级到最新版(' || true)"
  if [ -n "$line" ] && { [ ${#seen[@]} -eq 0 ] || [ "${seen[-1]}" != "$line" ]; }; then
    seen+=("$line")
    if [ -z "$shot" ] && [ ${#seen[@]} -ge 2 ]; then
      shot_window "$wid" "$out/PnlUpdate-downloading.png"
      shot="$out/PnlUpdate-downloading.png"
      echo "self_update: screenshot $shot ($line)"
    fi
  fi
  kill -0 "$app" 2>/dev/null || break
  sleep 0.25
done
printf 'self_update: progress seen: %s\n' "${seen[@]}"
[ ${#seen[@]} -ge 2 ] || fail "no moving progress on PnlUpdate"
[ -n "$shot" ] || fail "no screenshot of the download"
for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
kill -0 "$app" 2>/dev/null && fail "the program did not close after the download"
wait "$app" 2>/dev/null || true
app=""
for _ in $(seq 300); do [ -s "$install_dir/Corvaner.exe.args" ] && break; sleep 0.2; done
[ -s "$install_dir/Corvaner.exe.args" ] || fail "the new version was not started"
args="$(tr -d '\r' <"$install_dir/Corvaner.exe.args")"
[ "$args" = "/afterupgrade" ] || fail "the new version was started with \"$args\""
cmp -s "$install_dir/Corvaner.exe" "$work/site/corvane/files/Corvaner.exe" || fail "Corvaner.exe was not replaced"
left="$(find "$install_dir" -name '*.uTMP' | wc -l)"
[ "$left" -eq 0 ] || fail "$left .uTMP files left in the program's folder"
grep -q "type=0" "$work/stat.log" 2>/dev/null && fail "a start-up event was sent although an update was found"
echo "self_update: replaced and restarted with \"$args\"; no .uTMP left"

# ---- 2. a menu check with nothing newer ---------------------------------------
install_program
printf '#version=7\r\n#url=%s/corvane/files/Corvaner.exe\r\n' "$base" >"$work/site/corvane/update.inf"
run "$win_exe" >/dev/null 2>&1 &
app=$!
wid="$(wait_main_window "$title")"
[ -n "$wid" ] || fail "the main window did not appear the second time"
# The silent start-up check has ended once it has sent its event.
for _ in $(seq 150); do grep -q "type=0" "$work/stat.log" 2>/dev/null && break; sleep 0.2; done
grep -q "type=0" "$work/stat.log" || fail "the start-up check sent no event"
eval "$(xdotool getwindowgeometry --shell "$wid")"
# The menu button: 95 pixels left of the window's right edge, in the title bar.
xdotool mousemove --sync $((X + WIDTH - 95 + 14)) $((Y + 11)) click 1
sleep 0.8
# The pop-up menu opens 19 pixels below the window's top at the button's
# left; its third item is "检测升级" (items are 26 pixels high).
xdotool mousemove --sync $((X + WIDTH - 95 + 40)) $((Y + 19 + 2 * 26 + 16)) click 1
box=""
for _ in $(seq 100); do
  box="$(xdotool search --onlyvisible --name '^在线升级$' 2>/dev/null | head -n1 || true)"
  [ -n "$box" ] && break
  sleep 0.2
done
[ -n "$box" ] || fail "no message box after the menu check"
sleep 0.5
shot_window "$box" "$out/MessageBox-current.png"
echo "self_update: screenshot $out/MessageBox-current.png"
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key --window "$box" Return
for _ in $(seq 50); do xdotool search --onlyvisible --name '^在线升级$' >/dev/null 2>&1 || break; sleep 0.2; done
run "$panel" close || true
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
[ -e "$install_dir/Corvaner.exe.args" ] && fail "nothing newer, yet something was started"
echo "self_update: 2 passed, 0 failed"
