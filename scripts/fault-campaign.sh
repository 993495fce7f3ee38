#!/usr/bin/env bash
# Runs the fault campaign (tests/fault) with more runs than the test command does.
#
#   bash scripts/fault-campaign.sh [RUNS]
#
# RUNS is N for the runs 1 to N (default 500; the test command runs 54), or
# FIRST-LAST to repeat runs by their seeds, as a failure names them. Builds
# the campaign and what it drives in BUILD_DIR (default build), configuring
# it first when it is not yet; needs libfiu (scripts/install-deps.sh) and
# inn2, and starts a private INN (as root, like the tests against INN).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
[ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir" --target fault_campaign_test
QUILLPORT_FAULT_RUNS=${1:-500} "$build_dir/tests/fault/fault_campaign_test"
