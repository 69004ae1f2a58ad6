#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/ and runs each for the given number of seconds (default 30), starting from a copy of
# its seed corpus in fuzz/corpus/. Any finding ends the script with an error; the input that
# caused it is kept in build-fuzz/findings/. New corpus entries go to a temporary folder and are
# dropped, so the repository never changes.
#
#   scripts/fuzz.sh [seconds] [target...]      e.g. scripts/fuzz.sh 600 fuzz_settings_codec
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_settings_codec fuzz_reply_assembler fuzz_command_frame fuzz_rfc2217_client)

scripts/need-packages.sh cmake make clang libclang-rt-14-dev qt6-base-dev qt6-serialport-dev

build_dir=build-fuzz
CXX=clang++ cmake -S . -B "$build_dir" -DVELMARIXON_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target "${targets[@]}"

findings="$build_dir/findings"
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in "${targets[@]}"; do
    seeds="fuzz/corpus/${target#fuzz_}"
    corpus="$work/$target"
    mkdir -p "$corpus"
    cp "$seeds"/* "$corpus"/
    echo "== $target: $seconds s from $(ls "$seeds" | wc -l) seeds"
    # -timeout: one input taking longer counts as a hang; -rss_limit_mb: as unbounded memory.
    if ! "$build_dir/fuzz/$target" "$corpus" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$findings/$target-" >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log"
        echo "== $target: FINDING, input kept in $findings/" >&2
        exit 1
    fi
    # The last status line and the totals: executions, coverage (cov) and features (ft).
    grep -E '^#[0-9]+' "$work/$target.log" | tail -n 1
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/$target.log"
done
