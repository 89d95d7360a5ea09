// The request log of a copy request: its body and per-file records byte for
// byte, the phases, the sub-logs it names and deletes, and what a restart
// reads back.
#include "transfers/kv_translogtranscp.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_tmpfile.h"
#include "support/kv_testdir.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_transtest.h"

namespace {

using namespace transtest;
using Rec = KV_TransLogFileGrpFopCp;

const KV_FileManId k_src(KV_DsId(2, "ftp", "u", ""), 1);
const KV_FileManId k_dst(KV_DsId(1, "Local", "", ""), 2);

// The lines of the per-file records, as the window gets them.
std::vector<std::string> item_notes(KV_TransLogTransCp& log)
{
    log.set_id(99);
    KV_FileReqLog out;
    EXPECT_TRUE(log.get_log(99, out));
    KV_TransLogTrans::set_id_log(0);
    std::vector<std::string> v;
    for (const KV_FileReqLogElem* e : out.list_elems()) {
        if (e->kind == KV_FILE_REQ_LOG_ELEM_FILEOP_CP)
            v.emplace_back(e->note.data());
    }
    return v;
}

class CopyLog : public TmpFolderTest
{
protected:
    void SetUp() override
    {
        TmpFolderTest::SetUp();
        path = dir / "cp.log";
    }

    std::unique_ptr<KV_TransLogTransCp> cp_log(KV_FILEOP op = KV_FILEOP_COPY)
    {
        KV_FileReqTransParamsCp p;
        p.set_tm_started(KV_Time(1000L));
        p.set_mirror(1);
        p.set_skip_sz(true);
        auto log = std::make_unique<KV_TransLogTransCp>(path.c_str(), path_of({"/", "src"}),
                                                        path_of({"/", "dst"}), Names{"a", "b"},
                                                        Names{"a", "c"}, p);
        log->set_ids(k_src, k_dst);
        log->set_fileop(op);
        EXPECT_TRUE(log->create());
        return log;
    }
    std::unique_ptr<KV_TransLogTransCp> restored()
    {
        auto log = std::make_unique<KV_TransLogTransCp>(
            path.c_str(), KV_PathDef(), KV_PathDef(), Names{}, Names{}, KV_FileReqTransParamsCp());
        const bool ok = log->restore(nullptr);
        KV_TransLog::tmp_file_man().unreg(path.c_str());
        return ok ? std::move(log) : nullptr;
    }
    static Bytes cp_body(uint32_t fileop)
    {
        Bytes b;
        put<uint32_t>(b, 0);   // status
        put<uint32_t>(b, 0);   // forced_exec
        put<int32_t>(b, -1);   // tm_start
        put<int32_t>(b, 1000); // tm_started
        put<uint8_t>(b, 1);    // mirror
        put<uint8_t>(b, 0);    // tm_type
        put<uint32_t>(b, 0);   // tm_def
        put<uint16_t>(b, 0);   // dayspec
        append(b, {1, 0, 0});  // skip_sz, del_src, dtrans
        put<uint32_t>(b, fileop);
        put_id(b, 2, "ftp", "u", "", 1);
        put_id(b, 1, "Local", "", "", 2);
        put_path(b, {"/", "src"});
        put_path(b, {"/", "dst"});
        put<uint32_t>(b, 2);
        put_str(b, "a");
        put_str(b, "b");
        put<uint32_t>(b, 2);
        put_str(b, "a");
        put_str(b, "c");
        put<uint8_t>(b, 0);  // phase
        put<int32_t>(b, -1); // tm_last_cp
        return b;
    }
    // A file in the temporary folder, as a sub-log would be.
    std::string sub_file(const std::string& name)
    {
        const std::string f = dir / name;
        write_all(f, {1, 2, 3});
        return f;
    }

    std::string path;
};

TEST_F(CopyLog, BodyIsStoredExactlyAndReadBack)
{
    auto log = cp_log(KV_FILEOP_EDIT);
    const Bytes fresh = frame(2, cp_body(KV_FILEOP_EDIT));
    EXPECT_EQ(read_all(path), fresh);
    ASSERT_TRUE(log->next_phase());
    ASSERT_TRUE(log->set_tm_last_cp(KV_Time(4242L)));
    Bytes want = fresh;
    want[want.size() - 5] = 1;
    kv_put_le<int32_t>(want.data() + want.size() - 4, 4242);
    EXPECT_EQ(read_all(path), want);
    log.reset();

    auto back = restored();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->fileop(), KV_FILEOP_EDIT);
    EXPECT_EQ(back->phase(), 1);
    EXPECT_EQ(back->tm_last_cp(), KV_Time(4242L));
    EXPECT_TRUE(back->id_man_src() == k_src);
    EXPECT_TRUE(back->id_man_dst() == k_dst);
    EXPECT_TRUE(back->path_src_const() == path_of({"/", "src"}));
    EXPECT_TRUE(back->path_dst_const() == path_of({"/", "dst"}));
    ASSERT_EQ(back->list_files_dst_const().size(), 2u);
    EXPECT_EQ(back->list_files_dst_const().at(1), "c");
    EXPECT_EQ(back->mirror(), 1);
    EXPECT_TRUE(back->skip_sz());
    EXPECT_FALSE(back->dtrans());
}

