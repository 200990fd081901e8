#!/usr/bin/env bash
# Builds Quillon and makes the Debian package build/quillon_<version>_amd64.deb
# from the install rules. Install it with: apt-get install ./build/quillon_*.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLON_BUILD_DIR:-$root/build}"
"$root/scripts/setup-deps.sh" build package
"$root/scripts/build.sh"
cd "$build"
cpack -G DEB --config "$build/CPackConfig.cmake"
ls "$build"/quillon_*_amd64.deb
