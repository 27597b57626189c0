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
program=$PWD/$build/src/app/backup
# A small scratch tree as drive D: and the current directory D:\Data, so that
# the directory dialog shows the same thing on every machine; removed at the end.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/Data/Documents" "$scratch/Data/Photos" "$scratch/Data/Projects"
# Files for the pictures of a backup and a restore in progress.
for i in $(seq 1 40); do
  head -c $((20000 * i)) /dev/urandom >"$scratch/Data/Photos/photo$i.jpg"
  seq 1 $((500 * i)) >"$scratch/Data/Documents/report$i.txt"
done
(cd "$scratch/Data" && BACKUP_DRIVES="D=$scratch" BACKUP_SCREENSHOT_DIR="$out" \
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 800x600x24" "$program")
