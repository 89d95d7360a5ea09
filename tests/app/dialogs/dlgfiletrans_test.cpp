#include "dialogs/dlgfiletrans.h"

#include "core/settings.h"
#include "dialogs/checkcombo.h"
#include "foundation/kv_file.h"
#include "props/dsprop.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

class DlgFileTrans : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        app = CKivrelApp::Instance();
        ASSERT_NE(app, nullptr);
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        // An empty data-source file: the tree holds the local computer alone.
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(app->GetPool()->load_ds());
    }
    void TearDown() override { app->DeletePool(); }

    CKivrelApp* app = nullptr;
};

TEST_F(DlgFileTrans, FolderDestinationTakesTheSourceNameAndOffersALocalFile)
{
    CDlgFileTrans dlg(KV_DS_NODE_FTP, "127.0.0.1", " /pub/f.bin ", KV_DS_NODE_STD, "", "", false,
                      false);
    dlg.show();
    auto* src_box = dlg.Item<CComboDs>(CDlgFileTrans::IDC_SRC_DS);
    auto* dst_box = dlg.Item<CComboDs>(CDlgFileTrans::IDC_DST_DS);
    auto* src = dlg.Item<QLineEdit>(CDlgFileTrans::IDC_SRC_FILE);
    auto* dst = dlg.Item<QLineEdit>(CDlgFileTrans::IDC_DST_FILE);
    ASSERT_GT(src_box->count(), 0);
    ASSERT_GT(dst_box->count(), 0);
    EXPECT_TRUE(src_box->itemText(0).contains("127.0.0.1")) << src_box->itemText(0).toStdString();
    EXPECT_EQ(src->text(), "/pub/f.bin");
    EXPECT_TRUE(dst->text().endsWith("/f.bin")) << dst->text().toStdString();
    // A local destination can be chosen from the disk.
    EXPECT_TRUE(dlg.Item<QPushButton>(CDlgFileTrans::IDC_BROWSE)->isVisibleTo(&dlg));
    EXPECT_TRUE(dlg.DestNamesFile());

    // Once it names a file, source edits leave the destination alone.
    const QString before = dst->text();
    src->setText("/pub/other.bin");
    EXPECT_EQ(dst->text(), before);

    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    ASSERT_NE(dlg.GetDstInfo(), nullptr);
    EXPECT_EQ(std::string(dlg.GetSrcPath().data(), dlg.GetSrcPath().length()), "/pub/other.bin");
}

TEST_F(DlgFileTrans, FolderDestinationFollowsTheSourceUntilItNamesAFile)
{
    // The source names no file: the destination stays a folder, and takes
    // the name the user then types into the source.
    CDlgFileTrans dlg(KV_DS_NODE_FTP, "127.0.0.1", "/pub/", KV_DS_NODE_STD, "", "", false, false);
    dlg.show();
    auto* src = dlg.Item<QLineEdit>(CDlgFileTrans::IDC_SRC_FILE);
    auto* dst = dlg.Item<QLineEdit>(CDlgFileTrans::IDC_DST_FILE);
    ASSERT_FALSE(dlg.DestNamesFile()) << dst->text().toStdString();
    EXPECT_TRUE(dst->text().endsWith("/")) << dst->text().toStdString();
    const QString folder = dst->text();
    src->setText("/pub/g.bin");
    EXPECT_EQ(dst->text(), folder + "g.bin");
    EXPECT_TRUE(dlg.DestNamesFile());
    src->setText("/pub/h.bin");
    EXPECT_EQ(dst->text(), folder + "g.bin");
}

TEST_F(DlgFileTrans, FixedDestinationLocksItsSide)
{
    CDlgFileTrans dlg(KV_DS_NODE_FTP, "127.0.0.1", "/pub/f.bin", KV_DS_NODE_STD, "", "/tmp/", false,
                      true);
    dlg.show();
    EXPECT_FALSE(dlg.Item<CComboDs>(CDlgFileTrans::IDC_DST_DS)->isEnabled());
    EXPECT_FALSE(dlg.Item<QPushButton>(CDlgFileTrans::IDC_DST_PROPS)->isEnabled());
    EXPECT_FALSE(dlg.Item<QPushButton>(CDlgFileTrans::IDC_EXTENDED)->isEnabled());
    EXPECT_TRUE(dlg.Item<CComboDs>(CDlgFileTrans::IDC_SRC_DS)->isEnabled());
    EXPECT_TRUE(dlg.Item<QLineEdit>(CDlgFileTrans::IDC_SRC_FILE)->isEnabled());
    dlg.reject();
}

