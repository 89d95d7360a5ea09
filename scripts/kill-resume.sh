#!/usr/bin/env bash
# Kills a local copy of a tree of 1,000 files and one 1 GiB random file 50
# times at random moments, resumes it each time, and checks every file's
# SHA-256 at the end (the KillResume test of test_transfers_mt). Runs an
# optimised build of its own. Figures are printed on the line starting with
# "kill-and-resume:".
#
#   scripts/kill-resume.sh [kills] [big file MiB] [files]
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-50}
big=${2:-1024}
files=${3:-1000}
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_WERROR=ON >/dev/null
cmake --build "$build" -j "${KV_JOBS:-4}" --target test_transfers_mt
# The tree and the copy need about 2.5 times the big file in the temporary
# folder.
KV_KILLRESUME_KILLS=$kills KV_KILLRESUME_BIG_MIB=$big KV_KILLRESUME_FILES=$files \
  KV_KILLRESUME_MAX_MS=${KV_KILLRESUME_MAX_MS:-3000} \
  "$build/tests/test_transfers_mt" --gtest_filter='KillResume.*'
