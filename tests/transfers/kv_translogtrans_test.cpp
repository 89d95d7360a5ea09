// The request logs of the transfer requests (the common part, and the rename
// and delete kinds): their bytes, what a restart of the program reads back,
// the in-place rewrites, the counting of messages and errors, the remembered
// answers, and what a torn or damaged file is allowed to do.
#include "transfers/kv_translogtrans.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_tmpfile.h"
#include "requests/kv_reqmsg.h"
#include "root/kv_filemanpool.h"
#include "support/kv_testdir.h"
#include "transfers/kv_translogtransren.h"
#include "transfers/kv_transtest.h"

namespace {

using namespace transtest;
using Ans = KV_TransLogFileGrpAns;
using Fop = KV_TransLogFileGrpFop;

const KV_FileManId k_man(KV_DsId(2, "srv", "user", ""), 3);

// One line of the request-log window.
struct Line
{
    KV_FILE_REQ_LOG_ELEM kind;
    uint32_t id;
    std::string text;
    int code;
    std::string note;
    bool operator==(const Line& o) const
    {
        return kind == o.kind && id == o.id && text == o.text && code == o.code && note == o.note;
    }
};

std::ostream& operator<<(std::ostream& os, const Line& l)
{
    return os << "{" << l.kind << " #" << l.id << " '" << l.text << "' " << l.code << " '" << l.note
              << "'}";
}

// Every line of `log`, as the window would get them.
std::vector<Line> lines_of(KV_TransLogTrans& log)
{
    log.set_id(4242);
    KV_FileReqLog out;
    EXPECT_TRUE(log.get_log(4242, out));
    KV_TransLogTrans::set_id_log(0);
    std::vector<Line> v;
    for (const KV_FileReqLogElem* e : out.list_elems())
        v.push_back({e->kind, e->seq, e->text.data(), e->code, e->note.data()});
    return v;
}

class RequestLog : public TmpFolderTest
{
protected:
    void SetUp() override
    {
        TmpFolderTest::SetUp();
        path = dir / "rm.log";
    }

    static KV_FileReqTransParamsRm rm_params(KV_FEXEC_TYPE fexec = KV_FEXEC_NONE)
    {
        KV_FileReqTransParamsRm p;
        p.set_forced_exec(fexec);
        p.set_tm_started(KV_Time(1000L));
        return p;
    }
    // A new delete log of two names in /data, created.
    std::unique_ptr<KV_TransLogTransRm> rm_log(KV_FEXEC_TYPE fexec = KV_FEXEC_NONE)
    {
        auto log = std::make_unique<KV_TransLogTransRm>(path.c_str(), path_of({"/", "data"}),
                                                        Names{"a.txt", "b"}, rm_params(fexec));
        log->set_id(k_man);
        EXPECT_TRUE(log->create());
        return log;
    }
    // The log restored from `file` as the transfer manager does it at start;
    // null when the restore fails.
    std::unique_ptr<KV_TransLogTransRm> restored(const std::string& file)
    {
        auto log = std::make_unique<KV_TransLogTransRm>(
            file.c_str(), KV_PathDef(), KVTL::KV_ListVal<KV_String>(), KV_FileReqTransParamsRm());
        const bool ok = log->restore(nullptr);
        KV_TransLog::tmp_file_man().unreg(file.c_str());
        return ok ? std::move(log) : nullptr;
    }
    // The body of rm_log(), written out from the field list.
    static Bytes rm_body(uint32_t status = 0)
    {
        Bytes b;
        put<uint32_t>(b, status);
        put<uint32_t>(b, 0);   // forced_exec
        put<int32_t>(b, -1);   // tm_start
        put<int32_t>(b, 1000); // tm_started
        put_id(b, 2, "srv", "user", "", 3);
        put_path(b, {"/", "data"});
        put<uint32_t>(b, 2);
        put_str(b, "a.txt");
        put_str(b, "b");
        return b;
    }

