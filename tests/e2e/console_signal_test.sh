#!/bin/sh
# Ctrl+C during a capture with ducking on: Wine turns SIGINT into CTRL_C_EVENT for the
# program's console handler, which must restore the lowered volume before the process ends,
# without the orderly end of the capture.
set -u
build=$1
run="$build/run-under-wine.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/script.txt" <<'SCRIPT'
session speakers pid=3999996 id=a volume=0.8
SCRIPT
: >"$work/record.txt"
QUILLMERE_DOUBLE_SCRIPT=$("$run" winepath -w "$work/script.txt" 2>/dev/null)
QUILLMERE_DOUBLE_RECORD=$("$run" winepath -w "$work/record.txt" 2>/dev/null)
export QUILLMERE_DOUBLE_SCRIPT QUILLMERE_DOUBLE_RECORD

# stdin stays open (no end of input) while the capture runs.
mkfifo "$work/in"
"$run" "$build/test-bin/Quillmere.exe" 1234 <"$work/in" >"$work/out.raw" 2>"$work/log.txt" &
program=$!
exec 3>"$work/in"
ducked="[win-helper] Ducking session pid 3999996: 0.8 -> 0.16"
for _ in $(seq 100); do
    grep -qF "$ducked" "$work/log.txt" && break
    sleep 0.1
done
kill -INT "$program"
wait "$program"
status=$?
exec 3>&-

fail=0
check() { # description, command...
    description=$1
    shift
    if "$@"; then echo "ok: $description"; else echo "FAILED: $description"; fail=1; fi
}
tr -d '\r' <"$work/log.txt" >"$work/lines.txt"
expected_tail=$(printf '%s\n' "$ducked" "[win-helper] Received console control signal: 0" \
    "[win-helper] Restoring audio session volumes..." "[win-helper] Restored session volume to: 0.8")
check "the signal line, then the restoration" \
    test "$(grep -E 'Ducking|Received console|Restor' "$work/lines.txt")" = "$expected_tail"
check "the volume is back" test "$(grep '^set_volume' "$work/record.txt" | tail -n 1)" = "set_volume a 0.8"
check "no orderly shutdown: the client is never stopped" test -z "$(grep -x stop "$work/record.txt")"
echo "exit status chosen by the system: $status"
if [ $fail -ne 0 ]; then
    echo "--- log"; cat "$work/lines.txt"; echo "--- record"; cat "$work/record.txt"
fi

# Ctrl+C while activation is still under way: no thread to join, the restoration runs with
# nothing saved, and the process ends before any capture starts.
printf 'completion_delay_ms 5000\n' >"$work/script.txt"
: >"$work/record.txt"
"$run" "$build/test-bin/Quillmere.exe" 1234 <"$work/in" >"$work/out.raw" 2>"$work/log.txt" &
program=$!
exec 3>"$work/in"
for _ in $(seq 100); do
    grep -qF "[win-helper] Params size: 12" "$work/log.txt" && break
    sleep 0.1
done
kill -INT "$program"
wait "$program"
exec 3>&-
tr -d '\r' <"$work/log.txt" >"$work/lines.txt"
expected_tail=$(printf '%s\n' "[win-helper] Params size: 12" \
    "[win-helper] QueryInterface IID: {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90} (IAgileObject) -> hr=0" \
    "[win-helper] Received console control signal: 0" "[win-helper] Restoring audio session volumes...")
check "during activation: the signal line and the restoration, nothing else" \
    test "$(tail -n 4 "$work/lines.txt")" = "$expected_tail"
check "during activation: no capture started" test -z "$(grep -E '^(start|set_volume)' "$work/record.txt")"
if [ $fail -ne 0 ]; then
    echo "--- log"; cat "$work/lines.txt"; echo "--- record"; cat "$work/record.txt"
fi
exit $fail
