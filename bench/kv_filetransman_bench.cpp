// Rename and delete transfer requests against the system's tools.
//
// A tree of files (the argument: 10,000 by default, 100 files to a folder)
// is deleted by a delete request of the transfer manager on the local-disk
// file manager (4 workers, no questions): the delete walker lists every
// folder, records each entry in the request log before it queues its delete
// and again when it is gone, and empties folders before it removes them. In
// the same run `rm -r` deletes an identical tree; x_rm is the request's time
// over rm's.
//
// Renames: the whole tree moved into an empty folder (one rename, as `mv`
// does it: x_mv), and the tree merged into a folder that holds its folders
// already, so that every file is renamed on its own and recorded twice
// (x_mv against `mv` of the same tree as a whole).
//
// The log writes alone: one record appended per file and rewritten in place
// once it is done, as the walkers write them, on a request log in the same
// folder; us_per_file is their cost per file, which the walkers' per-file
// figures include.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_path.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_reqmsg.h"
#include "root/kv_filemanpool.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_translogfilegrp.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int PER_FOLDER = 100;

std::string make_temp(const std::string& under)
{
    std::string templ = under + "/kvtmbench-XXXXXX";
    return ::mkdtemp(templ.data()) ? templ : std::string();
}

// `root`/t with `nfiles` files, PER_FOLDER to a folder; with `skeleton` the
// folders only.
void make_tree(const std::string& root, int nfiles, bool skeleton = false)
{
    for (int d = 0; d * PER_FOLDER < nfiles; ++d) {
        const std::string dir = root + "/t/d" + std::to_string(d);
        fs::create_directories(dir);
        for (int f = 0; !skeleton && f < PER_FOLDER && d * PER_FOLDER + f < nfiles; ++f)
            std::ofstream(dir + "/f" + std::to_string(f), std::ios::binary) << "x";
    }
}

KV_PathDef local(const std::string& abs)
{
    KV_PathDef p;
    KV_FileReqManOpts().man_path().split_path(abs.c_str(), p, true);
    p.prepend("Local");
    return p;
}

