#!/usr/bin/env bash
# The one package build the packaging tests share: scripts/package.sh with the default settings in
# BUILD/package (kept, so that the next run builds only what changed), its packages copied to BUILD/debs,
# where the tests that need them (FIXTURES_REQUIRED quillport_debs) find them while the settings test
# builds again in BUILD/package.
# usage: package_build.sh BUILD SOURCE
set -u
build=$1 source=$2
command -v dpkg-buildpackage >/dev/null || { echo "skipped: dpkg-buildpackage is not installed"; exit 77; }
rm -rf "$build/debs" && mkdir -p "$build/debs"
PACKAGE_BUILD_DIR=$build/package bash "$source/scripts/package.sh" >"$build/debs/list" \
  || { echo "FAIL: scripts/package.sh failed" >&2; exit 1; }
xargs -a "$build/debs/list" cp -t "$build/debs" || { echo "FAIL: scripts/package.sh printed no packages" >&2; exit 1; }
echo "PASS: scripts/package.sh made $(xargs -a "$build/debs/list" -n1 basename | tr '\n' ' ')"
