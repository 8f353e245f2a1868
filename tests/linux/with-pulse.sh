#!/bin/sh
# Runs a command beside a private PulseAudio daemon with one null sink ("quillmere_test", 48 kHz
# stereo) and the stream-restore module, reachable through PULSE_SERVER; the daemon is stopped
# afterwards; when the daemon cannot play, it exits with 2 within seconds and names its log. Its
# folders, and the ducking journals (XDG_STATE_HOME), live under the given state folder:
#   tests/linux/with-pulse.sh STATE_DIR command [args]
# The command can stop the daemon and start it again, as a restart of the user's server does
# (sound-server.sh): "$QUILLMERE_SERVER_CONTROL" stop|start|restart.
set -eu
state=$(realpath -m "$1")
shift
rm -rf "$state"
mkdir -p "$state/runtime" "$state/home"
socket="$state/runtime/native"
cat >"$state/start-server" <<START
#!/bin/sh
HOME="$state/home" XDG_RUNTIME_DIR="$state/runtime" PULSE_RUNTIME_PATH="$state/runtime" \\
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr --log-level=error \\
    -L "module-native-protocol-unix auth-anonymous=1 socket=$socket" \\
    -L "module-null-sink sink_name=quillmere_test rate=48000 channels=2" \\
    -L "module-stream-restore restore_device=false" \\
    -L "module-always-sink" </dev/null >>"$state/daemon.log" 2>&1 &
echo \$! >"$state/server.pids"
START
export PULSE_SERVER="unix:$socket"
export XDG_STATE_HOME="$state/state"
. "$(dirname "$0")/sound-server.sh"
sound_server_control "$state" "$state/daemon.log"
sound_server_start
status=0
"$@" || status=$?
sound_server_stop
exit $status
