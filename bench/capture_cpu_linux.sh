#!/bin/sh
# The Linux program's CPU cost and start-up gap on a real sound server, beside parec's recording
# of the same audio, in one run. Run it beside a private server:
#
#   cmake --preset bench && cmake --build --preset bench -j2 --target capture_timing
#   tests/linux/with-pulse.sh build/bench/pulse bench/capture_cpu_linux.sh [SECONDS] [ROUNDS] [TRIES]
#   tests/linux/with-pipewire.sh build/bench/pipewire bench/capture_cpu_linux.sh [SECONDS] [ROUNDS] [TRIES]
#
# PROGRAM names the program measured (default build/bench/src/quillmere, the optimised build);
# BEFORE, another build's quillmere (an earlier commit's, say), whose rows then come beside it.
# Build both the same way (the bench preset; the linux preset's sanitizers cost several times
# more). OPTIONS are added to both programs' command lines (OPTIONS=--status, say).
#
# CPU: rows of 1, 4 and 16 players of quiet tones in exclude mode with an idle target, 16 in
# exclude mode whose target is one of them, and 1 in include mode whose target it is. In each
# round every recorder runs in turn on the same players (the first one moves on by one each
# round): parec (16 kHz mono s16, 20 ms fragments like the program's, on the default sink's
# monitor, or with --monitor-stream on the target's sink input for the include row), the
# program (ratio 1: no ducking) and BEFORE, each output thrown away to /dev/null. A recorder's
# window of SECONDS (default 3) starts after a 2 s warm-up; it counts the CPU of the recorder's
# processes (for the programs every process of their executable: the guardian too) and of every
# server process (the state folder's server.pids: pulseaudio, or pipewire, wireplumber and
# pipewire-pulse), less the server's alone with the players, measured in windows as long
# before and after each round. Medians over ROUNDS (default 3), in ms of CPU per second.
#
# Start-up gap: a fresh player of a 440 Hz tone at 0.3, started AGE s (default 1) before the
# recorder, TRIES times (default 10) for each recorder in turn: the program in include mode (its
# target the player) and in exclude mode (an idle target), from its start line on standard
# error to the first sample above a tenth of the tone on standard output, and from its process's
# start to that sample; parec from its start to that sample, on the monitor and with
# --monitor-stream. A silent player plays throughout: a null sink that nothing has asked for a
# low latency yet runs in 2 s blocks and sends a new stream's audio only at its next block, up
# to 2 s late whoever records (PulseAudio; IDLE_SINK=1 leaves the silent player out to see it).
#
# Figures of a shared machine move between runs: compare within one run, as ratios.
# shellcheck disable=SC2086 # lists of pids, options and recorders are split into words on purpose
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-3}
rounds=${2:-3}
tries=${3:-10}
age=${AGE:-1}
build=build/bench
program=${PROGRAM:-$build/src/quillmere}
before=${BEFORE:-}
options=${OPTIONS:-}
timing=$build/bench/capture_timing
player=$build/tests/tone_player
for needed in "$program" $before "$timing" "$player"; do
    if [ ! -x "$needed" ]; then
        echo "$0: $needed is missing; build: cmake --preset bench && cmake --build --preset bench -j2 --target capture_timing" >&2
        exit 2
    fi
done
state=$(dirname "${QUILLMERE_SERVER_CONTROL:?run it beside a server: tests/linux/with-pulse.sh STATE $0}")
server=$(cat "$state/server.pids")
server_names=$(for pid in $server; do cat "/proc/$pid/comm"; done | paste -sd, - | sed 's/,/, /g')
work=$(mktemp -d)
# What runs now of what the script started: the idle target and the silent player for the whole
# run, a row's players, a recorder, a try's player.
started='' players='' live='' tone=''
trap 'kill $started $players $live $tone 2>/dev/null || true; rm -rf "$work"' EXIT

idle_target() {
    sleep 100000 &
    started="$started $!"
    idle=$!
}

sink_input_of() { # pid -> the index of its sink input
    pactl list sink-inputs | awk -v pid="$1" '/^Sink Input #/ { i = substr($3, 2) }
        $0 ~ "application.process.id = \"" pid "\"" { print i }'
}

median_and_range() { # numbers, one a line -> "median min max" ("- - -" for none)
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "- - -"; exit }
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        print m, v[1], v[NR] }'
}

