# Shell helpers shared by the scripts that drive the real program under Wine.
# Source it; it picks the Wine of CORVANE_WINE_ARCH (wine-env).
. "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-env"

# map_drive_d HOSTDIR: a fixed drive D: on the host folder.
map_drive_d() {
  mkdir -p "$1"
  ln -sfn "$1" "$WINEPREFIX/dosdevices/d:"
  wine_cmd reg add 'HKLM\Software\Wine\Drives' /v 'd:' /t REG_SZ /d hd /f >/dev/null 2>&1
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
