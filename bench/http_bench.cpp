// HTTP downloads and uploads over loopback against curl, on the same Apache
// (mod_dav) in the same run, with both ends on tmpfs (/dev/shm).
//
// Each iteration times curl, then the engine's GET (into a transfer log) or
// PUT (with a Content-Length, or chunked) of the same file. The manual time
// is the engine's; x_curl is curl's time over the engine's (1.0: as fast as
// curl, higher is better). cpu_s_gib is the engine's CPU time (user and
// system, all threads of this process) per GiB moved, curl_cpu_s_gib
// curl's.
//
// Size (environment): KV_BENCH_HTTP_MIB (default 64; 1024 for the 1 GiB
// figures), e.g.
//   KV_BENCH_HTTP_MIB=1024 kv_bench --benchmark_filter=Http
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "http/kv_httpactfile.h"
#include "http/kv_httpman.h"
#include "support/kv_apache.h"
#include "transfers/kv_translogcp.h"

namespace {

using Clock = std::chrono::steady_clock;

class NoErr : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

double cpu_of(int who)
{
    rusage r{};
    ::getrusage(who, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Apache on tmpfs with one big file, started once per program run.
struct Peer
{
    std::unique_ptr<kvtest::Apache> apache;
    std::unique_ptr<kvtest::TempDir> local;
    uint64_t bytes = 0;
    bool ok = false;

    Peer()
    {
        const char* v = std::getenv("KV_BENCH_HTTP_MIB");
        bytes = (v && *v ? std::strtoull(v, nullptr, 10) : 64) << 20;
        kvtest::ApacheOpts o;
        o.base = "/dev/shm";
        apache = std::make_unique<kvtest::Apache>(o);
        local = std::make_unique<kvtest::TempDir>("kvhttpbench", "/dev/shm");
        if (!kvtest::Apache::installed() || !apache->start() || !local->ok())
            return;
        // Random bytes, so that nothing on the way can make them smaller.
        std::mt19937_64 rng(42);
        std::vector<uint64_t> buf(1 << 17);
        FILE* f = std::fopen(source().c_str(), "wb");
        if (!f)
            return;
        for (uint64_t left = bytes; left > 0;) {
            for (auto& w : buf)
                w = rng();
            const uint64_t n = std::min<uint64_t>(left, buf.size() * 8);
            std::fwrite(buf.data(), 1, n, f);
            left -= n;
        }
        std::fclose(f);
        ok = std::system(("cp " + source() + " " + apache->path("big.bin") + " && chown www-data " +
                          apache->path("big.bin"))
                             .c_str()) == 0;
    }
    std::string source() const { return *local / "src.bin"; }
};

Peer& peer()
{
    static Peer p;
    return p;
}

KV_FileData entry(int64_t size)
{
    KV_FileData fd("big.bin", "", size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    return fd;
}

// Runs curl with args; its wall time and CPU time in seconds (negative wall
// time on failure).
double run_curl(const std::string& args, double& cpu)
{
    const double c0 = cpu_of(RUSAGE_CHILDREN);
    const auto t0 = Clock::now();
    const int rc = std::system(("curl -s -f " + args + " > /dev/null").c_str());
    const double t = std::chrono::duration<double>(Clock::now() - t0).count();
    cpu = cpu_of(RUSAGE_CHILDREN) - c0;
    return rc == 0 ? t : -1;
}

void report(benchmark::State& state, double eng, double curl, double eng_cpu, double curl_cpu)
{
    const double gib =
        static_cast<double>(peer().bytes) / (1 << 30) * static_cast<double>(state.iterations());
    state.counters["x_curl"] = eng > 0 ? curl / eng : 0;
    state.counters["cpu_s_gib"] = eng_cpu / gib;
    state.counters["curl_cpu_s_gib"] = curl_cpu / gib;
    state.SetBytesProcessed(static_cast<int64_t>(peer().bytes) * state.iterations());
    state.SetLabel(std::to_string(peer().bytes >> 20) + " MiB vs curl");
}

void BM_HttpGet(benchmark::State& state)
{
    Peer& p = peer();
    if (!p.ok) {
        state.SkipWithError("no Apache peer (apache2) or no tmpfs");
        return;
    }
    double eng = 0, curl = 0, eng_cpu = 0, curl_cpu = 0;
    for (auto _ : state) {
        const std::string out = *p.local / "curl.out";
        double cc = 0;
        const double tc = run_curl("-o " + out + " " + p.apache->url("/big.bin"), cc);
        ::unlink(out.c_str());
        if (tc < 0) {
            state.SkipWithError("curl failed");
            return;
        }
        KV_PathDef src, dst;
        KV_TransLogCp log(nullptr, "", entry(static_cast<int64_t>(p.bytes)), src, dst);
        log.set_flags_init(true, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        NoErr eh;
        const std::string log_name = *p.local / "get.log";
        if (!log.set_name(log_name.c_str()) || !log.create(eh)) {
            state.SkipWithError("no transfer log");
            return;
        }
        KV_HttpMan man;
        man.set_addrs("", p.apache->host().c_str(), KV_ProxyOptsHttp());
        KV_HttpActGet get("/big.bin", "", int64_t{0}, &log);
        const double c0 = cpu_of(RUSAGE_SELF);
        const auto t0 = Clock::now();
        man.exec(eh, &get, nullptr);
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        eng_cpu += cpu_of(RUSAGE_SELF) - c0;
        const bool good = get.executed() && log.size() == static_cast<int64_t>(p.bytes);
        log.close();
        ::unlink(log_name.c_str());
        if (!good) {
            state.SkipWithError("GET failed");
            return;
        }
        state.SetIterationTime(t);
        eng += t;
        curl += tc;
        curl_cpu += cc;
    }
    report(state, eng, curl, eng_cpu, curl_cpu);
}

void BM_HttpPut(benchmark::State& state)
{
    Peer& p = peer();
    if (!p.ok) {
        state.SkipWithError("no Apache peer (apache2) or no tmpfs");
        return;
    }
    const bool chunked = state.range(0) != 0;
    double eng = 0, curl = 0, eng_cpu = 0, curl_cpu = 0;
    for (auto _ : state) {
        double cc = 0;
        const double tc = run_curl(std::string(chunked ? "-H 'Transfer-Encoding: chunked' " : "") +
                                       "-T " + p.source() + " " + p.apache->url("/curl.bin"),
                                   cc);
        ::unlink(p.apache->path("curl.bin").c_str());
        if (tc < 0) {
            state.SkipWithError("curl failed");
            return;
        }
        KV_PathDef src, dst;
        KV_TransLogCp log(nullptr, p.source().c_str(), entry(static_cast<int64_t>(p.bytes)), src,
                          dst);
        log.set_flags_init(false, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        NoErr eh;
        const std::string log_name = *p.local / "put.log";
        if (!log.set_name(log_name.c_str()) || !log.create(eh)) {
            state.SkipWithError("no transfer log");
            return;
        }
        KV_HttpMan man;
        man.set_addrs("", p.apache->host().c_str(), KV_ProxyOptsHttp());
        KV_HttpActPut put(p.source().c_str(), "/eng.bin", &log, 0, chunked);
        const double c0 = cpu_of(RUSAGE_SELF);
        const auto t0 = Clock::now();
        man.exec(eh, &put, nullptr);
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        eng_cpu += cpu_of(RUSAGE_SELF) - c0;
        log.close();
        ::unlink(log_name.c_str());
        struct stat st
        {
        };
        const bool good = put.executed() && ::stat(p.apache->path("eng.bin").c_str(), &st) == 0 &&
                          static_cast<uint64_t>(st.st_size) == p.bytes;
        ::unlink(p.apache->path("eng.bin").c_str());
        if (!good) {
            state.SkipWithError("PUT failed");
            return;
        }
        state.SetIterationTime(t);
        eng += t;
        curl += tc;
        curl_cpu += cc;
    }
    report(state, eng, curl, eng_cpu, curl_cpu);
}

} // namespace

BENCHMARK(BM_HttpGet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HttpPut)
    ->ArgName("chunked")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
