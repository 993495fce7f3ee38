#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build} bash scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --parallel 2 --timeout 600
