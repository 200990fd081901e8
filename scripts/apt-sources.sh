#!/usr/bin/env bash
# Makes `apt-get source` work: installs dpkg-dev and, when apt has no source
# index yet, adds one deb-src entry for the machine's Debian mirror (the
# release, its updates and its security suite) in
# /etc/apt/sources.list.d/quillon-deb-src.sources and updates the lists.
# Does nothing when source indexes are there already.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/setup-deps.sh" sources

log() { echo "apt-sources: $*" >&2; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

suite="$(. /etc/os-release && echo "$VERSION_CODENAME")"
entry=/etc/apt/sources.list.d/quillon-deb-src.sources
have_index() {
    apt-get indextargets --format '$(CREATED_BY) $(RELEASE)' 2>/dev/null | grep -q "^Sources $1\$"
}
# Our entry from an earlier version of this script lacked the security suite.
if have_index "$suite" && { [ ! -f "$entry" ] || grep -q "$suite-security" "$entry"; }; then
    exit 0
fi

if [ ! -f "$entry" ] || ! grep -q "$suite-security" "$entry"; then
    if [ -f "$entry" ] || ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        uri="$(grep -rhos '^URIs: *http[^ ]*/debian/\?$' /etc/apt/sources.list.d/ | head -n 1 | sed 's/^URIs: *//' || true)"
        [ -n "$uri" ] || uri="$(grep -hos '^deb http[^ ]*/debian/\? ' /etc/apt/sources.list | head -n 1 | awk '{print $2}' || true)"
        [ -n "$uri" ] || uri=http://deb.debian.org/debian
        security="$(grep -rhos '^URIs: *http[^ ]*/debian-security/\?$' /etc/apt/sources.list.d/ | head -n 1 | sed 's/^URIs: *//' || true)"
        [ -n "$security" ] || security="$(grep -hos '^deb http[^ ]*/debian-security/\? ' /etc/apt/sources.list | head -n 1 | awk '{print $2}' || true)"
        [ -n "$security" ] || security=http://deb.debian.org/debian-security
        log "adding deb-src for $uri $suite and $security $suite-security"
        printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\nTypes: deb-src\nURIs: %s\nSuites: %s-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$uri" "$suite" "$suite" "$security" "$suite" | $sudo tee "$entry" >/dev/null
    fi
fi
$sudo apt-get update -q >&2
