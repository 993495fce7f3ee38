#!/usr/bin/env bash
# Builds the fuzz targets and runs them, as many at a time as there are
# processors.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET ...]
#
# SECONDS is how long each target runs (default 600); with no TARGET every
# target in tests/fuzz runs. The targets are built with Clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer in FUZZ_BUILD_DIR (default
# build-fuzz). Each starts from its committed seed corpus
# tests/fuzz/corpus/<target>, copied first into FUZZ_WORK_DIR/<target>
# (default build-fuzz/work/<target>); the fuzzer adds the inputs it finds
# there, so a later run goes on from them, and the committed corpus is never
# written. A crash, a leak, undefined behaviour, a broken check or a hang
# stops the run: the input is saved as FUZZ_WORK_DIR/<target>-crash-* (or
# -leak-, -timeout-) and the script exits non-zero. FUZZ_FLAGS adds libFuzzer
# flags (for example FUZZ_FLAGS=-verbosity=0 for a quiet log).
#
# To keep inputs found in a long run, merge them into the seed corpus:
#   build-fuzz/fuzzers/<target> -merge=1 tests/fuzz/corpus/<target> build-fuzz/work/<target>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
work_dir=${FUZZ_WORK_DIR:-$build_dir/work}

bash scripts/install-deps.sh

# Everything in this build is instrumented for coverage and checked by the
# sanitizers; only the fuzz targets (not the unit tests) are built.
sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -O1"
cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$sanitize" \
  -DQUILLPORT_BUILD_APP=OFF -DQUILLPORT_BUILD_BENCH=OFF -DQUILLPORT_BUILD_FUZZERS=ON
cmake --build "$build_dir" --target fuzzers --parallel "$(nproc)"

mapfile -t known < "$build_dir/fuzzers/fuzzers.txt"
if [ $# -eq 0 ]; then
  set -- "${known[@]}"
fi
for target in "$@"; do
  if ! printf '%s\n' "${known[@]}" | grep -qxF -- "$target"; then
    echo "fuzz.sh: no fuzz target $target (there are: ${known[*]})" >&2
    exit 2
  fi
done

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Runs one target for `seconds`, its output in WORK_DIR/<target>.log.
run_target() {
  local target=$1 corpus=$work_dir/$1
  mkdir -p "$corpus"
  cp -R tests/fuzz/corpus/"$target"/. "$corpus"/
  # Inputs reach past every limit the targets check: a header or line of
  # 32767 characters on the wire, a status line of 64 KiB.
  # shellcheck disable=SC2206 # FUZZ_FLAGS is a list of flags
  local args=(-max_total_time="$seconds" -timeout=10 -max_len=70000 -print_final_stats=1
              -artifact_prefix="$work_dir/$target-" ${FUZZ_FLAGS:-})
  if [ -f tests/fuzz/"$target".dict ]; then
    args+=(-dict=tests/fuzz/"$target".dict)
  fi
  "$build_dir/fuzzers/$target" "${args[@]}" "$corpus" >"$work_dir/$target.log" 2>&1
}

# As many targets at a time as there are processors; each one's output is
# shown once it has ended.
failed=0
running=()
finish_first() {
  local target=${running[0]%%:*} pid=${running[0]#*:} status=0
  running=("${running[@]:1}")
  wait "$pid" || status=$?
  cat "$work_dir/$target.log"
  if ((status != 0)); then
    echo "fuzz.sh: $target found something (status $status); its input is in $work_dir" >&2
    failed=1
  fi
}
mkdir -p "$work_dir"
for target in "$@"; do
  echo "fuzz.sh: $target for $seconds s, corpus $work_dir/$target"
  run_target "$target" &
  running+=("$target:$!")
  if ((${#running[@]} >= $(nproc))); then finish_first; fi
done
while ((${#running[@]} > 0)); do finish_first; done
((failed == 0)) || exit 1
echo "fuzz.sh: ${#} target(s) ran ${seconds} s each without a finding"
