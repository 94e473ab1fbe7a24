#!/usr/bin/env bash
# Installs what building and testing need, when it is missing: Debian 12 (as root or with sudo) or macOS (Homebrew).
set -euo pipefail

debian_packages=(
    clang cmake ninja-build pkg-config zlib1g-dev
    qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools qcoro-qt6-dev
    qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qtqml-models
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-templates
    qml6-module-qtquick-controls qml6-module-qtquick-layouts
    fonts-dejavu-core xvfb xauth
)

if [[ "$(uname)" == "Darwin" ]]; then
    command -v brew >/dev/null || { echo "Homebrew is required: https://brew.sh" >&2; exit 1; }
    for formula in qt cmake ninja; do
        brew list --formula "$formula" >/dev/null 2>&1 || brew install "$formula"
    done
    exit 0
fi

missing=()
for package in "${debian_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
