#!/usr/bin/env bash
# Builds the server and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
exec build/quelvar-server --version "$@"
