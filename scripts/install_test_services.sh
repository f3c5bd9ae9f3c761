#!/usr/bin/env bash
# Installs what the test suites start on loopback besides the server: Node.js
# and npm (from Debian, unless the machine already has both commands), then
# the S3-compatible server of the replica suites (s3rver, pinned by
# tests/s3/package-lock.json) into tests/s3/node_modules.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  ./scripts/install_missing.sh nodejs npm
fi
if [[ ! -f tests/s3/node_modules/s3rver/bin/s3rver.js ]]; then
  npm ci --prefix tests/s3 --no-audit --no-fund --loglevel=error
fi
