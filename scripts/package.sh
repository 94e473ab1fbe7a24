#!/usr/bin/env bash
# Builds the installable package for the running system from the release preset: a .deb on Linux, a .dmg on
# macOS, both in build/release/. Pass the build number as the first argument (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."

build_number="${1:-1}"
scripts/install-dependencies.sh
if [[ "$(uname)" == "Darwin" ]]; then
    export CMAKE_PREFIX_PATH="$(brew --prefix qt)${CMAKE_PREFIX_PATH:+:$CMAKE_PREFIX_PATH}"
fi
cmake --preset release -DMIRVO_BUILD_NUMBER="$build_number"
cmake --build --preset release --target mirvo
cd build/release
cpack
ls -l "$PWD"/*.deb "$PWD"/*.dmg 2>/dev/null || true
