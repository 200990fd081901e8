#!/usr/bin/env bash
# Packing benchmark: the same generated folder packed by quillon-cli and by the
# plain archiver with the same switches. Prints both wall times and CPU times
# (the CPU figure stays meaningful on a busy machine), the job's overhead and
# the peak memory of the quillon-cli process itself (archiver excluded).
#   bench/pack.sh [BUILD_DIR]          default build/
#   BENCH_MB=200 BENCH_LARGE=1 ...     size of the folder; also pack a ~1 GB
#                                      archive (level 0) to show streaming
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
cli="$build/bin/quillon-cli"
archiver="${ARCHIVER:-$(command -v 7zz)}"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
[ -x "$cli" ] || { echo "missing $cli (build first)" >&2; exit 1; }

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }

# Runs quillon-cli and samples its own high-water mark (VmHWM) while it runs.
run_cli() { # src level method dict out
    local hwm=0 pid v start end
    start=$(now)
    "$cli" "$1" app.exe "$5" --level "$2" --method "$3" --dict "$4" >"$work/cli.log" \
        2>/dev/null &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        v=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
        [ -n "$v" ] && [ "$v" -gt "$hwm" ] && hwm=$v
        sleep 0.05
    done
    wait "$pid"
    end=$(now)
    cli_time=$(calc "$end - $start")
    cli_hwm_kb=$hwm
    # CPU time of quillon-cli and its archiver, and the peak RSS of the two
    # (GNU time reports the larger of them), in a second, measured run.
    rm -rf "$5"
    /usr/bin/time -f '%U %S %M' -o "$work/cli.time" \
        "$cli" "$1" app.exe "$5" --level "$2" --method "$3" --dict "$4" >/dev/null 2>&1
    read -r u s tree_rss_kb <"$work/cli.time"
    cli_cpu=$(calc "$u + $s")
}

run_plain() { # src level method dict
    local start end
    rm -f "$work/plain.7z"
    start=$(now)
    (cd "${TMPDIR:-/tmp}" && /usr/bin/time -f '%U %S %M' -o "$work/plain.time" \
        "$archiver" a -t7z "$work/plain.7z" "$1/*" -r "-mx=$2" "-m0=$3" "-md=$4" -bsp1 -ssc \
        >/dev/null)
    end=$(now)
    plain_time=$(calc "$end - $start")
    read -r u s plain_rss_kb <"$work/plain.time"
    plain_cpu=$(calc "$u + $s")
}

bench() { # label src level method dict
    local label="$1" src="$2" level="$3" method="$4" dict="$5"
    rm -rf "$work/out"
    run_plain "$src" "$level" "$method" "$dict"
    run_cli "$src" "$level" "$method" "$dict" "$work/out"
    local out_size plain_size
    out_size=$(stat -c %s "$work/out/app.exe")
    plain_size=$(stat -c %s "$work/plain.7z")
    printf '%s\n' "== $label: $(du -sm "$src" | cut -f1) MB, -mx=$level -m0=$method -md=$dict"
    printf '  7zz alone:        %8.2f s  archive %d bytes\n' "$plain_time" "$plain_size"
    printf '  quillon-cli:      %8.2f s  output  %d bytes\n' "$cli_time" "$out_size"
    printf '  ratio cli/7zz:    %8.3f  (job overhead %+.1f%%)\n' \
        "$(calc "$cli_time / $plain_time")" \
        "$(calc "($cli_time - $plain_time) * 100 / $plain_time")"
    printf '  CPU time: 7zz %.2f s, quillon-cli + 7zz %.2f s  (job overhead %+.1f%%)\n' \
        "$plain_cpu" "$cli_cpu" "$(calc "($cli_cpu - $plain_cpu) * 100 / $plain_cpu")"
    printf '  quillon-cli peak RSS (own, archiver excluded): %d KiB\n' "$cli_hwm_kb"
    printf '  peak RSS incl. archiver: quillon-cli run %d KiB, 7zz alone %d KiB\n' \
        "$tree_rss_kb" "$plain_rss_kb"
}

mb="${BENCH_MB:-200}"
echo "generating ${mb} MB of mixed data..."
"$root/bench/pack-gendata.sh" "$work/src" "$mb" >/dev/null
bench "mixed folder" "$work/src" 5 LZMA 16M

if [ "${BENCH_LARGE:-0}" = 1 ]; then
    echo "generating ~1 GB of random data..."
    rm -rf "$work/src"
    mkdir -p "$work/large"
    cp /usr/bin/7zz "$work/large/app.exe"
    for n in $(seq 0 15); do head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/large/part$n.bin"; done
    bench "1 GB archive" "$work/large" 0 LZMA 64K
fi
