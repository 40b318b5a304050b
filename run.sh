#!/usr/bin/env bash
# Installs what is missing, builds Release and runs the main job: with a
# display the console against the head simulator, without one the headless
# demo.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j"$(nproc)"
export ORVALE_LOOPBACK_ONLY=1
# With a display: the console against the head simulator on loopback.
# Without one: the headless demo (a survey converted, a picture saved).
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build-release/orvale ]; then
  exec scripts/live-demo.sh build-release
fi
if [ -x scripts/demo.sh ]; then
  exec scripts/demo.sh build-release
fi
if [ -x build-release/orvale-convert ]; then
  exec build-release/orvale-convert --version
fi
version=$(sed -n 's/^project(Orvale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
echo "Orvale ${version:-unknown} built"
