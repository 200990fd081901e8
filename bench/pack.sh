#!/usr/bin/env bash
# Packing benchmark: the same generated folder packed by quillon-cli and by the
# plain archiver with the same switches, several times in alternation. Prints
# each run's wall and CPU times (the CPU figure stays meaningful on a busy
# machine), the job's overhead from the medians and the peak memory of the
# quillon-cli process itself (archiver excluded).
#   bench/pack.sh [BUILD_DIR]          default build/
#   BENCH_MB=200 BENCH_LARGE=1 ...     size of the folder; also pack a ~1 GB
#                                      archive (level 0) to show streaming
#   BENCH_RUNS=3                       timed runs of each, alternating
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

# quillon-cli's own high-water mark (VmHWM), sampled while it runs. Kept out
# of the timed runs: the sampling costs CPU on a small machine.
sample_cli_hwm() { # src level method dict out
    local hwm=0 pid v
    rm -rf "$5"
    "$cli" "$1" app.exe "$5" --level "$2" --method "$3" --dict "$4" >/dev/null 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        v=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
        [ -n "$v" ] && [ "$v" -gt "$hwm" ] && hwm=$v
        sleep 0.05
    done
    wait "$pid"
    cli_hwm_kb=$hwm
}

# One timed run each; GNU time gives wall, user and system time and the peak
# RSS of the largest process (the archiver in both cases).
run_cli() { # src level method dict out
    rm -rf "$5"
    /usr/bin/time -f '%e %U %S %M' -o "$work/cli.time" \
        "$cli" "$1" app.exe "$5" --level "$2" --method "$3" --dict "$4" >/dev/null 2>&1
    read -r cli_time u s tree_rss_kb <"$work/cli.time"
    cli_cpu=$(calc "$u + $s")
}

run_plain() { # src level method dict
    rm -f "$work/plain.7z"
    (cd "${TMPDIR:-/tmp}" && /usr/bin/time -f '%e %U %S %M' -o "$work/plain.time" \
        "$archiver" a -t7z "$work/plain.7z" "$1/*" -r "-mx=$2" "-m0=$3" "-md=$4" -bsp1 -ssc \
        >/dev/null)
    read -r plain_time u s plain_rss_kb <"$work/plain.time"
    plain_cpu=$(calc "$u + $s")
}

# Splits one quillon-cli run by its log lines: the archiver's share (from
# "7z进程已启动" to "压缩包创建成功") and the job's own time around it. The
# job's own time is the overhead proper; unlike the totals it hardly moves
# with the machine's noise.
phase_cli() { # src level method dict out
    rm -rf "$5"
    python3 - "$cli" "$@" <<'PY'
import subprocess, sys, time
cli, src, level, method, dictionary, out = sys.argv[1:7]
start = time.monotonic()
marks = {}
proc = subprocess.Popen([cli, src, "app.exe", out, "--level", level, "--method", method,
                         "--dict", dictionary], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
for raw in proc.stdout:
    line = raw.decode("utf-8", "replace")
    for key, text in (("started", "7z进程已启动"), ("done", "压缩包创建成功")):
        if text in line and key not in marks:
            marks[key] = time.monotonic()
proc.wait()
end = time.monotonic()
total = end - start
archiver = marks.get("done", end) - marks.get("started", start)
own = total - archiver
print(f"  one run split: archiver {archiver:.2f} s, the job's own time {own:.2f} s "
      f"({own * 100 / total:.1f}% of {total:.2f} s)")
PY
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# BENCH_RUNS pairs, alternating which of the two goes first, so drift of the
# machine (cache, other load) falls on both alike. Overheads from the medians.
bench() { # label src level method dict
    local label="$1" src="$2" level="$3" method="$4" dict="$5"
    local runs="${BENCH_RUNS:-3}" i
    local -a pw pc cw cc
    printf '%s\n' "== $label: $(du -sm "$src" | cut -f1) MB, -mx=$level -m0=$method -md=$dict, $runs runs each"
    for ((i = 0; i < runs; i++)); do
        if ((i % 2 == 0)); then
            run_plain "$src" "$level" "$method" "$dict"
            run_cli "$src" "$level" "$method" "$dict" "$work/out"
        else
            run_cli "$src" "$level" "$method" "$dict" "$work/out"
            run_plain "$src" "$level" "$method" "$dict"
        fi
        pw+=("$plain_time") pc+=("$plain_cpu") cw+=("$cli_time") cc+=("$cli_cpu")
        printf '  run %d: 7zz %7.2f s wall %7.2f s CPU | quillon-cli %7.2f s wall %7.2f s CPU\n' \
            $((i + 1)) "$plain_time" "$plain_cpu" "$cli_time" "$cli_cpu"
    done
    local mpw mpc mcw mcc
    mpw=$(median "${pw[@]}") mpc=$(median "${pc[@]}") mcw=$(median "${cw[@]}") mcc=$(median "${cc[@]}")
    sample_cli_hwm "$src" "$level" "$method" "$dict" "$work/out"
    phase_cli "$src" "$level" "$method" "$dict" "$work/out"
    printf '  archive %d bytes, output %d bytes\n' "$(stat -c %s "$work/plain.7z")" \
        "$(stat -c %s "$work/out/app.exe")"
    printf '  median wall: 7zz %.2f s, quillon-cli %.2f s  (job overhead %+.1f%%)\n' \
        "$mpw" "$mcw" "$(calc "($mcw - $mpw) * 100 / $mpw")"
    printf '  median CPU:  7zz %.2f s, quillon-cli + 7zz %.2f s  (job overhead %+.1f%%)\n' \
        "$mpc" "$mcc" "$(calc "($mcc - $mpc) * 100 / $mpc")"
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
