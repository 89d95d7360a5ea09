// The question dialog: buttons and answers per kind, its layout around the
// question, the focus of the default answer, the password question and the
// parameters of a waiting copy.
#include "dialogs/dlgask.h"

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_logindata.h"
#include "dialogs/dlgtranspar.h"
#include "foundation/kv_file.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtranscp.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

namespace {

constexpr int kYes = CDlgAsk::IDC_YES, kYesAll = CDlgAsk::IDC_YES_ALL, kNo = CDlgAsk::IDC_NO,
              kNoAll = CDlgAsk::IDC_NO_ALL, kParams = CDlgAsk::IDC_PARAMS;

TEST(CDlgAsk, EachKindHasItsButtonsAndEachButtonItsAnswer)
{
    struct Case
    {
        KV_ASK kind;
        int template_id;
        std::set<int> buttons;
    };
    const Case cases[] = {
        {KV_ASK_YES_NO, 43, {kYes, kNo}},
        {KV_ASK_YES_ALL, 44, {kYes, kYesAll, kNo, kNoAll}},
        {KV_ASK_TRUST, 47, {kYes, kNo, kYesAll}},
        {KV_ASK_TRUST2, 47, {kYes, kNo, kYesAll}},
        {KV_ASK_YES_ALL2, 45, {kYes, kYesAll, kNo, kNoAll, kParams}},
        {KV_ASK_LOGIN, 46, {kYes}},
        {static_cast<KV_ASK>(9), 43, {kYes, kNo}},
    };
    const std::pair<int, KV_ANS> answers[] = {
        {kYes, KV_ANS_YES}, {kYesAll, KV_ANS_YES_ALL}, {kNo, KV_ANS_NO}, {kNoAll, KV_ANS_NO_ALL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        {
            CDlgAsk dlg("question", KV_ANS_NONE, c.kind, nullptr, nullptr);
            EXPECT_EQ(dlg.GetTemplateId(), c.template_id);
            EXPECT_EQ(dlg.windowTitle(), "Kivrel");
            for (int id : {kYes, kYesAll, kNo, kNoAll, kParams}) {
                EXPECT_EQ(dlg.Item<QPushButton>(id) != nullptr, c.buttons.count(id) == 1) << id;
            }
            // Escape or the close box: no answer.
            dlg.show();
            QTest::keyClick(&dlg, Qt::Key_Escape);
            EXPECT_FALSE(dlg.isVisible());
            EXPECT_EQ(dlg.GetResult(), KV_ANS_NONE);
        }
        for (const auto& [id, ans] : answers) {
            if (c.buttons.count(id) == 0) {
                continue;
            }
            CDlgAsk dlg("question", KV_ANS_NONE, c.kind, nullptr, nullptr);
            dlg.show();
            dlg.Item<QPushButton>(id)->click();
            EXPECT_FALSE(dlg.isVisible()) << id;
            EXPECT_EQ(dlg.GetResult(), ans) << id;
        }
    }
}

TEST(CDlgAsk, ALongQuestionGrowsOnlyTheHeight)
{
    const KV_String long_text(
        "The server's certificate is not trusted. It was issued for another name by an "
        "authority that is not in the list of trusted authorities, and it expired some time "
        "ago. Do you want to connect anyway, trusting this certificate for this connection "
        "only, or trust the server from now on?");
    for (KV_ASK kind : {KV_ASK_YES_NO, KV_ASK_YES_ALL, KV_ASK_TRUST, KV_ASK_YES_ALL2}) {
        SCOPED_TRACE(kind);
        CDlgAsk short_dlg("Overwrite?", KV_ANS_NONE, kind, nullptr, nullptr);
        CDlgAsk long_dlg(long_text, KV_ANS_NONE, kind, nullptr, nullptr);
        short_dlg.show();
        long_dlg.show();
        EXPECT_EQ(long_dlg.width(), short_dlg.width());
        EXPECT_GT(long_dlg.height(), short_dlg.height());
        for (CDlgAsk* dlg : {&short_dlg, &long_dlg}) {
            const QRect text = dlg->TextRect();
            EXPECT_EQ(text.top(), 30);
            const int row = text.bottom() + 1 + 20;
            EXPECT_EQ(dlg->Item<QPushButton>(kYes)->y(), row);
            EXPECT_EQ(dlg->Item<QPushButton>(kNo)->y(), row);
            EXPECT_EQ(dlg->height(), row + 70);
        }
        // With both "to all" buttons the text spans the button row.
        const bool to_all = long_dlg.Item(kNoAll) != nullptr;
        EXPECT_EQ(long_dlg.TextRect().left(), to_all ? long_dlg.Item<QPushButton>(kYes)->x() : 65);
        EXPECT_EQ(long_dlg.TextRect().right(),
                  to_all ? long_dlg.Item<QPushButton>(kNoAll)->geometry().right()
                         : long_dlg.width() - 1 - 25);
    }
}

TEST(CDlgAsk, FocusOnTheDefaultAnswer)
{
    struct Case
    {
        KV_ASK kind;
        KV_ANS def;
        int focus;
    };
    const Case cases[] = {
        {KV_ASK_TRUST, KV_ANS_YES_ALL, kYesAll},
        {KV_ASK_YES_ALL, KV_ANS_NO_ALL, kNoAll},
        {KV_ASK_YES_ALL, KV_ANS_NO, kNo},
        {KV_ASK_YES_NO, KV_ANS_YES, kYes},
    };
    for (const Case& c : cases) {
        CDlgAsk dlg("question", c.def, c.kind, nullptr, nullptr);
        dlg.show();
        ASSERT_NE(dlg.focusWidget(), nullptr);
        EXPECT_EQ(dlg.focusWidget(), dlg.Item(c.focus)) << c.kind << " " << c.def;
    }
    CDlgAsk trust("question", KV_ANS_YES_ALL, KV_ASK_TRUST, nullptr, nullptr);
    EXPECT_EQ(trust.Item<QPushButton>(kYesAll)->text(), "&Always trust this server");
}

// An engine root whose tree holds one FTP data source, "Server".
class PassAskTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CKivrelApp* app = CKivrelApp::Instance();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(pool->tree().load(pool->man_trans()));
        KV_DsTreeNodeFtp n;
        n.set_name("Server");
        n.params_ftp().set_dst_addr("ftp.example.com");
        node = pool->tree().create(pool->tree().find(KV_DS_NODE_FTP, true), &n, 0, true);
        ASSERT_NE(node, nullptr);
    }
    void TearDown() override { CKivrelApp::Instance()->DeletePool(); }

