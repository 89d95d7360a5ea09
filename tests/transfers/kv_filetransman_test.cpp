// The transfer manager without its thread: the reload of saved requests from
// the temporary transfer folder (what comes back, what stays on disk, what is
// deleted), the automatic removal of finished requests at start and during a
// run, a duplicate of a suspended request, and the options it hands on.
#include "transfers/kv_filetransman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "requests/kv_filereqtasks.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_tavotrans.h"
#include "transfers/kv_transmantest.h"

namespace fs = std::filesystem;

namespace {

using namespace transtest;

// A transfer manager driven by the test's thread: passes run on demand and
// no request is ever handed to a worker.
class StillTransMan : public KV_FileTransMan
{
public:
    using KV_FileReqMan::pass;
    using KV_FileTransMan::del_sublogs;
    bool process_req(KV_REQ_STAT) override { return true; }

    std::vector<KV_FileReqTrans*> listed() const
    {
        std::vector<KV_FileReqTrans*> out;
        for (KV_FileReq* r : list_req())
            out.push_back(static_cast<KV_FileReqTrans*>(r));
        return out;
    }
    std::vector<KV_FileReqTrans*> added() const
    {
        std::vector<KV_FileReqTrans*> out;
        for (KV_FileReq* r : list_req_add())
            out.push_back(static_cast<KV_FileReqTrans*>(r));
        return out;
    }
};

KV_FileTransManOpts masks(uint8_t always, uint8_t at_start)
{
    KV_FileTransManOpts o;
    o.set_auto_rm_req(always);
    o.set_auto_rm_req_st(at_start);
    return o;
}

class TransMan : public TmpFolderTest
{
protected:
    void SetUp() override
    {
        TmpFolderTest::SetUp();
        pool.add(&a);
        pool.add(&b);
    }

    // A delete request log on `man` for folder `folder`, recording `st`.
    std::string rm_log(KV_FileMan* man, const char* folder, KV_REQ_STAT st = KV_REQ_STAT_QUEUED,
                       KV_Time start = KV_Time())
    {
        KV_FileReqTransParamsRm p;
        p.set_tm_start(start);
        KV_FileReqTransRm r(man, path_of({"Srv A", folder}), Names{"x"}, p);
        EXPECT_TRUE(r.pre_add());
        if (st != KV_REQ_STAT_QUEUED) {
            EXPECT_TRUE(r.log().set_req_status(st));
        }
        return r.log().name().data();
    }
    // A copy request log from `src` to `dst` whose one item names `sublog`.
    std::string cp_log(KV_FileMan* src, KV_FileMan* dst, const std::string& sublog)
    {
        KV_FileReqTransCp r(src, dst, path_of({"Srv A", "pub"}), path_of({"Srv B", "in"}),
                            Names{"a"}, Names{"a"}, KV_FileReqTransParamsCp());
        EXPECT_TRUE(r.pre_add());
        KV_TransLogFileGrpFopCp rec(0, KV_TransLogFileGrpFopCp::ST_RUNNING,
                                    path_of({"Srv A", "pub", "a"}), sublog.c_str(), 1, "");
        EXPECT_TRUE(r.log().set_status(rec));
        write_all(sublog, frame(1, Bytes(16, 0)));
        return r.log().name().data();
    }
    std::string moved(const std::string& from, const std::string& name)
    {
        const std::string to = dir / name;
        fs::rename(from, to);
        return to;
    }

