#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ through CMake (ORVALE_FUZZ=ON:
# clang, AddressSanitizer and UBSan over the core library the programs link)
# and runs them.
#
#   scripts/fuzz.sh build                 configure and build every target in $FUZZ_OUT
#   scripts/fuzz.sh run SECONDS [TARGET]  fuzz each target (or one) for SECONDS, one
#                                         after another, starting from its committed
#                                         corpus; new inputs go to $FUZZ_OUT/work-<name>/
#   scripts/fuzz.sh merge [TARGET]        minimise (by coverage edges) the committed corpus
#                                         plus the new inputs into tests/fuzz/corpus/<name>/;
#                                         hand-written seeds (not named by a SHA-1) stay
#   scripts/fuzz.sh smoke SECONDS         build, then fuzz each target for SECONDS from its
#                                         corpus in a throw-away work dir (./test.sh)
#
# A target is tests/fuzz/<name>_fuzzer.cpp; a new file there is a new target
# with no other edit. The inputs of past findings live apart, in
# tests/fuzz/regressions/<name>/: runs start from them too, merges leave them. external_control takes datagrams of at most 300 bytes,
# command_line texts of at most 300, the others inputs of up to 70000 bytes.
# FUZZ_OUT defaults to build-fuzz/, CXX_FUZZ to clang++. Findings land in
# $FUZZ_OUT/artifacts/; each run's log in $FUZZ_OUT/logs/<name>.log. After each
# run a line "fuzz: NAME: N runs, E edges (cov), F features, C inputs" gives the
# final statistics. Everything runs at nice 10, one fuzzing process at a time,
# so a shared machine keeps compiling. Exits non-zero when a target does not
# build or a run ends in a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${FUZZ_OUT:-build-fuzz}
case "$out" in /*) ;; *) out="$root/$out" ;; esac
cxx=${CXX_FUZZ:-clang++}
# Never any traffic beyond loopback, whatever an input names.
export ORVALE_LOOPBACK_ONLY=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

all_targets() {
  local f
  for f in tests/fuzz/*_fuzzer.cpp; do
    f=${f##*/}
    echo "${f%_fuzzer.cpp}"
  done
}

max_len() {
  case "$1" in
    external_control | command_line) echo 300 ;;
    *) echo 70000 ;;
  esac
}

build() {
  # Configured every time: a build directory left by another configuration
  # still ends up as the fuzz build.
  cmake -S . -B "$out" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Fuzz -DORVALE_FUZZ=ON >/dev/null
  nice -n 10 cmake --build "$out" -j"$(nproc)"
  mkdir -p "$out/artifacts" "$out/logs"
}

pick() { if [ $# -gt 0 ] && [ -n "$1" ]; then echo "$1"; else all_targets; fi; }

# The final statistics of a run from its log: executions, edges (libFuzzer's
# cov:), features and corpus size on the last status line.
summarise() {
  local t=$1 log=$2 line runs cov ft corp
  line=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$runs" ] || runs=$(echo "$line" | sed -n 's/^#\([0-9]*\).*/\1/p')
  cov=$(echo "$line" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$line" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  corp=$(echo "$line" | sed -n 's/.* corp: \([0-9]*\).*/\1/p')
  echo "fuzz: $t: ${runs:-?} runs, ${cov:-?} edges (cov), ${ft:-?} features, ${corp:-?} inputs"
}

# fuzz NAME SECONDS WORKDIR ARTIFACT_PREFIX: one bounded run from the committed
# corpus; libFuzzer writes new inputs only into WORKDIR (its first directory).
fuzz() {
  local t=$1 secs=$2 work=$3 prefix=$4 log="$out/logs/$1.log" status=0 seeds
  mkdir -p "$work" "tests/fuzz/corpus/$t"
  seeds=("$root/tests/fuzz/corpus/$t")
  [ -d "tests/fuzz/regressions/$t" ] && seeds+=("$root/tests/fuzz/regressions/$t")
  echo "fuzz: running $t for ${secs}s"
  timeout -k 10 $((secs + 120)) nice -n 10 "$out/${t}_fuzzer" -max_total_time="$secs" -timeout=10 \
    -rss_limit_mb=2048 -max_len="$(max_len "$t")" -artifact_prefix="$prefix" -print_final_stats=1 \
    "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
  summarise "$t" "$log"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $t FAILED (exit $status); the end of $log:" >&2
    tail -40 "$log" >&2
  fi
  return "$status"
}

cmd=${1:-build}
case "$cmd" in
  build) build ;;
  run | smoke)
    secs=${2:-60}
    [ "$cmd" = smoke ] && [ $# -gt 2 ] && { echo "usage: $0 smoke SECONDS" >&2; exit 2; }
    build
    failed=()
    tmp=""
    if [ "$cmd" = smoke ]; then
      tmp=$(mktemp -d)
      trap 'rm -rf "$tmp"' EXIT
    fi
    for t in $(pick "${3:-}"); do
      if [ "$cmd" = smoke ]; then
        fuzz "$t" "$secs" "$tmp/work-$t" "$out/artifacts/${t}-" || failed+=("$t")
      else
        fuzz "$t" "$secs" "$out/work-$t" "$out/artifacts/${t}-" || failed+=("$t")
      fi
    done
    if [ ${#failed[@]} -gt 0 ]; then
      echo "fuzz: findings or failures in: ${failed[*]} (inputs in $out/artifacts/)" >&2
      exit 1
    fi
    ;;
  merge)
    for t in $(pick "${2:-}"); do
      tmp=$(mktemp -d)
      mkdir -p "$out/work-$t" "$out/logs"
      nice -n 10 "$out/${t}_fuzzer" -merge=1 -use_counters=0 -use_value_profile=0 -max_len="$(max_len "$t")" \
        "$tmp" "tests/fuzz/corpus/$t" "$out/work-$t" >"$out/logs/$t-merge.log" 2>&1
      # Hand-written seeds (any name that is not a SHA-1) stay as they are,
      # and their copies under a SHA-1 name (libFuzzer's) are not added.
      for f in "tests/fuzz/corpus/$t"/*; do
        if [[ "${f##*/}" =~ ^[0-9a-f]{40}$ ]]; then
          rm -f "$f"
        else
          rm -f "$tmp/$(sha1sum <"$f" | cut -c1-40)"
        fi
      done
      cp "$tmp"/* "tests/fuzz/corpus/$t"/
      rm -rf "$tmp"
      echo "fuzz: $t corpus now $(ls "tests/fuzz/corpus/$t" | wc -l) files"
    done
    ;;
  *) echo "usage: $0 build | run SECONDS [TARGET] | merge [TARGET] | smoke SECONDS" >&2; exit 2 ;;
esac
