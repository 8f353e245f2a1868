#!/bin/sh
# The main job, on Linux against a real sound server: a private PulseAudio daemon with a null
# sink, a real player (paplay) playing a three-second chord, and quillmere capturing that
# player alone (include mode) as a host would. The stream goes to build/demo/capture.wav and the
# program's log is shown. (scripts/demo-windows.sh runs Quillmere.exe under Wine instead.)
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target quillmere

out="$PWD/build/demo"
mkdir -p "$out"
sox -n -r 48000 -c 2 -b 16 "$out/chord.wav" synth 3 sine 440 sine 554 sine 659 gain -6

cat >"$out/run.sh" <<'RUN'
set -eu
out=$1
paplay "$out/chord.wav" &
player=$!
sleep 0.3
status=0
{ sleep 3; echo exit; } | build/linux/src/quillmere "$player" 0.999 include >"$out/capture.raw" 2>"$out/capture.log" ||
    status=$?
wait "$player" || true
echo "$status" >"$out/status"
RUN
echo "Capturing paplay for three seconds..."
tests/linux/with-pulse.sh build/demo/pulse sh "$out/run.sh" "$out"

echo "--- log (stderr) ---"
cat "$out/capture.log"
echo "--- exit status: $(cat "$out/status") ---"
sox -t raw -r 16000 -e signed-integer -b 16 -c 1 -L "$out/capture.raw" "$out/capture.wav"
echo "--- stream: $(stat -c %s "$out/capture.raw") bytes, written to $out/capture.wav ---"
sox "$out/capture.wav" -n stat 2>&1 | grep -E "Samples read|Length|Maximum amplitude|Rough"
