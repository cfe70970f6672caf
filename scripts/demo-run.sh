#!/usr/bin/env bash
# The body of demo.sh, run with DISPLAY set to a virtual display: the whole
# run of tests/wine/whole_run.sh with a 300 MiB install image, the auto mode
# pressing every button, screenshots and results in build/demo/, and the
# loader files from C: booting the boot image in the emulator afterwards.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
arch="${CORVANE_WINE_ARCH:?set by demo.sh}"
out="$root/build/demo"
rm -rf "$out"; mkdir -p "$out"
started=$SECONDS
CORVANE_IMAGE_MIB="${CORVANE_IMAGE_MIB:-300}" CORVANE_DEMO_VIDEOS=12 CORVANE_BOOT_CHECK=1 CORVANE_MEASURE=1 \
  bash tests/wine/whole_run.sh "build/$arch/shell/Corvaner.exe" "build/$arch/inspection/winpanel.exe" \
    "build/$arch/host/opserver/opserver" "$out" demo
echo "demo: the run ended with the restart request in $((SECONDS - started)) s; in build/demo/:"
(cd "$out" && ls -1 ./*.png result/* | sed 's|^\./||; s|^|  |')
