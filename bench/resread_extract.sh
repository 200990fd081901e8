#!/usr/bin/env bash
# Icon extraction from a 1 GiB executable: time per call and peak memory.
# Usage: bench/resread_extract.sh [build directory, default build/]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
cmake --build "$build" --target resread_bench_extract >/dev/null
"$build/bin/resread_bench_extract"