TEST_F(CopyLog, ItemRecordIsStoredExactlyAndRewrittenAtItsOffsets)
{
    auto log = cp_log();
    const size_t at = read_all(path).size();
    const std::string sub = dir / "sub-a";
    const std::string tm60(60, 'T');
    Rec rec(0, Rec::ST_RUNNING, path_of({"/", "src", "a"}), sub.c_str(), 777, tm60.c_str());
    ASSERT_TRUE(log->set_status(rec));

    Bytes want;
    put<uint32_t>(want, 5);
    put<uint8_t>(want, 1);
    put_fixed(want, tm60.substr(0, 48), 49);
    put<int64_t>(want, 777);
    put<int32_t>(want, 0); // tm_status, from the file
    put<int64_t>(want, 0);
    put<int32_t>(want, -1);
    put_fixed(want, sub, 261);
    put_path(want, {"/", "src", "a"});
    put<uint8_t>(want, 0);
    put<uint32_t>(want, 1);
    Bytes file = read_all(path);
    ASSERT_EQ(file.size(), at + want.size());
    Bytes got(file.begin() + static_cast<long>(at), file.end());
    ASSERT_EQ(got[4 + 49 + 8 + 4 + 8 + 4 - 1], 0xFF) << "tm_local invalid";
    kv_put_le<int32_t>(want.data() + 62, get<int32_t>(got, 62));
    EXPECT_EQ(got, want);

    // update: bytes 4 to 65; set_props: 66 to 77. Nothing else moves.
    Rec next(0, Rec::ST_DONE, path_of({"/", "src", "a"}), KV_String(), 9, "t");
    ASSERT_TRUE(log->set_status(next));
    ASSERT_TRUE(log->set_props(next, 5555, KV_Time(31L)));
    file = read_all(path);
    Bytes after(file.begin() + static_cast<long>(at), file.end());
    ASSERT_EQ(after.size(), want.size());
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 4, want.begin()));
    EXPECT_EQ(after[4], Rec::ST_DONE);
    EXPECT_EQ(after[5], 't');
    EXPECT_EQ(after[6], 0);
    EXPECT_EQ(get<int64_t>(after, 54), 9);
    EXPECT_EQ(get<int64_t>(after, 66), 5555);
    EXPECT_EQ(get<int32_t>(after, 74), 31);
    EXPECT_TRUE(std::equal(after.begin() + 78, after.end(), want.begin() + 78))
        << "an empty sub-log name in the status leaves the stored one";

    log.reset();
    auto back = restored();
    ASSERT_NE(back, nullptr);
    KV_String sublog;
    int64_t size = 0;
    KV_String tm;
    EXPECT_EQ(back->status(path_of({"/", "src", "a"}), &sublog, &size, &tm), Rec::ST_DONE);
    EXPECT_EQ(sublog, sub.c_str());
    EXPECT_EQ(size, 9);
    EXPECT_EQ(tm, "t");
    KV_Time local;
    ASSERT_TRUE(back->props(path_of({"/", "src", "a"}), size, local));
    EXPECT_EQ(size, 5555);
    EXPECT_EQ(local, KV_Time(31L));
    EXPECT_TRUE(back->tmp_used(sub.c_str()));
    EXPECT_TRUE(KV_TransLog::tmp_file_man().unreg(sub.c_str())) << "registered as in use";
}

