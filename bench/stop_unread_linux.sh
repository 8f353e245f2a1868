#!/bin/sh
# From writing "exit" to the lowered player's volume back, for the Linux program on a real sound
# server, RUNS times with the host reading standard output and RUNS times with the host having
# stopped reading it (its pipe opened and left full), alternating; medians of each. The volume is
# polled with pactl, which adds its own run time (about 10 ms) to each figure.
#   tests/linux/with-pulse.sh build/linux/pulse bench/stop_unread_linux.sh build/linux [RUNS]
set -eu
build=$1
runs=${2:-10}
work=$(mktemp -d)
trap 'kill $player 2>/dev/null; rm -rf "$work"' EXIT
"$build/tests/tone_player" 440 0.3 600 >/dev/null &
player=$!
sleep 1
index=$(pactl list sink-inputs | awk -v pid="$player" '/^Sink Input #/ {i=substr($3,2)}
    $0 ~ "application.process.id = \"" pid "\"" {print i}')
now_ms() { echo $(($(date +%s%N) / 1000000)); }
volume() { pactl list sink-inputs | awk -v i="$index" '/^Sink Input #/ {on = substr($3,2) == i}
    on && /^\tVolume:/ {print $7; exit}'; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
: >"$work/read" ; : >"$work/unread"
for run in $(seq "$runs"); do
    for how in read unread; do
        pactl set-sink-input-volume "$index" 0.8
        mkfifo "$work/in" "$work/out"
        "$build/src/quillmere" 999999 0.2 <"$work/in" >"$work/out" 2>"$work/log" &
        program=$!
        exec 3>"$work/in" 4<"$work/out"
        if [ $how = read ]; then cat <&4 >/dev/null & reader=$!; fi
        until grep -q "Ducking session tone_player" "$work/log"; do sleep 0.02; done
        sleep 0.5
        start=$(now_ms)
        echo exit >&3
        until [ "$(volume)" = "-1.94" ]; do :; done
        echo $(($(now_ms) - start)) >>"$work/$how"
        wait $program
        exec 3>&- 4<&-
        [ $how = read ] && wait $reader
        rm -f "$work/in" "$work/out"
    done
done
echo "\"exit\" -> volume back, stdout read:   median $(median <"$work/read") ms over $runs runs"
echo "\"exit\" -> volume back, stdout unread: median $(median <"$work/unread") ms over $runs runs"
