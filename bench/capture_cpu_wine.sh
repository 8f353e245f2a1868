#!/bin/sh
# Whole-process CPU of a capture under Wine against the audio engine double (48 kHz stereo float
# in 10 ms packets, delivered in real time), side by side in one run: a 10 ms sleeper, the
# minimal capture (bench/minimal_capture.cpp), and the program without ducking, with one
# session to lower, and with 20 sessions of which one becomes active every second; the program
# each way with and without --status. Counts each program's own process and the prefix's
# wineserver together (Wine serves some calls, the process snapshot among them, in its server),
# over a window that starts after the start-up.
#
#   bench/capture_cpu_wine.sh [seconds per row, default 20] [rounds, default 1]
#
# With BEFORE set to another build's Quillmere.exe (an earlier commit's, say), its rows come
# beside the program's in the same run, against the same engine and prefix.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
rounds=${2:-1}
build=build/windows
run="$build/run-under-wine.sh"
export WINEPREFIX="$PWD/$build/wineprefix"
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

inprefix() { # process name -> the pids of that name that run in this prefix (other prefixes may run beside)
    for candidate in $(pgrep -x "$(printf %.15s "$1")" || true); do
        if (tr '\0' '\n' <"/proc/$candidate/environ") 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            echo "$candidate"
        fi
    done
}

# The prefix's services start with its first program and stay: start them before measuring.
"$run" "$build/bench/sleeper.exe" </dev/null >/dev/null 2>&1 &
sleep 3
kill -9 $(inprefix sleeper.exe) 2>/dev/null || true
wait 2>/dev/null || true
server=$( (inprefix wineserver64; inprefix wineserver) | head -n 1)

ticks() { # pid -> utime + stime in clock ticks (0 once it is gone)
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null || echo 0
}
hz=$(getconf CLK_TCK)

# The sessions' owners: 20 processes of the prefix that wait for ever, so that each session that
# becomes active names a running process the ducking pass must place in the process tree; a 21st
# is the target, whose tree the status lines follow.
: >"$work/owners"
cp "$build/bench/sleeper.exe" "$work/owner.exe"
i=0
while [ "$i" -lt 21 ]; do
    "$run" "$work/owner.exe" idle </dev/null >>"$work/owners" 2>/dev/null &
    i=$((i + 1))
done
while [ "$(wc -l <"$work/owners")" -lt 21 ]; do sleep 1; done
target=$(sed -n 21p "$work/owners" | tr -d '\r')

script() { # sessions -> the engine's script
    printf 'mix_format ext-float 48000 2 32\npacket 480 tone 440 0.5\nrepeat\nrealtime\n'
    head -n "$1" "$work/owners" | tr -d '\r' | awk '{
        # The first session plays from the start; each further one becomes active a second later.
        printf "session speakers pid=%d id=s%d volume=0.8 active_after_ms=%d\n", $1, NR - 1, (NR - 1) * 1000 }'
}

measure() { # name sessions program args... -> one row
    name=$1
    sessions=$2
    shift 2
    script "$sessions" >"$work/script.txt"
    QUILLMERE_DOUBLE_SCRIPT=$("$run" winepath -w "$work/script.txt" 2>/dev/null)
    export QUILLMERE_DOUBLE_SCRIPT
    "$run" "$@" </dev/null >/dev/null 2>"$work/log" &
    job=$!
    exe=$(basename "$1")
    sleep 3
    pid=$(inprefix "$exe" | head -n 1)
    a=$(ticks "$pid")
    s=$(ticks "$server")
    sleep "$seconds"
    b=$(ticks "$pid")
    t=$(ticks "$server")
    kill -INT "$pid" 2>/dev/null || true
    sleep 2
    kill -9 $(inprefix "$exe") 2>/dev/null || true
    wait "$job" 2>/dev/null || true
    awk -v n="$name" -v p=$((b - a)) -v w=$((t - s)) -v hz="$hz" -v d="$seconds" \
        'BEGIN { printf "%s|%.2f|%.2f|%.2f\n", n, 100 * p / hz / d, 100 * w / hz / d, 100 * (p + w) / hz / d }'
}

round=1
while [ "$round" -le "$rounds" ]; do
    {
        measure "10 ms sleeper" 0 "$build/bench/sleeper.exe"
        measure "minimal capture" 1 "$build/bench/minimal_capture.exe" 4242
        if [ -n "${BEFORE:-}" ]; then
            measure "before: no ducking" 1 "$BEFORE" "$target" 1
            measure "before: one ducked session" 1 "$BEFORE" "$target" 0.2
            measure "before: 20 sessions, one new a second" 20 "$BEFORE" "$target" 0.2
        fi
        for status in "" --status; do
            measure "no ducking $status" 1 "$build/src/Quillmere.exe" "$target" 1 $status
            measure "one ducked session $status" 1 "$build/src/Quillmere.exe" "$target" 0.2 $status
            measure "20 sessions, one new a second $status" 20 "$build/src/Quillmere.exe" "$target" 0.2 $status
        done
    } >"$work/rows"
    floor=$(awk -F'|' 'NR == 2 { print $4 }' "$work/rows")
    echo "round $round, $seconds s per row ($(nproc) cores)"
    echo "| Run | Process % of a core | wineserver % | Together % | Against the minimal capture |"
    echo "|---|---:|---:|---:|---:|"
    awk -F'|' -v f="$floor" '{ printf "| %s | %s | %s | %s | %.2f |\n", $1, $2, $3, $4, $4 / f }' "$work/rows"
    round=$((round + 1))
done
