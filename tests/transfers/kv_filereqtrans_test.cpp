// The transfer requests: the log file made when a request is taken up, the
// error skipping, the duplicate test of each kind (data sources and case
// rules), the managers of a copy by phase, the direct transfer, the
// descriptions and the snapshot flags, and what a finished request tells.
#include "transfers/kv_filereqtrans.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_tmpfile.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_filemanpool.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_transmantest.h"
#include "transfers/kv_transtest.h"

namespace {

using namespace transtest;

KV_FileReqTransParamsCp cp_params(uint8_t mirror = 0, bool dtrans = false)
{
    KV_FileReqTransParamsCp p;
    p.set_mirror(mirror);
    p.set_dtrans(dtrans);
    return p;
}

class TransReq : public TmpFolderTest
{
protected:
    std::unique_ptr<KV_FileReqTransCp> copy(KV_FileMan* src, KV_FileMan* dst,
                                            const Names& names_src, const Names& names_dst,
                                            const KV_FileReqTransParamsCp& p = cp_params())
    {
        return std::make_unique<KV_FileReqTransCp>(
            src, dst, path_of({"Srv A", "pub"}), path_of({"Home", "in"}), names_src, names_dst, p);
    }

    FakeMan ftp_a{id_of(2, "a.example", 1), KV_FILE_MAN_TYPE_FTP, "Srv A"};
    FakeMan ftp_a2{id_of(2, "a.example", 2), KV_FILE_MAN_TYPE_FTP, "Srv A"};
    FakeMan ftp_b{id_of(2, "b.example", 1), KV_FILE_MAN_TYPE_FTP, "Srv B"};
    FakeMan http{id_of(3, "w.example", 1), KV_FILE_MAN_TYPE_HTTP, "Web"};
    // The local disk compares names without regard to case here.
    FakeMan local{id_of(1, "Home", 2), KV_FILE_MAN_TYPE_STD, "Home", false};
};

// ---------------------------------------------------------------------------
// The log file

TEST_F(TransReq, TheLogFileIsMadeWhenTheRequestIsTakenUp)
{
    auto req = copy(&ftp_a, &local, Names{"a"}, Names{"a"});
    EXPECT_FALSE(req->log().has_name());
    ASSERT_TRUE(req->pre_add());
    const std::string name = req->log().name().data();
    EXPECT_EQ(name.rfind(dir.path() + "/", 0), 0u) << name;
    ASSERT_TRUE(KV_File::exists(name.c_str()));
    EXPECT_EQ(read_all(name)[52], 2) << "a finished copy request log";
    EXPECT_TRUE(req->pre_add()) << "a log with a file keeps it";
    EXPECT_EQ(req->log().name(), name.c_str());
    EXPECT_TRUE(req->log().id_man_src() == ftp_a.id());
    EXPECT_TRUE(req->log().id_man_dst() == local.id());

    // A request rebuilt from its file at start makes no second one.
    const Bytes bytes = read_all(name);
    {
        KV_FileReqTransCp saved(name.c_str());
        ASSERT_TRUE(saved.log().restore(nullptr));
        ASSERT_TRUE(saved.pre_add());
        EXPECT_EQ(saved.log().name(), name.c_str());
        EXPECT_TRUE(saved.log().id_man_src() == ftp_a.id());
        saved.init(&ftp_a, &local);
    }
    EXPECT_EQ(read_all(name), bytes);

    req->pre_rm();
    EXPECT_FALSE(KV_File::exists(name.c_str()));

    // No temporary folder: the request cannot be taken up.
    ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (dir / "missing").c_str()));
    KV_FileReqTransRm rm(&ftp_a, path_of({"Srv A", "pub"}), Names{"x"}, KV_FileReqTransParamsRm());
    EXPECT_FALSE(rm.pre_add());
}

TEST_F(TransReq, BoundManagersAreHeldUntilTheRequestGoes)
{
    uint32_t held = 0;
    {
        auto req = copy(&ftp_a, &ftp_b, Names{}, Names{});
        KV_FileReqTransRen ren(&ftp_a, path_of({"Srv A", "x"}), path_of({"Srv A", "y"}), Names{},
                               KV_FileReqTransParamsRen());
        ftp_a.lock_cnt(&held);
        EXPECT_EQ(held, 2u);
        ftp_b.lock_cnt(&held);
        EXPECT_EQ(held, 1u);
    }
    ftp_a.lock_cnt(&held);
    EXPECT_EQ(held, 0u);
    ftp_b.lock_cnt(&held);
    EXPECT_EQ(held, 0u);
}

