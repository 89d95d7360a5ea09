// Elementary copies on the local disk, end to end through the local-disk file
// manager and its workers: a direct copy reporting its progress through the
// copy sub-log, a cancel in the middle of a copy and of a read-in, a file
// read into a sub-log and written out of it, a segmented file whose
// fragments arrive from several threads and resume the waiting store half,
// and links in the destination that a store step never writes through.
// Runs under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_tmpfile.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_filereqtasks.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_filereqtaskstrans.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_translogtrans.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t LONG_WAIT_MS = 120000;
using Bytes = std::vector<unsigned char>;

using kvtest::LogErr;

// One elementary copy step, as the transfer worker builds them.
class Step : public KV_FileReqCopy
{
public:
    Step(KV_ErrHandler& eh, KV_FileReqTransCp& t, KV_TransLogCp* log, const KV_ComplPath& src,
         const KV_ComplPath& dst, KV_FileFrag* frag, KV_FILE_TRANS_TYPE type)
        : KV_FileReqCopy(eh, t, log, src, dst, frag, type, true, false)
    {
    }
};

// A sub-log that records every progress value it works out, and can slow
// the copy down so that a cancel lands in its middle.
class WatchedLog : public KV_TransLogCp
{
public:
    using KV_TransLogCp::KV_TransLogCp;

    void progress(int64_t n) override
    {
        KV_TransLogCp::progress(n);
        {
            std::lock_guard<std::mutex> g(m);
            values.push_back(prog());
            positions.push_back(n);
        }
        ++calls;
        if (delay.count() > 0)
            std::this_thread::sleep_for(delay);
    }
    std::vector<int32_t> seen()
    {
        std::lock_guard<std::mutex> g(m);
        return values;
    }
    std::vector<int64_t> seen_at()
    {
        std::lock_guard<std::mutex> g(m);
        return positions;
    }

    std::atomic<int> calls{0};
    std::chrono::milliseconds delay{0};

private:
    std::mutex m;
    std::vector<int32_t> values;
    std::vector<int64_t> positions;
};

Bytes pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 131 + seed) ^ (i >> 9));
    return b;
}

void write_file(const std::string& path, const Bytes& b)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

KV_FileData entry(const std::string& name, int64_t size)
{
    KV_FileData fd(name.c_str(), "", size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    return fd;
}

class LocalCopy : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        suite = std::make_unique<kvtest::TempDir>("kvfmcopy");
        ASSERT_TRUE(suite->ok());
        suite_dir = suite->path();
        fs::create_directory(suite_dir + "/tmp");
        // Sub-log files go to the program's temporary folder.
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (suite_dir + "/tmp").c_str()));
    }
    static void TearDownTestSuite() { suite.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(tmp.ok());
        fm = std::make_unique<KV_FileManStd>(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
        params.set_name("Local");
        params.opts_std().set_ntavos(2);
        ASSERT_TRUE(fm->init(&params));
        ASSERT_TRUE(fm->start());
        // The copy request that the steps belong to, between two folders of
        // the local disk.
        const KVTL::KV_ListVal<KV_String> none;
        trans_ = std::make_unique<KV_FileReqTransCp>(fm.get(), fm.get(), local(dir), local(dir),
                                                     none, none, KV_FileReqTransParamsCp());
    }
    void TearDown() override
    {
        trans_.reset();
        fm.reset();
    }

    KV_PathDef local(const std::string& abs) const
    {
        KV_PathDef p;
        EXPECT_TRUE(params.opts().man_path().split_path(abs.c_str(), p, true));
        p.prepend("Local");
        return p;
    }
    KV_ComplPath on_disk(const std::string& abs) const
    {
        return KV_ComplPath(fm->man_path(), local(abs));
    }
    // The sub-log's data file in the temporary files' notation.
    static KV_ComplPath data_path(const KV_TransLogCp& log)
    {
        KV_PathDef p;
        EXPECT_TRUE(log.own_path(p));
        return KV_ComplPath(KV_TransLog::tmp_file_man().path_man(), p);
    }
    // A sub-log with a file of its own that keeps the data, created and
    // receiving, as the transfer worker starts one.
    std::unique_ptr<WatchedLog> kept_log(const std::string& src, const std::string& dst,
                                         int64_t size, bool multifrag, int64_t min_size = 0)
    {
        auto log = std::make_unique<WatchedLog>(trans_.get(), "", entry("f", size), local(src),
                                                local(dst));
        log->set_flags_init(true, multifrag, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        if (min_size > 0)
            log->man_frag().set_min_size(min_size);
        KV_PathDef name;
        EXPECT_TRUE(KV_TransLog::tmp_file_man().new_file(KV_PATH_TMP, name, ""));
        EXPECT_TRUE(log->set_path(name));
        EXPECT_TRUE(log->create(trans_->eh()));
        EXPECT_TRUE(log->set_status(KV_TransLogCp::ST_RECEIVING));
        return log;
    }

    KV_REQ_STAT run(KV_FileReq* r)
    {
        KV_FileReqObs obs;
        if (!fm->add_req(r, trans_.get(), &obs, KV_REQ_STAT_QUEUED))
            return KV_REQ_STAT_ERROR;
        EXPECT_FALSE(obs.wait(LONG_WAIT_MS)) << "request did not end";
        return obs.status();
    }
    // What a store step left under its temporary name beside `dst`, given
    // the name `dst` as the transfer does once its checks have passed; the
    // bytes at `dst` afterwards. Before, no file stands under the name.
    Bytes deliver(const std::string& dst)
    {
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(dst))) << "delivered before the checks";
        EXPECT_TRUE(fm->settle_store(local(dir), local(dst), true)) << std::strerror(errno);
        return read_file(dst);
    }
    // The names in `folder`, hidden ones included.
    static std::vector<std::string> names_in(const std::string& folder)
    {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(folder))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Whether the manager told the tree that `path` was created.
    bool tree_told(const KV_PathDef& path)
    {
        bool told = false;
        while (KV_Msg* m = fm->informer().pop()) {
            if (m->type() == KV_MSG_TREE_EXP && static_cast<KV_MsgTree*>(m)->path == path)
                told = true;
            KV_Informer::destroy(m);
        }
        return told;
    }

    static inline std::unique_ptr<kvtest::TempDir> suite;
    static inline std::string suite_dir;
    kvtest::TempDir tmp{"case", suite_dir.c_str()};
    const std::string dir = tmp.path();
    KV_FileManParamsStd params;
    std::unique_ptr<KV_FileManStd> fm;
    std::unique_ptr<KV_FileReqTransCp> trans_;
    LogErr eh;
};

