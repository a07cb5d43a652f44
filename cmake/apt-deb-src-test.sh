#!/usr/bin/env bash
# Checks cmake/apt-deb-src.sh against scratch roots: both source formats give a whole entry, and
# a root with neither fails with a message and leaves no entry behind.
set -euo pipefail
SCRIPT="$(realpath "$(dirname "$0")/apt-deb-src.sh")"
ROOT="$(mktemp -d)"
trap 'rm -rf "$ROOT"' EXIT
fail() {
  echo "apt-deb-src-test: $*" >&2
  exit 1
}

# root <name>: a scratch root with an empty sources.list.d
root() {
  mkdir -p "$ROOT/$1/etc/apt/sources.list.d"
  echo "$ROOT/$1"
}

classic="$(root classic)"
cat >"$classic/etc/apt/sources.list" <<'LIST'
# deb http://example.org/old bookworm main
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian-security bookworm-security main
LIST
QX_APT_ROOT="$classic" "$SCRIPT"
[ "$(cat "$classic/etc/apt/sources.list.d/debian-src.list")" = \
  "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" ] ||
  fail "classic sources.list: wrong entry"

deb822="$(root deb822)"
cat >"$deb822/etc/apt/sources.list.d/debian.sources" <<'LIST'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
LIST
QX_APT_ROOT="$deb822" "$SCRIPT"
[ "$(cat "$deb822/etc/apt/sources.list.d/debian-src.sources")" = "Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main" ] || fail "deb822 sources: wrong entry"

none="$(root none)"
if QX_APT_ROOT="$none" "$SCRIPT" 2>"$ROOT/err"; then
  fail "a root without sources succeeded"
fi
grep -q "add a deb-src entry" "$ROOT/err" || fail "no message on failure"
[ -z "$(ls -A "$none/etc/apt/sources.list.d")" ] || fail "a failed run left a file behind"
echo "apt-deb-src-test: passed"
