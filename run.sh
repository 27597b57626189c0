#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the backup program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
orv_install_deps

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)"
if [[ -x build-release/src/app/backup ]]; then
  exec build-release/src/app/backup "$@"
fi
# Until the window is built, start the archive tool.
exec build-release/src/cli/orvzip "$@"
