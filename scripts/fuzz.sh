#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ with clang (AddressSanitizer and
# UBSan), compiling the sources they need directly, and runs them.
#
#   scripts/fuzz.sh build                 build every target into $FUZZ_OUT
#   scripts/fuzz.sh run SECONDS [TARGET]  fuzz each target (or one) for SECONDS,
#                                         starting from its committed corpus
#   scripts/fuzz.sh merge [TARGET]        minimise (by coverage edges) the new inputs into the
#                                         committed corpus tests/fuzz/corpus/<name>/
#
# Targets: packet (tests/fuzz/packet_fuzzer.cpp), k41_reader
# (tests/fuzz/k41_reader_fuzzer.cpp), nmea (tests/fuzz/nmea_fuzzer.cpp),
# probe (tests/fuzz/probe_fuzzer.cpp), external_control
# (tests/fuzz/external_control_fuzzer.cpp, datagrams of at most 300 bytes).
# FUZZ_OUT defaults to build-fuzz/.
# Findings land in $FUZZ_OUT/artifacts/. Runs at nice 10 so a shared machine
# keeps compiling.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${FUZZ_OUT:-build-fuzz}
cxx=${CXX_FUZZ:-clang++}
targets=(packet k41_reader nmea probe external_control)
# Every domain source, as the core library has them (no Qt, no program entry
# points), so a target never misses a module a new include pulls in.
# Qt-using program code (the console's own window code) stays out.
mapfile -t srcs < <(find src -name '*.cpp' -not -path 'src/platform/qt/*' -not -name '*_main.cpp' | sort |
                    xargs grep -L '#include <Q')
srcs+=(tests/fuzz/fuzz_entries.cpp)
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -fno-omit-frame-pointer -Isrc -Itests
       -DORVALE_VERSION="\"$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)\"")

build() {
  mkdir -p "$out/artifacts" "$out/obj"
  # A changed header makes every object stale.
  if [ -n "$(find src tests -name '*.h' -newer "$out/obj/.stamp" 2>/dev/null | head -1)" ] ||
     [ ! -e "$out/obj/.stamp" ]; then
    rm -f "$out"/obj/*.o
  fi
  touch "$out/obj/.stamp"
  # Each source compiled once for all targets, two at a time.
  printf '%s\n' "${srcs[@]}" | nice -n 10 xargs -P 2 -I{} sh -c \
    'o="$0/obj/$(echo "{}" | tr / _).o"; [ "$o" -nt "{}" ] || "$1" $2 -c "{}" -o "$o"' \
    "$out" "$cxx" "${flags[*]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}"
  for t in "${targets[@]}"; do
    echo "fuzz: building $t"
    nice -n 10 "$cxx" "${flags[@]}" "tests/fuzz/${t}_fuzzer.cpp" "$out"/obj/*.o -o "$out/${t}_fuzzer"
  done
}

pick() { if [ $# -gt 0 ] && [ -n "$1" ]; then echo "$1"; else echo "${targets[@]}"; fi; }

cmd=${1:-build}
case "$cmd" in
  build) build ;;
  run)
    secs=${2:-60}
    build
    for t in $(pick "${3:-}"); do
      mkdir -p "$out/work-$t" "tests/fuzz/corpus/$t"
      echo "fuzz: running $t for ${secs}s"
      maxlen=70000
      [ "$t" = external_control ] && maxlen=300
      nice -n 10 "$out/${t}_fuzzer" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$maxlen" -artifact_prefix="$out/artifacts/${t}-" -print_final_stats=1 \
        "$out/work-$t" "tests/fuzz/corpus/$t"
    done
    ;;
  merge)
    for t in $(pick "${2:-}"); do
      tmp=$(mktemp -d)
      nice -n 10 "$out/${t}_fuzzer" -merge=1 -use_counters=0 -use_value_profile=0 -max_len=70000 "$tmp" "tests/fuzz/corpus/$t" "$out/work-$t"
      rm -f "tests/fuzz/corpus/$t"/*
      cp "$tmp"/* "tests/fuzz/corpus/$t"/
      rm -rf "$tmp"
      echo "fuzz: $t corpus now $(ls "tests/fuzz/corpus/$t" | wc -l) files"
    done
    ;;
  *) echo "usage: $0 build | run SECONDS [TARGET] | merge [TARGET]" >&2; exit 2 ;;
esac