    TestPool pool;
    FakeMan a{id_of(2, "a.example", 1), KV_FILE_MAN_TYPE_FTP, "Srv A"};
    FakeMan b{id_of(2, "b.example", 1), KV_FILE_MAN_TYPE_FTP, "Srv B"};
    // A data source that the engine root no longer knows.
    FakeMan gone{id_of(2, "gone.example", 1), KV_FILE_MAN_TYPE_FTP, "Gone"};
};

bool exists(const std::string& path)
{
    return fs::exists(fs::symlink_status(path));
}

// ---------------------------------------------------------------------------
// Reload

TEST_F(TransMan, ReloadRunsWhatItCanAndDeletesOnlyWhatNobodyNeeds)
{
    // Saved requests, under names with and without a dot.
    const std::string plain = moved(rm_log(&a, "q"), "plainname");
    const std::string dotted = moved(rm_log(&a, "d"), "with.dot.log");
    const std::string running = rm_log(&a, "r", KV_REQ_STAT_RUNNING);
    const std::string cp_ok = cp_log(&a, &b, dir / "sub-used");
    // Saved requests whose data source is gone, one naming a sub-log.
    const std::string missing = rm_log(&gone, "m");
    const std::string cp_missing = cp_log(&a, &gone, dir / "sub-kept");
    // A sub-log nobody names, foreign files, a log whose creation was cut
    // short, a log whose body does not read.
    write_all(dir / "sub-orphan", frame(1, Bytes(16, 0)));
    write_all(dir / "notes.txt", Bytes{'h', 'i'});
    write_all(dir / "README", Bytes(80, 'x'));
    write_all(dir / "cut", frame(0, read_all(plain)));
    std::string damaged;
    {
        KV_FileReqTransRen r(&a, path_of({"Srv A", "x"}), path_of({"Srv A", "y"}), Names{"n"},
                             KV_FileReqTransParamsRen());
        ASSERT_TRUE(r.pre_add());
        damaged = r.log().name().data();
    }
    fs::resize_file(damaged, 53 + 10);

    auto tm = std::make_unique<StillTransMan>();
    ASSERT_TRUE(tm->load_req(pool));
    std::vector<std::string> names;
    for (KV_FileReqTrans* r : tm->added()) {
        names.push_back(r->log_trans().name().data());
        EXPECT_EQ(r->status(), KV_REQ_STAT_QUEUED)
            << names.back() << ": one cut short while running runs again";
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> want{plain, dotted, running, cp_ok};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names, want);

    for (const std::string& kept :
         {plain, dotted, running, cp_ok, missing, cp_missing, dir / "sub-used", dir / "sub-kept",
          dir / "notes.txt", dir / "README", dir / "cut"})
        EXPECT_TRUE(exists(kept)) << kept;
    EXPECT_FALSE(exists(dir / "sub-orphan"));
    EXPECT_FALSE(exists(damaged));
    EXPECT_EQ(read_all(dir / "README"), Bytes(80, 'x'));

    // Deleting a sub-log is for the start only.
    ASSERT_TRUE(tm->init());
    tm.reset();
    for (const std::string& kept : {plain, running, cp_ok, missing, cp_missing})
        EXPECT_TRUE(exists(kept)) << "a manager that goes keeps the logs: " << kept;

    // Once the data source is back, its requests load at the next start.
    pool.add(&gone);
    tm = std::make_unique<StillTransMan>();
    ASSERT_TRUE(tm->load_req(pool));
    EXPECT_EQ(tm->added().size(), 6u);
    EXPECT_TRUE(exists(dir / "sub-kept"));
}

TEST_F(TransMan, ATemporaryFolderThatIsMissingLoadsNothing)
{
    // A finished request that is already listed is still looked at by the
    // start rule.
    const std::string failed = rm_log(&a, "f", KV_REQ_STAT_ERROR);
    StillTransMan tm;
    tm.set_opts(masks(0, 2));
    auto* r = new KV_FileReqTransRm(failed.c_str());
    ASSERT_TRUE(r->log().restore(nullptr));
    r->init(&a);
    ASSERT_TRUE(tm.add_req(r));

    ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (dir / "missing").c_str()));
    EXPECT_TRUE(tm.load_req(pool));
    EXPECT_EQ(tm.added().size(), 1u);
    ASSERT_TRUE(tm.pass());
    ASSERT_TRUE(tm.pass());
    EXPECT_TRUE(tm.listed().empty());
    EXPECT_FALSE(exists(failed)) << "removed with its log";
}

// ---------------------------------------------------------------------------
// Automatic removal

TEST_F(TransMan, FinishedRequestsAreRemovedByTheMasks)
{
    struct Case
    {
        uint8_t always;
        uint8_t at_start;
        // Completed, Error, Cancelled.
        bool gone_at_start[3];
        bool gone_in_run[3];
    };
    const Case cases[] = {
        {1, 2, {true, true, false}, {true, false, false}},
        {4, 0, {false, false, true}, {false, false, true}},
        {0, 7, {true, true, true}, {false, false, false}},
    };
    const KV_REQ_STAT finals[3] = {KV_REQ_STAT_COMPLETED, KV_REQ_STAT_ERROR, KV_REQ_STAT_CANCELLED};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "masks " << int(c.always) << "/" << int(c.at_start));
        std::vector<std::string> saved;
        for (int i = 0; i < 3; ++i)
            saved.push_back(rm_log(&a, ("s" + std::to_string(i)).c_str(), finals[i]));
        StillTransMan tm;
        tm.set_opts(masks(c.always, c.at_start));
        ASSERT_TRUE(tm.load_req(pool));
        ASSERT_TRUE(tm.pass());
        ASSERT_TRUE(tm.pass());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(!exists(saved[i]), c.gone_at_start[i]) << "at start, status " << finals[i];

        // Requests that end during the run; the end of their flash asks
        // for the removal without the start rule.
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(tm.add_req(new KV_FileReqTransRm(&a, path_of({"Srv A", "run"}),
                                                         Names{std::to_string(i).c_str()},
                                                         KV_FileReqTransParamsRm())));
        ASSERT_TRUE(tm.pass());
        std::vector<std::string> run;
        std::vector<KV_FileReqTrans*> fresh;
        for (KV_FileReqTrans* r : tm.listed()) {
            if (r->status() == KV_REQ_STAT_QUEUED)
                fresh.push_back(r);
        }
        ASSERT_EQ(fresh.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            run.push_back(fresh[i]->log_trans().name().data());
            fresh[i]->set_status(finals[i], false, 0, false);
        }
        ASSERT_TRUE(tm.add_task(KV_FileReqTaskDelete(0, true, false)));
        ASSERT_TRUE(tm.pass());
        ASSERT_TRUE(tm.pass());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(!exists(run[i]), c.gone_in_run[i]) << "in the run, status " << finals[i];
        tm.terminate();
        for (const auto& e : fs::directory_iterator(dir.path()))
            fs::remove(e.path());
    }
}