# CPU in ms per second over SECONDS: "own server", own being WHO's (a pid or an executable's
# path; none: 0).
window() {
    who=${1:-}
    first=$("$timing" cpu $who $server)
    sleep "$seconds"
    last=$("$timing" cpu $who $server)
    own=0
    [ -n "$who" ] && own=1
    echo "$first $last" | awk -v own="$own" '{
        k = NF / 2; dt = $(k + 1) - $1; o = own ? $(k + 2) - $2 : 0; s = 0
        for (i = 2 + own; i <= k; i++) s += $(k + i) - $i
        printf "%.3f %.3f\n", 1000 * o / dt, 1000 * s / dt }'
}

baseline() {
    sleep 0.5 # the last recorder's end settles
    window | awk '{ print $2 }'
}

# recorder KIND MODE TARGET INDEX -> "own server" of its window after the warm-up (run in this
# shell, not in a command substitution: a recorder that does not start ends the whole run)
recorder() {
    case $1 in
        parec)
            stream=
            [ "$2" = include ] && stream="--monitor-stream=$4"
            set -- parec --raw --format=s16le --rate=16000 --channels=1 --latency-msec=20 -d @DEFAULT_MONITOR@ $stream
            ;;
        program) set -- "$program" "$3" 1 "$2" $options ;;
        before) set -- "$before" "$3" 1 "$2" $options ;;
    esac
    "$@" </dev/null >/dev/null 2>"$work/log" &
    pid=$!
    live=$pid
    sleep 2
    if ! kill -0 "$pid" 2>/dev/null || { [ "$1" != parec ] && ! grep -q "capture started\." "$work/log"; }; then
        echo "$0: $* did not start:" >&2
        cat "$work/log" >&2
        exit 1
    fi
    if [ "$1" = parec ]; then window "$pid"; else window "$(realpath "$1")"; fi
    kill -TERM "$pid"
    { wait "$pid"; } 2>/dev/null || true
    live=
}

recorders="parec program"
[ -n "$before" ] && recorders="$recorders before"

# cpu_row NAME MODE PLAYERS TARGET (idle or player) -> one line of medians: name|alone|parec
# adds|program adds|program's own|before adds|before's own
cpu_row() {
    name=$1 mode=$2 count=$3
    players=
    i=1
    while [ "$i" -le "$count" ]; do
        "$player" $((300 + 97 * i)) 0.01 3600 >/dev/null &
        players="$players $!"
        i=$((i + 1))
        sleep 0.05 # PulseAudio refuses some of many connections made at once
    done
    for _ in $(seq 100); do
        [ "$(pactl list short sink-inputs | wc -l)" -ge "$count" ] && break
        sleep 0.1
    done
    if [ "$(pactl list short sink-inputs | wc -l)" -lt "$count" ]; then
        echo "$0: $count players did not all start" >&2
        exit 1
    fi
    if [ "$4" = player ]; then target=${players# }; target=${target%% *}; else target=$idle; fi
    index=$(sink_input_of "$target")
    sleep 2
    : >"$work/added"
    alone=$(baseline)
    echo "$alone" >"$work/alone"
    round=1
    set -- $recorders
    while [ "$round" -le "$rounds" ]; do
        : >"$work/round"
        for kind in "$@"; do
            {
                printf '%s ' "$kind"
                recorder "$kind" "$mode" "$target" "$index"
            } >>"$work/round"
        done
        after=$(baseline)
        echo "$after" >>"$work/alone"
        awk -v a="$alone" -v b="$after" '{ print $1, $2 + $3 - (a + b) / 2, $2 }' "$work/round" >"$work/this"
        cat "$work/this" >>"$work/added"
        echo "$name, round $round: alone $alone to $after ms/s;" \
            "$(awk '{ printf "%s adds %.2f (own %.2f); ", $1, $2, $3 }' "$work/this")" >&2
        alone=$after
        set -- ${2:-} ${3:-} $1 # the next round starts with the next recorder
        round=$((round + 1))
    done
    # shellcheck disable=SC2086 # one pid a word
    kill $players
    { wait $players; } 2>/dev/null || true
    players=
    line="$name|$(median_and_range <"$work/alone" | cut -d' ' -f1)"
    for kind in parec program before; do
        added=$(awk -v k="$kind" '$1 == k { print $2 }' "$work/added" | median_and_range | cut -d' ' -f1)
        own=$(awk -v k="$kind" '$1 == k { print $3 }' "$work/added" | median_and_range | cut -d' ' -f1)
        line="$line|$added|$own"
    done
    echo "$line"
}

idle_target
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); server: $server_names;" \
    "$rounds rounds of $seconds s windows after a 2 s warm-up"
