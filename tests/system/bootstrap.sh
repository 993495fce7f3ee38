#!/usr/bin/env bash
# The Debian 12 base root the system test boots: debootstrap from the host's apt mirror into
# CACHE/new/root, marked CACHE/new/bootstrapped once whole, unless made already. The caller holds the
# lock CACHE/.lock. With --ahead it also does nothing when CACHE holds a finished root: the test command
# starts it at its beginning, beside the builds, so that on a fresh machine the system test finds it made.
# With --mirror it only prints the mirror.
# usage: bootstrap.sh CACHE [--ahead | --mirror]
set -u
cache=$1 mode=${2:-}
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p; s/^deb \(http[^ ]*debian\) bookworm main.*/\1/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -1)
mirror=${mirror:-http://deb.debian.org/debian}
[[ $mode == --mirror ]] && { echo "$mirror"; exit 0; }
if [[ $mode == --ahead ]] && find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name new | grep -q .; then exit 0; fi
[[ -f $cache/new/bootstrapped ]] && exit 0
rm -rf "$cache/new" && mkdir -p "$cache/new"
debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm "$cache/new/root" "$mirror" \
  >"$cache/new/debootstrap.log" 2>&1 || { tail -20 "$cache/new/debootstrap.log"; echo "FAIL: debootstrap failed" >&2; exit 1; }
touch "$cache/new/bootstrapped"
