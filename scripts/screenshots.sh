#!/usr/bin/env bash
# Retakes the pictures of the main window's pages in docs/screenshots/: builds
# the program, starts it on a virtual X display (Xvfb) and lets it grab each
# page itself (BACKUP_SCREENSHOT_DIR), then prints the files written.
#
# Usage: scripts/screenshots.sh [build-dir]   (default: build-screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-screenshots}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_TESTS=OFF -DORV_BUILD_GUI=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target backup

out=$PWD/docs/screenshots
mkdir -p "$out"
# A fresh scratch directory as the current directory, so that nothing of the
# user's shows in the window; removed at the end.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && BACKUP_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 800x600x24" "$OLDPWD/$build/src/app/backup")
