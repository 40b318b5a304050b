#!/usr/bin/env bash
# Do two builds make the same products? Converts two surveys with the
# orvale-convert of each build directory and compares the .K4P (with the two
# fields measured while running masked), .K4B, XTF and BMP byte for byte:
#   demo          the headless demo's survey (Sector, 240 beams, Bottom Following)
#   narrow-mixed  480 beams, Narrow Mixed, averaged over 5 pings, Profile mode
#                 with a 4 degree roll corrected, Bottom Following
# Each survey is also converted by the second build under every setting of
# AFTER_ENV (space-separated VAR=VALUE words, each a run of its own, e.g.
# "ORVALE_PING_THREADS=1 ORVALE_KERNELS=baseline").
#
# usage: scripts/products-compare.sh BEFORE_DIR [AFTER_DIR]
#   AFTER_DIR defaults to build-release. Exits 1 when any product differs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
before="${1:?usage: scripts/products-compare.sh BEFORE_DIR [AFTER_DIR]}"
after="${2:-$root/build-release}"
export ORVALE_LOOPBACK_ONLY=1
work="$(mktemp -d "${TMPDIR:-/tmp}/orvale-products.XXXXXX")"
gen="$after/orvale-k41gen"

ini() {  # $1 extra settings
  printf '[Settings]\nIPAddress_Sonar1=127.0.0.1\nIPAddress_Output1=127.0.0.1\nRemotePort_Output1=4040\n'
  printf 'ComPortGPSEnable=0\nComPortSVEnable=0\nProfilePointDetection=1\nProfilePointFilter=2\n%b' "$1"
}

mkdir -p "$work/src/demo" "$work/src/narrow-mixed"
ini 'DisplayType=0\nStepSize=1\n' > "$work/src/demo/Orvale.INI"
"$gen" -o "$work/src/demo/survey.K41" --depth 12 --slope 3 --speckle --noise 1.5 --pings 100 \
  --gps 47.5,8.25 --speed 4 --course 90 > /dev/null
ini 'DisplayType=3\nStepSize=0\nProcessingMode=3\nAvgFilter=1\nAvgFilterIndex=5\nRollCorrection=1\nIntegratedRoll=1\nProfileTiltAngle=4\n' \
  > "$work/src/narrow-mixed/Orvale.INI"
"$gen" -o "$work/src/narrow-mixed/survey.K41" --depth 9 --slope 6 --speckle --noise 1.5 --pings 60 \
  --target -20,6,40 --range-step 4 > /dev/null

convert() {  # $1 bin dir, $2 survey, $3 label, $4 env word or ""
  local dir="$work/$2/$3"
  for sw in x b; do
    mkdir -p "$dir/$sw"
    cp "$work/src/$2/Orvale.INI" "$work/src/$2/survey.K41" "$dir/$sw/"
    local pic=()
    [ "$sw" = x ] && pic=(--save-picture last.bmp)
    (cd "$dir/$sw" && env ${4:+"$4"} "$1/orvale-convert" survey "/$sw" --quiet "${pic[@]}")
  done
}

status=0
for survey in demo narrow-mixed; do
  convert "$before" "$survey" before ""
  convert "$after" "$survey" after ""
  labels=(after)
  i=0
  for e in ${AFTER_ENV:-}; do
    i=$((i + 1))
    convert "$after" "$survey" "env$i" "$e"
    labels+=("env$i")
  done
  for label in "${labels[@]}"; do
    python3 - "$work/$survey/before" "$work/$survey/$label" "$survey" "$label" <<'PY' || status=1
import sys
a, b, survey, label = sys.argv[1:]
def mask(d):
    d = bytearray(d)
    at = 0
    while at + 256 <= len(d):
        n = int.from_bytes(d[at + 4:at + 6], "big")
        if n < 256: break
        for o in (120, 121, 126, 127): d[at + o] = 0
        at += n
    return bytes(d)
bad = 0
for f in ("x/survey.K4P", "x/survey_sss.XTF", "x/last.bmp", "b/survey.K4B"):
    x, y = open(f"{a}/{f}", "rb").read(), open(f"{b}/{f}", "rb").read()
    if f.endswith("K4P"): x, y = mask(x), mask(y)
    diff = sum(1 for i in range(min(len(x), len(y))) if x[i] != y[i]) + abs(len(x) - len(y))
    print(f"{survey:13s} {label:6s} {f:18s} {len(y):9d} bytes  " + ("same" if diff == 0 else f"{diff} bytes differ"))
    bad += diff != 0
sys.exit(1 if bad else 0)
PY
  done
done
[ -n "${AFTER_ENV:-}" ] && echo "env runs: ${AFTER_ENV}"
echo "(work in $work)"
exit $status