// "Properties" opens a side's data-source sheet: on OK a data source of the
// tree changes there and in the clone the caller reads, a new one only in
// its clone (the caller adds it later); Cancel changes nothing.
TEST_F(DlgFileTrans, PropertiesEditTheChosenSources)
{
    CSettingsEnv env;
    env.user_conf = QString::fromStdString(dir / "config/kivrel.conf");
    env.tmp = QString::fromUtf8(dir.c_str());
    SetSettingsEnv(env);
    KV_DsTreeNode* local = app->GetPool()->tree().find(KV_DS_NODE_STD, false);
    ASSERT_NE(local, nullptr);
    const KV_String before = local->comment();
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        CDlgFileTrans dlg(KV_DS_NODE_FTP, "127.0.0.1", "/pub/f.bin", KV_DS_NODE_STD, "", "", false,
                          false);
        dlg.show();
        ASSERT_NE(dlg.GetSrcInfo(), nullptr);
        ASSERT_TRUE(dlg.GetSrcInfo()->new_node());
        ASSERT_NE(dlg.GetDstInfo(), nullptr);
        ASSERT_EQ(dlg.GetDstInfo()->orig(), local);
        QStringList titles;
        kvtest::DialogDriver<CDsProp> sheet([&](CDsProp& s) {
            titles << s.windowTitle();
            if (auto* user = s.GetPage(0)->Item<QLineEdit>(1195)) {
                user->setText("joe");
            }
            s.GetPage(0)->Item<QPlainTextEdit>(1024)->setPlainText(titles.size() == 1 ? "From here"
                                                                                      : "To here");
            ok ? s.accept() : s.reject();
            if (s.isVisible()) {
                s.reject();
            }
        });
        QStringList errors;
        kvtest::DialogDriver<QMessageBox> boxes([&](QMessageBox& box) {
            errors << box.text();
            box.reject();
        });
        dlg.Item<QPushButton>(CDlgFileTrans::IDC_SRC_PROPS)->click();
        dlg.Item<QPushButton>(CDlgFileTrans::IDC_DST_PROPS)->click();
        EXPECT_EQ(sheet.handled, 2);
        EXPECT_TRUE(errors.isEmpty()) << errors.join('|').toStdString();
        EXPECT_EQ(titles, (QStringList{"127.0.0.1 properties.",
                                       QString::fromUtf8(local->name().data()) + " properties."}));
        EXPECT_EQ(dlg.GetSrcInfo()->clone()->comment(), KV_String(ok ? "From here" : ""));
        EXPECT_EQ(app->GetPool()->tree().find(KV_String("127.0.0.1")), nullptr);
        const KV_String want = ok ? KV_String("To here") : before;
        EXPECT_EQ(local->comment(), want);
        ASSERT_NE(dlg.GetDstInfo()->clone(), nullptr);
        EXPECT_EQ(dlg.GetDstInfo()->clone()->comment(), want);
        dlg.reject();
    }
    SetSettingsEnv(CSettingsEnv());
}

// A running instance (the local computer's, served by a live manager whose
// thread runs) has no sheet of its own: its "Properties" stays greyed.
class DlgFileTrans_MT : public DlgFileTrans
{
protected:
    void TearDown() override
    {
        KV_FileManPool* pool = app->GetPool();
        EXPECT_TRUE(kvtest::WaitFor([pool] { return pool->term(); }, 30000));
        DlgFileTrans::TearDown();
    }
};

TEST_F(DlgFileTrans_MT, RunningInstanceHasNoSheet)
{
    KV_FileManPool* pool = app->GetPool();
    KV_DsTreeNode* local = pool->tree().find(KV_DS_NODE_STD, false);
    ASSERT_NE(local, nullptr);
    KV_FileMan* man = pool->reg(KV_FileManId(local->id(), 0));
    ASSERT_NE(man, nullptr);
    // Held as a browse window holds it, so that it outlives the notices.
    pool->hold_man(man->id(), true);
    // The tree learns of the instance from the engine root's notice, which
    // the control window would hand on.
    ASSERT_TRUE(kvtest::WaitFor([&] {
        while (KV_Msg* m = pool->informer().pop()) {
            pool->process_ntf(m);
            KV_Informer::destroy(m);
        }
        return local->list().size() == 1;
    }));
    KV_DsTreeNode* instance = local->list().at(0);
    CDlgFileTrans dlg(KV_DS_NODE_FTP, "127.0.0.1", "/pub/f.bin", KV_DS_NODE_STD, "", "", false,
                      false);
    dlg.show();
    auto* props = dlg.Item<QPushButton>(CDlgFileTrans::IDC_DST_PROPS);
    auto* box = dlg.Item<CComboDs>(CDlgFileTrans::IDC_DST_DS);
    bool seen = false;
    for (int i = 0; i < box->count(); ++i) {
        box->setCurrentIndex(i);
        ASSERT_NE(dlg.GetDstInfo(), nullptr);
        const bool is_instance = dlg.GetDstInfo()->orig() == instance;
        seen = seen || is_instance;
        EXPECT_EQ(props->isEnabled(), !is_instance) << box->itemText(i).toStdString();
    }
    EXPECT_TRUE(seen);
    dlg.reject();
    pool->hold_man(man->id(), false);
}

} // namespace
