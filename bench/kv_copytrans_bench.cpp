// Copy requests between two local folders, end to end through the transfer
// manager, against `cp` on the same data in the same run.
//
// Each iteration times `cp` (one big file) or `cp -r` (a tree of 4 KiB
// files) into a fresh destination, then the same copy as one transfer
// request, watched until it is Completed. The manual time is
// the request's; x_cp is cp's time over the request's (1.0: as fast as cp,
// higher is better). The local-disk file manager runs 1 or 4 workers.
//
// Sizes (environment): KV_BENCH_BIG_MIB (default 64; 1024 for the 1 GiB
// figure) and KV_BENCH_TREE_FILES (default 2000; 10000 for the full tree,
// 100000 for the memory figure).
//
// The loop that watches the request takes the managers' notices off their
// informers as the program's user-interface thread does, so that what the
// copy keeps in memory is the engine's own. peak_rss_mb is the highest
// resident size of the process seen while the request ran (sampled every
// millisecond), source data excluded: it lives on tmpfs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "kv_benchtools.h"
#include "local/kv_filemanstd.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filetransman.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using kvbench::env_num;

// The source data, made once per program run.
struct Data
{
    std::string root;
    uint64_t big_bytes = 0;
    uint64_t tree_files = 0;

    Data()
    {
        std::string templ = (fs::temp_directory_path() / "kvcpbench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr)
            return;
        root = templ;
        big_bytes = env_num("KV_BENCH_BIG_MIB", 64) << 20;
        tree_files = env_num("KV_BENCH_TREE_FILES", 2000);
        fs::create_directories(root + "/src/tree");
        std::mt19937_64 rng(42);
        std::vector<uint64_t> buf(1 << 17);
        {
            std::ofstream out(root + "/src/big.bin", std::ios::binary);
            for (uint64_t left = big_bytes; left > 0;) {
                for (auto& w : buf)
                    w = rng();
                const uint64_t n = std::min<uint64_t>(left, buf.size() * 8);
                out.write(reinterpret_cast<const char*>(buf.data()),
                          static_cast<std::streamsize>(n));
                left -= n;
            }
        }
        const std::string block(4096, 'x');
        for (uint64_t i = 0; i < tree_files; ++i) {
            const std::string dir = root + "/src/tree/d" + std::to_string(i / 100);
            if (i % 100 == 0)
                fs::create_directories(dir);
            std::ofstream(dir + "/f" + std::to_string(i % 100), std::ios::binary) << block;
        }
    }
    ~Data()
    {
        if (!root.empty()) {
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    }
};

Data& data()
{
    static Data d;
    return d;
}

void fresh(const std::string& path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
    fs::create_directories(path);
}

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The resident size of this process in bytes (0 when unknown).
uint64_t rss_bytes()
{
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    uint64_t resident = 0;
    if (!(statm >> pages >> resident))
        return 0;
    return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

// Takes every queued notice off `inf` and frees it.
void drain(KV_Informer& inf)
{
    while (KV_Msg* msg = inf.pop())
        KV_Informer::destroy(msg);
}

// The highest resident size seen during the last engine copy.
uint64_t g_peak_rss = 0;

// Copies `name` of src into a fresh dst through a copy request, with
// `workers` local-disk workers; the seconds it took, negative on failure.
double engine_copy(const std::string& name, uint32_t workers)
{
    const std::string& root = data().root;
    const std::string tmp = root + "/tmp";
    fresh(tmp);
    fresh(root + "/dst");
    if (!KV_File::set_path(KV_PATH_TMP, tmp.c_str()))
        return -1;
    KV_FileManParamsStd params;
    params.set_name("Local");
    params.opts_std().set_ntavos(workers);
    params.opts_std().set_recycle(false);
    KV_FileManStd fm(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
    if (!fm.init(&params) || !fm.start())
        return -1;
    KV_FileTransMan tm;
    KV_FileTransManOpts o;
    o.set_auto_rm_req(0);
    o.set_auto_rm_req_st(0);
    tm.set_opts(o);
    if (!tm.init() || !tm.start())
        return -1;
    KV_PathDef src;
    KV_PathDef dst;
    params.opts().man_path().split_path((root + "/src").c_str(), src, true);
    params.opts().man_path().split_path((root + "/dst").c_str(), dst, true);
    src.prepend("Local");
    dst.prepend("Local");
    KVTL::KV_ListVal<KV_String> names;
    names.add(name.c_str());
    const KVTL::KV_ListVal<KV_String> none;
    KV_FileReqTransParamsCp p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    auto* r = new KV_FileReqTransCp(&fm, &fm, src, dst, names, none, p);
    const auto t = Clock::now();
    if (!tm.add_req(r))
        return -1;
    // The manager keeps the finished request (no automatic removal), so
    // its status can be watched until the manager goes.
    g_peak_rss = 0;
    for (;;) {
        drain(fm.informer());
        drain(tm.informer());
        g_peak_rss = std::max(g_peak_rss, rss_bytes());
        const KV_REQ_STAT st = r->status();
        if (st == KV_REQ_STAT_COMPLETED)
            return seconds_since(t);
        if (st == KV_REQ_STAT_ERROR || st == KV_REQ_STAT_CANCELLED || seconds_since(t) > 3600)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// `cp` (with -r for a folder) of `name` into a fresh dst; seconds, negative
// on failure.
double cp_copy(const std::string& name, bool tree)
{
    const std::string& root = data().root;
    fresh(root + "/dst");
    const std::string cmd = std::string("cp ") + (tree ? "-r " : "") + "'" + root + "/src/" + name +
                            "' '" + root + "/dst/'";
    const auto t = Clock::now();
    if (std::system(cmd.c_str()) != 0)
        return -1;
    // The engine's copy ends with its log on disk; cp's data may still be
    // in the page cache either way, so neither is flushed.
    return seconds_since(t);
}

void run(benchmark::State& state, const std::string& name, bool tree, uint64_t bytes)
{
    const auto workers = static_cast<uint32_t>(state.range(0));
    if (data().root.empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    double cp_total = 0;
    double eng_total = 0;
    uint64_t peak = 0;
    for (auto _ : state) {
        const double c = cp_copy(name, tree);
        const double e = engine_copy(name, workers);
        if (c < 0 || e < 0) {
            state.SkipWithError("a copy failed");
            return;
        }
        cp_total += c;
        eng_total += e;
        peak = std::max(peak, g_peak_rss);
        state.SetIterationTime(e);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["x_cp"] = eng_total > 0 ? cp_total / eng_total : 0;
    state.counters["cp_s"] = benchmark::Counter(cp_total / static_cast<double>(state.iterations()));
    state.counters["peak_rss_mb"] = static_cast<double>(peak) / 1e6;
}

void BM_CopyRequestBigFile(benchmark::State& state)
{
    run(state, "big.bin", false, data().big_bytes);
    state.SetLabel(std::to_string(data().big_bytes >> 20) + " MiB vs cp");
}

void BM_CopyRequestTree(benchmark::State& state)
{
    run(state, "tree", true, data().tree_files * 4096);
    state.SetLabel(std::to_string(data().tree_files) + " files of 4 KiB vs cp -r");
}

BENCHMARK(BM_CopyRequestBigFile)
    ->ArgName("workers")
    ->Arg(1)
    ->Arg(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyRequestTree)
    ->ArgName("workers")
    ->Arg(1)
    ->Arg(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
