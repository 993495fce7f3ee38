#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, in four stages:
#  1. the normal build (BUILD_DIR, default build) and all its tests, with
#     any compiler warning an error, and the style checks (clang-format;
#     clang-tidy beside the tests); among them the packages' tests, which
#     share one package build, and the system test (label system), which
#     boots a Debian 12 container with the packages and mostly waits, so it
#     runs beside the others;
#  2. the tests built once more with AddressSanitizer and
#     UndefinedBehaviorSanitizer (ASAN_BUILD_DIR, default build-asan), without
#     the benchmark and the Qt program, and so without the tests that need a
#     display; the tests against a private INN still run, INN itself is not
#     instrumented;
#  3. the tests that run threads (the engine's own thread, its hand-over to
#     the window, quillportd, the scripted fake servers) built once more with
#     ThreadSanitizer (TSAN_BUILD_DIR, default build-tsan);
#  4. every fuzz target for FUZZ_SECONDS (default 20) against a scratch copy
#     of its seed corpus (scripts/fuzz.sh, build-fuzz).
# A failing test, a sanitizer report or a fuzzer finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

timings=()
stage_start=$SECONDS
# Notes how long the stage that just ended took.
stage_done() {
  timings+=("$1: $((SECONDS - stage_start)) s")
  stage_start=$SECONDS
}

# The system test boots a container as root: a user who may sudo is asked
# once, here, not in the middle of the tests. Its container's base root comes
# from the mirror (debootstrap, minutes on a fresh machine, mostly waiting):
# it is made beside the builds, in a process group of its own that goes with
# the script.
as_root=()
if [ "$(id -u)" -ne 0 ]; then sudo -v && as_root=(sudo -n); fi
system_cache=${QUILLPORT_SYSTEM_CACHE:-/var/cache/quillport-system-test}
"${as_root[@]}" mkdir -p "$system_cache"
"${as_root[@]}" setsid flock "$system_cache/.lock" bash tests/system/bootstrap.sh "$system_cache" --ahead \
  >/dev/null 2>&1 &
bootstrap_pid=$!
trap '"${as_root[@]}" kill -- -$bootstrap_pid 2>/dev/null || true' EXIT

build_dir=${BUILD_DIR:-build}
# Any compiler warning fails the run.
BUILD_DIR=$build_dir bash scripts/build.sh -DQUILLPORT_WARNINGS_AS_ERRORS=ON

# The style: every file formatted as .clang-format says, no clang-tidy finding.
# clang-tidy needs only the build's compile commands: it runs beside the
# tests, which spend much of their time waiting on servers and timers, in a
# process group of its own that goes with the script.
bash scripts/format.sh
tidy_log=$(mktemp)
BUILD_DIR=$build_dir setsid bash scripts/tidy.sh >"$tidy_log" 2>&1 &
tidy_pid=$!
trap 'kill -- -$tidy_pid 2>/dev/null || true; rm -f "$tidy_log"; "${as_root[@]}" kill -- -$bootstrap_pid 2>/dev/null || true' EXIT
# Three at a time on two cores: the system test holds one place for minutes
# while it mostly waits on its container.
ctest --test-dir "$build_dir" --output-on-failure --parallel 3 --timeout 600
stage_done "normal build and tests"
tidy_status=0
wait "$tidy_pid" || tidy_status=$?
cat "$tidy_log"
((tidy_status == 0)) || exit "$tidy_status"
stage_done "style checks (the part left after the tests)"

asan_dir=${ASAN_BUILD_DIR:-build-asan}
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS"
# Any report ends the test program with a failure; the test discovery at
# build time runs the test programs too, so the options hold for the build.
san_env=(
  ASAN_OPTIONS=halt_on_error=1:exitcode=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1
  UBSAN_OPTIONS=halt_on_error=1:exitcode=1:print_stacktrace=1
)
env "${san_env[@]}" BUILD_DIR="$asan_dir" bash scripts/build.sh -DQUILLPORT_WARNINGS_AS_ERRORS=ON -DQUILLPORT_BUILD_APP=OFF -DQUILLPORT_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
env "${san_env[@]}" ctest --test-dir "$asan_dir" --output-on-failure --parallel 2 --timeout 600 --label-exclude gui
stage_done "sanitizer build and tests"

# Only the test programs with threads are built (the others stand in the list
# as "..._NOT_BUILT"; the scripted tests of the program, its install and the
# operator's session are left out); any data race fails them. Asio's fences,
# which the sanitizer cannot see, guard only hand-overs between threads of one
# io_context; each connection here runs its own on one thread (-Wno-tsan).
# The window tests (app_test, offscreen) run the engine's thread with a Qt that
# is not instrumented; none of its reports is suppressed. Each test runs in a
# process of its own, as ctest runs them: once a QProcess has started a child
# (which runs in the parent's memory until it executes), the sanitizer no
# longer sees the locks of that process's main thread.
tsan_dir=${TSAN_BUILD_DIR:-build-tsan}
# Nothing is suppressed; tests/tsan.supp says why, and takes any suppression.
export TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp
cmake -S . -B "$tsan_dir" -G Ninja -DQUILLPORT_WARNINGS_AS_ERRORS=ON -DQUILLPORT_BUILD_APP=ON -DQUILLPORT_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer -Wno-tsan" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
cmake --build "$tsan_dir" --parallel "$(nproc)" --target relay_test relay_server_test news_test app_test daemon_test
ctest --test-dir "$tsan_dir" --output-on-failure --parallel 2 --timeout 600 --exclude-regex '_NOT_BUILT$' \
  --label-exclude 'gui|install|system'
unset TSAN_OPTIONS
stage_done "thread sanitizer build and tests"

# The fuzzers write what they find into a scratch folder, never into the
# committed corpus; it is kept when a fuzzer found something.
fuzz_work=$(mktemp -d)
FUZZ_WORK_DIR=$fuzz_work FUZZ_FLAGS=-verbosity=0 bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
rm -rf "$fuzz_work"
stage_done "fuzz build and runs"

printf 'test.sh: %s\n' "${timings[@]}"