TEST_F(TransMan, OnlyAChangeOfTheAlwaysRuleLooksAtFinishedRequestsAgain)
{
    StillTransMan tm;
    tm.set_opts(masks(0, 0));
    ASSERT_TRUE(tm.add_req(
        new KV_FileReqTransRm(&a, path_of({"Srv A", "p"}), Names{"x"}, KV_FileReqTransParamsRm())));
    ASSERT_TRUE(tm.pass());
    ASSERT_EQ(tm.listed().size(), 1u);
    KV_FileReqTrans* r = tm.listed()[0];
    const std::string log = r->log_trans().name().data();
    r->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);

    tm.set_opts(masks(0, 1));
    ASSERT_TRUE(tm.pass());
    ASSERT_TRUE(tm.pass());
    EXPECT_EQ(tm.listed().size(), 1u) << "the start rule alone changed";
    tm.set_opts(masks(1, 1));
    ASSERT_TRUE(tm.pass());
    ASSERT_TRUE(tm.pass());
    EXPECT_TRUE(tm.listed().empty());
    EXPECT_FALSE(exists(log));
}

// ---------------------------------------------------------------------------
// Scheduled starts and duplicates

TEST_F(TransMan, ADuplicateOfASuspendedRequestStartsItNow)
{
    KV_Time later;
    later.now();
    later = KV_Time(static_cast<long>(later.impl()) + 3600);
    const std::string saved = rm_log(&a, "p", KV_REQ_STAT_QUEUED, later);
    StillTransMan tm;
    ASSERT_TRUE(tm.load_req(pool));
    ASSERT_TRUE(tm.pass());
    ASSERT_EQ(tm.listed().size(), 1u);
    KV_FileReqTrans* waiting = tm.listed()[0];
    EXPECT_EQ(waiting->status(), KV_REQ_STAT_SUSPENDED);

    KV_FileReqTransParamsRm p;
    ASSERT_TRUE(tm.add_req(new KV_FileReqTransRm(&a, path_of({"Srv A", "p"}), Names{"x"}, p)));
    ASSERT_TRUE(tm.pass());
    EXPECT_EQ(waiting->status(), KV_REQ_STAT_QUEUED) << "its start moved to now";
    ASSERT_TRUE(tm.pass());
    ASSERT_EQ(tm.listed().size(), 1u) << "the new one was dropped";
    EXPECT_EQ(tm.listed()[0], waiting);
    EXPECT_EQ(log_files(dir.path(), 3), std::vector<std::string>{saved}) << "and made no log";
}

// ---------------------------------------------------------------------------
// Options

TEST_F(TransMan, TheFileRetryLimitAndTheWorkerOptionsComeFromTheManager)
{
    StillTransMan tm;
    KV_FileTransManOpts o;
    o.set_nfretries(2);
    o.set_ntmpfiles(7);
    tm.set_opts(o);
    EXPECT_EQ(tm.nfretries(), 2u);
    EXPECT_EQ(tm.ntmpfiles(), 7u);
    EXPECT_TRUE(tm.trans());

    ASSERT_TRUE(tm.add_req(
        new KV_FileReqTransRm(&a, path_of({"Srv A", "p"}), Names{"x"}, KV_FileReqTransParamsRm())));
    ASSERT_TRUE(tm.pass());
    KV_FileReqTrans* r = tm.listed()[0];
    const KV_PathDef x = path_of({"Srv A", "p", "x"});
    KV_TransLogFileGrpFop open(x, KV_TransLogFileGrpFop::ST_OPEN, 0);
    ASSERT_TRUE(r->log_trans().set_status(open));
    bool retry = true;
    EXPECT_FALSE(r->skip_err(x, retry));
    EXPECT_FALSE(r->skip_err(x, retry));
    EXPECT_TRUE(r->skip_err(x, retry)) << "the third error reaches the limit of 2";
    EXPECT_FALSE(retry);

    std::unique_ptr<KV_Tavo> t(tm.create_tavo());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->kind(), 1u);
    tm.prestart_req(t.get());
    EXPECT_EQ(static_cast<KV_TavoTrans*>(t.get())->opts().ntmpfiles(), 7u);
    EXPECT_EQ(static_cast<KV_TavoTrans*>(t.get())->opts().nfretries(), 2u);
}

} // namespace
