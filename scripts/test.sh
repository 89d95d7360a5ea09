#!/usr/bin/env bash
# Installs what the tests need, checks the format of the changed lines and
# that the engine's includes keep its layers (scripts/check-layers.sh), builds,
# and runs every test tier, each build with warnings as errors:
#   1. the library and all tests under AddressSanitizer + UBSan
#   2. the tests labelled "threads" again under ThreadSanitizer
#   3. every fuzz target, built with clang and libFuzzer, for a bounded time
#   4. an optimised build with the benchmarks, each run once briefly
# Exits non-zero as soon as a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

scripts/deps.sh test

step() { printf '\n==== %s\n' "$*"; }
passed=0
# Runs ctest, keeps its output in a log, and counts the tests it passed.
run_ctest() {
  local log; log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log" | grep -vE '^ +Start |Test +#[0-9]+: .* Passed' || true
  local line; line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" || true)
  rm -f "$log"
  [ -n "$line" ] || { echo "ctest printed no result"; return 1; }
  local total failed
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  failed=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  [ "$failed" -eq 0 ] || return 1
  passed=$((passed + total))
}

step "Format of the changed lines"
scripts/format-check.sh

step "Layers of the engine's includes"
scripts/check-layers.sh

step "ASan + UBSan build and tests"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_WERROR=ON >/dev/null
cmake --build build/asan -j "$jobs"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE peers --timeout 600
# The real servers and proxies answer in their own time: a few at a time,
# apart from the rest, so that a loaded machine does not reorder what they
# test.
run_ctest --test-dir build/asan --output-on-failure -j 3 -L peers --timeout 600

step "ThreadSanitizer: the tests labelled threads"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_TSAN=ON -DKV_WERROR=ON >/dev/null
cmake --build build/tsan -j "$jobs"
if [ -n "$(ctest --test-dir build/tsan -N -L threads | grep 'Test #' || true)" ]; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L threads --timeout 600
else
  echo "no thread tests yet"
fi

targets=$(find tests/fuzz -maxdepth 1 -name 'fuzz_*.cpp' | wc -l)
# A minute per target, but no more than about three minutes of wall time for
# the whole tier however many targets and however few cores there are.
fuzz_seconds=${KV_FUZZ_SECONDS:-$(( targets > 0 ? (180 * jobs / targets < 60 ? 180 * jobs / targets : 60) : 60 ))}
[ "$fuzz_seconds" -ge 10 ] || fuzz_seconds=10
step "Fuzz targets, ${fuzz_seconds}s each"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_FUZZ=ON -DKV_SANITIZE=ON -DKV_WERROR=ON >/dev/null
cmake --build build/fuzz -j "$jobs"
mkdir -p build/fuzz/runs
fuzz_one() {
  local exe=$1 name=${1##*/fuzz_}
  local seeds=$2/tests/fuzz/corpus/$name work=build/fuzz/runs/$name
  mkdir -p "$work"
  if "$exe" -max_total_time="$3" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
       "$work" "$seeds" >"$work.log" 2>&1; then
    echo "fuzz $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work.log" | grep -o '[0-9]*$') runs, clean"
  else
    echo "fuzz $name FAILED"; tail -n 60 "$work.log"; return 1
  fi
}
export -f fuzz_one
find build/fuzz/tests/fuzz -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x -print0 |
  xargs -0 -r -P "$jobs" -I{} bash -c 'fuzz_one "$@"' _ {} "$root" "$fuzz_seconds"
passed=$((passed + targets))

step "Optimised build and benchmarks"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF \
  -DKV_BUILD_BENCH=ON -DKV_WERROR=ON >/dev/null
cmake --build build/release -j "$jobs"
if [ -x build/release/bench/kv_bench ]; then
  build/release/bench/kv_bench --benchmark_min_time=0.05
fi
# The program's responsiveness, at the small default sizes.
if [ -x build/release/bench/app/kv_app_bench ]; then
  QT_QPA_PLATFORM=offscreen build/release/bench/app/kv_app_bench
fi

step "all test tiers passed"
echo "summary: $passed passed, 0 failed"