double run_tool(const std::string& line)
{
    const auto t0 = Clock::now();
    if (std::system(line.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The engine root, the local disk and the transfer manager.
struct Engine
{
    Engine() : disk(KV_FileManId(KV_DsId(1, "Local", "", ""), 1))
    {
        KV_FileManParamsStd p;
        p.set_name("Local");
        p.opts_std().set_ntavos(4);
        p.opts_std().set_recycle(false);
        disk.init(&p);
        disk.start();
        KV_FileTransManOpts o;
        o.set_ntavos(2);
        tm.set_opts(o);
        tm.init();
        tm.start();
    }
    // Runs `r` and waits for its end; whether it completed.
    bool run(KV_FileReqTrans* r)
    {
        if (!tm.add_req(r))
            return false;
        for (;;) {
            while (KV_Msg* m = disk.informer().pop())
                KV_Informer::destroy(m);
            while (KV_Msg* m = pool.informer().pop()) {
                const auto* n = m->type() == KV_MSG_REQ ? static_cast<KV_MsgReqNtf*>(m) : nullptr;
                const KV_REQ_STAT st = n != nullptr && n->ntf == KV_REQ_NTF_STATUS
                                           ? n->info.status()
                                           : KV_REQ_STAT_QUEUED;
                KV_Informer::destroy(m);
                if (KV_FileReq::processed(st))
                    return st == KV_REQ_STAT_COMPLETED;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    KV_FileManPool pool;
    KV_FileManStd disk;
    KV_FileTransMan tm;
};

template <class P> P forced()
{
    P p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    return p;
}

struct Names : KVTL::KV_ListVal<KV_String>
{
    explicit Names(const char* n) { add(n); }
};

void BM_TransDeleteTree(benchmark::State& state)
{
    const int nfiles = static_cast<int>(state.range(0));
    const std::string base = make_temp("/tmp");
    KV_File::set_path(KV_PATH_TMP, (base + "/logs").c_str());
    fs::create_directories(base + "/logs");
    double req_s = 0;
    double rm_s = 0;
    bool failed = false;
    for (auto _ : state) {
        state.PauseTiming();
        make_tree(base + "/a", nfiles);
        make_tree(base + "/b", nfiles);
        Engine e;
        state.ResumeTiming();
        const auto t0 = Clock::now();
        failed |= !e.run(new KV_FileReqTransRm(&e.disk, local(base + "/a"), Names("t"),
                                               forced<KV_FileReqTransParamsRm>()));
        req_s += std::chrono::duration<double>(Clock::now() - t0).count();
        state.PauseTiming();
        const double t = run_tool("rm -r " + base + "/b/t");
        failed |= t < 0;
        rm_s += t;
        state.ResumeTiming();
    }
    fs::remove_all(base);
    if (failed)
        state.SkipWithError("a delete failed");
    state.counters["x_rm"] = rm_s > 0 ? req_s / rm_s : 0;
    state.counters["rm_ms"] = rm_s * 1000 / double(state.iterations());
    state.counters["us_per_file"] = req_s * 1e6 / (double(nfiles) * double(state.iterations()));
}
BENCHMARK(BM_TransDeleteTree)
    ->Arg(10000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// `merge`: the destination holds the tree's folders already.
void rename_tree(benchmark::State& state, bool merge)
{
    const int nfiles = static_cast<int>(state.range(0));
    const std::string base = make_temp("/tmp");
    KV_File::set_path(KV_PATH_TMP, (base + "/logs").c_str());
    fs::create_directories(base + "/logs");
    double req_s = 0;
    double mv_s = 0;
    bool failed = false;
    for (auto _ : state) {
        state.PauseTiming();
        make_tree(base + "/a", nfiles);
        make_tree(base + "/b", nfiles);
        fs::create_directories(base + "/a2");
        fs::create_directories(base + "/b2");
        if (merge)
            make_tree(base + "/a2", nfiles, true);
        Engine e;
        state.ResumeTiming();
        const auto t0 = Clock::now();
        failed |= !e.run(new KV_FileReqTransRen(&e.disk, local(base + "/a"), local(base + "/a2"),
                                                Names("t"), forced<KV_FileReqTransParamsRen>()));
        req_s += std::chrono::duration<double>(Clock::now() - t0).count();
        state.PauseTiming();
        const double t = run_tool("mv " + base + "/b/t " + base + "/b2/");
        failed |= t < 0;
        mv_s += t;
        fs::remove_all(base + "/a");
        fs::remove_all(base + "/a2");
        fs::remove_all(base + "/b");
        fs::remove_all(base + "/b2");
        for (const auto& f : fs::directory_iterator(base + "/logs"))
            fs::remove(f.path());
        state.ResumeTiming();
    }
    fs::remove_all(base);
    if (failed)
        state.SkipWithError("a rename failed");
    state.counters["x_mv"] = mv_s > 0 ? req_s / mv_s : 0;
    state.counters["mv_ms"] = mv_s * 1000 / double(state.iterations());
    state.counters["us_per_file"] = req_s * 1e6 / (double(nfiles) * double(state.iterations()));
}

void BM_TransRenameTree(benchmark::State& state)
{
    rename_tree(state, false);
}
BENCHMARK(BM_TransRenameTree)
    ->Arg(10000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_TransMergeTree(benchmark::State& state)
{
    rename_tree(state, true);
}
BENCHMARK(BM_TransMergeTree)
    ->Arg(10000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The two writes per file that the walkers make: the record appended before
// the entry's request is queued, rewritten when it is done.
void BM_TransLogWrites(benchmark::State& state)
{
    const int nfiles = static_cast<int>(state.range(0));
    const std::string base = make_temp("/tmp");
    KV_File::set_path(KV_PATH_TMP, base.c_str());
    const KV_PathDef dir = local(base + "/t/d0");
    double log_s = 0;
    for (auto _ : state) {
        state.PauseTiming();
        KV_FileReqTransRm req(nullptr, dir, Names("t"), KV_FileReqTransParamsRm());
        req.pre_add();
        KV_TransLogTrans& log = req.log_trans();
        state.ResumeTiming();
        const auto t0 = Clock::now();
        for (int f = 0; f < nfiles; ++f) {
            KV_PathDef p(dir);
            p.append(KV_String::format_impl("f%d", f));
            KV_TransLogFileGrpFop open(p, KV_TransLogFileGrpFop::ST_OPEN, 0);
            KV_TransLogFileGrpFop done(p, KV_TransLogFileGrpFop::ST_DONE,
                                       KV_TransLogFileGrpFop::OP_DELETED);
            if (!log.set_status(open) || !log.set_status(done)) {
                state.SkipWithError("a log write failed");
                break;
            }
        }
        log_s += std::chrono::duration<double>(Clock::now() - t0).count();
        state.PauseTiming();
        log.del_log();
        state.ResumeTiming();
    }
    fs::remove_all(base);
    state.counters["us_per_file"] = log_s * 1e6 / (double(nfiles) * double(state.iterations()));
}
BENCHMARK(BM_TransLogWrites)
    ->Arg(10000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
