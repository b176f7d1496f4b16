#!/usr/bin/env bash
# The whole test suite, from a fresh Debian machine: installs what it needs,
# builds the native stub and tools, runs the native tests, then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, then builds the
# Windows stub and runs the Wine suite; fuzzes each target for a minute.
#   scripts/test.sh [--native-only]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

if [[ "${1:-}" == "--native-only" ]]; then
  scripts/install-deps.sh
else
  scripts/install-deps.sh --windows
fi

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build build/native -j "$jobs"
rm -rf build/native/test-tmp
ctest --test-dir build/native -j "$jobs" --output-on-failure -LE wine

[[ "${1:-}" == "--native-only" ]] && exit 0

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
rm -rf build/asan/test-tmp
scripts/sanitize.sh

echo "== fuzzing, a minute per target"
scripts/fuzz.sh 60

echo "== Windows stub"
cmake --preset windows >/dev/null
cmake --build build/windows -j "$jobs"
ls -l build/windows/morvik-sfx.exe

echo "== Wine suite"
ctest --test-dir build/native -L wine --output-on-failure
