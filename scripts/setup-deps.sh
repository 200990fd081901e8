#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages/<group>.txt for each
# group given (build, test). Does nothing when all are installed already.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build)

wanted=()
for group in "${groups[@]}"; do
    list="$here/packages/$group.txt"
    [ -f "$list" ] || { echo "setup-deps: no package list $list" >&2; exit 2; }
    while read -r pkg _; do
        case "$pkg" in ''|'#'*) continue ;; esac
        wanted+=("$pkg")
    done < "$list"
done

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}"
