#!/usr/bin/env bash
# Installs what is missing, builds Orvex with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test through CTest. Usage: ./test.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

build=build-test
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVEX_SANITIZE=ON \
    -DORVEX_WERROR=ON \
    -DORVEX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" "$@"
