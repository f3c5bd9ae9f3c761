#!/usr/bin/env bash
# Builds everything and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
# The operator panel's browser tests: Chromium, its driver and Selenium.
./scripts/install_missing.sh chromium chromium-driver python3-selenium
ctest --test-dir build --output-on-failure -j2
