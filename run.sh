#!/usr/bin/env bash
# Installs what is missing, builds Release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j"$(nproc)"
export ORVALE_LOOPBACK_ONLY=1
if [ -x scripts/demo.sh ]; then
  exec scripts/demo.sh build-release
fi
build-release/orvale-convert --version
