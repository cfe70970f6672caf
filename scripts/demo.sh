#!/usr/bin/env bash
# Installs what is needed, builds Corvaner.exe and runs it under Wine on a
# virtual display against the loopback operator server (a demo site with the
# directory page, the edition files and the reachability page), with a second
# drive D: for the downloads. It presses "一键升级", lets the auto mode carry
# the run on, and keeps a screenshot of every screen it reaches in
# build/demo/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$(pwd)"
bash scripts/setup-debian.sh
jobs="${CORVANE_JOBS:-2}"
cmake --preset native >/dev/null && cmake --build --preset native -j"$jobs" --target opserver
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j"$jobs"
exec tests/wine/xvfb-run-here bash "$root/scripts/demo-run.sh"
