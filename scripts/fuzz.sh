#!/bin/sh
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each over its seed corpus in
# fuzz/corpus, for a number of seconds (default 10) or, with --runs N, for N executions:
#   scripts/fuzz.sh 10            the short run of the test command
#   scripts/fuzz.sh --runs 10000000
# New inputs go to build/fuzz/corpus; a crash stops the run and leaves its input in build/fuzz.
# Each target's closing statistics (executions, time) are kept in build/fuzz/<target>.log.
set -eu
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--runs" ]; then
    limit="-runs=${2:?--runs needs a count}"
else
    limit="-max_total_time=${1:-10}"
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in stdin_protocol command_line downconverter steady_stream escape_json instance_id journal; do
    mkdir -p "build/fuzz/corpus/$target"
    echo "fuzzing $target ($limit)"
    started=$(date +%s)
    # The protocol reads at most 64 bytes of a line: 1 KiB inputs hold plenty of lines.
    length=4096
    [ "$target" = stdin_protocol ] && length=1024
    "build/fuzz/fuzz/${target}_fuzzer" "$limit" -max_len=$length -print_final_stats=1 -close_fd_mask=2 \
        -artifact_prefix="build/fuzz/${target}-" "build/fuzz/corpus/$target" "fuzz/corpus/$target" \
        >"build/fuzz/$target.log" 2>&1 || true
    grep -E "^(Done [0-9]+ runs|==[0-9]+==|SUMMARY)" "build/fuzz/$target.log" || true
    echo "$target: $(($(date +%s) - started)) s"
    # libFuzzer's status decides: a crash leaves an artifact.
    if ls "build/fuzz/${target}-"* >/dev/null 2>&1; then
        echo "FAILED: $target found a crash: $(ls build/fuzz/${target}-*)"
        exit 1
    fi
done
echo "fuzzing: 7 passed, 0 failed"
