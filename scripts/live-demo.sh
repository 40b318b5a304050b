#!/usr/bin/env bash
# The console against the head simulator, for a first look: a fresh working
# directory whose Orvale.INI points every address at loopback and the head at
# a simulator started here on a free port, then `orvale` in Head mode with the
# built-in test camera in its "Video" window. The simulator stops when the
# console closes. Needs a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build-release}"
case "$build" in /*) bin="$build" ;; *) bin="$root/$build" ;; esac
for tool in orvale orvale-headsim; do
  if [ ! -x "$bin/$tool" ]; then
    echo "live-demo: $bin/$tool is missing (build first)" >&2
    exit 1
  fi
done

export ORVALE_LOOPBACK_ONLY=1
work="$(mktemp -d "${TMPDIR:-/tmp}/orvale-live-demo.XXXXXX")"
cd "$work"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > Orvale.INI <<INI
[Settings]
IPAddress_Sonar1=127.0.0.1
IPAddress_Output1=127.0.0.1
RemotePort_Sonar1=$port
ComPortGPSEnable=0
ComPortSVEnable=0
RunMode=0
DisplayType=0
StepSize=1
Range=4
ProfilePointDetection=1
ProfilePointFilter=2
VideoDevice=test
INI

"$bin/orvale-headsim" --bind 127.0.0.1 --port "$port" --depth 14 --slope 3 --speckle --noise 1.5 \
  --target 20,9,60 > headsim.log 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
echo "== Orvale console against the simulator on 127.0.0.1:$port (working directory $work)"
"$bin/orvale"
