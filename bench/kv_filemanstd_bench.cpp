// The local-disk worker's own copy path against the system's tools.
//
// A tree of 10,000 files of 4 KiB (100 folders of 100 files) is moved from
// /tmp to /dev/shm through the local-disk file manager: one make-folder
// request per folder, then one rename request per file, added the way a
// transfer adds its steps: while the manager is within its busy limit. Across two file
// systems every rename is the worker's copy (next to the target, renamed
// into place, times and permissions kept) followed by the removal of the
// source. The same tree is copied with `cp -r` and moved with `mv`, which
// does the same copy and removal. When /dev/shm is on the same file system
// as /tmp the renames stay renames: the label says which was measured.
//
// The same tree is also copied by the local worker's copy steps
// (KV_FileReqCopy), one store step per file with a memory-only copy sub-log
// as a copy between two local folders runs them: the file is copied where it
// lies, its progress going through the sub-log. That run also times `cp -r`
// on the same tree and reports the ratio (x_cp: the steps' time over cp's).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_path.h"
#include "foundation/kv_tmpfile.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "support/kv_testtools.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_translogtrans.h"

namespace fs = std::filesystem;

namespace {

constexpr int NDIRS = 100;
constexpr int NFILES = 100;
constexpr size_t FILE_SIZE = 4096;

using kvtest::NullErr;

std::string make_temp(const std::string& under)
{
    std::string templ = under + "/kvfmbench-XXXXXX";
    return ::mkdtemp(templ.data()) ? templ : std::string();
}

void make_tree(const std::string& root)
{
    const std::string data(FILE_SIZE, 'x');
    for (int d = 0; d < NDIRS; ++d) {
        const std::string dir = root + "/d" + std::to_string(d);
        fs::create_directories(dir);
        for (int f = 0; f < NFILES; ++f)
            std::ofstream(dir + "/f" + std::to_string(f), std::ios::binary) << data;
    }
}

bool cross_fs(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev != sb.st_dev;
}

KV_PathDef local(const KV_PathMan& syntax, const std::string& abs)
{
    KV_PathDef p;
    syntax.split_path(abs.c_str(), p, true);
    p.prepend("Local");
    return p;
}

void BM_ManagerMoveTree(benchmark::State& state)
{
    const uint32_t workers = static_cast<uint32_t>(state.range(0));
    KV_FileManParamsStd params;
    params.set_name("Local");
    params.opts_std().set_ntavos(workers);
    params.opts_std().set_recycle(false);
    KV_FileManStd fm(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
    if (!fm.init(&params) || !fm.start()) {
        state.SkipWithError("the file manager did not start");
        return;
    }
    const KV_PathMan syntax = params.opts().man_path();
    NullErr eh;
    bool failed = false;
    std::string label;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string src = make_temp("/tmp");
        const std::string dst = make_temp("/dev/shm");
        make_tree(src);
        label = cross_fs(src, dst) ? "copy and delete across file systems"
                                   : "rename on one file system";
        state.ResumeTiming();

        std::vector<std::unique_ptr<KV_FileReqObs>> obs;
        obs.reserve(NDIRS * (NFILES + 1));
        for (int d = 0; d < NDIRS; ++d) {
            obs.push_back(std::make_unique<KV_FileReqObs>());
            const std::string dir = dst + "/d" + std::to_string(d);
            failed |= !fm.add_req(new KV_FileReqMkDir(eh, local(syntax, dir)), nullptr,
                                  obs.back().get(), KV_REQ_STAT_QUEUED);
        }
        for (auto& o : obs)
            o->wait();
        for (int d = 0; d < NDIRS; ++d) {
            const std::string sub = "/d" + std::to_string(d);
            for (int f = 0; f < NFILES; ++f) {
                const std::string name = sub + "/f" + std::to_string(f);
                obs.push_back(std::make_unique<KV_FileReqObs>());
                fm.wait_nbusy();
                failed |= !fm.add_req(new KV_FileReqRen(eh, local(syntax, src + name),
                                                        local(syntax, dst + name), false, false),
                                      nullptr, obs.back().get(), KV_REQ_STAT_QUEUED);
            }
        }
        for (auto& o : obs) {
            o->wait();
            failed |= !o->completed();
        }

        state.PauseTiming();
        fs::remove_all(src);
        fs::remove_all(dst);
        state.ResumeTiming();
    }
    if (failed)
        state.SkipWithError("a request failed");
    state.SetLabel(label);
    state.SetItemsProcessed(state.iterations() * NDIRS * NFILES);
    state.SetBytesProcessed(state.iterations() * NDIRS * NFILES * int64_t{FILE_SIZE});
}
BENCHMARK(BM_ManagerMoveTree)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// `cmd` is "cp -r" or "mv": the system's tool on the same tree.
void tool_tree(benchmark::State& state, const char* cmd)
{
    bool failed = false;
    std::string label;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string src = make_temp("/tmp");
        const std::string dst = make_temp("/dev/shm");
        make_tree(src);
        label = cross_fs(src, dst) ? "across file systems" : "one file system";
        const std::string line = std::string(cmd) + " '" + src + "' '" + dst + "/tree'";
        state.ResumeTiming();

        failed |= std::system(line.c_str()) != 0;

        state.PauseTiming();
        fs::remove_all(src);
        fs::remove_all(dst);
        state.ResumeTiming();
    }
    if (failed)
        state.SkipWithError("the tool failed");
    state.SetLabel(label);
    state.SetItemsProcessed(state.iterations() * NDIRS * NFILES);
    state.SetBytesProcessed(state.iterations() * NDIRS * NFILES * int64_t{FILE_SIZE});
}

