#!/usr/bin/env bash
# Installs what is needed and runs every test: native (ASan/UBSan), the
# threaded parts under TSan, and the Windows build under Wine (seam tests and
# the whole program on a virtual display).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup-debian.sh

jobs="${CORVANE_JOBS:-2}"
status=0
step() { echo; echo "=== $* ==="; }

step "native build (ASan + UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native || status=1

step "TSan build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
ctest --preset tsan || status=1

step "win32 build, tests under Wine"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
tests/wine/wine-prefix >/dev/null
ctest --preset win32 || status=1

exit $status
