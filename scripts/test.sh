#!/usr/bin/env bash
# Builds everything, installs the test services (the local S3 server of the
# replica suites) and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
./scripts/install_test_services.sh
# The operator panel's browser tests: Chromium, its driver and Selenium.
./scripts/install_missing.sh chromium chromium-driver python3-selenium
ctest --test-dir build --output-on-failure -j2