TEST_F(CopyLog, SubLogNamesThatDoNotFitAreRefused)
{
    auto log = cp_log();
    const std::string base = dir.path() + "/";
    const std::string fits = base + std::string(260 - base.size(), 'f');
    const std::string too_long = fits + "g";
    ASSERT_EQ(fits.size(), 260u);

    Rec whole(0, Rec::ST_RUNNING, path_of({"/", "src", "a"}), fits.c_str(), 1, "");
    ASSERT_TRUE(log->set_status(whole));
    const Bytes kept = read_all(path);
    // A name cut to fit would name another file: a restart would then
    // delete that one and leave the real sub-log behind.
    Rec cut(0, Rec::ST_RUNNING, path_of({"/", "src", "b"}), too_long.c_str(), 1, "");
    EXPECT_FALSE(log->set_status(cut));
    Rec renamed(0, Rec::ST_RUNNING, path_of({"/", "src", "a"}), too_long.c_str(), 1, "");
    EXPECT_FALSE(log->set_status(renamed));
    EXPECT_EQ(read_all(path), kept);
    KV_String sublog;
    EXPECT_EQ(log->status(path_of({"/", "src", "b"}), &sublog, nullptr, nullptr), 0);
    EXPECT_EQ(log->status(path_of({"/", "src", "a"}), &sublog, nullptr, nullptr), Rec::ST_RUNNING);
    EXPECT_EQ(sublog, fits.c_str());

    log.reset();
    auto back = restored();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->tmp_used(fits.c_str())) << "260 characters are kept whole";
    KV_TransLog::tmp_file_man().unreg(fits.c_str());
}

TEST_F(CopyLog, PhasesOfACopyAndOfAnEdit)
{
    {
        auto log = cp_log();
        ASSERT_TRUE(log->next_phase());
        EXPECT_EQ(log->phase(), 3);
        EXPECT_FALSE(log->next_phase());
    }
    auto log = cp_log(KV_FILEOP_EDIT);
    const KV_PathDef a = path_of({"/", "src", "a"});
    Rec down(0, Rec::ST_DONE, a, KV_String(), 10, "t");
    ASSERT_TRUE(log->set_status(down));
    ASSERT_TRUE(log->set_props(down, 10, KV_Time(5L)));
    EXPECT_FALSE(log->forced_exec(KV_TransLogFileGrpAns::ASK_OVERWRITE));
    ASSERT_TRUE(log->next_phase());
    EXPECT_EQ(log->phase(), 1);
    ASSERT_TRUE(log->next_phase());
    EXPECT_EQ(log->phase(), 2);

    // Uploading the changes: directions swap, overwriting is not asked.
    EXPECT_TRUE(log->path_src() == path_of({"/", "dst"}));
    EXPECT_TRUE(log->path_dst() == path_of({"/", "src"}));
    EXPECT_EQ(log->list_files_src().at(1), "c");
    EXPECT_TRUE(log->path_src_const() == path_of({"/", "src"}));
    EXPECT_TRUE(log->forced_exec(KV_TransLogFileGrpAns::ASK_OVERWRITE));
    EXPECT_FALSE(log->forced_exec(KV_TransLogFileGrpAns::ASK_DELETE));
    EXPECT_EQ(log->status(a, nullptr, nullptr, nullptr), 0) << "no record of phase 2 yet";
    int64_t size = 0;
    KV_Time tm;
    ASSERT_TRUE(log->props(a, size, tm)) << "the local copy is the phase 0 record's";
    EXPECT_EQ(size, 10);
    ASSERT_TRUE(log->next_phase());
    EXPECT_EQ(log->phase(), 3);
    EXPECT_FALSE(log->next_phase());
}

TEST_F(CopyLog, SubLogsOfEveryPhaseGoWithTheLog)
{
    auto log = cp_log(KV_FILEOP_EDIT);
    const std::string down = sub_file("down.sub");
    const std::string up = sub_file("up.sub");
    Rec r0(0, Rec::ST_RUNNING, path_of({"/", "src", "a"}), down.c_str(), 1, "");
    ASSERT_TRUE(log->set_status(r0));
    ASSERT_TRUE(log->next_phase());
    ASSERT_TRUE(log->next_phase());
    Rec r2(2, Rec::ST_RUNNING, path_of({"/", "dst", "a"}), up.c_str(), 1, "");
    ASSERT_TRUE(log->set_status(r2));
    EXPECT_TRUE(log->tmp_used(down.c_str()));

    log->del_log();
    EXPECT_FALSE(KV_File::exists(up.c_str()));
    EXPECT_FALSE(KV_File::exists(down.c_str()))
        << "a sub-log named by a record of an earlier phase must not be left behind";
    EXPECT_FALSE(KV_File::exists(path.c_str()));
}