TEST_F(LocalCopy, DirectCopyReportsItsProgressThroughTheSubLog)
{
    const std::string src = dir + "/src.bin";
    const std::string dst = dir + "/dst.bin";
    // Several pieces of any size the copy reads in, and a short last one.
    const Bytes data = pattern(3 * 256 * 1024 + 8315, 1);
    write_file(src, data);
    const auto size = static_cast<int64_t>(data.size());

    // Between two local folders the sub-log has no file and keeps no data.
    WatchedLog log(trans_.get(), src.c_str(), entry("src.bin", size), local(src), local(dst));
    log.set_no_file(true);
    ASSERT_TRUE(log.set_status(KV_TransLogCp::ST_RECEIVING));
    // The fetch half has nothing to do: the store half reads the source.
    EXPECT_EQ(run(new Step(eh, *trans_, &log, on_disk(src), data_path(log), nullptr,
                           KV_FILE_TRANS_TYPE_FETCH)),
              KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(log.calls.load(), 0);
    EXPECT_FALSE(fs::exists(dst));

    EXPECT_EQ(run(new Step(eh, *trans_, &log, data_path(log), on_disk(dst), nullptr,
                           KV_FILE_TRANS_TYPE_STORE)),
              KV_REQ_STAT_COMPLETED)
        << eh.all();
    EXPECT_EQ(deliver(dst), data);
    EXPECT_EQ(log.status(), KV_TransLogCp::ST_DONE);
    EXPECT_EQ(log.prog(), KV_TransLogCp::PROG_DONE);
    EXPECT_TRUE(tree_told(local(dst)));

    // One value per piece written, each for the bytes then on the disk,
    // rising to 201 at the whole file, then "done".
    const std::vector<int32_t> values = log.seen();
    const std::vector<int64_t> at = log.seen_at();
    ASSERT_GE(values.size(), 3u);
    ASSERT_EQ(at.size(), values.size());
    for (size_t i = 0; i + 1 < values.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GT(at[i], i == 0 ? 0 : at[i - 1]);
        EXPECT_LE(at[i], size);
        EXPECT_EQ(values[i], 101 + int32_t(at[i] * 100 / size));
    }
    EXPECT_EQ(at[values.size() - 2], size);
    EXPECT_EQ(values[values.size() - 2], 201);
    EXPECT_EQ(values.back(), KV_TransLogCp::PROG_DONE);
}

TEST_F(LocalCopy, CancelInTheMiddleOfADirectCopy)
{
    const std::string src = dir + "/src.bin";
    const std::string dst = dir + "/dst.bin";
    const Bytes data = pattern(64 * 32768, 2);
    write_file(src, data);
    WatchedLog log(trans_.get(), src.c_str(), entry("src.bin", int64_t(data.size())), local(src),
                   local(dst));
    log.set_no_file(true);
    log.delay = 5ms;

    KV_FileReqObs obs;
    ASSERT_TRUE(fm->add_req(new Step(eh, *trans_, &log, data_path(log), on_disk(dst), nullptr,
                                     KV_FILE_TRANS_TYPE_STORE),
                            trans_.get(), &obs, KV_REQ_STAT_QUEUED));
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (log.calls.load() < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    ASSERT_GE(log.calls.load(), 2) << "the copy was never seen under way";
    ASSERT_TRUE(fm->add_task(KV_FileReqTaskCancel(0, false)));
    ASSERT_FALSE(obs.wait(LONG_WAIT_MS));
    EXPECT_EQ(obs.status(), KV_REQ_STAT_CANCELLED);

    // Nothing of the cut copy stands at the destination, under its name or
    // beside it: the next attempt writes the file anew.
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"src.bin"});
    EXPECT_EQ(read_file(src), data) << "the source is untouched";
    // The copy is delivering, not done; a cancel is no error to report.
    EXPECT_EQ(log.status(), KV_TransLogCp::ST_DELIVERING);
    EXPECT_GE(log.prog(), 101);
    EXPECT_LT(log.prog(), 201);
    EXPECT_EQ(eh.all(), "");
    EXPECT_FALSE(tree_told(local(dst)));
}

