#!/usr/bin/env bash
# Installs what is needed, builds Corvaner.exe and runs it under Wine on a
# virtual display against the loopback operator server (a demo site with the
# directory page, the edition files and the reachability page), with a second
# drive D: for the downloads. It presses "一键升级", lets the auto mode carry
# the run on through the backup, the download, the verification, the boot
# entry and the hand-off file to the restart request (recorded, not done),
# keeping a screenshot of every panel and the run's results in build/demo/.
# It runs the PE32 build (the shipped program) under 32-bit Wine where this
# machine runs 32-bit programs, and the win64 build under 64-bit Wine elsewhere.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$(pwd)"
if [ -x tests/wine/wine-route ] && [ "$(tests/wine/wine-route)" = win32 ]; then
  echo "demo: the PE32 build (win32) under 32-bit Wine"
  export CORVANE_WINE_ARCH=win32
else
  echo "demo: the win64 build under 64-bit Wine (this machine runs no 32-bit programs)"
  export CORVANE_WINE_ARCH=win64
fi
bash scripts/setup-debian.sh
jobs="${CORVANE_JOBS:-2}"
# The program, the panel reader and the operator server (host build) only.
cmake --preset "$CORVANE_WINE_ARCH" >/dev/null
cmake --build --preset "$CORVANE_WINE_ARCH" -j"$jobs" --target Corvaner winpanel
exec tests/wine/xvfb-run-here bash "$root/scripts/demo-run.sh"
