#!/usr/bin/env bash
# Configures and builds Quillon into build/ (programs in build/bin/).
# Extra arguments go to the CMake configure step.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLON_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
