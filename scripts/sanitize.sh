#!/usr/bin/env bash
# The native test suite under AddressSanitizer (LeakSanitizer included) and
# UndefinedBehaviorSanitizer: the `asan` preset (gcc), built in build/asan,
# which later runs reuse, so only what changed is rebuilt.
#   scripts/sanitize.sh [CTEST ARGS...]    e.g. scripts/sanitize.sh -R Walker
#   SANITIZE_THOROUGH=1 scripts/sanitize.sh
#
# FatalExit leaves an operation with longjmp. AddressSanitizer intercepts
# longjmp and unpoisons the part of the stack it skips, so the jump needs no
# option and gives no false reports. SANITIZE_THOROUGH=1 adds
# detect_stack_use_after_return=1, which also catches a pointer into a frame
# that a longjmp (or a return) abandoned; it makes the run some 60 % slower.
# ASAN_OPTIONS and UBSAN_OPTIONS from the environment replace the defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

asan_options="detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
[[ "${SANITIZE_THOROUGH:-0}" == 1 ]] && asan_options+=":detect_stack_use_after_return=1"
export ASAN_OPTIONS="${ASAN_OPTIONS:-$asan_options}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

cmake --preset asan >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan -j "$jobs" --output-on-failure -LE wine "$@"
