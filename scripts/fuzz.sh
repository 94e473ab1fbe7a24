#!/usr/bin/env bash
# Builds the archive reader's fuzzer (build/fuzz, clang with libFuzzer, ASan and UBSan) and runs it for the
# given number of seconds (default 60) on a copy of the seed corpus, so the committed seeds stay as they are.
# Inputs that crash are kept in build/fuzz/findings/. Apple's clang has no libFuzzer: on macOS put Homebrew's
# llvm first on PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
if [[ "$(uname)" == "Darwin" ]]; then
    export CMAKE_PREFIX_PATH="$(brew --prefix qt)${CMAKE_PREFIX_PATH:+:$CMAKE_PREFIX_PATH}"
fi
cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_toolarchive

corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/toolarchive/* "$corpus/"
mkdir -p build/fuzz/findings
build/fuzz/fuzz/fuzz_toolarchive -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -dict=fuzz/toolarchive.dict -artifact_prefix=build/fuzz/findings/ -print_final_stats=1 "$corpus"
