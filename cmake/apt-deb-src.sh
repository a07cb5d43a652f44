#!/usr/bin/env bash
# Adds, once, a deb-src entry for the main Debian archive that apt installs from, so that
# `apt-get source` finds Debian's source packages. Reads either source format: the deb822
# sources.list.d/debian.sources (its first stanza) or the classic sources.list (its first deb
# line). The entry is written whole or not at all: a failed run leaves nothing behind.
#
# usage: cmake/apt-deb-src.sh   (QX_APT_ROOT: the root holding etc/apt, default /)
set -euo pipefail

APT="${QX_APT_ROOT:-}/etc/apt"
DEB822="$APT/sources.list.d/debian.sources"
CLASSIC="$APT/sources.list"

for done in "$APT/sources.list.d/debian-src.sources" "$APT/sources.list.d/debian-src.list"; do
  [ -s "$done" ] && exit 0
done

SUDO=""
[ -w "$APT/sources.list.d" ] || SUDO="sudo"
if [ -f "$DEB822" ]; then
  list="$APT/sources.list.d/debian-src.sources"
  entry="$(awk 'BEGIN { RS = ""; ORS = "\n" } NR == 1 { sub(/Types: deb/, "Types: deb-src"); print }' \
    "$DEB822")"
  grep -q '^Types: deb-src' <<<"$entry" || entry=""
elif [ -f "$CLASSIC" ]; then
  list="$APT/sources.list.d/debian-src.list"
  entry="$(awk '$1 == "deb" { $1 = "deb-src"; print; exit }' "$CLASSIC")"
else
  entry=""
fi
if [ -z "$entry" ]; then
  echo "apt-deb-src: no Debian archive entry found in $DEB822 or $CLASSIC;" \
    "add a deb-src entry for the main archive by hand, then run again" >&2
  exit 1
fi

part="$list.part"
trap '$SUDO rm -f "$part"' EXIT
printf '%s\n' "$entry" | $SUDO tee "$part" >/dev/null
$SUDO mv "$part" "$list"