    std::string StoredPass() const
    {
        return static_cast<KV_DsTreeNodeFtp*>(node)->params_ftp().ldata().pass().data();
    }

    KV_FileManPool* pool = nullptr;
    KV_DsTreeNode* node = nullptr;
};

TEST_F(PassAskTest, ThePasswordIsKeptOnlyWhenRemembered)
{
    for (bool remember : {false, true}) {
        SCOPED_TRACE(remember);
        KV_PassAsk ask;
        ask.id = KV_FileManId(node->id(), 1);
        ask.user = "anna";
        CDlgAsk dlg("password", KV_ANS_NONE, KV_ASK_LOGIN, &ask, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.Item<QLineEdit>(CDlgAsk::IDC_USER)->text(), "anna");
        EXPECT_TRUE(dlg.Item<QLineEdit>(CDlgAsk::IDC_USER)->isReadOnly());
        EXPECT_EQ(dlg.focusWidget(), dlg.Item(CDlgAsk::IDC_PASS));
        const char* pass = remember ? "second" : "first";
        QTest::keyClicks(dlg.Item<QLineEdit>(CDlgAsk::IDC_PASS), pass);
        dlg.Item<QCheckBox>(CDlgAsk::IDC_REMEMBER)->setChecked(remember);
        dlg.Item<QPushButton>(kYes)->click();
        EXPECT_EQ(dlg.GetResult(), KV_ANS_YES);
        EXPECT_STREQ(ask.pass.data(), pass);
        EXPECT_EQ(StoredPass(), remember ? "second" : "");
    }
}

TEST(CDlgAsk, ParametersOfAWaitingCopyLeftWithCancelChangeNothing)
{
    KV_FileReqTransParamsCp params;
    params.set_mirror(1);
    params.set_tm_type(3);
    params.set_dayspec(4);
    KVTL::KV_ListVal<KV_String> names;
    KV_FileReqTransCp req(nullptr, nullptr, KV_PathDef(), KV_PathDef(), names, names, params);

    int shown = 0;
    kvtest::DialogDriver<CDlgTransParCp> driver([&](CDlgTransParCp& dlg) {
        ++shown;
        // The user changes the mode, then thinks better of it.
        dlg.Item<QAbstractButton>(CDlgTransParCp::IDC_MODE_NORMAL)->click();
        dlg.reject();
    });
    CDlgAsk dlg("overwrite?", KV_ANS_NONE, KV_ASK_YES_ALL2, &req, nullptr);
    dlg.show();
    dlg.Item<QPushButton>(kParams)->click();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(dlg.isVisible()) << "the question stays open";
    KV_FileReqTransParams* now = req.log().clone_params();
    ASSERT_NE(now, nullptr);
    const auto& cp = static_cast<const KV_FileReqTransParamsCp&>(*now);
    EXPECT_EQ(cp.mirror(), 1);
    EXPECT_EQ(cp.tm_type(), 3);
    EXPECT_EQ(cp.dayspec(), 4);
    KV_FileReqTransParams::destr_clone(now);

    // Without a request the button does nothing.
    CDlgAsk bare("overwrite?", KV_ANS_NONE, KV_ASK_YES_ALL2, nullptr, nullptr);
    bare.show();
    bare.Item<QPushButton>(kParams)->click();
    EXPECT_EQ(shown, 1);
}

} // namespace
