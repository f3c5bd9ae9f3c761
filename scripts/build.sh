#!/usr/bin/env bash
# Configures and builds into build/ (Release with assertions kept off by default).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh gui
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build build
