#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) on every C++ source of the product and fails
# on any finding. Needs a configured build in BUILD_DIR (default build) for
# its compile_commands.json; scripts/build.sh makes one.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
[ -f "$build_dir/compile_commands.json" ] || { echo "tidy.sh: no $build_dir/compile_commands.json; build first" >&2; exit 2; }
# clang-tidy counts the warnings it suppressed in system headers on
# standard error; only its findings are worth showing.
git ls-files app board common news relay deliver daemon bench | grep '\.cpp$' |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$build_dir" --quiet 2>&1 | { grep -v 'warnings\? generated\.$' || true; }
echo "tidy.sh: no findings"
