#!/usr/bin/env bash
# Builds the engine and the program, puts the program's menu entry and icon
# into the user's data folder ($XDG_DATA_HOME, default ~/.local/share), then
# starts the program with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"

data_home="${XDG_DATA_HOME:-$HOME/.local/share}"
mkdir -p "$data_home/applications" "$data_home/icons/hicolor/32x32/apps"
install -m 0644 build/release/app/kivrel.desktop "$data_home/applications/kivrel.desktop"
install -m 0644 build/release/app/icons/hicolor/32x32/apps/kivrel.png \
  "$data_home/icons/hicolor/32x32/apps/kivrel.png"
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$data_home/applications" >/dev/null 2>&1 || true
fi

exec build/release/app/kivrel "$@"
