#!/usr/bin/env bash
# Installs what is missing, builds Orvex (Release) and starts the editor.
# Usage: ./run.sh [picture]
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"

if [ -x "$build/orvex" ]; then
    exec "$build/orvex" "$@"
fi
echo "The desktop editor is not part of this build yet. The batch tool is ready:"
echo
"$build/orvex-cli" --help
