#!/usr/bin/env bash
# Builds Quillport (scripts/build.sh, in BUILD_DIR, default build) and runs
# the benchmark, passing on its options, then quillport-deliver's benchmark
# (one 300 MiB message against cp):
#   bash bench/run.sh [--articles N] [--large-mb M] [--skip-large]
# The benchmark starts a private INN news server, so it runs as root; run as
# another user, this script asks sudo for the benchmark itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
BUILD_DIR=$build_dir bash scripts/build.sh
bench=$build_dir/bench/quillport_bench
if [ "$(id -u)" -eq 0 ]; then
  "$bench" "$@"
else
  sudo "$bench" "$@"
fi
echo
"$build_dir/bench/quillport_deliver_bench"