TEST_F(LocalCopy, FileReadIntoTheSubLogAndWrittenOut)
{
    const std::string src = dir + "/src.bin";
    const std::string dst = dir + "/dst.bin";
    const Bytes data = pattern(3 * 32768 + 5, 3);
    write_file(src, data);
    const auto size = static_cast<int64_t>(data.size());
    auto log = kept_log(src, dst, size, false);

    EXPECT_EQ(run(new Step(eh, *trans_, log.get(), on_disk(src), data_path(*log), nullptr,
                           KV_FILE_TRANS_TYPE_FETCH)),
              KV_REQ_STAT_COMPLETED)
        << eh.all();
    EXPECT_EQ(log->size(), size);
    EXPECT_EQ(log->seen(), (std::vector<int32_t>{33, 66, 99, 100})) << "one value per chunk read";
    EXPECT_FALSE(fs::exists(dst));

    EXPECT_EQ(run(new Step(eh, *trans_, log.get(), data_path(*log), on_disk(dst), nullptr,
                           KV_FILE_TRANS_TYPE_STORE)),
              KV_REQ_STAT_COMPLETED)
        << eh.all();
    EXPECT_EQ(deliver(dst), data);
    EXPECT_EQ(log->status(), KV_TransLogCp::ST_DONE);
    EXPECT_EQ(log->prog(), KV_TransLogCp::PROG_DONE);
    EXPECT_TRUE(tree_told(local(dst)));

    // Everything that changed was rewritten in the sub-log file.
    KV_TransLogCp back(nullptr, log->name());
    ASSERT_TRUE(back.restore(eh, nullptr));
    EXPECT_EQ(back.status(), KV_TransLogCp::ST_DONE);
    EXPECT_EQ(back.size(), size);
    EXPECT_EQ(back.data_offset(), log->data_offset());
    back.close();
    EXPECT_TRUE(fs::remove(log->name().data()));
    KV_TransLog::tmp_file_man().unreg(log->name());
}

