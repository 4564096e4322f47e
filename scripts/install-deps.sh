#!/usr/bin/env bash
# Installs the Debian 12 packages Orvex builds, tests and benchmarks with.
# Idempotent: asks apt for nothing when every package is already present.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins
    libgl-dev
    libfftw3-dev libgif-dev libjpeg62-turbo-dev libpng-dev libexiv2-dev liblcms2-dev
    libtiff-dev libwebp-dev libspng-dev libzstd-dev
    python3-dev pybind11-dev python3-numpy python3-pytest python3-distributed
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth
    clang-format
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
