#include "dialogs/dlgfiletrans.h"

#include "dialogs/checkcombo.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_testdir.h"

#include <QLineEdit>
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

} // namespace
