#!/usr/bin/env bash
# Installs what is needed, builds the native program and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

if [ -x build/quillon ]; then
    exec build/quillon "$@"
fi
echo "Built the proxy engine (build/engine). The desktop application is not part of this tree yet;"
echo "until it is, scripts/test.sh exercises the engine against real peers."
