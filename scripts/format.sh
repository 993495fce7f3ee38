#!/usr/bin/env bash
# Checks that every C++ file is formatted as .clang-format says; with --fix,
# formats them in place.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
  echo "format.sh: ${#files[@]} files formatted as .clang-format says"
fi
