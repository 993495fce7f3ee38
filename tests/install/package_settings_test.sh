#!/usr/bin/env bash
# The administrator's guide's command for packages with another news server, run as written in the shared
# package build folder BUILD/package (after package_build.sh has taken its packages): the manual page and
# the program name that host. The next test run's shared build, without the argument, is back to the
# default (package_test.sh checks its manual page).
# usage: package_settings_test.sh BUILD SOURCE
set -u
build=$1 source=$2
for tool in dpkg-deb man; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

host=news.example.org
PACKAGE_BUILD_DIR=$build/package bash "$source/scripts/package.sh" -DQUILLPORT_SERVER_HOST=$host >"$work/package.log" 2>&1 \
  || { tail -40 "$work/package.log"; fail "scripts/package.sh -DQUILLPORT_SERVER_HOST=$host failed"; }
for deb in $(grep -E '/quillport(-common)?_[^/]*\.deb$' "$work/package.log"); do
  dpkg-deb -x "$deb" "$work/root" || fail "no package: $deb"
done
LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$work/root/usr/share/man/man1/quillport.1.gz" 2>/dev/null \
  | grep -qF "Connected To $host" || fail "the manual page does not show $host"
grep -qF "$host" "$work/root/usr/bin/quillport" || fail "the program does not hold $host"
echo "PASS: scripts/package.sh -DQUILLPORT_SERVER_HOST=$host names that host in quillport(1) and the program"
