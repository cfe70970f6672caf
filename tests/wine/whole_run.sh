#!/usr/bin/env bash
# The whole job of the real program under Wine on a virtual display, from
# "一键升级" to the restart request, against the loopback operator server
# (any free port) with a demo site: both edition files, an install image and
# a small bootable ISO as the boot image with their SHA-1, the install image
# throttled so that its progress shows. A demo user has files in Documents,
# Favorites and on the desktop (and the public desktop); D: is a second
# fixed drive. The build must carry the stand-in boot editor and record the
# restart (the test presets and the demo build do).
#
# Usage: whole_run.sh Corvaner.exe winpanel.exe opserver OUTDIR RUN...
#   demo     the run as the user sees it: the backup boxes are checked and
#            the auto mode presses every button; one screenshot per panel in
#            OUTDIR and the run's results in OUTDIR/result/
#   pause    a pause in the middle of the install image, then "继续"
#   badboot  a boot image whose SHA-1 does not match: "引导组件损坏，请重新
#            下载！", then "重新下载" fetches it again and the run finishes
# Every run ends with the restart request, the hand-off file, the boot entry
# in the stand-in's store and the loader files hidden and system at the root
# of C:; each run's files are kept in OUTDIR/result[-RUN]/. With
# CORVANE_BOOT_CHECK=1 the loader files taken from C: then boot the boot
# image taken from C:\Boot in the emulator (resources/loader/tests).
# Environment: CORVANE_IMAGE_MIB (install image size, default 24),
# CORVANE_DOWNLOAD_SECONDS (how long the throttled install image takes,
# default 8), CORVANE_MEASURE=1 (the demo run: the program's memory, CPU
# time and threads every 0.2 s in OUTDIR/measure.tsv, summed up per stage),
# CORVANE_DEMO_VIDEOS=N (N files of 16 MiB more in the documents).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
src="$(cd "$here/../.." && pwd)"
exe="$1"; panel="$2"; opserver="$3"; out="$4"; shift 4
if [ -z "${DISPLAY:-}" ]; then exec "$here/xvfb-run-here" "$0" "$exe" "$panel" "$opserver" "$out" "$@"; fi
mkdir -p "$out"
out="$(cd "$out" && pwd)"
title="QuilloWin10升级助理"
docs_box=" 我的文档   （存放收藏的照片等资料）"
desk_box=" 我的桌面   （可能有资料存放在桌面）"
fav_box=" IE收藏夹   （浏览器收藏的重要网址）"
shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
user_shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
mib="${CORVANE_IMAGE_MIB:-24}"

run() { "$here/wine-run" "$@"; }
texts() { run "$panel" texts 2>/dev/null | tr -d '\r' || true; }
say() { echo "whole_run: $*"; }
fail() { say "FAIL ($mode): $*"; [ -n "${wid:-}" ] && shot_window "$wid" "$out/${mode:-run}-failed.png" 2>/dev/null; exit 1; }
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
now() { date +%s.%N; }
# ci BASE REL: the host path of REL below BASE as Windows finds it, whatever
# the letter case on disk (the backup makes "\WIN10DATA", the download
# "\Win10Data\System" in it); BASE/REL when there is none.
ci() { local f; f="$(find "$1" -ipath "$1/$2" 2>/dev/null | head -n1)"; echo "${f:-$1/$2}"; }
# wait_for SECONDS TEXT... : until a control reads one of them (TEXT* = prefix).
wait_for() { run "$panel" wait "$@" 2>/dev/null | tr -d '\r'; }

prefix="$("$here/wine-prefix")"
export WINEPREFIX="$prefix"
. "$here/lib.sh"
# The edition the check chooses: 32-bit Windows (the PE32 under 32-bit Wine)
# takes the 32-bit one.
edition=x64; [ "$CORVANE_WINE_ARCH" = win32 ] && edition=x86
drive_c="$WINEPREFIX/drive_c"
[ ! -e "$drive_c/boot.ini" ] && [ ! -e "$drive_c/Boot.ini" ] || fail "this Wine prefix has a Boot.ini"

