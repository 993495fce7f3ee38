#!/usr/bin/env bash
# The README's command for a package with other settings, run as written (with its own build folder, kept in
# BUILD so that a second run builds only what changed): its manual page and program name the other host.
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
PACKAGE_BUILD_DIR=$build/package-other-host bash "$source/scripts/package.sh" -DQUILLPORT_SERVER_HOST=$host \
  >"$work/package.log" 2>&1 || { tail -40 "$work/package.log"; fail "scripts/package.sh failed"; }
deb=$(tail -1 "$work/package.log")
dpkg-deb -x "$deb" "$work/root" || fail "no package: $deb"
LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$work/root/usr/share/man/man1/quillport.1.gz" 2>/dev/null \
  | grep -qF "Connected To $host" || fail "the manual page does not show $host"
grep -qF "$host" "$work/root/usr/bin/quillport" || fail "the program does not hold $host"
echo "PASS: $(basename "$deb") built with -DQUILLPORT_SERVER_HOST=$host names it in quillport(1) and the program"
