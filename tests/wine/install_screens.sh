#!/usr/bin/env bash
# The hand-off on the real main window under Wine on a virtual display
# (tests/wine/install_panel.cpp): Wine's own C: with a bootmgr and no
# Boot.ini, the payload's stand-in editor, a second drive D: with the install
# image, the boot image on C:, and an edition configuration on the loopback
# operator server (any free port) naming the images' SHA-1. Keeps a
# screenshot of the install panel in each state:
#   install-success.png     "立刻重启" with its tip; the restart, recorded by
#                           the test build, comes at once on a press of the
#                           button and not a second time after the wait
#   install-redownload.png  "重新下载" after a boot image with the wrong SHA-1
# Usage: install_screens.sh installpanel.exe winpanel.exe opserver OUTDIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exe="$1"; panel="$2"; opserver="$3"; out="$4"
if [ -z "${DISPLAY:-}" ]; then exec "$here/xvfb-run-here" "$0" "$@"; fi
mkdir -p "$out"
run() { "$here/wine-run" "$@"; }
texts() { run "$panel" texts 2>/dev/null | tr -d '\r' || true; }
fail() { echo "install_screens: FAIL: $*"; exit 1; }
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
title="QuilloWin10升级助理"

prefix="$("$here/wine-prefix")"
export WINEPREFIX="$prefix"
. "$here/lib.sh"
drive_c="$WINEPREFIX/drive_c"
[ ! -e "$drive_c/boot.ini" ] && [ ! -e "$drive_c/Boot.ini" ] || fail "this Wine prefix has a Boot.ini"

work="$(mktemp -d /tmp/cvt-install-XXXXXX)"
made_bootmgr=""
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  unmap_drive_d
  rm -f "$drive_c/qxldr" "$drive_c/qxldr.mbr" "$drive_c/Boot/Win8PE.iso"
  rm -rf "$drive_c/ProgramData/Corvane"  # the boot entry's record, for /undoboot
  [ -n "$made_bootmgr" ] && rm -f "$drive_c/bootmgr"
  rm -rf "$work"
}
trap cleanup EXIT
[ -e "$drive_c/bootmgr" ] || { echo "boot manager" >"$drive_c/bootmgr"; made_bootmgr=1; }

mkdir -p "$work/site/corvane" "$work/d/Win10Data/System" "$drive_c/Boot"
install="$work/d/Win10Data/System/Install.img"
boot="$drive_c/Boot/Win8PE.iso"
head -c 300000 /dev/urandom >"$install"
head -c 70000 /dev/urandom >"$boot"
"$opserver" --root "$work/site" --port 0 --stat-log "$work/stat.log" >"$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/server.out" ] && break; sleep 0.05; done
port="$(head -n1 "$work/server.out")"
[[ "$port" =~ ^[0-9]+$ ]] || fail "the operator server did not start"
url="http://127.0.0.1:$port"
publish() { # publish BOOT-HASH: the configuration, hashes in lower case
  printf '[Config]\r\nesdurl=%s\r\nbooturl=%s\r\nExtractSize=5573967872\r\nKey=DEMO-KEY\r\nEsdHash=%s\r\nBootHash=%s\r\n' \
    "$url/img/install.img" "$url/img/boot.iso" "$(sha1sum "$install" | cut -c1-40)" "$1" >"$work/site/corvane/x64.ini"
}
map_drive_d "$work/d"
export CORVANE_RESTART_RECORD="$(winpath "$work/restart.log")"
export CORVANE_BCD_STORE="$(winpath "$work/BCD.json")"
restarts() {
  if [ -f "$work/restart.log" ]; then grep -c '^restart' "$work/restart.log" || true; else echo 0; fi
}

# shoot NAME: the main window (the tip stands inside it, over the panel).
shoot() {
  shot_window "$wid" "$out/$1.png"
  echo "install_screens: screenshot $out/$1.png"
}
start() { # start UNTIL-CAPTION: runs the panel until its button reads that
  run "$exe" "$url/corvane/" "D:" >/dev/null 2>&1 &
  app=$!
  wid="$(wait_main_window "$title")"
  [ -n "$wid" ] || fail "the main window did not appear"
  local shown=""
  for _ in $(seq 240); do
    shown="$(texts)"
    grep -qx "$1" <<<"$shown" && break
    grep -qx "重试\|重新下载\|立刻重启" <<<"$shown" && break
    sleep 0.25
  done
  echo "install_screens:" $shown
  grep -qx "$1" <<<"$shown" || fail "the button does not read $1"
  sleep 0.7  # let it paint
}
stop() {
  run "$panel" close || true
  for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  app=""
}

# 1. Good images: the boot entry, the hand-off file, event 1, "立刻重启".
publish "$(sha1sum "$boot" | cut -c1-40)"
start "立刻重启"
shown_at=$SECONDS
shoot install-success
grep -q "恭喜您，即将进入Windows10引导程序！" <<<"$(texts)" || fail "no success text"
[ "$(restarts)" = 0 ] || fail "restarted before the wait was over"
grep -q '"{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}"' "$work/BCD.json" || fail "no boot entry in the store"
printf '[Config]\r\nPlatform=X64\r\nExtractSize=5573967872\r\nKey=DEMO-KEY\r\n' | cmp -s - "$work/d/Win10Data/Config.ini" \
  || fail "hand-off file: $(cat -A "$work/d/Win10Data/Config.ini" 2>&1)"
grep -q 'type=1&mid=[0-9A-F]\{32\}&cliver=3\.3\.30\.180' "$work/stat.log" || fail "no usage event 1: $(cat "$work/stat.log")"
run "$panel" click "立刻重启" || fail "no restart button"
for _ in $(seq 40); do [ "$(restarts)" = 1 ] && break; sleep 0.1; done
[ "$(restarts)" = 1 ] || fail "the button did not restart at once"
while [ $((SECONDS - shown_at)) -lt 13 ]; do sleep 0.5; done
[ "$(restarts)" = 1 ] || fail "the end of the wait restarted a second time"
stop

# 2. A boot image with the wrong SHA-1: deleted, "重新下载". A hand-off file
# would skip the check, so it goes first.
rm -f "$work/d/Win10Data/Config.ini"
publish "0123456789abcdef0123456789abcdef01234567"
start "重新下载"
shoot install-redownload
grep -q "引导组件损坏，请重新下载！" <<<"$(texts)" || fail "no re-download text"
[ ! -e "$boot" ] || fail "the boot image was not deleted"
[ -e "$install" ] || fail "the install image was deleted"
stop
echo "install_screens: 2 passed, 0 failed"
