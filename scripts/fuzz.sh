#!/usr/bin/env bash
# Builds the fuzz targets (clang + libFuzzer + ASan/UBSan) and runs each for a
# while: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
secs="${1:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"${CORVANE_JOBS:-2}"
status=0
while IFS= read -r target; do
  name=$(basename "$target")
  corpus="build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  echo "=== $name ($secs s) ==="
  "$target" -max_total_time="$secs" -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 2 || status=1
done < <(find build/fuzz -type f -executable -name 'fuzz_*' | sort)
exit $status
