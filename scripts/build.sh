#!/usr/bin/env bash
# Configures and builds into build/ (Release with assertions kept off by default).
# With target names as arguments, builds only those (and what they need).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh gui
. ./scripts/compiler_cache.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
if [ "$#" -gt 0 ]; then
  cmake --build build --target "$@"
else
  cmake --build build
fi