work="$(mktemp -d /tmp/cvt-wholerun-XXXXXX)"
user="$work/user"
public="$drive_c/users/Public/Desktop"
made_bootmgr=""
saved_folders=()
clean_machine() { # what a run leaves on Wine's C: and on D:
  rm -f "$drive_c/qxldr" "$drive_c/qxldr.mbr" "$(ci "$drive_c" Boot/Win8PE.iso)"
  rm -rf "$(ci "$drive_c" Boot/Win8PE.iso)"* "$drive_c/ProgramData/Corvane" "$work/d" "$work/restart.log" "$work/BCD.json"
  mkdir -p "$work/d"
}
cleanup() {
  [ -n "${sampler:-}" ] && kill "$sampler" 2>/dev/null || true
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  for entry in "${saved_folders[@]}"; do
    key="${entry%%|*}"; entry="${entry#*|}"
    name="${entry%%=*}"; value="${entry#*=}"
    type=REG_SZ; [ "$key" = "$user_shell_folders" ] && type=REG_EXPAND_SZ
    if [ -n "$value" ]; then
      wine_cmd reg add "$key" /v "$name" /t $type /d "$value" /f >/dev/null 2>&1 || true
    else
      wine_cmd reg delete "$key" /v "$name" /f >/dev/null 2>&1 || true
    fi
  done
  wine_cmd reg delete 'HKLM\Software\Wine\Drives' /v 'z:' /f >/dev/null 2>&1 || true
  unmap_drive_d
  rm -f "$public/Corvane演示.txt"
  clean_machine
  [ -n "$made_bootmgr" ] && rm -f "$drive_c/bootmgr"
  rm -rf "$work"
}
trap cleanup EXIT
# A time-out of the test ends the script by a signal: the clean-up still runs.
trap "exit 1" TERM INT HUP

# ---- the machine -------------------------------------------------------------
# D: is a fixed drive on the host's disk. Drive Z: (the host's root) is on the
# same disk, and of two drives with equal room the check would take either as
# the free space moves: Z: is marked a network drive, which the check passes
# over. Both before any other Wine program runs (Wine reads its drives when
# its server starts).
mkdir -p "$work/d"
map_drive_d "$work/d"
wine_reg add 'HKLM\Software\Wine\Drives' /v 'z:' /t REG_SZ /d network /f >/dev/null
[ -e "$drive_c/bootmgr" ] || { echo "boot manager" >"$drive_c/bootmgr"; made_bootmgr=1; }

# The demo user's folders and files.
python3 - "$user" <<'EOF'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(19)
def put(rel, size):
    p = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(p), exist_ok=True)
    with open(p, "wb") as f:
        f.write(rnd.randbytes(size))
for i in range(300):
    put(f"Documents/工作/项目{i % 12:02d}/报告{i:03d}.docx", rnd.randint(2048, 65536))
for i in range(int(os.environ.get("CORVANE_DEMO_VIDEOS", "0"))):
    put(f"Documents/视频/片段{i:02d}.mp4", 16 << 20)
put("Documents/My Pictures/假期.jpg", 400_000)
put("Documents/My Music/song.mp3", 300_000)
put("Favorites/Links/Corvane.url", 120)
put("Favorites/新闻.url", 90)
put("Desktop/待办.txt", 3000)
put("Desktop/预算.xlsx", 50_000)
EOF
# Both keys: Wine's shell writes "Shell Folders" anew from "User Shell
# Folders" whenever a program asks for a folder.
for key in "$shell_folders" "$user_shell_folders"; do
  for name in Personal Favorites Desktop; do
    old="$(wine_reg query "$key" /v "$name" | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*SZ *//p')"
    saved_folders+=("$key|$name=$old")
  done
  type=REG_SZ; [ "$key" = "$user_shell_folders" ] && type=REG_EXPAND_SZ
  wine_reg add "$key" /v Personal /t $type /d "$(winpath "$user/Documents")" /f >/dev/null
  wine_reg add "$key" /v Favorites /t $type /d "$(winpath "$user/Favorites")" /f >/dev/null
  wine_reg add "$key" /v Desktop /t $type /d "$(winpath "$user/Desktop")" /f >/dev/null
done
mkdir -p "$public"
echo "shared" >"$public/Corvane演示.txt"

