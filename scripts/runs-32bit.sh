#!/usr/bin/env bash
# Does this machine run 32-bit x86 Linux programs? 32-bit Wine (and so the
# 32-bit Windows stub under Wine) needs them; some kernels have IA-32
# emulation switched off. Runs a 96-byte static i386 program that only exits
# with code 42, and says what it found on one line.
#   scripts/runs-32bit.sh   exit 0: yes; exit 1: no, with the reason
# MORVIK_NO_32BIT=1 makes it answer no, to try what the callers do then.
set -uo pipefail

if [[ -n "${MORVIK_NO_32BIT:-}" ]]; then
  echo "no: MORVIK_NO_32BIT is set"
  exit 1
fi
probe=$(mktemp "${TMPDIR:-/tmp}/morvik-i386-XXXXXX")
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment, then: mov eax,1; mov ebx,42; int 0x80.
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
chmod +x "$probe"
output=$("$probe" 2>&1)
status=$?
if [[ $status -eq 42 ]]; then
  echo "yes: a 32-bit x86 program ran"
  exit 0
fi
reason=${output##*: }
[[ -n "$reason" ]] || reason="exit status $status"
echo "no: a 32-bit x86 program cannot run here ($reason)"
exit 1
