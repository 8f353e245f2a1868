# Shared by with-pulse.sh and with-pipewire.sh (sourced, not run): once a private server answers,
# make the null sink the default and play a 0.2 s probe through it, so that a server that cannot
# play fails the whole run within seconds instead of every test timing out.
#   sound_server_ready LOGS PID...
# LOGS names the log files to read; on failure they are named on stderr, the given processes are
# stopped and the script exits with 2.

sound_server_fail() {
    echo "$(basename "$0"): $1; read $2" >&2
    shift 2
    kill "$@" 2>/dev/null || true
    exit 2
}

sound_server_ready() {
    logs=$1
    shift
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl info >/dev/null 2>&1 ||
        sound_server_fail "the sound server did not answer within 10 s" "$logs" "$@"
    for _ in $(seq 50); do
        pactl set-default-sink quillmere_test 2>/dev/null &&
            pactl info | grep -q '^Default Sink: quillmere_test$' && break
        sleep 0.1
    done
    pactl info | grep -q '^Default Sink: quillmere_test$' ||
        sound_server_fail "the default sink could not be set to quillmere_test" "$logs" "$@"
    head -c 38400 /dev/zero | timeout 5 paplay --raw --rate=48000 --channels=2 --format=s16le ||
        sound_server_fail "a 0.2 s probe did not play within 5 s" "$logs" "$@"
    for pid in "$@"; do
        kill -0 "$pid" 2>/dev/null ||
            sound_server_fail "a sound server process ($pid) has died" "$logs" "$@"
    done
}
