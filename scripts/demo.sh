#!/usr/bin/env bash
# Installs what is needed, builds Corvaner.exe and starts it under Wine on a
# virtual display; takes a screenshot of the window into build/demo/ and
# closes it again. With DISPLAY already set (a desktop), the window stays
# until you close it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup-debian.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"${CORVANE_JOBS:-2}"
tests/wine/wine-prefix >/dev/null
exe=build/win32/shell/Corvaner.exe
if [ -n "${DISPLAY:-}" ] && [ -z "${CORVANE_HEADLESS:-}" ]; then
  exec tests/wine/wine-run "$exe"
fi
mkdir -p build/demo
tests/wine/xvfb-run-here bash -c '
  tests/wine/wine-run "$1" & pid=$!
  for _ in $(seq 150); do
    w=$(xdotool search --name "QuilloWin10" 2>/dev/null | head -n1 || true)
    [ -n "$w" ] && break; sleep 0.2
  done
  sleep 2
  import -window root build/demo/Corvaner.png
  echo "demo: screenshot in build/demo/Corvaner.png"
  tests/wine/wine-run build/win32/tests/wincheck.exe close || true
  wait $pid || true
' _ "$exe"
