#!/usr/bin/env bash
# Installs what is needed and runs every test: native (ASan/UBSan), the
# threaded parts under TSan, and the Windows builds: the shipped PE32 program
# (and the product build) checked statically on every machine; the Windows
# tests under 32-bit Wine on the PE32 build where this machine runs 32-bit
# programs, and under 64-bit Wine on the win64 build everywhere.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup-debian.sh

jobs="${CORVANE_JOBS:-2}"
status=0
step() { echo; echo "=== $* ==="; }
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs" "${@:2}"; }

step "native build (ASan + UBSan)"
build native
ctest --preset native || status=1

step "TSan build"
build tsan
ctest --preset tsan || status=1

route="$(tests/wine/wine-route)"
if [ "$route" = win32 ]; then
  echo "Windows tests: 32-bit Wine on the PE32 build (win32) and 64-bit Wine on the win64 build"
else
  echo "Windows tests: 64-bit Wine on the win64 build only (this machine runs no 32-bit programs); the PE32 build is built and checked statically"
fi

step "win32 build (PE32, the shipped program), static checks"
build win32
ctest --preset win32 -L static || status=1
step "win32-product build (as shipped), static check"
build win32-product --target Corvaner
python3 tests/static/pe_check.py --machine i386 --gui --manifest --version "$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
  --resource ZIP/RES --resource ZIP/Thunder --archives build/win32-product/shell/Corvaner.exe || status=1

if [ "$route" = win32 ]; then
  step "win32 tests under 32-bit Wine"
  tests/wine/wine-prefix --arch=win32 >/dev/null
  ctest --preset win32 -LE static || status=1
fi

step "win64 build, tests under 64-bit Wine"
build win64
tests/wine/wine-prefix --arch=win64 >/dev/null
ctest --preset win64 || status=1

exit $status
