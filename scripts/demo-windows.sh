#!/bin/sh
# The main job, under Wine against the audio engine double: a simulated target plays a 440 Hz
# tone for three seconds; Quillmere.exe captures it as a host would, the stream goes to
# build/demo/capture.wav and the program's log is shown.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows

out="$PWD/build/demo"
mkdir -p "$out"
# 48 kHz stereo float, 10 ms packets delivered in real time.
cat >"$out/engine-script.txt" <<'SCRIPT'
mix_format ext-float 48000 2 32
packet 480 tone 440 0.5
repeat
realtime
SCRIPT

export QUILLMERE_DOUBLE_SCRIPT="$(build/windows/run-under-wine.sh winepath -w "$out/engine-script.txt" 2>/dev/null)"
echo "Capturing for three seconds..."
status=0
{ sleep 3; echo exit; } | build/windows/run-under-wine.sh build/windows/src/Quillmere.exe 4242 0.2 \
    >"$out/capture.raw" 2>"$out/capture.log" || status=$?
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true

echo "--- log (stderr) ---"
tr -d '\r' <"$out/capture.log"
echo "--- exit status: $status ---"
sox -t raw -r 16000 -e signed-integer -b 16 -c 1 -L "$out/capture.raw" "$out/capture.wav"
echo "--- stream: $(stat -c %s "$out/capture.raw") bytes, written to $out/capture.wav ---"
sox "$out/capture.wav" -n stat 2>&1 | grep -E "Samples read|Length|Maximum amplitude|Rough"
