#!/usr/bin/env bash
# Builds Quillport (scripts/build.sh, in BUILD_DIR, default build) and runs
# the benchmark, passing on its options, then quillport-deliver's benchmark
# (one 300 MiB message against cp), then quillportd's arrival latency (mails
# through quillport-deliver to the server):
#   bash bench/run.sh [--articles N] [--large-mb M] [--skip-large]
#                     [--window-files W] [--skip-window] [--program-build DIR]
# The benchmark starts a private INN news server, so it runs as root; run as
# another user, this script asks sudo for the benchmark itself. For the whole
# program it builds a copy of it (in BUILD_DIR/bench/program unless told
# otherwise) with the private server's port compiled in, and runs it on a
# private X server (Xvfb).
#
# Nothing the benchmark starts outlives it: the X server and the program get
# SIGTERM when it ends, however it ends, and the private INN's watcher shuts
# that server down. A TERM, INT or HUP to this script ends the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
BUILD_DIR=$build_dir bash scripts/build.sh

bench_pid=
stop_bench() { [ -z "$bench_pid" ] || kill -TERM "$bench_pid" 2>/dev/null || true; }
trap 'stop_bench; exit 130' INT
trap 'stop_bench; exit 143' TERM HUP

bench=$build_dir/bench/quillport_bench
if [ "$(id -u)" -eq 0 ]; then
  "$bench" "$@" &
else
  sudo -v  # any password prompt in the foreground
  sudo "$bench" "$@" &
fi
bench_pid=$!
status=0
wait "$bench_pid" || status=$?
bench_pid=
[ "$status" -eq 0 ] || exit "$status"
echo
"$build_dir/bench/quillport_deliver_bench"
echo
arrival=$build_dir/bench/quillportd_arrival_bench  # a private INN too: as root, like the benchmark
if [ "$(id -u)" -eq 0 ]; then "$arrival"; else sudo "$arrival"; fi
