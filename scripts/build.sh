#!/usr/bin/env bash
# Configures and builds Quillport in BUILD_DIR (default: build), passing any
# extra arguments to CMake (for example -DQUILLPORT_DROP_FOLDER=/some/where).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
