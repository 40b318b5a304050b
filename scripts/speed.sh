#!/usr/bin/env bash
# How fast the console keeps up with a head: the head simulator on loopback
# serves pings at 5 m range while the console forms 480 beams (120 degrees at
# quarter-degree steps) and paints, once with the main window alone and once
# with the Diagnostics, Sidescan, Echo Sounder and Intensity windows open.
# Prints what the simulator served and what the console received, processed,
# published and painted per window, the share of the run the ping cycle was
# busy (mean cycle x pings processed / run time) and the CPU the whole
# program used (user + system, as a share of one core).
#
# usage: scripts/speed.sh [BUILD_DIR] [SECONDS] [offscreen|xvfb]
#   BUILD_DIR defaults to build-release, the Release build ./run.sh makes
#   HEADSIM_ARGS=--fast: the simulator answers at once, so the console alone sets the pace
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build-release}"
seconds="${2:-20}"
screen="${3:-offscreen}"
case "$build" in /*) bin="$build" ;; *) bin="$root/$build" ;; esac
for tool in orvale orvale-headsim; do
  if [ ! -x "$bin/$tool" ]; then
    echo "speed: $bin/$tool is missing (build first)" >&2
    exit 1
  fi
done
export ORVALE_LOOPBACK_ONLY=1

run() {  # $1 label, $2 1 with every window
  local label="$1" windows="$2"
  local work port sim
  work="$(mktemp -d "${TMPDIR:-/tmp}/orvale-speed.XXXXXX")"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat > "$work/Orvale.INI" <<INI
[Settings]
IPAddress_Sonar1=127.0.0.1
IPAddress_Output1=127.0.0.1
RemotePort_Sonar1=$port
ComPortGPSEnable=0
ComPortSVEnable=0
RunMode=0
DisplayType=0
Range=2
StepSize=0
SectorSize=5
ProfilePointDetection=1
DiagnosticsWindow=$windows
AltitudeWindow=0
TrackPlotterWindow=0
INI
  local commands=()
  # The waterfall windows start closed and are not stored: their menu items open them.
  if [ "$windows" = 1 ]; then commands=(--command 621 --command 622 --command 623); fi
  # The Track Plotter window joins here once it paints (TrackPlotterWindow=1).
  "$bin/orvale-headsim" --bind 127.0.0.1 --port "$port" --range 5 --depth 3.5 --speckle ${HEADSIM_ARGS:-} > "$work/headsim.log" 2>&1 &
  sim=$!
  (
    cd "$work"
    if [ "$screen" = xvfb ]; then
      xvfb-run -a -s "-screen 0 1600x1000x24" /usr/bin/time -f "process cpu: user %U s, system %S s, %P of one core" "$bin/orvale" --no-splash --run-seconds "$seconds" --stats "${commands[@]}"
    else
      QT_QPA_PLATFORM=offscreen /usr/bin/time -f "process cpu: user %U s, system %S s, %P of one core" "$bin/orvale" --no-splash --run-seconds "$seconds" --stats "${commands[@]}"
    fi
  ) > "$work/orvale.log" 2>&1 || true
  kill -TERM "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  echo "== $label ($seconds s, $screen, $work)"
  grep -h 'served\|pings' "$work/headsim.log" | sed 's/^/   /' || true
  sed 's/^/   /' "$work/orvale.log"
  awk '/^run seconds:/ {t = $3} /^pings processed:/ {n = $3} /^cycle ms mean:/ {m = $4 + 0}
       END { if (t > 0) printf "   ping cycle busy: %.1f %% of the run (%.2f ms x %d pings in %.2f s)\n", 100 * m * n / (1000 * t), m, n, t }' \
    "$work/orvale.log"
}

run "main window alone" 0
run "main window with Diagnostics, Sidescan, Echo Sounder and Intensity" 1
