#!/bin/sh
# The window listing's walk over its applications folders on Linux, at its worst: --list-apps on
# a private Xvfb with one window, against folders that hold (1) one desktop entry, (2) 4,096
# desktop entries of 64 KiB each (the most the listing reads), (3) 200,000 other files. Median
# time of RUNS listings for each, and each against the first as a ratio.
#   bench/desktop_entries_linux.sh build/linux [RUNS]
set -eu
build=$1
runs=${2:-5}
work=$(mktemp -d)
trap 'kill $window $xvfb 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
until [ -s "$work/display" ]; do sleep 0.05; done
DISPLAY=:$(cat "$work/display")
export DISPLAY
cp "$build/tests/x11_window" "$work/viewer"
"$work/viewer" Photos >"$work/mapped" &
window=$!
until [ -s "$work/mapped" ]; do sleep 0.05; done
entry='[Desktop Entry]
Type=Application
Name=Viewer
Exec=/somewhere/viewer %F'
comment="# $(head -c 65400 /dev/zero | tr '\0' x)"
mkdir -p "$work/one/applications" "$work/full/applications" "$work/many/applications"
echo "$entry" >"$work/one/applications/viewer.desktop"
printf '%s\n%s\n' "$entry" "$comment" >"$work/full/applications/0.desktop"
for n in $(seq 1 4095); do cp "$work/full/applications/0.desktop" "$work/full/applications/$n.desktop"; done
(cd "$work/many/applications" && seq 1 200000 | xargs touch)
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
for folder in one full many; do
    for run in $(seq "$runs"); do
        started=$(date +%s%N)
        XDG_DATA_HOME=/nonexistent XDG_DATA_DIRS="$work/$folder" "$build/src/quillmere" --list-apps >/dev/null 2>&1
        echo $((($(date +%s%N) - started) / 1000000))
    done | median >"$work/$folder.ms"
done
one=$(cat "$work/one.ms")
for folder in one full many; do
    ms=$(cat "$work/$folder.ms")
    echo "$folder: $ms ms ($(awk -v a="$ms" -v b="$one" 'BEGIN {printf "%.1f", (b > 0 ? a / b : 0)}') x one entry)"
done
