# Shared by with-pulse.sh and with-pipewire.sh (sourced, not run): once a private server answers,
# make the null sink the default and play a 0.2 s probe through it, so that a server that cannot
# play fails the whole run within seconds instead of every test timing out. The server is started
# by STATE/start-server, which each script writes, and which puts the pids of its processes in
# STATE/server.pids; the command run beside it may stop it and start it again through the
# script that sound_server_control writes.
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

# sound_server_control STATE LOGS: the server's state folder and its logs (as sound_server_ready
# names them) for sound_server_start and sound_server_stop; writes STATE/server-control, a
# command that takes stop, start or restart, and names it in QUILLMERE_SERVER_CONTROL.
sound_server_control() {
    server_state=$1
    server_logs=$2
    cat >"$server_state/server-control" <<CONTROL
#!/bin/sh
set -eu
. "$(realpath "$(dirname "$0")")/sound-server.sh"
server_state="$server_state"
server_logs="$server_logs"
case "\$1" in
    stop) sound_server_stop ;;
    start) sound_server_start ;;
    restart) sound_server_stop && sound_server_start ;;
    *) echo "server-control: stop, start or restart" >&2; exit 2 ;;
esac
CONTROL
    chmod +x "$server_state/server-control"
    export QUILLMERE_SERVER_CONTROL="$server_state/server-control"
}

sound_server_start() {
    sh "$server_state/start-server"
    # shellcheck disable=SC2046 # one pid a word
    sound_server_ready "$server_logs" $(cat "$server_state/server.pids")
}

# Its processes stopped and gone (a zombie that nobody reaps counts as gone), within 5 s.
sound_server_stop() {
    pids=$(cat "$server_state/server.pids" 2>/dev/null || true)
    # shellcheck disable=SC2086 # one pid a word
    kill $pids 2>/dev/null || true
    for _ in $(seq 50); do
        alive=
        for pid in $pids; do
            if kill -0 "$pid" 2>/dev/null && [ "$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)" != Z ]; then
                alive=1
            fi
        done
        [ -z "$alive" ] && break
        sleep 0.1
    done
    rm -f "$server_state/server.pids"
}