# ---- the operators' site -------------------------------------------------------
mkdir -p "$work/site"
"$opserver" --root "$work/site" --port 0 --stat-log "$work/stat.log" >"$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/server.out" ] && break; sleep 0.05; done
port="$(head -n1 "$work/server.out")"
[[ "$port" =~ ^[0-9]+$ ]] || fail "the operator server did not start"
url="http://127.0.0.1:$port"
python3 -c "
import sys; sys.path.insert(0, '$src/resources/loader/tests')
import bootdisk; bootdisk.make_marker_iso('demo', '$work/Win8PE.iso', '$work')" \
  || fail "could not make the boot image (xorriso, binutils)"
bash "$src/tools/opserver/demo-site.sh" "$work/site" "$port" "$mib" "$work/Win8PE.iso" >/dev/null
esd_hash="$(sha1sum "$work/site/corvane/images/Install.img" | cut -c1-40)"
boot_hash="$(sha1sum "$work/site/corvane/images/Win8PE.iso" | cut -c1-40)"
echo "<html>probe</html>" >"$work/site/probe.html"
# The engine opens a connection per 4 MiB, at most 8; the throttle is per
# connection, so the install image takes about CORVANE_DOWNLOAD_SECONDS.
connections=$((mib / 4)); [ "$connections" -ge 1 ] || connections=1; [ "$connections" -le 8 ] || connections=8
throttle="${CORVANE_THROTTLE:-$((mib * 1024 * 1024 / connections / ${CORVANE_DOWNLOAD_SECONDS:-8}))}"
curl -sf -o /dev/null "$url/_control/fault?path=/corvane/images/Install.img&throttle=$throttle" \
  || fail "the throttle was refused"
export CORVANE_SERVER_URL="$url/corvane/" CORVANE_DIRECTORY_URL="$url/directory.html" CORVANE_PROBE_URL="$url/probe.html"
export CORVANE_RESTART_RECORD="$(winpath "$work/restart.log")"
export CORVANE_BCD_STORE="$(winpath "$work/BCD.json")"
restarts() { if [ -f "$work/restart.log" ]; then grep -c '^restart' "$work/restart.log" || true; else echo 0; fi; }
requests() { curl -sf "$url/_control/requests" | grep -c "GET $1" || true; }

# ---- one run -----------------------------------------------------------------------
declare -A mark=()
stamp() { mark[$1]="$(now)"; }
shoot() { # shoot NAME: the main window, its tips included
  sleep 0.3
  shot_window "$wid" "$out/$1.png"
  say "screenshot $out/$1.png"
}
click() { run "$panel" click "$1" >/dev/null 2>&1 || fail "no button \"$1\": $(texts | tr '\n' '|')"; }

start_program() {
  clean_machine
  curl -sf -o /dev/null "$url/_control/clear-logs" || true
  run "$exe" /D >/dev/null 2>&1 &
  app=$!
  stamp start
  wid="$(wait_main_window "$title")"
  [ "${CORVANE_MEASURE:-0}" = 1 ] && start_sampler
  [ -n "$wid" ] || fail "the main window did not appear"
  wait_for 30 "一键升级" >/dev/null || fail "no home panel"
  stamp window
}

check_and_backup() { # runs the check, the backup choice and the backup
  local auto="$1"
  [ "$auto" = 1 ] && { sleep 0.5; shoot 1-home; }
  click "一键升级"
  stamp pressed
  local verdict
  verdict="$(wait_for 60 "下一步*" "重新检测")" || fail "the check did not end: $(texts | tr '\n' '|')"
  stamp checked
  [[ "$verdict" == 下一步* ]] || fail "the check failed: $(texts | tr '\n' '|')"
  local drive
  drive="$(texts | grep -m1 -E '^[A-Z]:\(剩余：' || true)"
  [[ "$drive" == "D:(剩余："* ]] || fail "the check did not choose D: ($drive)"
  if [ "$auto" = 1 ]; then
    shoot 2-check-result
    wait_for 20 "$docs_box" >/dev/null || fail "the auto mode did not bring the backup choice"
    stamp backup-choice
    for box in "$docs_box" "$desk_box" "$fav_box"; do click "$box"; done
    wait_for 5 "开始备份(8)" "开始备份(7)" "开始备份(6)" >/dev/null || true
    shoot 3-backup-choice
    wait_for 20 "正在备份“我的文档”，请稍后..." >/dev/null || fail "the documents part was not shown: $(texts | tr '\n' '|')"
    stamp backup
    shoot 4-backup-progress
    wait_for 60 "备份全部完成！" >/dev/null || fail "the backup did not end: $(texts | tr '\n' '|')"
    shot_window "$wid" "$out/5-backup-done.png"
    say "screenshot $out/5-backup-done.png"
  else
    run "$panel" click-prefix "下一步" >/dev/null 2>&1 || true  # or the countdown presses it
    wait_for 20 "$docs_box" >/dev/null || fail "no backup choice"
    stamp backup-choice
    run "$panel" click-prefix "开始备份" >/dev/null 2>&1 || true
    stamp backup
    wait_for 30 "备份全部完成！" "下载安装镜像(1/2)*" "初始化下载引擎..." >/dev/null || fail "the backup did not end"
  fi
}

