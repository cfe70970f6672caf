# Shell helpers shared by the scripts that drive the real program under Wine.
# Source it; it picks the Wine of CORVANE_WINE_ARCH (wine-env).
. "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-env"

# Under `set -e` a failing command ends the script without a word; name it,
# so that no failure of a screen test is silent.
set -E
trap 'corvane_rc=$?; echo "$(basename "$0"): FAIL: line $LINENO: $BASH_COMMAND (exit $corvane_rc)"' ERR

# wine_reg ARGS...: Wine's reg.exe, tried up to three times: a Wine that is
# still starting its server on a loaded machine can fail a first call.
wine_reg() {
  local try
  for try in 1 2 3; do
    wine_cmd reg "$@" && return 0
    [ "$try" = 3 ] || sleep 1
  done
  echo "wine_reg: reg $* failed three times" >&2
  return 1
}

# map_drive_d HOSTDIR: a fixed drive D: on the host folder.
map_drive_d() {
  mkdir -p "$1"
  ln -sfn "$1" "$WINEPREFIX/dosdevices/d:"
  wine_reg add 'HKLM\Software\Wine\Drives' /v 'd:' /t REG_SZ /d hd /f >/dev/null
}

unmap_drive_d() {
  rm -f "$WINEPREFIX/dosdevices/d:"
  wine_cmd reg delete 'HKLM\Software\Wine\Drives' /v 'd:' /f >/dev/null 2>&1 || true
}

# wait_main_window TITLE: prints the X window id of the visible main window.
wait_main_window() {
  local wid=""
  for _ in $(seq 150); do
    wid="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)"
    [ -n "$wid" ] && break
    sleep 0.2
  done
  echo "$wid"
}

# shot_window WID FILE: a screenshot of that window alone.
shot_window() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2"
}
