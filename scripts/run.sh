#!/usr/bin/env bash
# Installs what Quillon needs, builds it and starts the window.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup-deps.sh" build
"$root/scripts/build.sh"
exec "$root/build/bin/quillon" "$@"
