#!/usr/bin/env bash
# Before and after in one run: builds orvale-bench (Release) of an earlier
# revision beside the current one, runs both on the same benchmarks, taking
# turns so both see the same machine, and prints the median of each with
# the ratio.
#
# usage: scripts/bench-compare.sh BASE_REV [FILTER] [ROUNDS]
#   BASE_REV  a git revision (built once into build-bench-BASE/), or the
#             path of an orvale-bench binary
#   FILTER    a --benchmark_filter regex; default the per-ping chain:
#             Convert, ProcessPing Narrow U, RenderPing Sector, Bottom Following
#   ROUNDS    turns each binary takes (default 3, each 3 repetitions)
# The current binary is build-release/orvale-bench (./run.sh builds it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
base="${1:?usage: scripts/bench-compare.sh BASE_REV [FILTER] [ROUNDS]}"
filter="${2:-^(Convert/(480|240|120)|ProcessPing/(480|240|120)/Narrow/U|RenderPing/Sector/(480|240|120)|DetectProfile/480/BottomFollowing)}"
rounds="${3:-3}"
export ORVALE_LOOPBACK_ONLY=1

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release --target orvale-bench >/dev/null
after=build-release/orvale-bench

if [ -x "$base" ]; then
  before="$base"
else
  rev="$(git rev-parse --short "$base")"
  src="build-bench-$rev/src"
  if [ ! -d "$src" ]; then
    mkdir -p "build-bench-$rev"
    git worktree add --detach "$src" "$rev" >/dev/null
  fi
  cmake -S "$src" -B "build-bench-$rev/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVALE_TESTS=OFF >/dev/null
  cmake --build "build-bench-$rev/build" --target orvale-bench >/dev/null
  before="build-bench-$rev/build/orvale-bench"
fi

out="$(mktemp -d "${TMPDIR:-/tmp}/orvale-bench-compare.XXXXXX")"
for r in $(seq 1 "$rounds"); do
  for side in before after; do
    bin=$before
    [ "$side" = after ] && bin=$after
    "$bin" --benchmark_filter="$filter" --benchmark_repetitions=3 --benchmark_format=json \
      > "$out/$side-$r.json" 2> "$out/$side-$r.err"
  done
done

python3 - "$out" "$rounds" <<'PY'
import json, statistics, sys, glob, os
out, rounds = sys.argv[1], int(sys.argv[2])
rates = {"before": {}, "after": {}}
def load(side):
    times = {}
    for f in sorted(glob.glob(os.path.join(out, side + "-*.json"))):
        for b in json.load(open(f))["benchmarks"]:
            if b.get("run_type") == "aggregate":
                continue
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
            times.setdefault(b["run_name"], []).append(b["real_time"] * scale)
            if "pings/s" in b:
                rates[side].setdefault(b["run_name"], []).append(b["pings/s"])
    return times
before, after = load("before"), load("after")
names = list(after) + [n for n in before if n not in after]
print(f"{'benchmark':52s} {'before ms':>10s} {'after ms':>10s} {'speed-up':>9s}")
for n in names:
    b = statistics.median(before[n]) if n in before else None
    a = statistics.median(after[n]) if n in after else None
    fmt = lambda v: f"{v:10.3f}" if v is not None else f"{'-':>10s}"
    ratio = f"{b / a:8.2f}x" if a and b else f"{'':9s}"
    print(f"{n:52s} {fmt(b)} {fmt(a)} {ratio}")
    if n in rates["after"]:
        ra = statistics.median(rates["after"][n])
        rb = statistics.median(rates["before"][n]) if n in rates["before"] else None
        print(f"{'':52s} {'':10s} {'':10s}  {ra:.0f} pings/s after" + (f", {rb:.0f} before" if rb else ""))
PY
echo "(median of $rounds rounds x 3 repetitions; raw JSON in $out)"
