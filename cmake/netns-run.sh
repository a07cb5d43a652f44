#!/bin/sh
# Runs a command in a network namespace of its own, where the system allows one to any user
# (unshare -rn): its loopback is up and holds the MES host, so a test binds port 443 of that host
# without privileges and beside any other run. Where it is not allowed the command runs as it is.
#
# usage: netns-run.sh <MES host> <program> [<argument>...]
host="$1"
shift
if unshare -rn true 2>/dev/null; then
  exec unshare -rn sh -ec '
    host="$1"
    shift
    ip link set lo up
    case "$host" in
      127.*) ;;
      *) ip address add "$host" dev lo ;;
    esac
    exec "$@"' netns-run "$host" "$@"
fi
exec "$@"
