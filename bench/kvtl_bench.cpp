// Sorted list against the standard library's sorted vector.
//
// KV_ListValSrt<uint32_t>::add (halving search over the virtual less(), then
// an insert that grows by a fixed step of 1024 / sizeof(T) elements) and
// ::find, against std::vector<uint32_t> with std::upper_bound + insert (same
// placement: after equal elements) and std::lower_bound. Same random keys.
#include "foundation/kvtl.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<uint32_t> random_keys(size_t n)
{
    std::mt19937 rng(static_cast<uint32_t>(n) * 2654435761u);
    std::vector<uint32_t> keys(n);
    for (uint32_t& k : keys) {
        k = rng();
    }
    return keys;
}

void BM_KvtlSrtAdd(benchmark::State& state)
{
    const std::vector<uint32_t> keys = random_keys(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        KVTL::KV_ListValSrt<uint32_t> list;
        for (uint32_t k : keys) {
            list.add(k);
        }
        benchmark::DoNotOptimize(list.data());
        list.clear();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

void BM_VectorSortedInsert(benchmark::State& state)
{
    const std::vector<uint32_t> keys = random_keys(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::vector<uint32_t> vec;
        for (uint32_t k : keys) {
            vec.insert(std::upper_bound(vec.begin(), vec.end(), k), k);
        }
        benchmark::DoNotOptimize(vec.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

void BM_KvtlSrtFind(benchmark::State& state)
{
    const std::vector<uint32_t> keys = random_keys(static_cast<size_t>(state.range(0)));
    KVTL::KV_ListValSrt<uint32_t> list;
    for (uint32_t k : keys) {
        list.add(k);
    }
    size_t i = 0;
    for (auto _ : state) {
        uint32_t pos = 0;
        bool found = list.find(keys[i], nullptr, &pos);
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(pos);
        if (++i == keys.size()) {
            i = 0;
        }
    }
    list.clear();
    state.SetItemsProcessed(state.iterations());
}

void BM_VectorLowerBound(benchmark::State& state)
{
    const std::vector<uint32_t> keys = random_keys(static_cast<size_t>(state.range(0)));
    std::vector<uint32_t> vec(keys);
    std::sort(vec.begin(), vec.end());
    size_t i = 0;
    for (auto _ : state) {
        auto it = std::lower_bound(vec.begin(), vec.end(), keys[i]);
        bool found = it != vec.end() && *it == keys[i];
        uint32_t pos = static_cast<uint32_t>(it - vec.begin());
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(pos);
        if (++i == keys.size()) {
            i = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_KvtlSrtAdd)->Arg(1 << 10)->Arg(1 << 16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VectorSortedInsert)->Arg(1 << 10)->Arg(1 << 16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KvtlSrtFind)->Arg(1 << 10)->Arg(1 << 16);
BENCHMARK(BM_VectorLowerBound)->Arg(1 << 10)->Arg(1 << 16);
