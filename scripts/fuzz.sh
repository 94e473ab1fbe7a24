#!/usr/bin/env bash
# Builds the fuzz targets (build/fuzz, clang with libFuzzer, ASan and UBSan) and runs each for the given
# number of seconds (default 60) on a copy of its seed corpus, so the committed seeds stay as they are, with
# its dictionary when it has one. Name targets after the seconds to run only those:
#     scripts/fuzz.sh 30 outputparser signin
# Prints each target's executions; exits non-zero when any target found an input that crashes, leaks, times
# out or trips a sanitizer, kept in build/fuzz/findings/<target>/ with the target's log beside it.
# Apple's clang has no libFuzzer: on macOS put Homebrew's llvm first on PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(toolarchive outputparser devices cataloglists storelookup updatemanifest signin)
fi

if [[ "$(uname)" == "Darwin" ]]; then
    export CMAKE_PREFIX_PATH="$(brew --prefix qt)${CMAKE_PREFIX_PATH:+:$CMAKE_PREFIX_PATH}"
fi
cmake --preset fuzz
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
summary=()
for target in "${targets[@]}"; do
    corpus="$work/$target"
    findings="build/fuzz/findings/$target"
    mkdir -p "$corpus" "$findings"
    cp fuzz/corpus/"$target"/* "$corpus/"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$findings/")
    # Archives need room for a few headers and entries; the text readers see single answers.
    if [[ "$target" == toolarchive ]]; then options+=(-max_len=16384); else options+=(-max_len=8192); fi
    if [[ -f "fuzz/$target.dict" ]]; then options+=(-dict="fuzz/$target.dict"); fi

    log="$findings/fuzz.log"
    echo "== fuzz_$target for ${seconds}s"
    result=0
    "build/fuzz/fuzz/fuzz_$target" "${options[@]}" "$corpus" >"$log" 2>&1 || result=$?
    executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    if [[ -z "$executions" ]]; then
        # A run cut short by a finding prints no final stats: its last status line has the count.
        executions="$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')"
    fi
    if [[ $result -ne 0 ]]; then
        status=1
        grep -E 'ERROR: |SUMMARY: |runtime error: |Test unit written to' "$log" | head -n 8 || true
        summary+=("fuzz_$target: ${executions:-0} executions, FINDING (see $log)")
    else
        rm -f "$log"
        summary+=("fuzz_$target: ${executions:-0} executions, no finding")
    fi
done

echo
printf '%s\n' "${summary[@]}"
exit "$status"
