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

# The Debian package of that build, unpacked into a scratch root: every
# installed program must start there.
echo "== Debian package"
rm -f build-release-tests/orvbackup_*.deb
(cd build-release-tests && cpack -G DEB >/dev/null)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg -x build-release-tests/orvbackup_*.deb "$scratch"
for program in backup orvbackup orvzip orvsql tablecheck; do
  "$scratch/usr/bin/$program" --version
done
for file in share/man/man1/orvbackup.1 share/bash-completion/completions/orvbackup \
  share/applications/orvbackup.desktop share/icons/hicolor/scalable/apps/orvbackup.svg; do
  test -f "$scratch/usr/$file" || { echo "missing from the package: $file"; exit 1; }
done
rm -rf "$scratch"
trap - EXIT

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