echo
{
    cpu_row "1 (exclude, idle target)" exclude 1 idle
    cpu_row "4 (exclude, idle target)" exclude 4 idle
    cpu_row "16 (exclude, idle target)" exclude 16 idle
    cpu_row "16 (exclude, target one of them)" exclude 16 player
    cpu_row "1 (include, target it)" include 1 player
} >"$work/cpu"
if [ -n "$before" ]; then
    echo "| Players (mode, target) | players alone | parec adds | program adds | its own process | before adds | its own process | program / parec | program / before |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
else
    echo "| Players (mode, target) | players alone | parec adds | program adds | its own process | program / parec |"
    echo "|---|---:|---:|---:|---:|---:|"
fi
awk -F'|' -v before="$before" 'function ratio(a, b) { return b > 0 ? sprintf(" %.2f |", a / b) : " — |" } {
    r = sprintf("| %s | %.2f | %.2f | %.2f | %.2f |", $1, $2, $3, $5, $6)
    if (before != "") r = r sprintf(" %.2f | %.2f |", $7, $8)
    r = r ratio($5, $3)
    if (before != "") r = r ratio($5, $7)
    print r }' "$work/cpu"
echo
echo "ms of CPU per second: the server's alone with the players; what each recorder adds, its own process and the server's part together; the programs' own processes apart."

# The start-up gaps.
if [ "${IDLE_SINK:-0}" != 1 ]; then
    "$player" 440 0 100000 >/dev/null &
    started="$started $!"
    sleep 3 # past the null sink's first block
fi
level=983 # a tenth of the tone's 0.3, in 16-bit samples
: >"$work/gaps"
gap_kinds="program:include program:exclude parec:monitor parec:stream"
[ -n "$before" ] && gap_kinds="$gap_kinds before:include before:exclude"
try=1
while [ "$try" -le "$tries" ]; do
    for kind in $gap_kinds; do
        "$player" 440 0.3 60 >/dev/null &
        tone=$!
        sleep "$age"
        case $kind in
            program:*) set -- "$level" "capture started." "$program" ;;
            before:*) set -- "$level" "capture started." "$before" ;;
            parec:*) set -- "$level" - parec --raw --format=s16le --rate=16000 --channels=1 --latency-msec=20 \
                -d @DEFAULT_MONITOR@ ;;
        esac
        case $kind in
            *:include) set -- "$@" "$tone" 1 include $options ;;
            *:exclude) set -- "$@" "$idle" 1 exclude $options ;;
            *:stream) set -- "$@" "--monitor-stream=$(sink_input_of "$tone")" ;;
        esac
        echo "$kind $("$timing" gap "$@")" >>"$work/gaps"
        kill "$tone"
        { wait "$tone"; } 2>/dev/null || true
        tone=
    done
    try=$((try + 1))
done

gap_row() { # NAME KIND -> a table line
    line=$(awk -v k="$2" '$1 == k && $2 != "-" && $3 != "-" { print $3 - $2 }' "$work/gaps" | median_and_range)
    spawn=$(awk -v k="$2" '$1 == k && $3 != "-" { print $3 }' "$work/gaps" | median_and_range)
    missed=$(awk -v k="$2" '$1 == k && $3 == "-"' "$work/gaps" | wc -l)
    echo "$1 $line $spawn $missed" | awk '{
        n = NF - 7
        name = $1; for (i = 2; i <= n; i++) name = name " " $i
        fmt = "%s ms (%s–%s)"
        a = $(n + 1) == "-" ? "—" : sprintf(fmt, $(n + 1), $(n + 2), $(n + 3))
        b = $(n + 4) == "-" ? "—" : sprintf(fmt, $(n + 4), $(n + 5), $(n + 6))
        printf "| %s | %s | %s | %d |\n", name, a, b, $(n + 7) }'
}

echo
echo "Start-up gap, $tries tries each, a fresh player $age s old$([ "${IDLE_SINK:-0}" = 1 ] && echo ', the sink idle before it'):"
echo
echo "| Recorder | start line → first audio: median (range) | process start → first audio | no audio within 5 s |"
echo "|---|---:|---:|---:|"
gap_row "program, include (target the player)" program:include
gap_row "program, exclude (idle target)" program:exclude
if [ -n "$before" ]; then
    gap_row "before, include (target the player)" before:include
    gap_row "before, exclude (idle target)" before:exclude
fi
gap_row "parec, the sink's monitor" parec:monitor
gap_row "parec, --monitor-stream of the player" parec:stream