wait_downloading() {
  wait_for 60 "下载安装镜像(1/2)：进度*" >/dev/null || fail "the install image's progress was not shown: $(texts | tr '\n' '|')"
  stamp download
}

finish() { # finish SHOT [END...]: until "立刻重启" (or another END caption)
  # and the restart request after the wait
  local shot="$1"; shift
  [ $# -gt 0 ] || set -- "立刻重启" "重试" "重新下载" "退出" "继续"
  local end
  end="$(wait_for 120 "$@")" || fail "the run did not end: $(texts | tr '\n' '|')"
  [ "$end" = "立刻重启" ] || fail "the run ended on \"$end\": $(texts | tr '\n' '|')"
  stamp handed-off
  texts | grep -qx "恭喜您，即将进入Windows10引导程序！" || fail "no success text"
  [ "$(restarts)" = 0 ] || fail "restarted before the wait"
  shoot "$shot"
  for _ in $(seq 150); do [ "$(restarts)" != 0 ] && break; sleep 0.1; done
  stamp restart
  [ "$(restarts)" = 1 ] || fail "$(restarts) restart requests after the wait"
}

collect() { # collect DIR: the run's results, checked
  local dir="$1"
  rm -rf "$dir"; mkdir -p "$dir"
  cp "$(ci "$work/d" Win10Data/Config.ini)" "$dir/Config.ini" 2>/dev/null || fail "no hand-off file"
  cp "$work/BCD.json" "$dir/bcdstore.json" 2>/dev/null || fail "no boot store"
  (cd "$drive_c" && wine_cmd cmd /c attrib 'C:\*' 2>/dev/null | tr -d '\r') >"$dir/c-root.txt"
  (cd "$(ci "$work/d" WIN10DATA/资料备份)" 2>/dev/null && find . -type f -printf '%P\t%s\n' | LC_ALL=C sort) >"$dir/backup-tree.txt" || true
  [ "$(restarts)" -gt 0 ] && cp "$work/restart.log" "$dir/restart-requested"
  cp "$(ci "$work/d" corvane.txt)" "$dir/corvane.txt" 2>/dev/null || fail "no diagnostic log on D:"
  for f in qxldr qxldr.mbr; do cp "$drive_c/$f" "$dir/$f"; done
  cp "$(ci "$drive_c" Boot/Win8PE.iso)" "$dir/Win8PE.iso"

  printf '[Config]\r\nPlatform=%s\r\nExtractSize=%s\r\nKey=DEMO-%s\r\n' "${edition^^}" $((mib * 1024 * 1024)) "$edition" \
      | cmp -s - "$dir/Config.ini" \
    || fail "hand-off file: $(cat -A "$dir/Config.ini")"
  grep -q '"{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}"' "$dir/bcdstore.json" || fail "no boot entry in the store"
  python3 - "$dir/bcdstore.json" <<'EOF' || fail "the boot entry is not the default one with \\qxldr.mbr"
import json, sys
s = json.load(open(sys.argv[1]))
ours = "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}"
e = s["entries"][ours]["elements"]
mgr = s["entries"]["{9dea862c-5cdd-4e70-acc1-f32b344d4795}"]["elements"]
assert e["path"] == "\\qxldr.mbr" and e["device"] == "boot", e
assert mgr["default"] == ours and mgr["timeout"] == "10", mgr
EOF
  for f in qxldr qxldr.mbr; do
    local line
    line="$(grep -iE "^[A-Z ]*C:\\\\$f\$" "$dir/c-root.txt" || true)"
    local attrs="${line%%C:*}"
    [[ "$attrs" == *H* && "$attrs" == *S* ]] || fail "C:\\$f is not hidden and system: '$line'"
  done
  [ "$(sha1sum <"$(ci "$work/d" Win10Data/System/Install.img)" | cut -c1-40)" = "$esd_hash" ] || fail "the install image differs"
  [ "$(sha1sum <"$(ci "$drive_c" Boot/Win8PE.iso)" | cut -c1-40)" = "$boot_hash" ] || fail "the boot image differs"
  grep -aq "Error:" "$dir/corvane.txt" && fail "errors in the log: $(grep -a "Error:" "$dir/corvane.txt")"
  grep -q "type=1&" "$work/stat.log" || fail "no installation event"
  return 0
}

# The program's process (Wine names it after the program; ours is the one
# pointed at this run's server): seconds, resident set size (kB), CPU ticks
# used, threads.
program_pid() {
  local p
  for p in $(pgrep -x Corvaner.exe || true); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "CORVANE_SERVER_URL=$url/corvane/" && { echo "$p"; return; }
  done
}
start_sampler() {
  local pid=""
  for _ in $(seq 100); do pid="$(program_pid)"; [ -n "$pid" ] && break; sleep 0.1; done
  [ -n "$pid" ] || { say "no process to measure"; return 0; }
  ( while [ -r "/proc/$pid/stat" ]; do
      read -r -a st <"/proc/$pid/stat" 2>/dev/null || break
      rss="$(awk '/^VmRSS:/{print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)"
      printf '%s\t%s\t%s\t%s\n' "$(now)" "${rss:-0}" "$((st[13] + st[14]))" "${st[19]}"
      sleep 0.2
    done ) >"$out/measure.tsv" &
  sampler=$!
}
measure_summary() {
  [ "${CORVANE_MEASURE:-0}" = 1 ] || return 0
  kill "$sampler" 2>/dev/null || true; sampler=""
  python3 - "$out/measure.tsv" "$(getconf CLK_TCK)" "${mark[window]}" "${mark[pressed]}" "${mark[checked]}" \
      "${mark[backup]}" "${mark[download]}" "${mark[verify]}" "${mark[handed-off]}" "${mark[restart]}" <<'EOF' | tee "$out/measure.txt"
import sys
rows = [tuple(map(float, l.split("\t"))) for l in open(sys.argv[1]) if l.count("\t") == 3]
tck = float(sys.argv[2])
names = ["home", "check", "auto countdowns and backup choice", "backup and configuration",
         "download (install and boot image)", "verification and boot entry", "wait before the restart"]
marks = list(map(float, sys.argv[3:]))
for name, a, b in zip(names, marks, marks[1:]):
    part = [r for r in rows if a <= r[0] <= b]
    if len(part) < 2:
        print(f"{name}: too short to sample"); continue
    cpu = (part[-1][2] - part[0][2]) / tck / (part[-1][0] - part[0][0]) * 100
    print(f"{name}: {b - a:.1f} s, peak RSS {max(r[1] for r in part) / 1024:.1f} MiB, "
          f"CPU {cpu:.0f} % of one core, threads {int(min(r[3] for r in part))}-{int(max(r[3] for r in part))}")
EOF
}

stop_program() {
  run "$panel" close >/dev/null 2>&1 || true
  for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  app=""
}

boot_check() { # the loader files from C: boot the boot image from C:\Boot
  [ "${CORVANE_BOOT_CHECK:-0}" = 1 ] || return 0
  local dir="$1" t0
  t0="$(now)"
  python3 "$src/resources/loader/tests/bootdisk.py" --mbr "$dir/qxldr.mbr" --loader "$dir/qxldr" \
      --image "$dir/Win8PE.iso" --expect "CORVANE-ISO-BOOTED:demo" --timeout 120 >"$dir/boot-check.txt" 2>&1 \
    || fail "the loader files did not boot the boot image: $(cat "$dir/boot-check.txt")"
  say "$mode: the loader files from C: boot C:\\Boot\\Win8PE.iso in the emulator ($(awk -v a="$t0" -v b="$(now)" 'BEGIN{printf "%.1f", b-a}') s)"
}

since() { awk -v a="${mark[$1]}" -v b="${mark[$2]}" 'BEGIN{printf "%5.1f s", b-a}'; }

for mode in "$@"; do
  case "$mode" in
    demo)
      start_program
      check_and_backup 1
      wait_downloading
      sleep 1.5
      shoot 6-download
      wait_for 120 "校验中..." "引导中..." "立刻重启" >/dev/null || fail "no verification: $(texts | tr '\n' '|')"
      stamp verify
      finish 7-install-success
      stop_program
      collect "$out/result"
      cmp -s <(cd "$user/Documents" && find . -type f ! -path './My Music/*' -printf '%P\t%s\n' | LC_ALL=C sort) \
             <(grep -P '^我的文档/' "$out/result/backup-tree.txt" | sed 's|^我的文档/||') || fail "the documents' copies differ"
      for pair in "Favorites:收藏夹" "Desktop:个人桌面"; do
        diff -r "$user/${pair%%:*}" "$(ci "$work/d" WIN10DATA/资料备份)/${pair#*:}" >/dev/null || fail "the backup of ${pair%%:*} differs"
      done
      diff -r "$public" "$(ci "$work/d" WIN10DATA/资料备份)/公共桌面" >/dev/null || fail "the backup of the public desktop differs"
      [ ! -e "$(ci "$work/d" WIN10DATA/资料备份)/我的文档/My Music" ] || fail "My Music was copied"
      boot_check "$out/result"
      measure_summary
      say "demo: from start to window $(since start window), check $(since pressed checked)," \
          "auto mode to the backup $(since checked backup), backup and configuration $(since backup download)," \
          "download $(since download verify), verification and boot entry $(since verify handed-off)," \
          "wait $(since handed-off restart)," \
          "whole run $(since start restart)"
      ;;
    pause)
      start_program
      check_and_backup 0
      wait_downloading
      sleep 1
      shoot pause-1-downloading
      click "暂停"
      [ "$(wait_for 30 "继续")" = "继续" ] || fail "the pause did not end in \"继续\": $(texts | tr '\n' '|')"
      texts | grep -qx "下载已暂停！" || fail "no pause text"
      shoot pause-2-paused
      before="$(requests /corvane/images/Install.img)"
      partial="$(du -sb "$(ci "$work/d" Win10Data/System)" | cut -f1)"
      [ "$partial" -gt 0 ] || fail "the partial data was not kept"
      click "继续"
      wait_downloading
      shoot pause-3-resumed
      finish pause-4-success
      stop_program
      collect "$out/result-pause"
      # The resumed download asked only for what was missing: after the
      # probe of the first byte, no range from the start.
      curl -sf "$url/_control/requests" | grep "GET /corvane/images/Install.img" | tail -n +"$((before + 1))" \
        | grep -qE "range=bytes=0-([1-9][0-9]*)?( |$)" && fail "the install image was fetched again from its start"
      boot_check "$out/result-pause"
      ;;
    badboot)
      # The edition file names a wrong SHA-1 for the boot image.
      sed -i "s/^BootHash=.*/BootHash=0123456789abcdef0123456789abcdef01234567\r/" "$work/site/corvane/$edition.ini"
      start_program
      check_and_backup 0
      end="$(wait_for 240 "重新下载" "立刻重启" "重试" "退出" "继续")" || fail "the run did not end"
      [ "$end" = "重新下载" ] || fail "the run ended on \"$end\""
      texts | grep -qx "引导组件损坏，请重新下载！" || fail "no broken boot image text: $(texts | tr '\n' '|')"
      [ ! -e "$(ci "$drive_c" Boot/Win8PE.iso)" ] || fail "the boot image was not deleted"
      [ -e "$(ci "$work/d" Win10Data/System/Install.img)" ] || fail "the install image was deleted"
      shoot badboot-1-redownload
      sed -i "s/^BootHash=.*/BootHash=$boot_hash\r/" "$work/site/corvane/$edition.ini"
      boots="$(requests /corvane/images/Win8PE.iso)"; installs="$(requests /corvane/images/Install.img)"
      click "重新下载"
      # The install panel comes forward again before its button changes, so
      # "重新下载" is no end here.
      finish badboot-2-success "立刻重启" "重试" "退出" "继续"
      [ "$(requests /corvane/images/Win8PE.iso)" -gt "$boots" ] || fail "the boot image was not fetched again"
      [ "$(requests /corvane/images/Install.img)" = "$installs" ] || fail "the install image was fetched again"
      stop_program
      collect "$out/result-badboot"
      ;;
    *) fail "unknown run $mode" ;;
  esac
  say "$mode: passed"
done
