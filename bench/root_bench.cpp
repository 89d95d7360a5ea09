// The engine root's start-up and shut-down.
//
// BM_RootLoad: a new engine root reads a data-source file of many FTP data
// sources and reloads many saved copy requests (each waiting for its
// scheduled start) from their transfer logs: load_ds, then load_req.
// BM_RootTerm: term() polled until the transfer manager and the live local
// managers have all ended their threads.
//
// Sizes (environment): KV_BENCH_ROOT_DS (default 1000; 10000 for the full
// figure), KV_BENCH_ROOT_REQS (default 100; 1000 full), KV_BENCH_ROOT_MANS
// (default 100).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "foundation/kv_file.h"
#include "kv_benchtools.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "support/kv_testtools.h"

namespace {

using kvbench::env_num;

// Empties the engine root's informer (the notices pile up otherwise).
void drain(KV_FileManPool& pool)
{
    while (KV_Msg* m = pool.informer().pop()) {
        pool.process_ntf(m);
        KV_Informer::destroy(m);
    }
}

// Polls term() as the program's idle handler does.
bool term(KV_FileManPool& pool)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!pool.term()) {
        drain(pool);
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    drain(pool);
    return true;
}

void set_paths(const kvtest::TempDir& tmp)
{
    for (const char* sub : {"settings", "tmp", "systmp", "src", "dst"})
        KV_File::mkdir((tmp / sub).c_str());
    KV_File::set_path(KV_PATH_SETTINGS, (tmp / "settings").c_str());
    KV_File::set_path(KV_PATH_TMP, (tmp / "tmp").c_str());
    KV_File::set_path(KV_PATH_SYS_TMP, (tmp / "systmp").c_str());
}

// The data-source file and the saved requests, made once.
struct Saved
{
    kvtest::TempDir tmp{"kv_root_bench"};
    uint64_t nds = env_num("KV_BENCH_ROOT_DS", 1000);
    uint64_t nreqs = env_num("KV_BENCH_ROOT_REQS", 100);
    bool ok = false;

    Saved()
    {
        if (!tmp.ok())
            return;
        set_paths(tmp);
        if (!kvtest::write_file(tmp / "settings/kivrel.ds", ""))
            return;
        auto pool = std::make_unique<KV_FileManPool>();
        if (!pool->load_ds() || !pool->load_req())
            return;
        pool->tree().set_autosave(false);
        for (uint64_t i = 0; i < nds; ++i) {
            KV_DsTreeNodeFtp n;
            const std::string name = "Server " + std::to_string(i);
            n.set_name(name.c_str());
            n.params_ftp().set_dst_addr(("ftp" + std::to_string(i) + ".example.com").c_str());
            n.params_ftp().ldata().set_user("user");
            if (pool->new_ds(&n, 0) == nullptr)
                return;
        }
        pool->tree().set_autosave(true);
        if (!pool->save())
            return;

        // Copies that wait for a daily start: taken up (their logs written)
        // but never run.
        const KV_DsId local = pool->tree().find(KV_DS_NODE_STD, false)->id();
        KV_FileMan* a = pool->reg(KV_FileManId(local, 0));
        KV_FileMan* b = pool->reg(KV_FileManId(local, 0));
        if (a == nullptr || b == nullptr || !pool->man_trans().start())
            return;
        a->lock(false);
        b->lock(false);
        KV_PathDef from, to;
        a->man_path().split_path((tmp / "src").c_str(), from, true);
        from.prepend(a->man_path().dir_pre());
        b->man_path().split_path((tmp / "dst").c_str(), to, true);
        to.prepend(b->man_path().dir_pre());
        KV_FileReqTransParamsCp params;
        params.set_tm_type(2);
        params.set_tm_def(3 * 3600);
        for (uint64_t i = 0; i < nreqs; ++i) {
            KVTL::KV_ListVal<KV_String> names;
            names.add(("f" + std::to_string(i)).c_str());
            if (!pool->copy(a->id(), b->id(), from, to, names, KVTL::KV_ListVal<KV_String>(),
                            params))
                return;
        }
        // Wait until every request has its log on disk.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        for (;;) {
            drain(*pool);
            uint64_t logs = 0;
            for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(tmp / "tmp"))
                ++logs;
            if (logs >= nreqs)
                break;
            if (std::chrono::steady_clock::now() > end)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        a->unlock(false);
        b->unlock(false);
        ok = term(*pool);
    }
};

Saved& saved()
{
    static Saved s;
    return s;
}

void BM_RootLoad(benchmark::State& state)
{
    Saved& s = saved();
    if (!s.ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    set_paths(s.tmp);
    double reloaded = 0;
    for (auto _ : state) {
        auto pool = std::make_unique<KV_FileManPool>();
        if (!pool->load_ds() || !pool->load_req()) {
            state.SkipWithError("load failed");
            return;
        }
        state.PauseTiming();
        // The requests wait in the intake until the thread starts.
        reloaded = pool->man_trans().list_req_add().size();
        term(*pool);
        pool.reset();
        state.ResumeTiming();
    }
    state.counters["data_sources"] = static_cast<double>(s.nds);
    state.counters["requests"] = static_cast<double>(s.nreqs);
    state.counters["reloaded"] = reloaded;
}
BENCHMARK(BM_RootLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RootTerm(benchmark::State& state)
{
    kvtest::TempDir tmp{"kv_root_term"};
    set_paths(tmp);
    kvtest::write_file(tmp / "settings/kivrel.ds", "");
    const uint64_t nmans = env_num("KV_BENCH_ROOT_MANS", 100);
    for (auto _ : state) {
        state.PauseTiming();
        auto pool = std::make_unique<KV_FileManPool>();
        bool ok = pool->load_ds() && pool->load_req() && pool->man_trans().start();
        const KV_DsId local = pool->tree().find(KV_DS_NODE_STD, false)->id();
        for (uint64_t i = 0; ok && i < nmans; ++i)
            ok = pool->reg(KV_FileManId(local, 0)) != nullptr;
        drain(*pool);
        if (!ok) {
            state.SkipWithError("set-up failed");
            return;
        }
        state.ResumeTiming();
        if (!term(*pool)) {
            state.SkipWithError("term did not end");
            return;
        }
        state.PauseTiming();
        pool.reset();
        state.ResumeTiming();
    }
    state.counters["managers"] = static_cast<double>(nmans);
}
BENCHMARK(BM_RootTerm)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
