#!/usr/bin/env bash
# The body of demo.sh, run with DISPLAY set to a virtual display.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
out="$root/build/demo"; mkdir -p "$out"
arch="${CORVANE_WINE_ARCH:?set by demo.sh}"
exe=build/$arch/shell/Corvaner.exe
panel=build/$arch/inspection/winpanel.exe
port=47361
title="QuilloWin10升级助理"
prefix="$(tests/wine/wine-prefix)"; export WINEPREFIX="$prefix"
. tests/wine/lib.sh
run() { tests/wine/wine-run "$@"; }
texts() { run "$panel" texts 2>/dev/null | tr -d '\r' || true; }

work="$(mktemp -d /tmp/corvane-demo-XXXXXX)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  unmap_drive_d
  rm -rf "$work"
}
trap cleanup EXIT

bash tools/opserver/demo-site.sh "$work/site" "$port" 8 >/dev/null
echo "<html>probe</html>" >"$work/site/probe.html"
build/native/tools/opserver/opserver --root "$work/site" --port "$port" >"$out/server.log" 2>&1 &
server=$!
for _ in $(seq 50); do curl -sf -o /dev/null "http://127.0.0.1:$port/probe.html" && break; sleep 0.1; done
echo "demo: operator server on 127.0.0.1:$port serving $work/site"

map_drive_d "$work/d"

run "$exe" >/dev/null 2>&1 &
app=$!
wid="$(wait_main_window "$title")"
[ -n "$wid" ] || { echo "demo: the window did not appear"; exit 1; }
shot() {
  sleep 0.4
  shot_window "$wid" "$out/$1.png"
  echo "demo: $1 -> build/demo/$1.png"
}
sleep 1; shot 1-home
run "$panel" click "一键升级"
for _ in $(seq 120); do
  t="$(texts)"
  grep -qx "重新检测" <<<"$t" && break
  grep -q "^下一步" <<<"$t" && break
  sleep 0.25
done
shot 2-check-result
echo "demo: result:" $(texts | grep -E "核@|GB|网络|剩余|Win10|下一步|重新检测" | tr '\n' ' ')
if grep -q "^下一步" <<<"$(texts)"; then
  # The auto mode counts down and presses "下一步", then "开始备份".
  for _ in $(seq 80); do grep -q "^开始备份" <<<"$(texts)" && break; sleep 0.25; done
  sleep 3; shot 3-backup-choice-countdown
  # The countdown presses "开始备份"; the stages after the check (backup,
  # download, hand-off) are not built yet, so the run rests here.
  sleep 12; shot 4-backup-pressed
fi
run "$panel" close || true
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
app=""
echo "demo: done; screenshots in build/demo/"
