#!/usr/bin/env bash
# The download stage on the real main window under Wine on a virtual display
# (tests/wine/download_panel.cpp), with our engine from the program's
# resources, a second drive D: and an edition configuration on the loopback
# operator server (any free port) that throttles the install image. Presses
# the panel's buttons as a user does and keeps a screenshot of each state:
#   download-running.png    the install image coming in, with the label's hint
#   download-paused.png     "下载已暂停！" and "继续" after "暂停"
#   download-cancelled.png  "用户已取消！" and "退出" alone, centred, after
#                           "继续" and "取消"
#   download-missing.png    "未找到安装镜像，安装无法继续！" after the install
#                           image failed and the boot image came
# Usage: download_screens.sh downloadpanel.exe winpanel.exe opserver OUTDIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exe="$1"; panel="$2"; opserver="$3"; out="$4"
if [ -z "${DISPLAY:-}" ]; then exec "$here/xvfb-run-here" "$0" "$@"; fi
mkdir -p "$out"
run() { "$here/wine-run" "$@"; }
texts() { run "$panel" texts 2>/dev/null | tr -d '\r' || true; }
fail() { echo "download_screens: FAIL: $*"; echo "download_screens: the panel shows:" $(texts); exit 1; }
title="QuilloWin10升级助理"

prefix="$("$here/wine-prefix")"
export WINEPREFIX="$prefix"
. "$here/lib.sh"
drive_c="$WINEPREFIX/drive_c"
export CORVANE_XLDL_RETRY_MS=10  # the failing image gives up at once

work="$(mktemp -d /tmp/cvt-download-XXXXXX)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  unmap_drive_d
  rm -f "$drive_c/Boot/Win8PE.iso" "$drive_c/Boot/Win8PE.iso.cvdl" "$drive_c/Boot/Win8PE.iso.cvdl.rec"
  rmdir "$drive_c/Boot" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
rm -f "$drive_c/Boot/Win8PE.iso"

mkdir -p "$work/site/corvane" "$work/site/img" "$work/d"
head -c $((48 << 20)) /dev/urandom >"$work/site/img/install.img"
head -c 300000 /dev/urandom >"$work/site/img/boot.iso"
"$opserver" --root "$work/site" --port 0 >"$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/server.out" ] && break; sleep 0.05; done
port="$(head -n1 "$work/server.out")"
[[ "$port" =~ ^[0-9]+$ ]] || fail "the operator server did not start"
url="http://127.0.0.1:$port"
control() { curl -sf "$url/_control/$1" >/dev/null; }
printf '[Config]\r\nesdurl=%s\r\nbooturl=%s\r\nExtractSize=5573967872\r\nKey=DEMO-KEY\r\n' \
  "$url/img/install.img" "$url/img/boot.iso" >"$work/site/corvane/x64.ini"
control "fault?path=/img/install.img&throttle=120000"  # every connection, so the numbers move slowly
map_drive_d "$work/d"
partial="$work/d/Win10Data/System/Install.img.cvdl"

# shoot NAME [MARGIN]: the main window and, below and right of it, MARGIN
# pixels of room for a hint.
shoot() {
  local X Y WIDTH HEIGHT SCREEN WINDOW m="${2:-0}"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  import -window root -crop "$((WIDTH + m))x$((HEIGHT + m))+${X}+${Y}" +repage "$out/$1.png"
  echo "download_screens: screenshot $out/$1.png"
}
# wait_for LINE-REGEX [SECONDS]: until a line of the panel matches.
wait_for() {
  local shown=""
  for _ in $(seq $((${2:-60} * 4))); do
    shown="$(texts)"
    grep -qE "$1" <<<"$shown" && return 0
    sleep 0.25
  done
  fail "nothing matches $1"
}
start() {
  run "$exe" "$url/corvane/" "D:" >/dev/null 2>&1 &
  app=$!
  wid="$(wait_main_window "$title")"
  [ -n "$wid" ] || fail "the main window did not appear"
}
ended() {
  for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  ! kill -0 "$app" 2>/dev/null
}
centred() { # the cancel button alone at 141 (its own width 69 on the 350-pixel panel)
  local r
  r="$(run "$panel" rect 退出 2>/dev/null | tr -d '\r')"
  [ "${r%% *}" = 141 ] || fail "退出 is at $r, not at 141"
  ! grep -qx "暂停\|继续" <<<"$(texts)" || fail "the pause button is still there"
}

# 1. Downloading: the progress line moves; the mouse rests on it for its hint.
start
wait_for '^下载安装镜像\(1/2\)：进度 [0-9]+\.[0-9]{2}% 速度 '
first="$(grep '^下载安装镜像' <<<"$(texts)")"
sleep 2
second="$(grep '^下载安装镜像' <<<"$(texts)" || true)"
[ "$first" != "$second" ] || fail "the numbers do not move: $first"
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove "$((X + 1 + 60))" "$((Y + 31 + 188))"
sleep 2.5
shoot download-running 100
[ -e "$partial" ] || fail "no partial data while downloading"
xdotool mousemove 0 0

# 2. Paused: the partial data stays; the button reads "继续".
run "$panel" click 暂停 || fail "no 暂停 button"
wait_for '^下载已暂停！$' 20
grep -qx 继续 <<<"$(texts)" || fail "the pause button does not read 继续"
sleep 0.7
shoot download-paused
[ -e "$partial" ] || fail "the pause deleted the partial data"
[ ! -e "$work/d/Win10Data/System/Install.img" ] || fail "the image is complete already"

# 3. "继续" continues the image; "取消" deletes its partial data.
run "$panel" click 继续 || fail "no 继续 button"
wait_for '^下载安装镜像\(1/2\)：进度 '
run "$panel" click 取消 || fail "no 取消 button"
wait_for '^用户已取消！$' 20
centred
sleep 0.7
shoot download-cancelled
[ ! -e "$partial" ] || fail "the cancel left the partial data"
run "$panel" click 退出 || fail "no 退出 button"
ended || fail "退出 did not close the window"
app=""

# 4. The install image fails (404): the boot image still comes, then the
# missing-image text.
control clear
control "fault?path=/img/install.img&status=404"
start
wait_for '^未找到安装镜像，安装无法继续！$' 60
centred
sleep 0.7
shoot download-missing
[ -e "$drive_c/Boot/Win8PE.iso" ] || fail "the boot image was not downloaded"
cmp -s "$drive_c/Boot/Win8PE.iso" "$work/site/img/boot.iso" || fail "the boot image differs"
run "$panel" click 退出 || fail "no 退出 button"
ended || fail "退出 did not close the window"
app=""
echo "download_screens: 4 passed, 0 failed"
