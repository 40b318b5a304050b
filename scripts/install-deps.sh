#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing.
# Root runs apt-get directly; anyone else goes through sudo. Quiet unless it fails.
set -euo pipefail
# proj-bin: cs2cs, the independent UTM reference the navigation tests run.
# qt6-base-dev, libgl-dev, fonts-liberation: the Qt console and its GUI tests;
# xvfb, xauth: the console on a virtual screen (scripts/screenshot.sh).
# clang, libclang-rt-dev: the fuzz targets (libFuzzer and the sanitizer runtimes).
pkgs=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev pkg-config proj-bin
      qt6-base-dev libgl-dev fonts-liberation xvfb xauth clang libclang-rt-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
log=$(mktemp)
if ! { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "install-deps: could not install: ${missing[*]}" >&2
  exit 1
fi
rm -f "$log"
