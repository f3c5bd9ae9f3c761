#!/usr/bin/env bash
# Builds the server and the command-line client (nothing else) and runs the
# server headless from build/ (its
# program folder). On the first run it writes build/Config1.ini (port 7780)
# and creates the database build/QuelvarDB.db3 from the shipped schema.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh quelvar-server quelvar-client
exec build/quelvar-server --headless --create-database "$@"
