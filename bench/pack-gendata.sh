#!/usr/bin/env bash
# Generates a mixed application folder for the packing benchmark:
#   pack-gendata.sh DIR [MB]     (default about 200 MB)
# About 40% compressible text, 40% random data and 20% executables (copies of
# system programs), plus an app.exe at the root.
set -euo pipefail
dir="$1"
total_mb="${2:-200}"
text_mb=$((total_mb * 2 / 5))
random_mb=$((total_mb * 2 / 5))
exe_mb=$((total_mb - text_mb - random_mb))

rm -rf "$dir"
mkdir -p "$dir/docs" "$dir/data" "$dir/bin"

# Text: log-like lines with varying numbers, split over files of 4 MB.
python3 - "$dir/docs" "$text_mb" <<'PY'
import random, sys
out, mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
words = "open read write close packet frame buffer index value option module".split()
for n in range(max(1, mb // 4)):
    with open(f"{out}/log{n:03}.txt", "w") as f:
        size = 0
        while size < 4 * 1024 * 1024:
            line = "%06d %s %s=%d\n" % (rng.randrange(10**6), rng.choice(words),
                                        rng.choice(words), rng.randrange(10**9))
            f.write(line)
            size += len(line)
PY

# Random data: incompressible, in files of 16 MB.
for ((n = 0; n * 16 < random_mb; n++)); do
    head -c $((16 * 1024 * 1024)) /dev/urandom >"$dir/data/blob$n.bin"
done

# Executables: system programs, copied until the share is reached.
copied=0
n=0
for f in /usr/bin/* /usr/lib/x86_64-linux-gnu/*.so*; do
    [ -f "$f" ] && [ ! -L "$f" ] || continue
    size=$(stat -c %s "$f")
    [ "$size" -gt 100000 ] || continue
    cp "$f" "$dir/bin/prog$n.bin"
    n=$((n + 1))
    copied=$((copied + size))
    [ "$copied" -lt $((exe_mb * 1024 * 1024)) ] || break
done
cp /usr/bin/7zz "$dir/app.exe"
du -sm "$dir" | cut -f1
