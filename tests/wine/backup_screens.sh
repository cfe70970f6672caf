#!/usr/bin/env bash
# The backup of the real program under Wine on a virtual display: Wine's own
# machine with a second drive D:, the reachability probe served on its
# built-in loopback address, and the user's documents folder pointed at a
# generated tree (set back afterwards). The script presses 一键升级, 下一步,
# checks the documents box, presses 开始备份 and keeps two screenshots of the
# backup progress panel:
#   backup-documents.png  while the documents are being copied
#   backup-done.png       at "备份全部完成！"
# Then it checks the copies on D: (the exclusions left out, nothing else
# missing) and the log.
# Usage: backup_screens.sh Corvaner.exe winpanel.exe opserver PROBE_URL OUTDIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exe="$1"; panel="$2"; opserver="$3"; probe="$4"; out="$5"
if [ -z "${DISPLAY:-}" ]; then exec "$here/xvfb-run-here" "$0" "$@"; fi
mkdir -p "$out"
run() { "$here/wine-run" "$@"; }
texts() { run "$panel" texts 2>/dev/null | tr -d '\r' || true; }
fail() {
  echo "backup_screens: FAIL: $*"
  if [ -n "${work:-}" ]; then
    echo "backup_screens: the log:"; cat "$work/d/corvane.txt" 2>/dev/null | tr -d '\r' | tail -20 || true
    echo "backup_screens: on D:"; (cd "$work/d" && find . -maxdepth 4 | head -20) || true
  fi
  exit 1
}
title="QuilloWin10升级助理"
docs_caption=" 我的文档   （存放收藏的照片等资料）"
shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'

prefix="$("$here/wine-prefix")"
export WINEPREFIX="$prefix"
. "$here/lib.sh"

[[ "$probe" =~ ^http://127\.0\.0\.1:([0-9]+)(/.*)$ ]] || fail "the probe address $probe is not a loopback address"
port="${BASH_REMATCH[1]}"; path="${BASH_REMATCH[2]}"
work="$(mktemp -d /tmp/cvt-backup-XXXXXX)"
mkdir -p "$work/site$(dirname "$path")" "$work/d"
echo "<html>probe</html>" >"$work/site$path"

# D: is mapped before any Wine program runs here: Wine lists the drives it
# found when its server started.
map_drive_d "$work/d"
# The hand-off file of an earlier run makes the check take D: whatever the
# free space says (drive Z:, the host's root, is on the same file system).
mkdir -p "$work/d/WIN10DATA"
printf '[Config]\r\n' >"$work/d/WIN10DATA/Config.ini"
old_personal="$(wine_reg query "$shell_folders" /v Personal | tr -d '\r' | sed -n 's/.*REG_SZ *//p')"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  if [ -n "$old_personal" ]; then
    wine_cmd reg add "$shell_folders" /v Personal /t REG_SZ /d "$old_personal" /f >/dev/null 2>&1 || true
  fi
  unmap_drive_d
  rm -rf "$work"
}
trap cleanup EXIT

# The probe address is built into the program; another run of a screen test
# may hold it for a while.
for _ in $(seq 120); do
  "$opserver" --root "$work/site" --port "$port" >/dev/null 2>&1 &
  server=$!
  for _ in $(seq 30); do curl -sf -o /dev/null "$probe" && break; sleep 0.1; done
  kill -0 "$server" 2>/dev/null && break
  server=""
  sleep 1
done
[ -n "$server" ] || fail "the probe server could not listen on port $port"
curl -sf -o /dev/null "$probe" || fail "the probe page is not served at $probe"

# The documents: enough small files and a few large ones for the copying to
# last a few seconds, and the folders the documents part leaves out.
python3 - "$work/docs" <<'EOF'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(5)
blob = os.urandom(1 << 20)
def put(rel, size):
    p = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(p), exist_ok=True)
    with open(p, "wb") as f:
        while size > 0:
            n = min(size, len(blob))
            f.write(blob[:n])
            size -= n