TEST_F(CopyLog, RestartDeletesTheSubLogsAndKeepsWhatTheRequestIs)
{
    auto log = cp_log(KV_FILEOP_EDIT);
    const std::string sub = sub_file("a.sub");
    Rec r(0, Rec::ST_RUNNING, path_of({"/", "src", "a"}), sub.c_str(), 1, "");
    ASSERT_TRUE(log->set_status(r));
    ASSERT_TRUE(log->next_phase());
    ASSERT_TRUE(log->set_tm_last_cp(KV_Time(9L)));
    ASSERT_TRUE(log->add_msg("note", 0));
    ASSERT_TRUE(log->restart());
    EXPECT_FALSE(KV_File::exists(sub.c_str()));
    EXPECT_EQ(read_all(path), frame(2, cp_body(KV_FILEOP_EDIT)));
    EXPECT_EQ(log->phase(), 0);
    EXPECT_FALSE(log->tm_last_cp().valid());
    EXPECT_TRUE(item_notes(*log).empty());
    EXPECT_TRUE(log->nomsgs());
}

TEST_F(CopyLog, ADeletedDestinationItemIsCopiedAgain)
{
    auto log = cp_log();
    const std::string sub = sub_file("ab.sub");
    const KV_PathDef src = path_of({"/", "src", "a", "b"});
    Rec r(0, Rec::ST_DONE, src, sub.c_str(), 10, "t");
    ASSERT_TRUE(log->set_status(r));
    EXPECT_FALSE(log->file_del(path_of({"/", "elsewhere", "a", "b"})));
    EXPECT_TRUE(KV_File::exists(sub.c_str()));

    ASSERT_TRUE(log->file_del(path_of({"/", "dst", "a", "b"})));
    KV_String sublog = "x";
    int64_t size = -5;
    EXPECT_EQ(log->status(src, &sublog, &size, nullptr), Rec::ST_INIT);
    EXPECT_TRUE(sublog.empty());
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(KV_File::exists(sub.c_str()));
    EXPECT_FALSE(log->tmp_used(sub.c_str()));
    EXPECT_TRUE(log->file_del(path_of({"/", "dst", "gone"}))) << "no record: nothing to reset";
}

TEST_F(CopyLog, OnlySubLogsOfTheTemporaryFolderAreBelievedFromAFile)
{
    kvtest::TempDir elsewhere;
    const std::string victim = elsewhere / "precious.txt";
    write_all(victim, {42});
    const std::string ours = sub_file("ours.sub");
    {
        auto log = cp_log();
        Rec a(0, Rec::ST_RUNNING, path_of({"/", "src", "a"}), ours.c_str(), 1, "");
        Rec b(0, Rec::ST_RUNNING, path_of({"/", "src", "b"}), victim.c_str(), 1, "");
        Rec c(0, Rec::ST_RUNNING, path_of({"/", "src", "c"}), path.c_str(), 1, "");
        ASSERT_TRUE(log->set_status(a));
        ASSERT_TRUE(log->set_status(b));
        ASSERT_TRUE(log->set_status(c));
        KV_TransLog::tmp_file_man().unreg(ours.c_str());
    }
    // A file written elsewhere (or damaged) names a file outside the
    // temporary folder, or the log itself: deleting the sub-logs must
    // delete neither.
    auto back = restored();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->tmp_used(ours.c_str()));
    EXPECT_FALSE(back->tmp_used(victim.c_str()));
    EXPECT_FALSE(back->tmp_used(path.c_str()));
    ASSERT_TRUE(back->del_sublogs());
    EXPECT_FALSE(KV_File::exists(ours.c_str()));
    EXPECT_TRUE(KV_File::exists(victim.c_str()));
    back.reset();
    back = restored();
    ASSERT_NE(back, nullptr) << "the log outlived its own sub-logs";
    back->del_log();
    EXPECT_TRUE(KV_File::exists(victim.c_str()));
}

