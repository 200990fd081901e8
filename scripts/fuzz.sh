#!/usr/bin/env bash
# Builds every libFuzzer target with clang under ASan + UBSan into build-fuzz/
# and runs each for QUILLON_FUZZ_SECONDS (default 45) on its seed corpus.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${QUILLON_FUZZ_SECONDS:-45}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQUILLON_FUZZ=ON \
    -DQUILLON_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
mapfile -t fuzzers < <(grep -v '^$' "$build/fuzzers.txt" || true)
if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "fuzz: no fuzz targets"
    exit 0
fi
cmake --build "$build" --parallel "$(nproc)" --target "${fuzzers[@]}"
passed=0
failed=0
for name in "${fuzzers[@]}"; do
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    seeds="$root/tests/fuzz-seeds/$name"
    dirs=("$corpus")
    [ -d "$seeds" ] && dirs+=("$seeds")
    echo "fuzz: $name for ${seconds}s"
    if "$build/bin/$name" -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/$name-" "${dirs[@]}" >"$build/$name.log" 2>&1; then
        passed=$((passed + 1))
        grep -E 'stat::number_of_executed_units' "$build/$name.log" || true
    else
        failed=$((failed + 1))
        tail -n 60 "$build/$name.log"
    fi
done
echo "fuzz: $passed target(s) clean, $failed with findings"
[ "$failed" -eq 0 ]
