#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time: first the saved
# reproducers of fuzz/regressions/<target>/, then fuzzing from the seed corpus
# (made afresh by fuzz/make_corpus.sh), the minimised corpus kept in the
# repository (fuzz/corpus/<target>/, read only) and the corpus grown in
# build/fuzz/corpus/<target>/. Prints libFuzzer's final statistics and the
# coverage of the Parts; exits non-zero when a target crashed, timed out, ran
# out of memory or reported a finding (the input is then saved under
# build/fuzz/artifacts/<target>/).
#   scripts/fuzz.sh [SECONDS] [TARGET...]    default: 60 s each, every target
#   FUZZ_JOBS=N    N processes per target (libFuzzer's -fork=N)
#   FUZZ_ARGS=...  more libFuzzer flags, e.g. FUZZ_ARGS="-use_value_profile=1"
#   FUZZ_COVERAGE=1  also the line coverage of the corpus, by llvm-cov, from
#                  a build with source coverage in build/fuzz-coverage
# A longer local run, e.g. an hour per target on all cores:
#   FUZZ_JOBS=$(nproc) scripts/fuzz.sh 3600
# fuzz/README.md tells how to reproduce, minimise and keep what a run finds.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
[[ $# -gt 0 ]] && shift
targets=("$@")
((${#targets[@]})) || targets=(fuzz_package fuzz_extract fuzz_pack)
jobs="${FUZZ_JOBS:-1}"
build=build/fuzz
# The targets write every input and what it unzips into a folder of their own
# under $TMPDIR: on a RAM disk they run several times faster.
if [[ -z "${TMPDIR:-}" && -d /dev/shm && -w /dev/shm ]]; then
    export TMPDIR=/dev/shm
fi
# Symbolized reports: Debian names the symbolizer after its version.
if ! command -v llvm-symbolizer >/dev/null && command -v llvm-symbolizer-14 >/dev/null; then
    export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer-14)"
fi

mkdir -p "$build/logs"
if ! { cmake --preset fuzz && cmake --build "$build" -j "$(nproc)"; } >"$build/logs/build.log" 2>&1; then
    tail -30 "$build/logs/build.log"
    echo "fuzz.sh: the build failed (log: $build/logs/build.log)" >&2
    exit 1
fi
fuzz/make_corpus.sh "$build/seeds" "$build/tools/morvik-pack"

# Functions of our own code that the run reached, per folder, from
# libFuzzer's -print_coverage=1 list. (Its edge counts are no measure here:
# every UndefinedBehaviorSanitizer check adds a handler block that never runs.)
functions_by_folder() {
    awk -v src="$PWD/" '
        /^(COVERED|UNCOVERED)_FUNC:/ {
            file = $NF; sub(/:[0-9]+$/, "", file)
            if (index(file, src) != 1) next
            file = substr(file, length(src) + 1)
            n = split(file, part, "/"); folder = (n > 1) ? part[1] : "."
            if (folder == "platform" && n > 2) folder = part[1] "/" part[2]
            total[folder]++
            if ($1 == "COVERED_FUNC:") reached[folder]++
        }
        END {
            for (f in total)
                printf "    %-16s %4d of %4d functions reached\n", f, reached[f], total[f]
        }' "$1" | sort
}

# Line coverage of the corpus (FUZZ_COVERAGE=1): a build with clang's source
# coverage in build/fuzz-coverage runs every corpus input once.
line_coverage() {
    local target="$1" cov=build/fuzz-coverage
    local flags="-fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer-no-link"
    if ! {
        [[ -f "$cov/build.ninja" ]] ||
            cmake -S . -B "$cov" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
                -DCMAKE_CXX_COMPILER=clang++-14 -DMORVIK_FUZZ=ON -DMORVIK_TESTS=OFF \
                -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
                -DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate
        cmake --build "$cov" -j "$(nproc)" --target "$target"
    } >"$build/logs/coverage-build.log" 2>&1; then
        tail -30 "$build/logs/coverage-build.log"
        echo "   the coverage build failed (log: $build/logs/coverage-build.log)"
        return 0
    fi
    rm -f "$cov/$target".prof*
    local inputs=("$build/corpus/$target" "$build/seeds/$target")
    [[ -d fuzz/corpus/$target ]] && inputs+=("fuzz/corpus/$target")
    [[ -d fuzz/regressions/$target ]] && inputs+=("fuzz/regressions/$target")
    LLVM_PROFILE_FILE="$PWD/$cov/$target.profraw" "$cov/fuzz/$target" -runs=0 -close_fd_mask=3 \
        "${inputs[@]}" >/dev/null 2>&1 || echo "   (a corpus input failed in the coverage build)"
    llvm-profdata-14 merge -sparse "$cov/$target.profraw" -o "$cov/$target.profdata"
    echo "   line coverage of the corpus (llvm-cov), by folder:"
    llvm-cov-14 export -summary-only -instr-profile="$cov/$target.profdata" "$cov/fuzz/$target" |
        python3 -c '
import json, os, sys
root = os.getcwd() + "/"
folders = {}
for f in json.load(sys.stdin)["data"][0]["files"]:
    name = f["filename"]
    if not name.startswith(root):
        continue
    parts = name[len(root):].split("/")
    folder = "/".join(parts[:2]) if parts[0] == "platform" else parts[0]
    if folder in ("fuzz", "build"):
        continue
    s = folders.setdefault(folder, [0, 0, 0, 0])
    lines, funcs = f["summary"]["lines"], f["summary"]["functions"]
    s[0] += lines["covered"]; s[1] += lines["count"]; s[2] += funcs["covered"]; s[3] += funcs["count"]
for folder, (lc, lt, fc, ft) in sorted(folders.items()):
    print("    %-16s %5d of %5d lines (%3d%%), %4d of %4d functions" %
          (folder, lc, lt, 100 * lc // max(lt, 1), fc, ft))'
}

status=0
summary=()
for target in "${targets[@]}"; do
    bin="$build/fuzz/$target"
    [[ -x "$bin" ]] || { echo "no such fuzz target: $target" >&2; exit 2; }
    corpus="$build/corpus/$target"
    artifacts="$PWD/$build/artifacts/$target/"
    log="$build/logs/$target.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"

    regressions=(fuzz/regressions/"$target"/*)
    if [[ -e "${regressions[0]}" ]]; then
        echo "== $target: ${#regressions[@]} saved reproducer(s)"
        if ! "$bin" -close_fd_mask=2 "${regressions[@]}" >"$build/logs/$target.regressions.log" 2>&1; then
            tail -40 "$build/logs/$target.regressions.log"
            echo "== $target: a saved reproducer fails (log: $build/logs/$target.regressions.log)"
            status=1
            summary+=("$target: a saved reproducer fails")
            continue
        fi
    fi

    echo "== $target: fuzzing for $seconds s ($jobs process(es))"
    flags=(-max_total_time="$seconds" -print_final_stats=1 -print_coverage=1 -close_fd_mask=2
           -dict=fuzz/morvik.dict -max_len=16384 -timeout=25 -rss_limit_mb=2048
           -artifact_prefix="$artifacts")
    ((jobs > 1)) && flags+=(-fork="$jobs")
    # shellcheck disable=SC2086 # FUZZ_ARGS is a list of flags
    set +e
    kept=()
    [[ -d fuzz/corpus/$target ]] && kept=("fuzz/corpus/$target")
    "$bin" "${flags[@]}" ${FUZZ_ARGS:-} "$corpus" "$build/seeds/$target" "${kept[@]}" >"$log" 2>&1
    result=$?
    set -e
    grep -v -E '^(COVERED_FUNC|UNCOVERED_FUNC|  UNCOVERED_PC|COVERAGE:)' "$log" | tail -12
    done_line="$(grep -E '^#[0-9]+ +DONE' "$log" | tail -1 || true)"
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
    [[ -n "$execs" ]] || execs="$(sed -n 's/^#\([0-9]*\).*/\1/p' "$log" | tail -1)"
    cov="$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([^ ]*\).*/cov \1, features \2, corpus \3/p' \
        <<<"${done_line:-$(grep -E ' cov: ' "$log" | tail -1)}")"
    if ((result == 0)); then
        summary+=("$target: ${execs:-?} executions (${rate:-?}/s), $cov")
    else
        status=1
        summary+=("$target: FAILED with status $result after ${execs:-?} executions;" \
                  "artifacts in $artifacts, log $log")
        grep -E 'FINDING|ERROR|SUMMARY|Test unit written|artifact' "$log" | head -20 || true
    fi
    if grep -q '^COVERED_FUNC:' "$log"; then
        echo "   our functions reached, by folder:"
        functions_by_folder "$log"
    fi
    [[ "${FUZZ_COVERAGE:-0}" == 1 ]] && line_coverage "$target"

    # The builder's promise, which needs the stub and Python as processes:
    # every archive it accepts unzips to the tree zipfile reads.
    if [[ "$target" == fuzz_pack ]]; then
        echo "   every accepted input of the corpus, packed and unzipped by the stub:"
        if fuzz/pack_property.py --pack "$build/tools/morvik-pack" --stub "$build/morvik-sfx" \
            "$corpus" "$build/seeds/fuzz_pack" >"$build/logs/pack_property.log" 2>&1; then
            tail -1 "$build/logs/pack_property.log" | sed 's/^/    /'
        else
            grep -E '^.*: FAIL' "$build/logs/pack_property.log" | head -20
            tail -1 "$build/logs/pack_property.log" | sed 's/^/    /'
            status=1
            summary+=("$target: the stub did not unzip an accepted input as zipfile reads it" \
                      "(log $build/logs/pack_property.log)")
        fi
    fi
done

echo
echo "== summary"
printf '  %s\n' "${summary[@]}"
exit "$status"