// ---------------------------------------------------------------------------
// Skipping files

TEST_F(TransReq, AUserSkipIsTakenOnceThenErrorsAreCounted)
{
    KV_FileReqTransRm rm(&ftp_a, path_of({"Srv A", "pub"}), Names{"x"}, KV_FileReqTransParamsRm());
    ASSERT_TRUE(rm.pre_add());
    const KV_PathDef x = path_of({"Srv A", "pub", "x"});
    KV_TransLogFileGrpFop open(x, KV_TransLogFileGrpFop::ST_OPEN, 0);
    ASSERT_TRUE(rm.log().set_status(open));

    rm.set_skip_err();
    bool retry = true;
    EXPECT_TRUE(rm.skip_err(x, retry));
    EXPECT_TRUE(retry);
    // Without a transfer manager there is no file-retry limit: only the
    // user skips a failing file.
    for (int i = 0; i < 60; ++i)
        EXPECT_FALSE(rm.skip_err(x, retry));
    EXPECT_TRUE(retry);
    rm.set_skip_err();
    EXPECT_TRUE(rm.skip_err(x, retry));
    EXPECT_TRUE(rm.file_del(x)) << "nothing to record for a delete request";
}

// ---------------------------------------------------------------------------
// Duplicates

TEST_F(TransReq, CopiesAreEqualForTheSameDataSourcesNamesAndOperation)
{
    auto base = copy(&ftp_a, &local, Names{"a", "B"}, Names{"a", "B"});
    struct Case
    {
        const char* name;
        std::unique_ptr<KV_FileReqTransCp> other;
        bool equal;
    };
    auto edit = copy(&ftp_a, &local, Names{"a", "B"}, Names{"a", "B"});
    edit->log().set_fileop(KV_FILEOP_EDIT);
    Case cases[] = {
        {"the same", copy(&ftp_a, &local, Names{"a", "B"}, Names{"a", "B"}), true},
        {"another connection to the same server",
         copy(&ftp_a2, &local, Names{"a", "B"}, Names{"a", "B"}), true},
        {"another server", copy(&ftp_b, &local, Names{"a", "B"}, Names{"a", "B"}), false},
        {"a destination name in another case (case-blind side)",
         copy(&ftp_a, &local, Names{"a", "B"}, Names{"a", "b"}), true},
        {"a source name in another case (case-sensitive side)",
         copy(&ftp_a, &local, Names{"a", "b"}, Names{"a", "B"}), false},
        {"fewer names", copy(&ftp_a, &local, Names{"a"}, Names{"a"}), false},
        {"another operation", std::move(edit), false},
        {"no managers", copy(nullptr, nullptr, Names{"a", "B"}, Names{"a", "B"}), false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(*base == *c.other, c.equal);
    }
    EXPECT_FALSE(*cases[7].other == *base) << "a request without managers is never equal";
    KV_FileReqTransRm rm(&ftp_a, path_of({"Srv A", "pub"}), Names{"a", "B"},
                         KV_FileReqTransParamsRm());
    EXPECT_FALSE(*base == static_cast<const KV_FileReq&>(rm));
}

TEST_F(TransReq, RenamesAndDeletesAreEqualOnlyOnTheSameDataSource)
{
    const KV_FileReqTransParamsRm p;
    KV_FileReqTransRm on_a(&ftp_a, path_of({"S", "pub"}), Names{"x", "y"}, p);
    KV_FileReqTransRm on_a2(&ftp_a2, path_of({"S", "pub"}), Names{"x", "y"}, p);
    KV_FileReqTransRm on_b(&ftp_b, path_of({"S", "pub"}), Names{"x", "y"}, p);
    KV_FileReqTransRm other_dir(&ftp_a, path_of({"S", "tmp"}), Names{"x", "y"}, p);
    KV_FileReqTransRm other_case(&ftp_a, path_of({"S", "pub"}), Names{"x", "Y"}, p);
    EXPECT_TRUE(on_a == on_a2);
    // The same folder and names on another server: a delete on B must not
    // be cancelled as a duplicate of one on A.
    EXPECT_FALSE(on_a == on_b);
    EXPECT_FALSE(on_a == other_dir);
    EXPECT_FALSE(on_a == other_case) << "names compared by the manager's case rule";
    KV_FileReqTransRm blind_a(&local, path_of({"S", "pub"}), Names{"x", "y"}, p);
    KV_FileReqTransRm blind_b(&local, path_of({"S", "PUB"}), Names{"X", "y"}, p);
    EXPECT_TRUE(blind_a == blind_b);

    const KV_FileReqTransParamsRen pr;
    KV_FileReqTransRen ren(&ftp_a, path_of({"S", "pub"}), path_of({"S", "new"}), Names{"x"}, pr);
    KV_FileReqTransRen ren2(&ftp_a2, path_of({"S", "pub"}), path_of({"S", "new"}), Names{"x"}, pr);
    KV_FileReqTransRen ren_b(&ftp_b, path_of({"S", "pub"}), path_of({"S", "new"}), Names{"x"}, pr);
    KV_FileReqTransRen elsewhere(&ftp_a, path_of({"S", "pub"}), path_of({"S", "old"}), Names{"x"},
                                 pr);
    EXPECT_TRUE(ren == ren2);
    EXPECT_FALSE(ren == ren_b);
    EXPECT_FALSE(ren == elsewhere);
    EXPECT_FALSE(ren == static_cast<const KV_FileReq&>(on_a));
    KV_FileReqTransRen unbound(nullptr, path_of({"S", "pub"}), path_of({"S", "new"}), Names{"x"},
                               pr);
    EXPECT_FALSE(unbound == ren);
}

// ---------------------------------------------------------------------------
// Managers by phase, direct transfers

TEST_F(TransReq, TheUploadOfAnEditSwapsTheManagers)
{
    auto req = copy(&ftp_a, &local, Names{"f"}, Names{"f"});
    req->log().set_fileop(KV_FILEOP_EDIT);
    ASSERT_TRUE(req->pre_add());
    EXPECT_EQ(req->man_src(), &ftp_a);
    ASSERT_TRUE(req->log().next_phase());
    EXPECT_EQ(req->man_src(), &ftp_a);
    ASSERT_TRUE(req->log().next_phase());
    EXPECT_EQ(req->man_src(), &local);
    EXPECT_EQ(req->man_dst(), &ftp_a);
    EXPECT_EQ(req->man_src_const(), &ftp_a);
    EXPECT_EQ(req->man_dst_const(), &local);
    ASSERT_TRUE(req->log().next_phase());
    EXPECT_EQ(req->man_src(), &ftp_a);
}

TEST_F(TransReq, DirectTransfersOnlyBetweenTwoFtpServers)
{
    EXPECT_TRUE(copy(&ftp_a, &ftp_b, Names{}, Names{}, cp_params(0, true))->dtrans());
    EXPECT_FALSE(copy(&ftp_a, &ftp_b, Names{}, Names{}, cp_params(0, false))->dtrans());
    EXPECT_FALSE(copy(&ftp_a, &http, Names{}, Names{}, cp_params(0, true))->dtrans());
    EXPECT_FALSE(copy(&local, &local, Names{}, Names{}, cp_params(0, true))->dtrans());
    EXPECT_FALSE(copy(&ftp_a, nullptr, Names{}, Names{}, cp_params(0, true))->dtrans());
}

// ---------------------------------------------------------------------------
// Descriptions and snapshots

TEST_F(TransReq, DescriptionsNameTheOperationAndTheDataSources)
{
    struct Case
    {
        KV_FILEOP op;
        uint8_t mirror;
        const char* name;
        const char* descr;
    };
    const Case cases[] = {
        {KV_FILEOP_COPY, 0, "Copy", "Srv A # 1 => Home # 2 [a, b -> c]"},
        {KV_FILEOP_COPY, 1, "Mirror", "Srv A # 1 => Home # 2 [a, b -> c]"},
        {KV_FILEOP_COPY, 2, "Mirror", "Srv A # 1 => Home # 2 [a, b -> c]"},
        {KV_FILEOP_OPEN, 0, "Open", "Srv A # 1 [a, b -> c]"},
        {KV_FILEOP_VIEW, 2, "View", "Srv A # 1 [a, b -> c]"},
        {KV_FILEOP_EDIT, 0, "Edit", "Srv A # 1 [a, b -> c]"},
        {KV_FILEOP_PRINT, 0, "Print", "Srv A # 1 [a, b -> c]"},
        {KV_FILEOP_UPDATE_CHECK, 0, "Application update", "Srv A # 1 [a, b -> c]"},
        {KV_FILEOP_UPDATE_APP, 0, "Application update", "Srv A # 1 [a, b -> c]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto req = copy(&ftp_a, &local, Names{"a", "b"}, Names{"a", "c"}, cp_params(c.mirror));
        req->log().set_fileop(c.op);
        KV_String descr = "old";
        EXPECT_STREQ(req->get_descr(descr, false), c.name);
        EXPECT_EQ(descr, c.descr);
    }

    auto req = copy(&ftp_a, &local, Names{"a", "b"}, Names{"a", "c"});
    KV_String src;
    KV_String dst;
    ASSERT_TRUE(ftp_a.man_path().build_path(src, path_of({"Srv A", "pub"}), false, 0));
    ASSERT_TRUE(local.man_path().build_path(dst, path_of({"Home", "in"}), false, 0));
    const std::string detailed =
        std::string("Data sources:\tSrv A # 1 => Home # 2\r\n\r\n") + "Source path:\t" +
        ftp_a.man_path().compl_dir(src).data() + "\r\nDestination path:\t" +
        local.man_path().compl_dir(dst).data() + "\r\nFile(s):\t\ta, b -> c";
    KV_String descr;
    EXPECT_STREQ(req->get_descr(descr, true), "Copy");
    EXPECT_EQ(std::string(descr.data()), detailed);

    // Without managers the name alone, the text left as it was.
    auto unbound = copy(nullptr, &local, Names{"a"}, Names{"a"}, cp_params(1));
    descr = "kept";
    EXPECT_STREQ(unbound->get_descr(descr, true), "Mirror");
    EXPECT_EQ(descr, "kept");
}

TEST_F(TransReq, RenameAndDeleteDescriptions)
{
    KV_FileReqTransRen ren(nullptr, path_of({"S", "a"}), path_of({"S", "b"}), Names{"x"},
                           KV_FileReqTransParamsRen());
    EXPECT_TRUE(ren.log().id_man() == KV_FileManId());
    KV_String descr = "kept";
    EXPECT_STREQ(ren.get_descr(descr, true), "Rename");
    EXPECT_EQ(descr, "kept");

    KV_FileReqTransRen bound(&ftp_a, path_of({"Srv A", "a"}), path_of({"Srv A", "b"}),
                             Names{"x", "y"}, KV_FileReqTransParamsRen());
    EXPECT_STREQ(bound.get_descr(descr, false), "Rename");
    EXPECT_EQ(descr, "Srv A # 1 [x, y]");
    KV_FileReqTransRm rm(&ftp_a, path_of({"Srv A", "a"}), Names{"x"}, KV_FileReqTransParamsRm());
    KV_String a;
    KV_String b;
    ASSERT_TRUE(ftp_a.man_path().build_path(a, path_of({"Srv A", "a"}), false, 0));
    ASSERT_TRUE(ftp_a.man_path().build_path(b, path_of({"Srv A", "b"}), false, 0));
    EXPECT_STREQ(rm.get_descr(descr, true), "Delete");
    EXPECT_EQ(std::string(descr.data()),
              std::string("Data source:\tSrv A # 1\r\n\r\nSource path:\t") +
                  ftp_a.man_path().compl_dir(a).data() + "\r\nFile(s):\t\tx");
    EXPECT_STREQ(bound.get_descr(descr, true), "Rename");
    EXPECT_EQ(std::string(descr.data()),
              std::string("Data source:\tSrv A # 1\r\n\r\nSource path:\t") +
                  ftp_a.man_path().compl_dir(a).data() + "\r\nDestination path:\t" +
                  ftp_a.man_path().compl_dir(b).data() + "\r\nFile(s):\t\tx, y");
}

TEST_F(TransReq, SnapshotFlagsOfFileOperations)
{
    struct Case
    {
        const char* name;
        KV_FILEOP op;
        bool local_src;
        int next_phases;
        uint8_t flags;
    };
    const Case cases[] = {
        {"plain copy", KV_FILEOP_COPY, true, 0, 0},
        {"view of a remote file", KV_FILEOP_VIEW, false, 0, 0},
        {"view of a local file", KV_FILEOP_VIEW, true, 0, 1},
        {"update check", KV_FILEOP_UPDATE_CHECK, false, 0, 1},
        {"edit waiting for the user", KV_FILEOP_EDIT, false, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto req = copy(c.local_src ? &local : &ftp_a, &local, Names{"f"}, Names{"f"});
        req->log().set_fileop(c.op);
        ASSERT_TRUE(req->pre_add());
        for (int i = 0; i < c.next_phases; ++i)
            ASSERT_TRUE(req->log().next_phase());
        KV_FileReqInfo info;
        req->get_info(info, true);
        EXPECT_EQ(info.flags(), c.flags);
        EXPECT_EQ(info.fileop(), c.op);
    }
}

TEST_F(TransReq, ResumeAndRetryByFileOperation)
{
    struct Case
    {
        KV_FILEOP op;
        bool resumes;
        bool out;
        bool retries;
    };
    const Case cases[] = {
        {KV_FILEOP_COPY, true, true, true},
        {KV_FILEOP_VIEW, true, false, true},
        {KV_FILEOP_UPDATE_CHECK, false, false, false},
        {KV_FILEOP_UPDATE_APP, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        auto req = copy(&ftp_a, &local, Names{"f"}, Names{"f"});
        req->log().set_fileop(c.op);
        bool out = !c.out;
        EXPECT_EQ(req->resume(out), c.resumes);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(req->can_retry(), c.retries);
        EXPECT_FALSE(req->hidden());
    }
}

TEST_F(TransReq, AScheduledStartAndSkippedFilesShowInTheSnapshot)
{
    KV_FileReqTransParamsRm p;
    KV_Time later;
    later.now();
    later += KV_Time(3600L);
    p.set_tm_start(later);
    p.set_tm_started(KV_Time(100L));
    KV_FileReqTransRm rm(&ftp_a, path_of({"Srv A", "pub"}), Names{"x"}, p);
    ASSERT_TRUE(rm.pre_add());
    KV_FileReqInfo info;
    rm.get_info(info, true);
    EXPECT_EQ(info.tm_start(), later) << "a start still ahead is shown";
    EXPECT_EQ(rm.tm_start_susp(), later);

    KV_TransLogFileGrpFop skipped(path_of({"Srv A", "pub", "x"}), KV_TransLogFileGrpFop::ST_SKIPPED,
                                  0);
    ASSERT_TRUE(rm.log().set_status(skipped));
    rm.log().add_msg("broken", 2);
    rm.set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    rm.set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
    rm.get_info(info, true);
    EXPECT_EQ(info.flags() & 4, 4);
    EXPECT_EQ(info.last_err(), "broken");
}

// ---------------------------------------------------------------------------
// A request at work

TEST_F(TransReq, ProgressOfASubLogReachesTheRequestAndItsLog)
{
    auto req = copy(&ftp_a, &local, Names{"f"}, Names{"f"});
    ASSERT_TRUE(req->pre_add());
    const KV_PathDef src = path_of({"Srv A", "pub", "f"});
    KV_TransLogFileGrpFopCp rec(0, KV_TransLogFileGrpFopCp::ST_RUNNING, src, KV_String(), 1000, "");
    ASSERT_TRUE(req->log().set_status(rec));
    req->set_prog_ntf(true);

    KV_FileData fd("f", "", 1000, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    KV_TransLogCp sub(req.get(), KV_String(), fd, src, path_of({"Home", "in", "f"}));
    sub.set_flags_init(true, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
    KV_PathDef name;
    ASSERT_TRUE(KV_TransLog::tmp_file_man().new_file(KV_PATH_TMP, name, ""));
    ASSERT_TRUE(sub.set_path(name));
    ASSERT_TRUE(sub.create(req->eh()));
    ASSERT_TRUE(sub.set_status(KV_TransLogCp::ST_RECEIVING));
    const unsigned char data[370] = {};
    ASSERT_TRUE(sub.write_at(0, data, sizeof data));
    sub.progress(0);
    EXPECT_EQ(req->prog_perc(), 37);
    req->log().set_id(8);
    KV_FileReqLog lines;
    ASSERT_TRUE(req->log().get_log(8, lines));
    KV_TransLogTrans::set_id_log(0);
    ASSERT_EQ(lines.list_elems().size(), 1u);
    EXPECT_EQ(lines.list_elems().at(0)->note, "Running ( download 37% )");
    ASSERT_TRUE(sub.set_status(KV_TransLogCp::ST_DONE));
    EXPECT_EQ(req->prog_perc(), KV_TransLogFileGrpFopCp::PROG_DONE);

    ASSERT_TRUE(req->log().del_sublog(sub));
    KV_String sublog;
    EXPECT_EQ(req->log().status(src, &sublog, nullptr, nullptr),
              KV_TransLogFileGrpFopCp::ST_RUNNING);
}

TEST_F(TransReq, ASubLogGoesWithItsNameWhetherOrNotItsFileIsStillThere)
{
    for (const bool gone : {false, true}) {
        SCOPED_TRACE(gone ? "file already gone" : "file there");
        auto req = copy(&ftp_a, &local, Names{"f"}, Names{"f"});
        ASSERT_TRUE(req->pre_add());
        const KV_PathDef src = path_of({"Srv A", "pub", "f"});
        KV_FileData fd("f", "", 10, KV_Time());
        KV_TransLogCp sub(req.get(), KV_String(), fd, src, path_of({"Home", "in", "f"}));
        KV_PathDef name;
        ASSERT_TRUE(KV_TransLog::tmp_file_man().new_file(KV_PATH_TMP, name, ""));
        ASSERT_TRUE(sub.set_path(name));
        ASSERT_TRUE(sub.create(req->eh()));
        const KV_String file = sub.name();
        KV_TransLogFileGrpFopCp rec(0, KV_TransLogFileGrpFopCp::ST_RUNNING, src, file, 10, "");
        ASSERT_TRUE(req->log().set_status(rec));
        if (gone) {
            sub.close();
            ASSERT_TRUE(KV_File::del(file, false));
        }

        EXPECT_TRUE(req->log().del_sublog(sub));
        EXPECT_FALSE(KV_File::exists(file));
        KV_String named;
        EXPECT_EQ(req->log().status(src, &named, nullptr, nullptr),
                  KV_TransLogFileGrpFopCp::ST_RUNNING);
        EXPECT_TRUE(named.empty()) << named.data();
    }
}

TEST_F(TransReq, AFinishedCopyAsksWhetherItsManagersAreStillUsed)
{
    KV_FileManPool pool;
    reqtest::TestMan man;
    man.rm = false;
    auto* req = copy(&ftp_a, &local, Names{"f"}, Names{"f"}).release();
    auto* other = copy(&ftp_b, &local, Names{"g"}, Names{"g"}).release();
    ASSERT_TRUE(man.add_req(req, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.add_req(other, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    EXPECT_TRUE(req->involved(ftp_a.id()));
    EXPECT_TRUE(req->involved(local.id()));
    EXPECT_FALSE(req->involved(ftp_a2.id())) << "another connection is another manager";

    req->req_browse();
    std::vector<KV_FileManId> browsed;
    while (KV_Msg* m = man.informer().pop()) {
        if (m->type() == KV_MSG_MAN)
            browsed.push_back(static_cast<KV_MsgManNtf*>(m)->man_id);
        KV_Informer::destroy(m);
    }
    ASSERT_EQ(browsed.size(), 2u);
    EXPECT_TRUE(browsed[0] == local.id()) << "the destination first";
    EXPECT_TRUE(browsed[1] == ftp_a.id());

    req->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    req->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
    EXPECT_FALSE(req->involved(ftp_a.id())) << "a finished request uses nothing";
    ASSERT_TRUE(man.pass());
    // The source is used by nobody now; the destination still by the other
    // request.
    std::vector<KV_FileManId> unused;
    while (KV_Msg* m = pool.informer().pop()) {
        if (m->type() == KV_MSG_MAN && static_cast<KV_MsgManNtf*>(m)->ntf == KV_MAN_NTF_UNUSED)
            unused.push_back(static_cast<KV_MsgManNtf*>(m)->man_id);
        KV_Informer::destroy(m);
    }
    ASSERT_EQ(unused.size(), 1u);
    EXPECT_TRUE(unused[0] == ftp_a.id());
    man.terminate();
}

TEST_F(TransReq, TheFileOperationOpensTheCopyThenRemovesItAfterTheUpload)
{
    const std::string local_file = dir / "f.txt";
    write_all(local_file, {1, 2, 3, 4, 5});
    KV_PathDef on_disk;
    ASSERT_TRUE(local.man_path().split_path(local_file.c_str(), on_disk, true));
    ASSERT_TRUE(on_disk.prepend("Home"));
    const KV_PathDef remote = path_of({"Srv A", "pub", "f.txt"});
    auto req = copy(&ftp_a, &local, Names{"f.txt"}, Names{"f.txt"});
    KV_TransLogTransCp& log = req->log();
    log.set_fileop(KV_FILEOP_EDIT);
    ASSERT_TRUE(req->pre_add());
    KV_TransLogFileGrpFopCp rec(0, KV_TransLogFileGrpFopCp::ST_DONE, remote, KV_String(), 5, "");
    ASSERT_TRUE(log.set_status(rec));

    EXPECT_FALSE(log.fileop(remote, on_disk, ftp_a, local, &rec)) << "nobody to open it";
    {
        KV_FileManPool pool;
        ASSERT_TRUE(log.fileop(remote, on_disk, ftp_a, local, &rec));
        KV_Msg* m = pool.informer().pop();
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->type(), KV_MSG_FILEOP);
        auto* op = static_cast<KV_MsgFileOp*>(m);
        EXPECT_EQ(op->fileop, KV_FILEOP_EDIT);
        EXPECT_EQ(op->path1, local_file.c_str());
        EXPECT_EQ(op->path2, "f.txt");
        EXPECT_TRUE(op->flag) << "the file came from a server";
        KV_Informer::destroy(m);
    }
    int64_t size = 0;
    KV_Time tm;
    ASSERT_TRUE(log.props(remote, size, tm));
    EXPECT_EQ(size, 5);
    EXPECT_TRUE(tm.valid());

    // The edited copy has gone back: it is removed.
    ASSERT_TRUE(log.next_phase());
    ASSERT_TRUE(log.next_phase());
    EXPECT_TRUE(KV_File::exists(local_file.c_str()));
    ASSERT_TRUE(log.fileop(on_disk, remote, local, ftp_a, nullptr));
    EXPECT_FALSE(KV_File::exists(local_file.c_str()));

    auto plain = copy(&ftp_a, &local, Names{"f.txt"}, Names{"f.txt"});
    EXPECT_TRUE(plain->log().fileop(remote, on_disk, ftp_a, local, nullptr)) << "nothing to do";
}

TEST_F(TransReq, AnApplicationUpdateRemovesItselfWhenDone)
{
    for (KV_FILEOP op : {KV_FILEOP_UPDATE_CHECK, KV_FILEOP_UPDATE_APP, KV_FILEOP_COPY}) {
        SCOPED_TRACE(op);
        auto req = copy(&ftp_a, &local, Names{"f"}, Names{"f"});
        req->log().set_fileop(op);
        EXPECT_TRUE(req->req_started());
        EXPECT_EQ(req->del_forced(), op != KV_FILEOP_COPY);
    }
}

TEST_F(TransReq, AStoppedRequestNeverSleeps)
{
    auto req = copy(&ftp_a, &local, Names{"f"}, Names{"f"});
    req->poll_reset();
    req->stop(KV_STOP_CANCEL);
    // Would wait for an hour if the stop had not set the event.
    req->poll_wait(3600 * 1000);
    req->poll_reset();
    req->poll_wait(3600 * 1000);
    SUCCEED();
}

} // namespace
