#!/usr/bin/env bash
# The environment check of the real program under Wine on a virtual display,
# on Wine's own machine with a second drive D: mapped, the stand-in boot
# editor of the payload and the reachability probe served on its built-in
# loopback address. Runs it twice and keeps a screenshot of the result panel
# of each outcome:
#   passed  a machine started through the BIOS path
#   failed  the same machine started through UEFI (the stand-in's store says
#           winload.efi), which fails the system-disk line
# Usage: check_screens.sh Corvaner.exe winpanel.exe opserver PROBE_URL OUTDIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exe="$1"; panel="$2"; opserver="$3"; probe="$4"; out="$5"
if [ -z "${DISPLAY:-}" ]; then exec "$here/xvfb-run-here" "$0" "$@"; fi
mkdir -p "$out"
run() { "$here/wine-run" "$@"; }
texts() { run "$panel" texts 2>/dev/null | tr -d '\r' || true; }
fail() { echo "check_screens: FAIL: $*"; exit 1; }
title="QuilloWin10升级助理"

prefix="$("$here/wine-prefix")"
export WINEPREFIX="$prefix"
. "$here/lib.sh"

# The probe page at the address built into the program (http://127.0.0.1:PORT/PATH).
[[ "$probe" =~ ^http://127\.0\.0\.1:([0-9]+)(/.*)$ ]] || fail "the probe address $probe is not a loopback address"
port="${BASH_REMATCH[1]}"; path="${BASH_REMATCH[2]}"
work="$(mktemp -d /tmp/cvt-check-XXXXXX)"
[[ "$path" != */ ]] || fail "the probe address must name a file"
mkdir -p "$work/site$(dirname "$path")" "$work/d"
echo "<html>probe</html>" >"$work/site$path"

cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  unmap_drive_d
  rm -rf "$work"
}
trap cleanup EXIT
"$opserver" --root "$work/site" --port "$port" >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do curl -sf -o /dev/null "$probe" && break; sleep 0.1; done
kill -0 "$server" 2>/dev/null || fail "the probe server could not listen on port $port"
curl -sf -o /dev/null "$probe" || fail "the probe page is not served at $probe"

# A second fixed drive D: on the host's disk.
map_drive_d "$work/d"

check() { # check NAME FIRMWARE EXPECTED-TEXT...
  local name="$1" firmware="$2"; shift 2
  CORVANE_BCD_FIRMWARE="$firmware" run "$exe" >/dev/null 2>&1 &
  app=$!
  local wid
  wid="$(wait_main_window "$title")"
  [ -n "$wid" ] || fail "$name: the main window did not appear"
  sleep 1
  run "$panel" click "一键升级" || fail "$name: no start button"
  local shown=""
  for _ in $(seq 120); do
    shown="$(texts)"
    grep -qx "重新检测" <<<"$shown" && break
    grep -q "^下一步" <<<"$shown" && break
    sleep 0.25
  done
  sleep 0.3  # let it paint
  shot_window "$wid" "$out/check-$name.png"
  echo "check_screens: $name:" $shown
  echo "check_screens: screenshot $out/check-$name.png"
  for want in "$@"; do
    grep -q -- "$want" <<<"$shown" || fail "$name: \"$want\" is not on the result panel"
  done
  run "$panel" close || true
  for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  app=""
}

check passed bios "^下一步" "您的计算机适合安装" "网络正常" "^D:(剩余："
check failed uefi "^重新检测$" "您的计算机达不到Win10最低配置。" "不支持的硬盘分区格式"
echo "check_screens: 2 passed, 0 failed"
