#!/usr/bin/env bash
# The window at three display scales under Wine (LogPixels 96, 144, 192):
# screenshots of the home panel, the check result and the download panel,
# with a balloon, the menu, the message box and the about window, through the
# gallery (the program's own view code). Each main-window picture must be the
# 350 x 330 client area multiplied exactly, plus the scaled 30-pixel title bar
# and a frame of whole pixels.
# Usage: dpi_screens.sh BUILD_DIR OUTDIR   (pictures in OUTDIR/dpi96, dpi144, dpi192)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$1"; out="$2"
# The Wine of the build's architecture, for the prefixes and the gallery alike.
grep -q '^CMAKE_TOOLCHAIN_FILE:.*x86_64' "$build/CMakeCache.txt" 2>/dev/null && arch=win64 || arch=win32
export CORVANE_WINE_ARCH="$arch"
fail() { echo "dpi_screens: FAIL: $*"; exit 1; }
px() { echo $(( ($1 * $2 + 48) / 96 )); }  # a layout length at a DPI

for dpi in 96 144 192; do
  dir="$out/dpi$dpi"
  rm -rf "$dir"
  PANELS="PnlHome PnlCheckHrd PnlDownload" EXTRA=1 \
    "$here/at-dpi" "$dpi" "$root/tools/screenshots" "$dir" "$build" || fail "screenshots at $dpi DPI"
  frame=$(( dpi / 96 > 1 ? dpi / 96 : 1 ))
  want="$(( $(px 350 "$dpi") + 2 * frame ))x$(( $(px 330 "$dpi") + $(px 30 "$dpi") + 2 * frame ))"
  for shot in PnlHome PnlCheckHrd PnlDownload; do
    got="$(identify -format '%wx%h' "$dir/$shot.png")"
    [ "$got" = "$want" ] || fail "$shot at $dpi DPI is $got, not $want"
  done
  echo "dpi_screens: $dpi DPI: main window $want; pictures in $dir"
done
echo "dpi_screens: 3 passed, 0 failed"
