#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  libsqlite3-dev libboost-dev zlib1g-dev libzstd-dev libcurl4-openssl-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nodejs
)
# npm installs the panel's chart library from web/package-lock.json at build
# time; Debian packages it apart from nodejs (other builds of nodejs carry it).
command -v npm >/dev/null 2>&1 || packages+=(npm)
# Extra package groups, asked for by name: "gui" for the operator window.
for extra in "$@"; do
  case "$extra" in
    gui) packages+=(qt6-base-dev) ;;
    *) echo "deps.sh: unknown package group '$extra'" >&2; exit 2 ;;
  esac
done

"$(dirname "$0")/install_missing.sh" "${packages[@]}"
