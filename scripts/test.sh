#!/usr/bin/env bash
# The whole test suite, from a fresh Debian machine: installs what it needs,
# builds everything the tests use (the native stub and tools, both Windows
# stubs), then runs the native tests, the same tests under AddressSanitizer
# and UndefinedBehaviorSanitizer, a bounded fuzzing run, and the Wine suite on
# every Windows stub this machine can run.
#   scripts/test.sh [--native-only]
#
# Every stage runs, even after one failed, so that one failure hides nothing;
# a stage whose build failed is reported as failed, not skipped. The run ends
# with one line per stage and a closing "stages: N passed, N failed"; the exit
# status is 1 when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
native_only=false
[[ "${1:-}" == "--native-only" ]] && native_only=true

results=()
# stage NAME COMMAND...: runs the command, records PASS or FAIL with its time.
stage() {
  local name=$1
  shift
  echo
  echo "== $name"
  local started=$SECONDS status
  "$@"
  status=$?
  local took=$((SECONDS - started))
  if ((status == 0)); then
    results+=("PASS  $name (${took} s)")
  else
    results+=("FAIL  $name (${took} s, exit status $status)")
  fi
  return $status
}

build_native() {
  cmake --preset native >/dev/null && cmake --build build/native -j "$jobs"
}

# Both Windows stubs, before the native tests: some of those read the PE images.
build_windows() {
  local preset status=0
  for preset in windows windows64; do
    { cmake --preset "$preset" >/dev/null && cmake --build "build/$preset" -j "$jobs" &&
      ls -l "build/$preset/morvik-sfx.exe"; } || status=1
  done
  return $status
}

native_tests() {
  rm -rf build/native/test-tmp
  ctest --test-dir build/native -j "$jobs" --output-on-failure -LE wine
}

sanitizer_tests() {
  rm -rf build/asan/test-tmp
  scripts/sanitize.sh
}

# The suite says itself which stubs it could not run and why; exit code 77
# (nothing could run) is a failure here, since --windows installed Wine.
wine_suite() {
  python3 tests/wine/run_wine_suite.py --pack build/native/tools/morvik-pack \
    --stub32 build/windows/morvik-sfx.exe --stub64 build/windows64/morvik-sfx.exe \
    --artifacts build/native/wine-artifacts
}

if $native_only; then
  stage "install packages" scripts/install-deps.sh
else
  stage "install packages" scripts/install-deps.sh --windows
fi
stage "native build" build_native
native_built=$?
if ! $native_only; then
  stage "Windows stubs (32-bit and 64-bit)" build_windows
fi
if ((native_built == 0)); then
  stage "native tests" native_tests
else
  stage "native tests" false # nothing to test without the build
fi
if ! $native_only; then
  stage "sanitizer tests (ASan, UBSan)" sanitizer_tests
  stage "fuzzing" scripts/fuzz.sh 60
  if ((native_built == 0)); then
    stage "Wine suite" wine_suite
  else
    stage "Wine suite" false # it packs with the native morvik-pack
  fi
fi

echo
echo "== summary"
failed=0
for line in "${results[@]}"; do
  echo "$line"
  [[ $line == FAIL* ]] && failed=$((failed + 1))
done
echo "stages: $((${#results[@]} - failed)) passed, $failed failed"
((failed == 0))
