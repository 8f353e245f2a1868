#!/bin/sh
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for the given number of
# seconds (default 10) over its seed corpus in fuzz/corpus. New inputs go to build/fuzz/corpus;
# a crash stops the run and leaves its input in build/fuzz.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-10}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in stdin_protocol command_line downconverter escape_json instance_id; do
    mkdir -p "build/fuzz/corpus/$target"
    echo "fuzzing $target for ${seconds}s"
    "build/fuzz/fuzz/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=0 -close_fd_mask=2 \
        -artifact_prefix="build/fuzz/${target}-" "build/fuzz/corpus/$target" "fuzz/corpus/$target" 2>&1 |
        grep -E "^(Done [0-9]+ runs|==[0-9]+==|SUMMARY)" || true
    # libFuzzer's status decides: a crash leaves an artifact.
    if ls "build/fuzz/${target}-"* >/dev/null 2>&1; then
        echo "FAILED: $target found a crash: $(ls build/fuzz/${target}-*)"
        exit 1
    fi
done
echo "fuzzing: 5 passed, 0 failed"