void BM_CpTree(benchmark::State& state)
{
    tool_tree(state, "cp -r");
}
BENCHMARK(BM_CpTree)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_MvTree(benchmark::State& state)
{
    tool_tree(state, "mv");
}
BENCHMARK(BM_MvTree)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Copies through the local worker's copy steps

class BenchStep : public KV_FileReqCopy
{
public:
    BenchStep(KV_ErrHandler& eh, KV_FileReqTransCp& t, KV_TransLogCp* log, const KV_ComplPath& src,
              const KV_ComplPath& dst)
        : KV_FileReqCopy(eh, t, log, src, dst, nullptr, KV_FILE_TRANS_TYPE_STORE, true, false)
    {
    }
};

void BM_ManagerCopyTree(benchmark::State& state)
{
    const uint32_t workers = static_cast<uint32_t>(state.range(0));
    KV_FileManParamsStd params;
    params.set_name("Local");
    params.opts_std().set_ntavos(workers);
    KV_FileManStd fm(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
    if (!fm.init(&params) || !fm.start()) {
        state.SkipWithError("the file manager did not start");
        return;
    }
    // The manager's notation: its prefix is the data source's name.
    const KV_PathMan syntax = fm.man_path();
    const KV_PathMan data_syntax = KV_TransLog::tmp_file_man().path_man();
    NullErr eh;
    // The copy request the steps belong to: both sides are the one manager.
    const KVTL::KV_ListVal<KV_String> none;
    KV_FileReqTransCp trans(&fm, &fm, KV_PathDef(), KV_PathDef(), none, none,
                            KV_FileReqTransParamsCp());
    bool failed = false;
    double steps_s = 0;
    double cp_s = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string src = make_temp("/tmp");
        const std::string dst = make_temp("/dev/shm");
        make_tree(src);
        // The sub-logs of a copy between two local folders: no file, no data.
        std::vector<std::unique_ptr<KV_TransLogCp>> logs;
        logs.reserve(NDIRS * NFILES);
        for (int d = 0; d < NDIRS; ++d) {
            for (int f = 0; f < NFILES; ++f) {
                const std::string name = "/d" + std::to_string(d) + "/f" + std::to_string(f);
                KV_FileData fd(("f" + std::to_string(f)).c_str(), "", FILE_SIZE, KV_Time());
                fd.set_fd_flags(KV_FD_SIZE, 0);
                logs.push_back(std::make_unique<KV_TransLogCp>(&trans, (src + name).c_str(), fd,
                                                               local(syntax, src + name),
                                                               local(syntax, dst + name)));
                logs.back()->set_no_file(true);
                logs.back()->set_status(KV_TransLogCp::ST_RECEIVING);
            }
        }
        const auto t0 = std::chrono::steady_clock::now();
        state.ResumeTiming();

        std::vector<std::unique_ptr<KV_FileReqObs>> obs;
        obs.reserve(NDIRS * (NFILES + 1));
        for (int d = 0; d < NDIRS; ++d) {
            obs.push_back(std::make_unique<KV_FileReqObs>());
            const std::string dir = dst + "/d" + std::to_string(d);
            failed |= !fm.add_req(new KV_FileReqMkDir(eh, local(syntax, dir)), nullptr,
                                  obs.back().get(), KV_REQ_STAT_QUEUED);
        }
        for (auto& o : obs)
            o->wait();
        for (int d = 0; d < NDIRS; ++d) {
            for (int f = 0; f < NFILES; ++f) {
                const std::string name = "/d" + std::to_string(d) + "/f" + std::to_string(f);
                obs.push_back(std::make_unique<KV_FileReqObs>());
                fm.wait_nbusy();
                failed |=
                    !fm.add_req(new BenchStep(eh, trans, logs[size_t(d * NFILES + f)].get(),
                                              KV_ComplPath(data_syntax, KV_PathDef()),
                                              KV_ComplPath(syntax, local(syntax, dst + name))),
                                &trans, obs.back().get(), KV_REQ_STAT_QUEUED);
            }
        }
        for (auto& o : obs) {
            o->wait();
            failed |= !o->completed();
        }

        state.PauseTiming();
        steps_s += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        for (const auto& l : logs)
            failed |= l->status() != KV_TransLogCp::ST_DONE;
        // The system's tool on the same tree, to the same file system.
        const std::string line = "cp -r '" + src + "' '" + dst + "/cp'";
        const auto c0 = std::chrono::steady_clock::now();
        failed |= std::system(line.c_str()) != 0;
        cp_s += std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count();
        fs::remove_all(src);
        fs::remove_all(dst);
        state.ResumeTiming();
    }
    if (failed)
        state.SkipWithError("a copy failed");
    state.SetLabel("copy steps, /tmp to /dev/shm");
    state.counters["x_cp"] = cp_s > 0 ? steps_s / cp_s : 0;
    state.counters["cp_ms"] = cp_s * 1000 / double(state.iterations());
    state.SetItemsProcessed(state.iterations() * NDIRS * NFILES);
    state.SetBytesProcessed(state.iterations() * NDIRS * NFILES * int64_t{FILE_SIZE});
}
BENCHMARK(BM_ManagerCopyTree)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
