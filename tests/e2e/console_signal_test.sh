#!/bin/sh
# Ctrl+C as a real console signal: Wine turns SIGINT to the program's process into CTRL_C_EVENT
# for its console handler, which must restore the lowered volumes before the process ends,
# without the orderly end of the capture.
set -u
build=$1
run="$build/run-under-wine.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkfifo "$work/in"
QUILLMERE_DOUBLE_SCRIPT=$("$run" winepath -w "$work/script.txt" 2>/dev/null)
QUILLMERE_DOUBLE_RECORD=$("$run" winepath -w "$work/record.txt" 2>/dev/null)
export QUILLMERE_DOUBLE_SCRIPT QUILLMERE_DOUBLE_RECORD

fail=0
check() { # description, command...
    description=$1
    shift
    if "$@"; then echo "ok: $description"; else echo "FAILED: $description"; fail=1; fi
}

# Runs a capture with this script, sends SIGINT once the log holds the line, and leaves the
# log without CRs in lines.txt. stdin stays open (no end of input) throughout.
interrupt_when() { # script, log line
    printf '%s\n' "$1" >"$work/script.txt"
    : >"$work/record.txt"
    "$run" "$build/test-bin/Quillmere.exe" 1234 <"$work/in" >"$work/out.raw" 2>"$work/log.txt" &
    program=$!
    exec 3>"$work/in"
    for _ in $(seq 100); do
        grep -qF "$2" "$work/log.txt" && break
        sleep 0.1
    done
    kill -INT "$program"
    wait "$program"
    echo "exit status chosen by the system: $?"
    exec 3>&-
    tr -d '\r' <"$work/log.txt" >"$work/lines.txt"
}

show_on_failure() {
    if [ $fail -ne 0 ]; then
        echo "--- log"; cat "$work/lines.txt"; echo "--- record"; cat "$work/record.txt"
    fi
}

# While capturing with a ducked session.
ducked="[win-helper] Ducking session pid 3999996: 0.8 -> 0.16"
interrupt_when "session speakers pid=3999996 id=a volume=0.8" "$ducked"
expected=$(printf '%s\n' "$ducked" "[win-helper] Received console control signal: 0" \
    "[win-helper] Restoring audio session volumes..." "[win-helper] Restored session volume to: 0.8")
check "the signal line, then the restoration" test "$(grep -E 'Ducking|Received console|Restor' "$work/lines.txt")" = "$expected"
check "the volume is back" test "$(grep '^set_volume' "$work/record.txt" | tail -n 1)" = "set_volume a 0.8"
check "no orderly shutdown: the client is never stopped" test -z "$(grep -x stop "$work/record.txt")"
show_on_failure

# While activation is still under way: no thread to join, the restoration runs with nothing
# saved, and the process ends before any capture starts.
interrupt_when "completion_delay_ms 5000" "[win-helper] Params size: 12"
expected=$(printf '%s\n' "[win-helper] Params size: 12" \
    "[win-helper] QueryInterface IID: {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90} (IAgileObject) -> hr=0" \
    "[win-helper] Received console control signal: 0" "[win-helper] Restoring audio session volumes...")
check "during activation: the signal line and the restoration, nothing else" \
    test "$(tail -n 4 "$work/lines.txt")" = "$expected"
check "during activation: no capture started" test -z "$(grep -E '^(start|set_volume)' "$work/record.txt")"
show_on_failure

# While the host reads neither standard output nor standard error (both pipes opened and left
# full): the volume still comes back and the process ends.
printf '%s\n' "packet 480" "repeat" "realtime" "session speakers pid=3999996 id=a volume=0.8" >"$work/script.txt"
: >"$work/record.txt"
mkfifo "$work/out.fifo" "$work/log.fifo"
"$run" "$build/test-bin/Quillmere.exe" 1234 <"$work/in" >"$work/out.fifo" 2>"$work/log.fifo" &
program=$!
exec 3>"$work/in" 4<"$work/out.fifo" 5<"$work/log.fifo"
for _ in $(seq 100); do
    grep -qx "set_volume a 0.16" "$work/record.txt" && break
    sleep 0.1
done
for _ in $(seq 1500); do echo 0.25; echo 0.2; done >&3  # far more lines than the log's pipe holds
sleep 3                                                # and more samples than the output's
kill -INT "$program"
for _ in $(seq 50); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
check "with neither output read: the process ends" sh -c "! kill -0 $program 2>/dev/null"
kill -KILL "$program" 2>/dev/null
exec 3>&- 4<&- 5<&-
wait "$program"
check "with neither output read: the volume is back" \
    test "$(grep '^set_volume' "$work/record.txt" | tail -n 1)" = "set_volume a 0.8"
: >"$work/lines.txt"
show_on_failure
exit $fail
