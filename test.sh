#!/usr/bin/env bash
# Installs what is missing, builds Debug with AddressSanitizer and UBSan,
# runs every test, then runs the threaded tests again under ThreadSanitizer,
# then builds every fuzz target with clang and runs each briefly.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
export ORVALE_LOOPBACK_ONLY=1
build=build-asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVALE_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
(
  cd "$build"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure -j"$(nproc)" --timeout 600
)

# The threaded tests again under ThreadSanitizer: the ping cycle, the
# operator's commands and a navigation writer on three threads must show no
# data race.
tsan=build-tsan
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALE_TSAN=ON -DORVALE_BENCH=OFF >/dev/null
cmake --build "$tsan" -j"$(nproc)" --target orvale_tests_threads
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$tsan"/orvale_tests_threads

# Every fuzz target, built by clang against the core library itself, runs
# from its committed corpus for a short while (new inputs go to a throw-away
# directory): a target that no longer builds or finds anything fails the run.
./scripts/fuzz.sh smoke "${ORVALE_FUZZ_SMOKE_SECONDS:-20}"
