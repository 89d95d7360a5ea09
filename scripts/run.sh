#!/usr/bin/env bash
# Builds the engine and the program, puts the program's menu entry and icon
# into the user's data folder (scripts/install-desktop.sh), then
# starts the program with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"

scripts/install-desktop.sh build/release

exec build/release/app/kivrel "$@"
