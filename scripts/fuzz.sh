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
cmake --build build-fuzz --target card_name_fuzz wire_url_fuzz png_check_fuzz

# The walk starts from a small whole PNG (the first byte picks the piece
# size): a 1 x 1 grey image.
mkdir -p build-fuzz/corpus/png_check
printf '\x07\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x00\x00\x00\x00\x3a\x7e\x9b\x55\x00\x00\x00\x0aIDAT\x78\xda\x63\x60\x00\x00\x00\x02\x00\x01\xe5\x27\xde\xfc\x00\x00\x00\x00IEND\xae\x42\x60\x82' \
    >build-fuzz/corpus/png_check/grey1x1

for target in ${KQGET_FUZZ_TARGETS:-card_name wire_url png_check}; do
    corpus="build-fuzz/corpus/$target"
    mkdir -p "$corpus"
    max_len=64
    [[ $target == png_check ]] && max_len=4096
    echo "fuzz: $target for ${seconds}s"
    "build-fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=0 \
        "$corpus" 2>"build-fuzz/$target.log" || {
        tail -40 "build-fuzz/$target.log" >&2
        exit 1
    }
done
echo "fuzz: no failure found"
