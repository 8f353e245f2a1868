#!/bin/sh
# Sets up, builds and runs every test: the platform-neutral core and the Linux program natively
# with AddressSanitizer and UndefinedBehaviorSanitizer (the program against a private PulseAudio
# daemon, then against PipeWire's pulse server), the core's fuzz targets briefly, then the Windows program and its tests under Wine,
# and the Node.js host client against that program, inside a virtual X display so that Wine can
# create the windows the application listing looks for.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check-layers.sh
scripts/check-texts.sh
scripts/check-version.sh

cmake --preset linux
cmake --build --preset linux
tests/linux/with-pulse.sh build/linux/pulse ctest --preset linux -j2
# The Linux program's tests a second time, on PipeWire's pulse server. Where it can, it hides
# /run/systemd in a private mount namespace, so that every run shows whether the private PipeWire
# still works without logind (a chroot or a container has none).
set -- tests/linux/with-pipewire.sh build/linux/pipewire ctest --preset linux -j2 -R '^Linux'
if [ "$(id -u)" -ne 0 ]; then
    echo "test.sh: not root, so the PipeWire tests run with this machine's /run/systemd" >&2
elif [ ! -d /run/systemd ]; then
    echo "test.sh: no /run/systemd here, so the PipeWire tests run without logind as they are" >&2
elif ! unshare -m true 2>/dev/null; then
    echo "test.sh: unshare -m failed, so the PipeWire tests run with this machine's /run/systemd" >&2
else
    set -- unshare -m sh -c 'mount -t tmpfs none /run/systemd && exec "$@"' sh "$@"
fi
"$@"

# Every fuzz target for a short, bounded time over its seed corpus.
scripts/fuzz.sh 10

cmake --preset windows
cmake --build --preset windows
# The optimised Linux program alone: the npm packages the Node tests pack and install carry it.
cmake --preset release
cmake --build --preset release
(cd clients/node && npm ci --no-audit --no-fund)
export WINEPREFIX="$PWD/build/windows/wineprefix"
# Wine's servers and desktop must start on the virtual display, not on an earlier one. The
# journal tests' prefix has a server of its own.
wineserver -k 2>/dev/null || true
WINEPREFIX="$WINEPREFIX-journal" wineserver -k 2>/dev/null || true
xvfb-run -a sh -c 'status=0; ctest --preset windows -j2 || status=$?
    tests/linux/with-pulse.sh build/linux/pulse-node sh -c "cd clients/node && npm test" || status=$?
    wineserver -k 2>/dev/null
    WINEPREFIX="$WINEPREFIX-journal" wineserver -k 2>/dev/null; exit $status'
