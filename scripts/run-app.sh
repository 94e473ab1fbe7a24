#!/usr/bin/env bash
# Installs what is missing, builds the application and launches it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
if [[ "$(uname)" == "Darwin" ]]; then
    export CMAKE_PREFIX_PATH="$(brew --prefix qt)${CMAKE_PREFIX_PATH:+:$CMAKE_PREFIX_PATH}"
fi
cmake --preset release
cmake --build --preset release --target mirvo
if [[ "$(uname)" == "Darwin" ]]; then
    exec build/release/src/mirvo.app/Contents/MacOS/mirvo "$@"
fi
exec build/release/src/mirvo "$@"
