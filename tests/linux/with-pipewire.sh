#!/bin/sh
# The same as with-pulse.sh, with PipeWire's pulse server in place of PulseAudio: a private
# PipeWire with WirePlumber as its session manager (on a private D-Bus session bus, which
# WirePlumber needs), pipewire-pulse, and a null sink "quillmere_test" (48 kHz stereo) as the
# default sink, reachable through PULSE_SERVER; everything is stopped afterwards. When the server
# cannot play, it exits with 2 within seconds and names the logs:
#   tests/linux/with-pipewire.sh STATE_DIR command [args]
# "$QUILLMERE_SERVER_CONTROL" stop|start|restart stops the three and starts them again (the bus
# stays), as with-pulse.sh's does.
set -eu
state=$(realpath -m "$1")
shift
rm -rf "$state"
mkdir -p "$state/runtime" "$state/home"
export XDG_RUNTIME_DIR="$state/runtime" PIPEWIRE_RUNTIME_DIR="$state/runtime"
bus=$(HOME="$state/home" dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 | tr '\n' ' ')
export DBUS_SESSION_BUS_ADDRESS="${bus%% *}"
bus_pid=${bus#* }
export PULSE_SERVER="unix:$state/runtime/pulse/native"
export XDG_STATE_HOME="$state/state"
# WirePlumber's Bluetooth monitor asks logind for the seat; where logind is missing (a chroot or
# a container without /run/systemd) WirePlumber 0.4 then never links a stream. A drop-in in a
# configuration folder of its own turns that off, in each version's form (0.4 reads Lua, 0.5
# SPA-JSON, where the seat monitoring is an optional feature); its own configuration is read as usual.
mkdir -p "$state/config/wireplumber/bluetooth.lua.d" "$state/config/wireplumber/wireplumber.conf.d"
echo 'bluez_monitor.properties["with-logind"] = false' \
    >"$state/config/wireplumber/bluetooth.lua.d/60-quillmere-no-logind.lua"
echo 'wireplumber.profiles = { main = { monitor.bluez.seat-monitoring = disabled } }' \
    >"$state/config/wireplumber/wireplumber.conf.d/60-quillmere-no-logind.conf"
cat >"$state/start-server" <<START
#!/bin/sh
export XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" PIPEWIRE_RUNTIME_DIR="$PIPEWIRE_RUNTIME_DIR"
export DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" PULSE_SERVER="$PULSE_SERVER"
HOME="$state/home" pipewire </dev/null >>"$state/pipewire.log" 2>&1 &
echo \$! >"$state/server.pids"
sleep 0.5
HOME="$state/home" XDG_CONFIG_HOME="$state/config" wireplumber </dev/null >>"$state/wireplumber.log" 2>&1 &
echo \$! >>"$state/server.pids"
HOME="$state/home" pipewire-pulse </dev/null >>"$state/pipewire-pulse.log" 2>&1 &
echo \$! >>"$state/server.pids"
for _ in \$(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
pactl load-module module-null-sink sink_name=quillmere_test rate=48000 channels=2 >/dev/null || true
START
. "$(dirname "$0")/sound-server.sh"
sound_server_control "$state" "$state/wireplumber.log (and pipewire.log, pipewire-pulse.log beside it)"
sound_server_start
status=0
"$@" || status=$?
sound_server_stop
kill ${bus_pid% } 2>/dev/null || true
exit $status