    std::string path;
};

// ---------------------------------------------------------------------------
// Bodies

TEST_F(RequestLog, DeleteLogIsStoredExactlyAndReadBackAfterARestart)
{
    auto log = rm_log();
    EXPECT_EQ(read_all(path), frame(3, rm_body()));
    ASSERT_TRUE(log->set_req_status(KV_REQ_STAT_RUNNING));
    log.reset();

    auto back = restored(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->type(), 3);
    EXPECT_EQ(back->req_status(), KV_REQ_STAT_RUNNING);
    EXPECT_TRUE(back->path() == path_of({"/", "data"}));
    ASSERT_EQ(back->list_files().size(), 2u);
    EXPECT_EQ(back->list_files().at(0), "a.txt");
    EXPECT_EQ(back->list_files().at(1), "b");
    EXPECT_TRUE(back->id_man() == k_man);
    EXPECT_EQ(back->tm_started(), KV_Time(1000L));
    EXPECT_FALSE(back->tm_start().valid());
    EXPECT_TRUE(back->nomsgs());
    EXPECT_EQ(read_all(path), frame(3, rm_body(KV_REQ_STAT_RUNNING)));
    // A delete log is no rename log.
    KV_TransLogTransRen ren(path.c_str(), KV_PathDef(), KV_PathDef(), KVTL::KV_ListVal<KV_String>(),
                            KV_FileReqTransParamsRen());
    EXPECT_FALSE(ren.restore(nullptr));
}

TEST_F(RequestLog, RenameLogOfNoNamesIsStoredExactly)
{
    const std::string file = dir / "ren.log";
    KV_FileReqTransParamsRen p;
    p.set_tm_start(KV_Time(77L));
    p.set_tm_started(KV_Time(66L));
    KV_TransLogTransRen log(file.c_str(), path_of({"/", "a"}), path_of({"/", "b", "c"}),
                            KVTL::KV_ListVal<KV_String>(), p);
    ASSERT_TRUE(log.create());
    Bytes body;
    put<uint32_t>(body, 0);
    put<uint32_t>(body, 0);
    put<int32_t>(body, 77);
    put<int32_t>(body, 66);
    put_id(body, 0, "", "", "", 0); // no manager
    put_path(body, {"/", "a"});
    put_path(body, {"/", "b", "c"});
    put<uint32_t>(body, 0);
    EXPECT_EQ(read_all(file), frame(4, body));

    KV_TransLogTransRen back(file.c_str(), KV_PathDef(), KV_PathDef(),
                             KVTL::KV_ListVal<KV_String>(), KV_FileReqTransParamsRen());
    ASSERT_TRUE(back.restore(nullptr));
    KV_TransLog::tmp_file_man().unreg(file.c_str());
    EXPECT_TRUE(back.path_src() == path_of({"/", "a"}));
    EXPECT_TRUE(back.path_dst() == path_of({"/", "b", "c"}));
    EXPECT_TRUE(back.list_files().empty());
    EXPECT_EQ(back.tm_start(), KV_Time(77L));
}

TEST_F(RequestLog, StatusAndParametersAreRewrittenInPlace)
{
    auto log = rm_log();
    const Bytes fresh = read_all(path);
    // A status already stored writes nothing: a byte changed behind the
    // log's back stays as it is.
    patch(path, 53, {9});
    EXPECT_TRUE(log->set_req_status(KV_REQ_STAT_QUEUED));
    EXPECT_EQ(read_all(path)[53], 9);
    patch(path, 53, {0});

    ASSERT_TRUE(log->set_req_status(KV_REQ_STAT_CANCELLED));
    ASSERT_TRUE(log->set_trans_params(rm_params(KV_FEXEC_FORCED)));
    EXPECT_TRUE(log->forced_exec());
    Bytes want = fresh;
    want[53] = 8;
    want[57] = 1;
    EXPECT_EQ(read_all(path), want);

    // Parameters of a longer kind take only the common fields: their own
    // bytes must not run over the manager id behind the parameters.
    KV_FileReqTransParamsCp cp;
    cp.set_tm_started(KV_Time(2000L));
    cp.set_mirror(2);
    ASSERT_TRUE(log->set_trans_params(cp));
    want[57] = 0;
    kv_put_le<int32_t>(want.data() + 65, 2000);
    EXPECT_EQ(read_all(path), want);
    log.reset();
    auto back = restored(path);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->id_man() == k_man);
    EXPECT_EQ(back->req_status(), KV_REQ_STAT_CANCELLED);
}

