#!/bin/sh
# Sets up, builds and runs every test: the platform-neutral core natively with AddressSanitizer
# and UndefinedBehaviorSanitizer, then the Windows program and its tests under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset native
cmake --build --preset native
ctest --preset native -j2

cmake --preset windows
cmake --build --preset windows
status=0
ctest --preset windows -j2 || status=$?
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
exit $status
