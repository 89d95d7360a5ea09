// KV_Stream as a receive buffer: write a 64 KiB block, read it
// back out, against the physical bound of moving the same bytes with memcpy.
//
// Each stream iteration copies the block twice (in on write, out on read), so
// two memcpy calls of 64 KiB are the bound; one memcpy is shown as well.
// The stream is measured with grow 1 (every write allocates exactly the
// block and the read that empties it frees the buffer) and with grow 64 KiB
// (the same: an emptied stream always frees its buffer), and in the
// receive-path pattern of a long-lived stream that is drained in halves, so
// the front removal moves the rest in place.
#include "foundation/kv_storage.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kBlock = 64 * 1024;

std::vector<unsigned char> pattern()
{
    std::vector<unsigned char> v(kBlock);
    for (uint32_t i = 0; i < kBlock; ++i)
        v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void BM_StreamWriteRead(benchmark::State& state)
{
    const std::vector<unsigned char> in = pattern();
    std::vector<unsigned char> out(kBlock);
    KV_Stream stream(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) {
        if (stream.write(in.data(), kBlock) != kBlock || stream.read(out.data(), kBlock) != kBlock)
            state.SkipWithError("stream refused the block");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kBlock));
}
BENCHMARK(BM_StreamWriteRead)->Arg(1)->Arg(kBlock);

// Written a block at a time, read in two halves: the stream keeps half a
// block between reads, so front removals move bytes in place (grow 64 KiB)
// or shrink the buffer to fit (grow 1).
void BM_StreamWriteReadHalves(benchmark::State& state)
{
    const std::vector<unsigned char> in = pattern();
    std::vector<unsigned char> out(kBlock);
    KV_Stream stream(static_cast<uint32_t>(state.range(0)));
    stream.write(in.data(), kBlock / 2);
    for (auto _ : state) {
        if (stream.write(in.data(), kBlock) != kBlock ||
            stream.read(out.data(), kBlock / 2) != kBlock / 2 ||
            stream.read(out.data() + kBlock / 2, kBlock / 2) != kBlock / 2)
            state.SkipWithError("stream refused the block");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kBlock));
}
BENCHMARK(BM_StreamWriteReadHalves)->Arg(1)->Arg(kBlock);

void BM_Memcpy(benchmark::State& state)
{
    const std::vector<unsigned char> in = pattern();
    std::vector<unsigned char> out(kBlock);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kBlock));
}
BENCHMARK(BM_Memcpy);

// The bound for write-then-read: the bytes go into a buffer and out again.
void BM_MemcpyTwice(benchmark::State& state)
{
    const std::vector<unsigned char> in = pattern();
    std::vector<unsigned char> mid(kBlock), out(kBlock);
    for (auto _ : state) {
        std::memcpy(mid.data(), in.data(), kBlock);
        benchmark::DoNotOptimize(mid.data());
        std::memcpy(out.data(), mid.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kBlock));
}
BENCHMARK(BM_MemcpyTwice);

} // namespace
