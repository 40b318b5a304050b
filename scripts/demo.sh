#!/usr/bin/env bash
# Headless demo: in a fresh temporary working directory, writes a settings
# file whose sonar and output addresses are 127.0.0.1, generates a short
# synthetic survey over a gently sloping seabed, converts it to profile
# points and XTF sidescan, saves the Sector picture of the last ping as a
# BMP, and prints a summary. Nothing leaves the loopback interface.
#
# usage: scripts/demo.sh [BUILD_DIR]     (default build-release)
#        ORVALE_DEMO_KEEP=1 keeps the working directory.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build-release}"
case "$build" in /*) bin="$build" ;; *) bin="$root/$build" ;; esac
for tool in orvale-k41gen orvale-convert; do
  if [ ! -x "$bin/$tool" ]; then
    echo "demo: $bin/$tool is missing (build first)" >&2
    exit 1
  fi
done

export ORVALE_LOOPBACK_ONLY=1
work="$(mktemp -d "${TMPDIR:-/tmp}/orvale-demo.XXXXXX")"
if [ "${ORVALE_DEMO_KEEP:-0}" != 1 ]; then
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"

depth=12
pings=100
cat > Orvale.INI <<EOF
[Settings]
IPAddress_Sonar1=127.0.0.1
ComPortGPSEnable=0
ComPortSVEnable=0
IPAddress_Output1=127.0.0.1
RemotePort_Output1=4040
DisplayType=0
StepSize=1
ProfilePointDetection=1
ProfilePointFilter=2
EOF

echo "== Orvale headless demo in $work"
"$bin/orvale-k41gen" -o survey.K41 --depth "$depth" --slope 3 --speckle --noise 1.5 \
  --pings "$pings" --gps 47.5,8.25 --speed 4 --course 90
report="$("$bin/orvale-convert" survey /x --save-picture sector.bmp)"
echo "$report"

echo "== Summary"
converted="$(sed -n 's/.* \([0-9]*\) pings converted.*/\1/p' <<<"$report")"
range="$(sed -n 's/.*depth below the sonar \([0-9.]* \.\. [0-9.]*\) m.*/\1/p' <<<"$report")"
echo "pings:          $converted converted of $pings recorded"
echo "seabed:         ${depth} m generated, ${range:-none} m found under the sonar"
echo "files written:"
for f in survey.K41 survey.K4P survey_sss.XTF sector.bmp Orvale.INI; do
  if [ -s "$f" ]; then
    printf '  %-16s %10d bytes\n' "$f" "$(stat -c %s "$f")"
  else
    echo "  $f MISSING" >&2
    exit 1
  fi
done
# Each XTF ping is 256 + 64 + S + 64 + S bytes after the 1024-byte header.
xtf_bytes="$(stat -c %s survey_sss.XTF)"
echo "xtf pings:      $(( (xtf_bytes - 1024) / (384 + 2 * 500) )) of $(( 384 + 2 * 500 )) bytes"
echo "picture:        sector.bmp, $(head -c 2 sector.bmp) 1012 x 542, 8 bits"
