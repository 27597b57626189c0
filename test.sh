#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite,
# then builds and runs it again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
orv_install_deps

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export TZ=UTC

# First the configuration a user builds (Release, as run.sh builds it), with
# its tests, so that what ships is what was tested; warnings are errors there
# too.
echo "== Build and test (Release)"
cmake -S . -B build-release-tests -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release-tests -j "$jobs"
ctest --test-dir build-release-tests --output-on-failure -j "$jobs"

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
