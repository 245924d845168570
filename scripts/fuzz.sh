#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 10: the CI smoke run)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${1:-10}

bash scripts/deps.sh clang libclang-rt-14-dev
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKQGET_BUILD_FUZZ=ON -DKQGET_BUILD_APP=OFF -DKQGET_BUILD_TESTS=OFF -DKQGET_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target card_name_fuzz wire_url_fuzz

for target in ${KQGET_FUZZ_TARGETS:-card_name wire_url}; do
    corpus="build-fuzz/corpus/$target"
    mkdir -p "$corpus"
    echo "fuzz: $target for ${seconds}s"
    "build-fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -max_len=64 -print_final_stats=0 \
        "$corpus" 2>"build-fuzz/$target.log" || {
        tail -40 "build-fuzz/$target.log" >&2
        exit 1
    }
done
echo "fuzz: no failure found"