TEST_F(RequestLog, WritesFailOnceTheLogStandsNoMore)
{
    KV_TransLogTransRm never(path.c_str(), KV_PathDef(), KVTL::KV_ListVal<KV_String>(),
                             rm_params());
    EXPECT_FALSE(never.add_msg("x", 0)) << "never created";
    EXPECT_FALSE(never.set_req_status(KV_REQ_STAT_RUNNING));
    EXPECT_EQ(never.req_status(), KV_REQ_STAT_QUEUED);

    auto log = rm_log();
    log->close();
    EXPECT_TRUE(log->add_msg("reopened", 0)) << "a closed log reopens while it stands";
    log->del_log();
    EXPECT_FALSE(KV_File::exists(path.c_str()));
    EXPECT_FALSE(log->set_req_status(KV_REQ_STAT_RUNNING));
    EXPECT_FALSE(log->add_msg("gone", 0));
}

// ---------------------------------------------------------------------------
// Records

TEST_F(RequestLog, RecordsAreStoredExactlyAndRewrittenInPlace)
{
    ScriptedUi ui({KV_ANS_YES});
    KV_Informer informer;
    auto log = rm_log();
    const size_t body = read_all(path).size();
    const KV_PathDef item = path_of({"/", "data", "a.txt"});
    KV_Time before;
    before.now();

    ASSERT_TRUE(log->add_msg("hello", 0));
    uint8_t answer = 0;
    ASSERT_TRUE(log->ask(Ans::ASK_DELETE, answer, item, informer, KV_FileData("a.txt"),
                         KV_ASK_YES_ALL, nullptr));
    Fop done(item, Fop::ST_DONE, Fop::OP_DELETED);
    ASSERT_TRUE(log->set_status(done));

    const Bytes file = read_all(path);
    Bytes want(file.begin(), file.begin() + static_cast<long>(body));
    const size_t msg_at = want.size();
    put<uint32_t>(want, 2);
    put<uint32_t>(want, 1);
    put<int32_t>(want, 0); // tm, taken from the file below
    put<uint8_t>(want, 0);
    put<uint32_t>(want, 1);
    put_str(want, "hello");
    const size_t ans_at = want.size();
    put<uint32_t>(want, 1);
    put<uint8_t>(want, 1); // ans
    put<uint8_t>(want, 1); // ans_last
    put<int32_t>(want, 0);
    put<uint8_t>(want, 2); // question kind
    put_path(want, {"/", "data", "a.txt"});
    put<uint32_t>(want, 2);
    const size_t fop_at = want.size();
    put<uint32_t>(want, 4);
    put<uint8_t>(want, 1);
    put<uint8_t>(want, 2);
    put<int32_t>(want, 0);
    put_path(want, {"/", "data", "a.txt"});
    put<uint32_t>(want, 3);
    ASSERT_EQ(file.size(), want.size());
    for (size_t tm_at : {msg_at + 8, ans_at + 6, fop_at + 6}) {
        const int32_t tm = get<int32_t>(file, tm_at);
        EXPECT_GE(tm, before.impl());
        kv_put_le<int32_t>(want.data() + tm_at, tm);
    }
    EXPECT_EQ(file, want);

    // In place: the count of the message, the answer, the item's status;
    // nothing moves and the file keeps its length.
    ASSERT_TRUE(log->add_msg("hello", 0));
    ASSERT_TRUE(log->clr_answer(Ans::ASK_DELETE, item));
    Fop skipped(item, Fop::ST_SKIPPED, 0);
    ASSERT_TRUE(log->set_status(skipped));
    const Bytes after = read_all(path);
    ASSERT_EQ(after.size(), want.size());
    EXPECT_EQ(get<uint32_t>(after, msg_at + 4), 2u);
    EXPECT_EQ(after[ans_at + 4], 0) << "answer cleared";
    EXPECT_EQ(after[ans_at + 5], 1) << "the last answer is kept";
    EXPECT_EQ(after[fop_at + 4], Fop::ST_SKIPPED);
    EXPECT_EQ(after[fop_at + 5], Fop::OP_DELETED) << "op 0 keeps the recorded op";
    EXPECT_TRUE(std::equal(after.begin() + static_cast<long>(fop_at + 10), after.end(),
                           want.begin() + static_cast<long>(fop_at + 10)));
    EXPECT_TRUE(log->some_skipped());

    // A restart of the program reads every record back.
    const std::vector<Line> lines = lines_of(*log);
    const std::vector<Line> expected = {
        {KV_FILE_REQ_LOG_ELEM_MSG, 1, "hello", 0, "2 times"},
        {KV_FILE_REQ_LOG_ELEM_ANSWER, 2, "a.txt", -1, "Delete ? => Yes ( cleared )"},
        {KV_FILE_REQ_LOG_ELEM_FILEOP, 3, "a.txt", 2, "Skipped"},
    };
    EXPECT_EQ(lines, expected);
    log.reset();
    auto back = restored(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(lines_of(*back), expected);
    EXPECT_EQ(back->status(item), Fop::ST_SKIPPED);
    EXPECT_EQ(back->answer(Ans::ASK_DELETE, item), Ans::ANS_NONE);
    // The record counter goes on after the highest number read.
    ASSERT_TRUE(back->add_msg("next", 1));
    EXPECT_EQ(lines_of(*back).back(), (Line{KV_FILE_REQ_LOG_ELEM_MSG, 4, "next", 1, ""}));
}

TEST_F(RequestLog, MessagesAreCountedAgainByTheirLevelAndRun)
{
    struct Case
    {
        const char* name;
        std::vector<std::pair<std::string, uint8_t>> adds;
        std::vector<std::string> notes; // per record, in order
    };
    const Case cases[] = {
        {"plain twice", {{"x", 0}, {"x", 0}}, {"2 times"}},
        {"plain with another between", {{"x", 0}, {"y", 0}, {"x", 0}}, {"", "", ""}},
        {"errors between plain ones do not count", {{"x", 0}, {"e", 2}, {"x", 0}}, {"2 times", ""}},
        {"an error equal to the newest", {{"A", 2}, {"A", 2}}, {"2 times"}},
        {"A, B, A, then A", {{"A", 2}, {"B", 2}, {"A", 2}, {"A", 2}}, {"3 times", ""}},
        {"among the three newest errors",
         {{"A", 2}, {"B", 2}, {"C", 2}, {"A", 2}},
         {"2 times", "", ""}},
        {"four back is a new record",
         {{"A", 2}, {"B", 2}, {"C", 2}, {"D", 2}, {"A", 2}},
         {"", "", "", "", ""}},
        {"a plain message breaks the run",
         {{"A", 2}, {"x", 0}, {"B", 2}, {"A", 2}},
         {"", "", "", ""}},
        {"levels count apart", {{"A", 1}, {"A", 2}}, {"", ""}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        path = dir / ("m" + std::to_string(n++) + ".log");
        auto log = rm_log();
        for (const auto& [text, level] : c.adds)
            ASSERT_TRUE(log->add_msg(text.c_str(), level));
        std::vector<std::string> notes;
        for (const Line& l : lines_of(*log))
            notes.push_back(l.note);
        EXPECT_EQ(notes, c.notes);
    }
}

TEST_F(RequestLog, LastErrorAndErrorsPassedOn)
{
    auto log = rm_log();
    kvtest::LogErr outer;
    log->set_eh(&outer);
    log->eh().set_err(1, "warned");
    log->eh().set_err(2, "failed %d", 7);
    EXPECT_EQ(outer.texts(), std::vector<std::string>{"failed 7"}) << "only priority 2 goes on";
    EXPECT_EQ(log->last_err(), "failed 7");
    log->add_msg("one", 0);
    log->add_msg("two", 0);
    EXPECT_EQ(log->last_err(), "failed 7");
    log->add_msg("three", 0);
    EXPECT_EQ(log->last_err(), "") << "only the three newest messages are looked at";
    EXPECT_FALSE(log->nomsgs());
}

// A file tried again and again on a full disk: each attempt fails with the
// disk's error and the server's answer to the cut connection follows. The
// cause is the error that came most often, whichever came last.
TEST_F(RequestLog, TheMainErrorIsTheOneRepeatedMostOften)
{
    auto log = rm_log();
    EXPECT_EQ(log->main_err(), "");
    log->add_msg("Started", 0);
    EXPECT_EQ(log->main_err(), "") << "messages of level 0 are no errors";
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(log->add_msg("Couldn't write ( No space left on device )", 2));
    ASSERT_TRUE(log->add_msg("426 Failure writing network stream.", 2));
    EXPECT_EQ(log->main_err(), "Couldn't write ( No space left on device )");
    EXPECT_EQ(log->last_err(), "426 Failure writing network stream.");
    // Equally often: the newer one.
    ASSERT_TRUE(log->add_msg("426 Failure writing network stream.", 2));
    ASSERT_TRUE(log->add_msg("426 Failure writing network stream.", 2));
    EXPECT_EQ(log->main_err(), "426 Failure writing network stream.");
}

// ---------------------------------------------------------------------------
// Answers

TEST_F(RequestLog, AnswersAreRememberedAsTheUserGaveThem)
{
    KV_Informer informer;
    auto log = rm_log();
    const KV_PathDef a = path_of({"/", "data", "a.txt"});
    const KV_PathDef b = path_of({"/", "data", "b"});
    KV_FileData file("a.txt", "Jan 01 2024", 1234, KV_Time());
    file.set_fd_flags(KV_FD_SIZE | KV_FD_TIME, 0);
    KV_FileData folder("b", true);
    uint8_t answer = 0;
    {
        ScriptedUi ui({KV_ANS_NO, KV_ANS_YES_ALL});
        ASSERT_TRUE(
            log->ask(Ans::ASK_OVERWRITE, answer, a, informer, file, KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(answer, Ans::ANS_NO);
        ASSERT_TRUE(
            log->ask(Ans::ASK_OVERWRITE, answer, b, informer, folder, KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(answer, Ans::ANS_YES);
        EXPECT_EQ(ui.asked(),
                  (std::vector<std::string>{
                      "The file \"a.txt\" ( last changed: Jan 01 2024, size: 1234 byte(s) ) "
                      "already exists. Overwrite ?",
                      "The directory \"b\" already exists. Overwrite ?"}));
    }
    {
        // The No for a stands, the Yes to all covers every other item.
        ScriptedUi ui({});
        ASSERT_TRUE(
            log->ask(Ans::ASK_OVERWRITE, answer, a, informer, file, KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(answer, Ans::ANS_NO);
        ASSERT_TRUE(log->ask(Ans::ASK_OVERWRITE, answer, path_of({"/", "x"}), informer,
                             KV_FileData("x"), KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(answer, Ans::ANS_YES);
        EXPECT_TRUE(ui.asked().empty());
    }
    EXPECT_EQ(log->answer(Ans::ASK_OVERWRITE, KV_PathDef()), Ans::ANS_YES);
    ASSERT_TRUE(log->clr_answer(Ans::ASK_OVERWRITE, KV_PathDef()));
    EXPECT_EQ(log->answer(Ans::ASK_OVERWRITE, KV_PathDef()), Ans::ANS_NONE);
    bool seen = false;
    for (const Line& l : lines_of(*log)) {
        if (l.text == "All files") {
            EXPECT_EQ(l.note, "Overwrite ? => Yes ( cleared )");
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
    {
        // Skip questions: a No is not kept, so the next failure asks again;
        // a No to all is not kept either.
        ScriptedUi ui({KV_ANS_NO, KV_ANS_NO_ALL, KV_ANS_YES});
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(
                log->ask(Ans::ASK_SKIP, answer, a, informer, file, KV_ASK_YES_ALL, nullptr));
        }
        EXPECT_EQ(answer, Ans::ANS_YES);
        EXPECT_EQ(ui.asked().size(), 3u);
        EXPECT_EQ(ui.asked()[0], "Are you sure you want to skip the file \"a.txt\" ( last "
                                 "changed: Jan 01 2024, size: 1234 byte(s) ) ?");
        // Remembered now: no fourth question.
        ASSERT_TRUE(log->ask(Ans::ASK_SKIP, answer, a, informer, file, KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(ui.asked().size(), 3u);
        // A kind that does not exist is not asked.
        EXPECT_FALSE(log->ask(4, answer, a, informer, file, KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(ui.asked().size(), 3u);
    }
}

TEST_F(RequestLog, ForcedExecutionAnswersYesWithoutAsking)
{
    KV_Informer informer;
    auto log = rm_log(KV_FEXEC_FORCED);
    ScriptedUi ui({KV_ANS_NO});
    uint8_t answer = 0;
    for (uint8_t kind : {Ans::ASK_OVERWRITE, Ans::ASK_DELETE, Ans::ASK_SKIP}) {
        ASSERT_TRUE(log->ask(kind, answer, path_of({"/", "f"}), informer, KV_FileData("f"),
                             KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(answer, Ans::ANS_YES);
    }
    EXPECT_TRUE(ui.asked().empty());
    EXPECT_TRUE(log->nomsgs());
}

TEST_F(RequestLog, AskReturnsWhenNobodyAnswers)
{
    auto log = rm_log();
    const KV_PathDef a = path_of({"/", "data", "a.txt"});
    uint8_t answer = 0;
    {
        // No user interface at all: the informer answers nothing.
        KV_Informer informer;
        EXPECT_FALSE(log->ask(Ans::ASK_DELETE, answer, a, informer, KV_FileData("a.txt"),
                              KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(answer, Ans::ANS_NO) << "the worker does not go ahead";
    }
    {
        // A user interface that has shut down.
        ScriptedUi ui({KV_ANS_YES});
        KV_Informer informer;
        informer.shutdown();
        EXPECT_FALSE(log->ask(Ans::ASK_OVERWRITE, answer, a, informer, KV_FileData("a.txt"),
                              KV_ASK_YES_ALL, nullptr));
        EXPECT_EQ(answer, Ans::ANS_NO);
        EXPECT_TRUE(ui.asked().empty());
    }
    // Nothing remembered: the question comes back when the request resumes.
    EXPECT_EQ(log->answer(Ans::ASK_DELETE, a), Ans::ANS_NONE);
    EXPECT_EQ(log->answer(Ans::ASK_OVERWRITE, a), Ans::ANS_NONE);
    // But the log says why each ask stopped the worker.
    const std::vector<Line> lines = lines_of(*log);
    ASSERT_EQ(lines.size(), 2u);
    for (const Line& l : lines)
        EXPECT_NE(l.text.find("No answer to the question"), std::string::npos) << l;
}

// ---------------------------------------------------------------------------
// Items and errors

TEST_F(RequestLog, ErrorsOfAnItemAreCountedUpToTheLimit)
{
    auto log = rm_log();
    const KV_PathDef a = path_of({"/", "data", "a.txt"});
    EXPECT_FALSE(log->inc_err(a, 3)) << "no record, nothing to count";
    Fop open(a, Fop::ST_OPEN, 0);
    ASSERT_TRUE(log->set_status(open));
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(log->inc_err(a, 3));
    }
    EXPECT_TRUE(log->inc_err(a, 3));
    EXPECT_TRUE(log->inc_err(a, 3)) << "nothing more is counted once reached";
    EXPECT_EQ(lines_of(*log).back().note, "Errors: 3");
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(log->inc_err(a, 0)) << "no limit";

    Fop skipped(a, Fop::ST_SKIPPED, 0);
    ASSERT_TRUE(log->set_status(skipped));
    EXPECT_EQ(lines_of(*log).back().note, "Skipped, Errors: 13");
    log.reset();
    // The counts are not stored: a restart starts them at 0.
    auto back = restored(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(lines_of(*back).back().note, "Skipped");
    EXPECT_FALSE(back->inc_err(a, 1));
    EXPECT_TRUE(back->inc_err(a, 1));
}

TEST_F(RequestLog, RestartWritesTheFileAnewWithTheSameNames)
{
    auto log = rm_log();
    ASSERT_TRUE(log->set_req_status(KV_REQ_STAT_ERROR));
    ASSERT_TRUE(log->add_msg("failed", 2));
    Fop done(path_of({"/", "data", "b"}), Fop::ST_DONE, Fop::OP_DELETED);
    ASSERT_TRUE(log->set_status(done));

    ASSERT_TRUE(log->restart());
    EXPECT_EQ(read_all(path), frame(3, rm_body()));
    EXPECT_EQ(log->req_status(), KV_REQ_STAT_QUEUED);
    EXPECT_TRUE(log->nomsgs());
    EXPECT_EQ(log->status(path_of({"/", "data", "b"})), 0);
    ASSERT_TRUE(log->add_msg("again", 0));
    EXPECT_EQ(lines_of(*log), (std::vector<Line>{{KV_FILE_REQ_LOG_ELEM_MSG, 1, "again", 0, ""}}));
}

// ---------------------------------------------------------------------------
// Torn and damaged files

TEST_F(RequestLog, ALogCutInItsLastRecordRestoresTheRecordsBeforeIt)
{
    ScriptedUi ui({KV_ANS_YES_ALL});
    KV_Informer informer;
    {
        auto log = rm_log();
        uint8_t answer = 0;
        ASSERT_TRUE(log->add_msg("first", 0));
        ASSERT_TRUE(log->ask(Ans::ASK_DELETE, answer, path_of({"/", "data", "a.txt"}), informer,
                             KV_FileData("a.txt"), KV_ASK_YES_ALL, nullptr));
    }
    const size_t last_at = read_all(path).size();
    {
        auto log = restored(path);
        ASSERT_NE(log, nullptr);
        ASSERT_TRUE(log->add_msg(std::string(120, 'x').c_str(), 2));
    }
    const Bytes whole = read_all(path);
    const std::vector<Line> before = {
        {KV_FILE_REQ_LOG_ELEM_MSG, 1, "first", 0, ""},
        {KV_FILE_REQ_LOG_ELEM_ANSWER, 2, "All files", -1, "Delete ? => Yes"},
    };
    for (size_t cut = last_at; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        write_all(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
        {
            auto log = restored(path);
            ASSERT_NE(log, nullptr);
            ASSERT_EQ(lines_of(*log), before);
            EXPECT_EQ(read_all(path).size(), cut) << "a restore writes nothing";
            ASSERT_TRUE(log->add_msg("new", 0));
        }
        // The new record took the torn one's place and nothing follows it.
        auto again = restored(path);
        ASSERT_NE(again, nullptr);
        std::vector<Line> want = before;
        want.push_back({KV_FILE_REQ_LOG_ELEM_MSG, 3, "new", 0, ""});
        EXPECT_EQ(lines_of(*again), want);
    }
}

TEST_F(RequestLog, StaleRecordsAfterADamagedOneNeverComeBack)
{
    {
        auto log = rm_log();
        ASSERT_TRUE(log->add_msg("a", 0));
        ASSERT_TRUE(log->add_msg("bbbb", 0));
    }
    const size_t b_at = read_all(path).size() - (17 + 4 + 8);
    {
        // A remembered "Yes to all" for deletions after the message.
        ScriptedUi ui({KV_ANS_YES_ALL});
        KV_Informer informer;
        auto log = restored(path);
        ASSERT_NE(log, nullptr);
        uint8_t answer = 0;
        ASSERT_TRUE(log->ask(Ans::ASK_DELETE, answer, path_of({"/", "x"}), informer,
                             KV_FileData("x"), KV_ASK_YES_ALL, nullptr));
    }
    // The message's length field is damaged: the readable part ends there.
    patch(path, static_cast<int64_t>(b_at + 17), {0xFF, 0xFF, 0xFF, 0x7F});
    {
        auto log = restored(path);
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(log->answer(Ans::ASK_DELETE, KV_PathDef()), Ans::ANS_NONE);
        // A new record of the damaged one's length lands exactly over it.
        ASSERT_TRUE(log->add_msg("cccc", 0));
    }
    auto back = restored(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->answer(Ans::ASK_DELETE, KV_PathDef()), Ans::ANS_NONE)
        << "the answer written after the damaged record must stay cut off";
    EXPECT_EQ(lines_of(*back).size(), 2u);
}

TEST_F(RequestLog, DamagedBodiesAreRefusedAndLeftUnchanged)
{
    rm_log();
    const Bytes good = read_all(path);
    const size_t id_at = 53 + 4 + 12;
    const size_t path_at = id_at + 2 + (4 + 6) + (4 + 8) + 4 + 4;
    const size_t names_at = path_at + 1 + 4 + (4 + 2) + (4 + 8);
    ASSERT_EQ(get<uint32_t>(good, names_at), 2u);
    struct Case
    {
        const char* name;
        size_t at;
        Bytes bytes;
    };
    const Case cases[] = {
        {"status out of range", 53, {9, 0, 0, 0}},
        {"forced execution that no dialog sets", 57, {2, 0, 0, 0}},
        {"string length past the end", id_at + 2, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"path entry count past the end", path_at + 1, {0x00, 0x00, 0x00, 0x40}},
        {"name count past the end", names_at, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"one name too many", names_at, {3, 0, 0, 0}},
        {"unfinished creation", 52, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_all(path, good);
        patch(path, static_cast<int64_t>(c.at), c.bytes);
        const Bytes damaged = read_all(path);
        EXPECT_EQ(restored(path), nullptr);
        EXPECT_EQ(read_all(path), damaged);
    }
    write_all(path, good);
    write_all(path, Bytes(good.begin(), good.end() - 1));
    EXPECT_EQ(restored(path), nullptr) << "a body cut short";
}

TEST_F(RequestLog, RecordsThatNoWriterMakesEndTheReadablePart)
{
    ScriptedUi ui({KV_ANS_YES, KV_ANS_NO});
    KV_Informer informer;
    const KV_PathDef a = path_of({"/", "data", "a.txt"});
    uint8_t answer = 0;
    {
        auto log = rm_log();
        ASSERT_TRUE(log->ask(Ans::ASK_DELETE, answer, a, informer, KV_FileData("a.txt"),
                             KV_ASK_YES_ALL, nullptr));
        ASSERT_TRUE(log->clr_answer(Ans::ASK_DELETE, a));
        ASSERT_TRUE(log->ask(Ans::ASK_DELETE, answer, a, informer, KV_FileData("a.txt"),
                             KV_ASK_YES_ALL, nullptr));
    }
    // Two records of one answer (a file written by another program, or
    // merged): the later one wins.
    const Bytes one = read_all(path);
    const size_t path_size = 1 + 4 + (4 + 2) + (4 + 8) + (4 + 10);
    const size_t rec_at = one.size() - (4 + 1 + 1 + 4 + 1 + path_size + 4);
    ASSERT_EQ(get<uint32_t>(one, rec_at), 1u);
    const Bytes rec(one.begin() + static_cast<long>(rec_at), one.end());
    Bytes twice = one;
    Bytes later = rec;
    later[4] = Ans::ANS_YES;
    later[5] = Ans::ANS_YES;
    kv_put_le<uint32_t>(later.data() + later.size() - 4, 9);
    append(twice, later);
    write_all(path, twice);
    {
        auto log = restored(path);
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(log->answer(Ans::ASK_DELETE, a), Ans::ANS_YES);
        EXPECT_EQ(lines_of(*log).size(), 1u);
    }
    struct Case
    {
        const char* name;
        size_t at;
        Bytes bytes;
    };
    const Case cases[] = {
        {"unknown record kind", rec_at, {3, 0, 0, 0}},
        {"an answer that is no answer", rec_at + 4, {7}},
        {"a question kind that does not exist", rec_at + 10, {4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_all(path, one);
        patch(path, static_cast<int64_t>(c.at), c.bytes);
        auto log = restored(path);
        ASSERT_NE(log, nullptr) << "the log stands, cut before the record";
        EXPECT_EQ(log->answer(Ans::ASK_DELETE, a), Ans::ANS_NONE);
        EXPECT_TRUE(lines_of(*log).empty());
    }
}

// ---------------------------------------------------------------------------
// Request-log window

TEST_F(RequestLog, TheWindowHearsOfTheLogItShows)
{
    KV_FileManPool pool;
    auto shown = rm_log();
    path = dir / "other.log";
    auto other = rm_log();
    shown->set_id(5);
    other->set_id(6);
    KV_FileReqLog first;
    ASSERT_TRUE(shown->get_log(5, first));
    EXPECT_EQ(KV_TransLogTrans::id_log(), 5u);

    ASSERT_TRUE(shown->add_msg("to the window", 2));
    ASSERT_TRUE(other->add_msg("not shown", 0));
    ASSERT_TRUE(shown->req_status_changed(KV_REQ_STAT_RUNNING, "Running"));
    std::vector<uint32_t> chg;
    std::vector<std::string> texts;
    while (KV_Msg* m = pool.informer().pop()) {
        if (m->type() == KV_MSG_REQ_LOG) {
            auto* r = static_cast<KV_MsgReqLog*>(m);
            EXPECT_EQ(r->req_id, 5u);
            chg.push_back(r->log.chg);
            for (const KV_FileReqLogElem* e : r->log.list_elems())
                texts.emplace_back(e->text.data());
            if (r->log.chg & KV_FileReqLog::CHG_LAST_ERR) {
                EXPECT_EQ(r->log.info.last_err(), "to the window");
            }
        }
        KV_Informer::destroy(m);
    }
    EXPECT_EQ(texts, std::vector<std::string>{"to the window"});
    ASSERT_EQ(chg.size(), 2u);
    EXPECT_EQ(chg[0], KV_FileReqLog::CHG_ELEMS | KV_FileReqLog::CHG_LAST_ERR);
    EXPECT_EQ(chg[1], KV_FileReqLog::CHG_STATUS);

    shown->del_log();
    EXPECT_EQ(KV_TransLogTrans::id_log(), 0u);
    KV_Msg* m = pool.informer().pop();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(static_cast<KV_MsgReqLog*>(m)->log.chg, 0x1Fu & ~KV_FileReqLog::CHG_ELEMS);
    KV_Informer::destroy(m);
}

} // namespace
