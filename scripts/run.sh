#!/usr/bin/env bash
# Builds the engine and the program, then starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
if [ -x build/release/app/kivrel ]; then
  exec build/release/app/kivrel "$@"
fi
echo "Built the engine library: build/release/engine/librkvstd.so"
echo "The program kivrel is not there yet: only the engine library is built."