TEST_F(CopyLog, ItemLinesFollowProgressAndTheRequestsEnd)
{
    auto log = cp_log();
    struct Case
    {
        const char* name;
        int32_t progress;
        const char* note;
    };
    const Case cases[] = {
        {"running", Rec::PROG_RUNNING, "Running"},
        {"downloading", 37, "Running ( download 37% )"},
        {"uploading", 138, "Running ( upload 37% )"},
        {"transferred", Rec::PROG_DONE, "Transferred"},
    };
    const KV_PathDef a = path_of({"/", "src", "a"});
    Rec r(0, Rec::ST_RUNNING, a, KV_String(), 1, "");
    ASSERT_TRUE(log->set_status(r));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(log->update_prog(a, c.progress));
        EXPECT_EQ(item_notes(*log), std::vector<std::string>{c.note});
    }
    EXPECT_FALSE(log->update_prog(path_of({"/", "src", "none"}), 5));
    EXPECT_FALSE(log->inc_err(a, 2));
    EXPECT_EQ(item_notes(*log), std::vector<std::string>{"Transferred, Errors: 1"});
    ASSERT_TRUE(log->set_req_status(KV_REQ_STAT_CANCELLED));
    EXPECT_EQ(item_notes(*log), std::vector<std::string>{"Cancelled, Errors: 1"});

    // Folders transferred are no files transferred.
    Rec folder(0, Rec::ST_DONE, path_of({"/", "src", "d"}), KV_String(), -1, "");
    ASSERT_TRUE(log->set_status(folder));
    EXPECT_FALSE(log->some_done());
    EXPECT_FALSE(log->some_skipped());
    Rec file(0, Rec::ST_SKIPPED, a, KV_String(), 1, "");
    ASSERT_TRUE(log->set_status(file));
    EXPECT_TRUE(log->some_skipped());
    Rec done(0, Rec::ST_DONE, a, KV_String(), 1, "");
    ASSERT_TRUE(log->set_status(done));
    EXPECT_TRUE(log->some_done());
}

// A copy cut off at 43 percent: while the request waits to restart, or
// after it failed or was cancelled, its line says so instead of a download
// under way; once it runs again the progress shows again.
TEST_F(CopyLog, AnEndedRequestsLinesShowHowItEndedNotItsProgress)
{
    auto log = cp_log();
    const KV_PathDef a = path_of({"/", "src", "a"});
    Rec r(0, Rec::ST_RUNNING, a, KV_String(), 1, "");
    ASSERT_TRUE(log->set_status(r));
    ASSERT_TRUE(log->update_prog(a, 43));
    const std::pair<KV_REQ_STAT, const char*> steps[] = {
        {KV_REQ_STAT_RUNNING, "Running ( download 43% )"},
        {KV_REQ_STAT_RESTARTING, "Restarting"},
        {KV_REQ_STAT_RUNNING, "Running ( download 43% )"},
        {KV_REQ_STAT_ERROR, "Error"},
        {KV_REQ_STAT_CANCELLED, "Cancelled"},
    };
    for (const auto& [status, note] : steps) {
        SCOPED_TRACE(note);
        ASSERT_TRUE(log->set_req_status(status));
        EXPECT_EQ(item_notes(*log), std::vector<std::string>{note});
    }
}

TEST_F(CopyLog, DamagedModesAndPhasesAreRefused)
{
    cp_log();
    const Bytes good = read_all(path);
    const size_t fileop_at = 53 + 4 + 23;
    const size_t phase_at = good.size() - 5;
    struct Case
    {
        const char* name;
        size_t at;
        Bytes bytes;
    };
    const Case cases[] = {
        {"a mirror mode no dialog sets (deletes at the destination?)", 53 + 4 + 12, {7}},
        {"a repetition kind that does not exist", 53 + 4 + 13, {9}},
        {"a file operation that does not exist", fileop_at, {7, 0, 0, 0}},
        {"a phase after the last", phase_at, {4}},
        {"a name count past the end", phase_at - 4 - (4 + 2) - (4 + 2), {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_all(path, good);
        patch(path, static_cast<int64_t>(c.at), c.bytes);
        EXPECT_EQ(restored(), nullptr);
    }
    write_all(path, good);
    EXPECT_NE(restored(), nullptr);
}

TEST_F(CopyLog, ACutItemRecordRestoresTheRecordsBeforeIt)
{
    {
        auto log = cp_log();
        Rec a(0, Rec::ST_DONE, path_of({"/", "src", "a"}), KV_String(), 1, "");
        ASSERT_TRUE(log->set_status(a));
    }
    const size_t last_at = read_all(path).size();
    {
        auto log = restored();
        ASSERT_NE(log, nullptr);
        Rec b(0, Rec::ST_DONE, path_of({"/", "src", "b"}), KV_String(), 2, "");
        ASSERT_TRUE(log->set_status(b));
    }
    const Bytes whole = read_all(path);
    for (size_t cut = last_at; cut < whole.size(); cut += 7) {
        SCOPED_TRACE(cut);
        write_all(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
        {
            auto log = restored();
            ASSERT_NE(log, nullptr);
            EXPECT_EQ(item_notes(*log), std::vector<std::string>{"Transferred"});
            Rec c(0, Rec::ST_SKIPPED, path_of({"/", "src", "c"}), KV_String(), 3, "");
            ASSERT_TRUE(log->set_status(c));
        }
        auto again = restored();
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(item_notes(*again), (std::vector<std::string>{"Transferred", "Skipped"}));
    }
}

} // namespace
