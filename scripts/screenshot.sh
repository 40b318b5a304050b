#!/usr/bin/env bash
# Makes docs/orvale-console.png: the console playing a synthetic recording on
# a virtual X screen (Xvfb), grabbed by the program itself after 40 records.
# With --windows it makes docs/orvale-windows.png instead: the Diagnostics,
# Sidescan, Echo Sounder, Intensity and Track Plotter windows open as well, the grab taking
# them in.
# Everything runs in a temporary directory with a loopback-only Orvale.INI.
# usage: scripts/screenshot.sh [--windows] [BUILD_DIR] [OUTPUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows=0
if [ "${1:-}" = "--windows" ]; then windows=1; shift; fi
build=$(cd "${1:-$root/build}" && pwd)
if [ $windows = 1 ]; then out=${2:-$root/docs/orvale-windows.png}; else out=${2:-$root/docs/orvale-console.png}; fi
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
for p in orvale orvale-k41gen; do
  [ -x "$build/$p" ] || { echo "screenshot: $build/$p is missing (build it first)" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (scripts/install-deps.sh)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/Orvale.INI" <<INI
[Settings]
IPAddress_Sonar1=127.0.0.1
ComPortGPSEnable=0
ComPortSVEnable=0
IPAddress_Output1=127.0.0.1
RunMode=1
RealtimePlayback=0
PlaybackDelay=20
ProfilePointDetection=1
INI
extra=()
pings=80
if [ $windows = 1 ]; then
  printf 'DiagnosticsWindow=1\nAltitudeWindow=0\n' >>"$work/Orvale.INI"
  # Sidescan, Echo Sounder and Intensity; enough pings to fill a good part of them.
  # Then the Track Plotter (the survey's GPS track), last so that it stays on
  # top of the Intensity window that shares its corner.
  extra=(--command 621 --command 622 --command 623 --command 620 --screenshot-records 160)
  pings=200
fi
"$build/orvale-k41gen" -o "$work/survey.K41" --pings $pings --depth 17 --slope 4 --speckle \
  --target -25,11,60 --target 18,8,45 --gps 47.3712,8.5417 --speed 4.5 --course 60 >/dev/null
cd "$work"
LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}" \
ORVALE_LOOPBACK_ONLY=1 timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/orvale" --no-splash --play "$work/survey.K41" --screenshot "$work/console.png" "${extra[@]}"
mkdir -p "$(dirname "$out")"
cp "$work/console.png" "$out"
echo "screenshot: $out"