for i in range(4000):
    put(f"工作/项目{i % 40:02d}/文件{i:04d}.doc", rnd.randint(1024, 16384))
for i in range(6):
    put(f"Videos of mine/large{i:02d}.bin", 32 << 20)
put("My Pictures/holiday.jpg", 5000)
put("My Music/song.mp3", 5000)
put("Favorites/link.url", 100)
EOF
wine_reg add "$shell_folders" /v Personal /t REG_SZ /d "Z:$(sed 's|/|\\|g' <<<"$work/docs")" /f >/dev/null

run "$exe" /D >/dev/null 2>&1 &
app=$!
wid="$(wait_main_window "$title")"
[ -n "$wid" ] || fail "the main window did not appear"
sleep 1
run "$panel" click "一键升级" || fail "no start button"

# The auto mode counts down in the buttons and presses them itself; a press
# by prefix is quicker. The documents box is checked as soon as its panel is
# there, before the countdown on 开始备份 runs out.
press_prefix() {
  for _ in $(seq 120); do
    run "$panel" click-prefix "$1" && return 0
    texts | grep -qx -- "$docs_caption" && return 0  # the auto mode was quicker
    sleep 0.25
  done
  return 1
}
# The copies must go to D:, never to another drive of this machine.
drive_line=""
for _ in $(seq 240); do
  drive_line="$(texts | grep -m1 -E '^[A-Z]:\(剩余：' || true)"
  [ -n "$drive_line" ] && break
  sleep 0.25
done
[[ "$drive_line" == "D:(剩余："* ]] || fail "the check did not choose D: ($drive_line): $(texts | tr '\n' '|')"
press_prefix "下一步" || fail "the check did not pass: $(texts | tr '\n' '|')"
for _ in $(seq 40); do texts | grep -qx -- "$docs_caption" && break; sleep 0.25; done
run "$panel" click "$docs_caption" || fail "no documents box"
run "$panel" click-prefix "开始备份" || true  # or the countdown presses it

documents="正在备份“我的文档”，请稍后..."
for _ in $(seq 240); do texts | grep -qx -- "$documents" && break; sleep 0.1; done
texts | grep -qx -- "$documents" || fail "the documents part was not shown: $(texts | tr '\n' '|')"
sleep 2  # some way into the part
shot_window "$wid" "$out/backup-documents.png"
texts | grep -qx -- "$documents" || fail "the documents part ended before its screenshot; make the tree larger"
echo "backup_screens: screenshot $out/backup-documents.png"

for _ in $(seq 600); do texts | grep -qx "备份全部完成！" && break; sleep 0.1; done
texts | grep -qx "备份全部完成！" || fail "the backup did not end: $(texts | tr '\n' '|')"
shot_window "$wid" "$out/backup-done.png"
echo "backup_screens: screenshot $out/backup-done.png"

copies="$work/d/WIN10DATA/资料备份/我的文档"
want=$(find "$work/docs" -type f ! -path '*/My Music/*' ! -path '*/Favorites/*' | wc -l)
got=$( (find "$copies" -type f 2>/dev/null || true) | wc -l)
[ "$got" = "$want" ] || fail "$got copies, $want expected"
[ -f "$copies/My Pictures/holiday.jpg" ] || fail "My Pictures was not copied"
[ ! -e "$copies/My Music" ] || fail "My Music was copied"
cmp -s "$work/docs/Videos of mine/large03.bin" "$copies/Videos of mine/large03.bin" || fail "a large copy differs"
sleep 1  # the worker's last log lines
if grep -aq "CopyFile Error:" "$work/d/corvane.txt" 2>/dev/null; then fail "copy errors in the log"; fi
echo "backup_screens: $got files copied"

run "$panel" close || true
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
app=""
echo "backup_screens: 2 screenshots, copies checked"
