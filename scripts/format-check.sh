#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it
# (the rules are in .clang-format). With --fix, formats them instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
drift=()
for file in "${files[@]}"; do
    if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
        drift+=("$file")
    fi
done
if [ ${#drift[@]} -gt 0 ]; then
    echo "format: ${#drift[@]} file(s) differ from clang-format (scripts/format-check.sh --fix):"
    printf '  %s\n' "${drift[@]}"
    exit 1
fi
echo "format: ${#files[@]} files clean"
