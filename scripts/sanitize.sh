#!/usr/bin/env bash
# Builds the tests of the plain C++ parts (formats library, 7z reader, PE reader and writer,
# ICO checks, version resources, the launcher, the resource editor and
# quillon-unpack) with AddressSanitizer and UBSan into build-asan/ and runs
# them; then the threaded 7z reader, quillon-unpack and the host launcher with
# ThreadSanitizer into build-tsan/. Any report fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLON_ASAN_DIR:-$root/build-asan}"
tests='^(formats_|sevenzip_|launcher_unit$|launcher_host$|resread_peimage$|resread_icovalidate$|reswrite_pewriter$|reswrite_versioninfo$|reswrite_tool$)'
targets=(formats_utf formats_ico tst_launcher_unit quillon-sfx-host launcher_testprog
         resread_peimage resread_icovalidate reswrite_pewriter reswrite_versioninfo
         reswrite_tool quillon-resedit
         sevenzip_names sevenzip_payload sevenzip_roundtrip sevenzip_badinput sevenzip_unpack
         sevenzip_threads
         quillon-unpack)
# Warnings are held to -Werror by the main build; with sanitizers GCC warns
# about array bounds in code it instrumented, wrongly.
cmake -S "$root" -B "$build" -G Ninja -DQUILLON_SANITIZE=ON -DQUILLON_WERROR=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 900 -R "$tests"

# ThreadSanitizer: the reader's decoder and writer threads, in the reader's
# tests, quillon-unpack and the host launcher. sevenzip_threads forks
# (QProcess) from a process with threads: die_after_fork=0.
tsan="${QUILLON_TSAN_DIR:-$root/build-tsan}"
tsan_tests='^(sevenzip_threads|sevenzip_unpack|sevenzip_badinput|sevenzip_payload|launcher_unit|launcher_host)$'
cmake -S "$root" -B "$tsan" -G Ninja -DQUILLON_TSAN=ON -DQUILLON_WERROR=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$tsan" --parallel "$(nproc)" --target sevenzip_threads sevenzip_unpack \
    sevenzip_badinput sevenzip_payload tst_launcher_unit quillon-sfx-host launcher_testprog \
    quillon-unpack
unset ASAN_OPTIONS UBSAN_OPTIONS
export TSAN_OPTIONS="die_after_fork=0:halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"
ctest --test-dir "$tsan" --output-on-failure -j "$(nproc)" --timeout 900 -R "$tsan_tests"
