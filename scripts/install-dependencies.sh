#!/usr/bin/env bash
# Installs what building, testing and packaging need, when it is missing: Debian 12 (as root or with sudo) or macOS (Homebrew).
# The real-tools tests also get the pinned go-ios from npm, in .cache/go-ios, and on Debian the usbmuxd service.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
go_ios_version=1.2.0

debian_packages=(
    clang cmake ninja-build pkg-config zlib1g-dev
    qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools qcoro-qt6-dev
    qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qtqml-models
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-templates
    qml6-module-qtquick-controls qml6-module-qtquick-layouts qml6-module-qtquick-dialogs
    qml6-module-qt-labs-folderlistmodel qml6-module-qt-labs-platform qt6-svg-dev
    fonts-dejavu-core xvfb xauth
    usbmuxd
    dpkg-dev desktop-file-utils appstream
)

# go-ios as its npm package ships it, beside the sources and ignored by git. Without it only the real-tools
# tests are skipped, so a failure here does not stop the script.
install_go_ios() {
    local prefix="$root/.cache/go-ios"
    if grep -qs "\"version\": *\"$go_ios_version\"" "$prefix/node_modules/go-ios/package.json"; then
        return 0
    fi
    echo "Installing go-ios $go_ios_version from npm into $prefix"
    # --ignore-scripts: the package's own install step would copy ios into npm's global folder.
    npm install --prefix "$prefix" --no-save --no-package-lock --ignore-scripts --no-audit --no-fund \
        --loglevel=error "go-ios@$go_ios_version" ||
        echo "go-ios could not be installed; the real-tools tests will be skipped" >&2
}

if [[ "$(uname)" == "Darwin" ]]; then
    command -v brew >/dev/null || { echo "Homebrew is required: https://brew.sh" >&2; exit 1; }
    formulas=(qt cmake ninja)
    command -v npm >/dev/null || formulas+=(node)
    for formula in "${formulas[@]}"; do
        brew list --formula "$formula" >/dev/null 2>&1 || brew install "$formula"
    done
    install_go_ios
    exit 0
fi

# Debian's npm pulls in Node.js and some 350 small packages; a machine with its own Node.js keeps it.
command -v npm >/dev/null || debian_packages+=(npm)

missing=()
for package in "${debian_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    sudo=""
    if [[ $(id -u) -ne 0 ]]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
install_go_ios