TEST_F(LocalCopy, FailedAndCancelledReadIns)
{
    const std::string src = dir + "/src.bin";
    auto log = kept_log(src, dir + "/dst.bin", 100, false);
    EXPECT_EQ(run(new Step(eh, *trans_, log.get(), on_disk(src), data_path(*log), nullptr,
                           KV_FILE_TRANS_TYPE_FETCH)),
              KV_REQ_STAT_ERROR);
    EXPECT_NE(eh.all().find("Couldn't write the temporary file."), std::string::npos) << eh.all();
    EXPECT_NE(eh.all().find("No such file or directory"), std::string::npos) << eh.all();

    // A read-in cut short keeps no count.
    const Bytes data = pattern(64 * 32768, 4);
    write_file(src, data);
    LogErr quiet;
    auto slow = kept_log(src, dir + "/dst.bin", int64_t(data.size()), false);
    slow->delay = 5ms;
    KV_FileReqObs obs;
    ASSERT_TRUE(fm->add_req(new Step(quiet, *trans_, slow.get(), on_disk(src), data_path(*slow),
                                     nullptr, KV_FILE_TRANS_TYPE_FETCH),
                            trans_.get(), &obs, KV_REQ_STAT_QUEUED));
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (slow->calls.load() < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(fm->add_task(KV_FileReqTaskCancel(0, false)));
    ASSERT_FALSE(obs.wait(LONG_WAIT_MS));
    EXPECT_EQ(obs.status(), KV_REQ_STAT_CANCELLED);
    EXPECT_EQ(slow->size(), 0);
    EXPECT_EQ(quiet.all(), "") << "a cancel is no fault of the temporary file";
    KV_TransLogCp back(nullptr, slow->name());
    ASSERT_TRUE(back.restore(eh, nullptr));
    EXPECT_EQ(back.size(), 0);
    KV_TransLog::tmp_file_man().unreg(slow->name());
}

TEST_F(LocalCopy, AStoreStepNeverWritesThroughALink)
{
    const std::string outside = tmp.path() + "/outside";
    const Bytes data = pattern(70000, 7);
    const struct
    {
        const char* what;
        const char* dst;  // below the transfer's destination folder
        const char* link; // made a link to `outside` (or into it)
        const char* to;
        bool stored; // the step completes
    } cases[] = {
        {"a link at the file's name", "f.bin", "f.bin", "/victim", true},
        {"a dangling link at the file's name", "f.bin", "f.bin", "/made", true},
        {"a link at a folder on the way", "sub/f.bin", "sub", "", false},
        {"a link at a folder further up", "a/b/f.bin", "a", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::remove_all(outside);
        fs::create_directories(dir);
        fs::create_directories(outside + "/b");
        write_file(outside + "/victim", pattern(10, 8));
        fs::create_symlink(outside + c.to, dir + "/" + c.link);
        const std::string src = outside + "/src.bin";
        write_file(src, data);
        const auto before = names_in(outside);
        const std::string dst = dir + "/" + c.dst;

        for (bool kept : {false, true}) {
            SCOPED_TRACE(kept ? "data from the sub-log" : "data read where it lies");
            std::unique_ptr<WatchedLog> log;
            if (kept) {
                log = kept_log(src, dst, int64_t(data.size()), false);
                ASSERT_EQ(run(new Step(eh, *trans_, log.get(), on_disk(src), data_path(*log),
                                       nullptr, KV_FILE_TRANS_TYPE_FETCH)),
                          KV_REQ_STAT_COMPLETED);
            } else {
                log = std::make_unique<WatchedLog>(trans_.get(), src.c_str(),
                                                   entry("src.bin", int64_t(data.size())),
                                                   local(src), local(dst));
                log->set_no_file(true);
            }
            const KV_REQ_STAT st = run(new Step(eh, *trans_, log.get(), data_path(*log),
                                                on_disk(dst), nullptr, KV_FILE_TRANS_TYPE_STORE));
            EXPECT_EQ(st, c.stored ? KV_REQ_STAT_COMPLETED : KV_REQ_STAT_ERROR) << eh.all();
            EXPECT_EQ(names_in(outside), before) << "nothing is made through a link";
            EXPECT_EQ(read_file(outside + "/victim"), pattern(10, 8));
            if (c.stored) {
                EXPECT_EQ(deliver(dst), data);
                EXPECT_FALSE(fs::is_symlink(dst)) << "the link itself was replaced";
                // The next round plants the link again.
                fs::remove(dst);
                fs::create_symlink(outside + c.to, dir + "/" + c.link);
            } else {
                EXPECT_FALSE(fm->settle_store(local(dir), local(dst), true));
                EXPECT_EQ(names_in(outside + "/b"), std::vector<std::string>{});
            }
            if (kept)
                KV_TransLog::tmp_file_man().unreg(log->name());
        }
    }
}

// The distribution of a segmented file: a suspended store half registered
// with the fragments, then one fetch half per fragment. The fetch halves are
// a protocol's (the local disk reads where the file lies), so threads of the
// test stand in for the protocol workers: they store the bytes of their
// fragment in the sub-log and end their step.
class Segmented : public LocalCopy
{
protected:
    // Fills every fragment from `nthreads` threads; `short_one` leaves the
    // fragment at that offset one byte short. The store half's final status.
    KV_REQ_STAT deliver(WatchedLog& log, const std::string& dst, const Bytes& data, int nthreads,
                        int64_t short_one)
    {
        KV_FileFragMan& frags = log.man_frag();
        frags.set_queued_all(false);
        auto* store = new Step(eh, *trans_, &log, data_path(log), on_disk(dst), nullptr,
                               KV_FILE_TRANS_TYPE_STORE);
        store->set_busy_reg(false);
        frags.set_request(store);
        KV_FileReqObs obs;
        EXPECT_TRUE(fm->add_req(store, trans_.get(), &obs, KV_REQ_STAT_SUSPENDED));

        std::vector<std::unique_ptr<Step>> fetches;
        for (;;) {
            KV_FileFrag* f = nullptr;
            EXPECT_TRUE(frags.take(&f));
            if (f == nullptr)
                break;
            fetches.push_back(std::make_unique<Step>(eh, *trans_, &log, on_disk(dir + "/remote"),
                                                     data_path(log), f, KV_FILE_TRANS_TYPE_FETCH));
            EXPECT_EQ(f->state(), KV_FileFrag::IN_TRANSFER);
        }
        frags.set_queued_all(true);
        // Fragments are still in transfer: the store half has not started.
        EXPECT_EQ(log.status(), KV_TransLogCp::ST_RECEIVING);

        std::atomic<size_t> next{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < nthreads; ++t)
            workers.emplace_back([&] {
                for (size_t i; (i = next.fetch_add(1)) < fetches.size();) {
                    Step& step = *fetches[i];
                    KV_FileFrag& f = *step.frag();
                    int64_t end = f.end() - (f.begin() == short_one ? 1 : 0);
                    // In pieces, as bytes arrive from a connection.
                    for (int64_t off = f.begin(); off < end;) {
                        const auto n = static_cast<uint32_t>(std::min<int64_t>(end - off, 7000));
                        EXPECT_TRUE(log.write_frag(f, data.data() + off, n));
                        off += n;
                    }
                    step.set_status(KV_REQ_STAT_RUNNING, false, 0, false);
                    step.set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
                }
            });
        for (auto& w : workers)
            w.join();
        EXPECT_FALSE(obs.wait(LONG_WAIT_MS)) << "the store half was never settled";
        return obs.status();
    }
};

TEST_F(Segmented, LastFragmentResumesTheStoreHalf)
{
    const std::string dst = dir + "/dst.bin";
    const Bytes data = pattern(1000000 + 7, 5);
    auto log = kept_log(dir + "/remote", dst, int64_t(data.size()), true, 128 * 1024);
    EXPECT_EQ(deliver(*log, dst, data, 4, -1), KV_REQ_STAT_COMPLETED) << eh.all();
    EXPECT_EQ(LocalCopy::deliver(dst), data);
    EXPECT_EQ(log->status(), KV_TransLogCp::ST_DONE);
    EXPECT_TRUE(log->man_frag().all_done());
    EXPECT_EQ(log->man_frag().done_bytes(), int64_t(data.size()));

    // The sub-log file holds every fragment done.
    KV_TransLogCp back(nullptr, log->name());
    ASSERT_TRUE(back.restore(eh, nullptr));
    EXPECT_TRUE(back.man_frag().all_done());
    EXPECT_EQ(back.man_frag().done_bytes(), int64_t(data.size()));
    KV_TransLog::tmp_file_man().unreg(log->name());
}

TEST_F(Segmented, AnUnfinishedFragmentFailsTheStoreHalf)
{
    const std::string dst = dir + "/dst.bin";
    const Bytes data = pattern(600000, 6);
    auto log = kept_log(dir + "/remote", dst, int64_t(data.size()), true, 128 * 1024);
    EXPECT_EQ(deliver(*log, dst, data, 3, 256 * 1024), KV_REQ_STAT_ERROR);
    EXPECT_FALSE(fs::exists(dst)) << "nothing is written from incomplete data";
    EXPECT_EQ(names_in(dir), std::vector<std::string>{}) << "nor beside the name";
    KV_FileFrag* f = nullptr;
    ASSERT_TRUE(log->man_frag().find_state(KV_FileFrag::FAILED, &f));
    EXPECT_EQ(f->begin(), 256 * 1024);
    EXPECT_EQ(log->status(), KV_TransLogCp::ST_RECEIVING);
    KV_TransLog::tmp_file_man().unreg(log->name());
}

} // namespace
