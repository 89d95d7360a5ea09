#!/usr/bin/env bash
# Puts the menu entry and the icon of a built program into the user's data
# folder ($XDG_DATA_HOME, default ~/.local/share), where the desktop's menus
# and icon themes look for them.
#
#   scripts/install-desktop.sh <build folder>
set -euo pipefail
build=${1:?usage: scripts/install-desktop.sh <build folder>}

data_home="${XDG_DATA_HOME:-$HOME/.local/share}"
mkdir -p "$data_home/applications" "$data_home/icons/hicolor/32x32/apps"
install -m 0644 "$build/app/kivrel.desktop" "$data_home/applications/kivrel.desktop"
install -m 0644 "$build/app/icons/hicolor/32x32/apps/kivrel.png" \
  "$data_home/icons/hicolor/32x32/apps/kivrel.png"
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$data_home/applications" >/dev/null 2>&1 || true
fi
