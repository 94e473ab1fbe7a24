#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
if [[ "$(uname)" == "Darwin" ]]; then
    export CMAKE_PREFIX_PATH="$(brew --prefix qt)${CMAKE_PREFIX_PATH:+:$CMAKE_PREFIX_PATH}"
fi
cmake --preset dev
cmake --build --preset dev
QT_QPA_PLATFORM=offscreen ctest --preset dev -j "$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)" "$@"
