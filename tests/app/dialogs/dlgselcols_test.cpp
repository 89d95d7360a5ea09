// The column chooser, the folder and command dialogs, and the registration
// dialog's list of data sources.
#include "dialogs/dlgchdir.h"
#include "dialogs/dlgfilereg.h"
#include "dialogs/dlgselcols.h"

#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "foundation/kv_file.h"
#include "props/dsprop.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Titles(const QListWidget* list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) {
        out.push_back(list->item(i)->text().toStdString());
    }
    return out;
}

// Selects the items of `titles` in `list` (and nothing else).
void Select(QListWidget* list, const std::vector<std::string>& titles)
{
    list->clearSelection();
    for (int i = 0; i < list->count(); ++i) {
        for (const std::string& t : titles) {
            if (list->item(i)->text().toStdString() == t) {
                list->item(i)->setSelected(true);
            }
        }
    }
}

class SelColsTest : public ::testing::Test
{
protected:
    QListWidget* Available() { return dlg->Item<QListWidget>(CDlgSelCols::IDC_AVAILABLE); }
    QListWidget* Selected() { return dlg->Item<QListWidget>(CDlgSelCols::IDC_SELECTED); }
    QPushButton* Add() { return dlg->Item<QPushButton>(CDlgSelCols::IDC_ADD); }
    QPushButton* Remove() { return dlg->Item<QPushButton>(CDlgSelCols::IDC_REMOVE); }

    void Open(const std::vector<int>& columns, std::function<bool(int)> applies = {})
    {
        dlg = std::make_unique<CDlgSelCols>(columns, applies, nullptr);
        dlg->show();
    }

    std::unique_ptr<CDlgSelCols> dlg;
};

TEST_F(SelColsTest, OpensWithTheApplicableColumnsInDisplayOrder)
{
    // A local list: no User and Group; a stored Group column is dropped.
    Open({3, 0, 6}, [](int i) { return i != 5 && i != 6; });
    EXPECT_EQ(Titles(Selected()), (std::vector<std::string>{"Time", "Name"}));
    EXPECT_EQ(Titles(Available()), (std::vector<std::string>{"Size", "Type", "Permissions"}));
    EXPECT_EQ(dlg->GetColumns(), (std::vector<int>{3, 0}));
    EXPECT_FALSE(Add()->isEnabled());
    EXPECT_FALSE(Remove()->isEnabled());
    EXPECT_EQ(dlg->windowTitle(), "Select columns");
}

TEST_F(SelColsTest, NameAndTheLastColumnStay)
{
    struct Case
    {
        std::vector<int> shown;
        std::vector<std::string> picked;
        bool enabled;
        std::vector<int> after;
    };
    const Case cases[] = {
        // "Name" alone can never go.
        {{0, 1, 2}, {"Name"}, false, {0, 1, 2}},
        // Selected with others, the others go and "Name" stays.
        {{0, 1, 2}, {"Name", "Size"}, true, {0, 2}},
        {{0, 1, 2}, {"Size", "Type"}, true, {0}},
        // The last column stays, even when it is not "Name".
        {{3}, {"Time"}, false, {3}},
        {{3, 1}, {"Time", "Size"}, true, {3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picked.front() + " of " + std::to_string(c.shown.size()));
        Open(c.shown);
        Select(Selected(), c.picked);
        EXPECT_EQ(Remove()->isEnabled(), c.enabled);
        // Clicked even when disabled: the rule holds in the handler too.
        QMetaObject::invokeMethod(Remove(), "clicked");
        EXPECT_EQ(dlg->GetColumns(), c.after);
        EXPECT_EQ(Selected()->count(), static_cast<int>(c.after.size()));
    }
}

TEST_F(SelColsTest, ColumnsComeBackAtTheEndAndSelectionsExcludeEachOther)
{
    Open({0, 1, 2, 3});
    Select(Selected(), {"Size"});
    Remove()->click();
    EXPECT_EQ(Titles(Available()),
              (std::vector<std::string>{"Size", "Permissions", "User", "Group"}));
    Select(Available(), {"Size", "Group"});
    EXPECT_TRUE(Add()->isEnabled());
    EXPECT_TRUE(Selected()->selectedItems().isEmpty());
    Add()->click();
    EXPECT_EQ(dlg->GetColumns(), (std::vector<int>{0, 2, 3, 1, 6}));
    EXPECT_EQ(Titles(Selected()),
              (std::vector<std::string>{"Name", "Type", "Time", "Size", "Group"}));
    Select(Available(), {"User"});
    Select(Selected(), {"Type"});
    EXPECT_TRUE(Available()->selectedItems().isEmpty());
    EXPECT_FALSE(Add()->isEnabled());
    EXPECT_TRUE(Remove()->isEnabled());

    dlg->Item<QCheckBox>(CDlgSelCols::IDC_DEFAULT)->setChecked(true);
    dlg->accept();
    EXPECT_TRUE(dlg->IsDefault());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST(CDlgChdir, TheTextGoesBackOnOkOnly)
{
    CDlgChdir dlg;
    dlg.folder = "/start";
    dlg.show();
    auto* edit = dlg.Item<QLineEdit>(CDlgChdir::IDC_FOLDER);
    EXPECT_EQ(edit->text(), "/start");
    edit->setText("/pub/other");
    dlg.reject();
    EXPECT_EQ(dlg.folder, "/start");
    dlg.accept();
    EXPECT_EQ(dlg.folder, "/pub/other");

    CDlgUsrDefCmd cmd;
    cmd.show();
    cmd.Item<QLineEdit>(CDlgUsrDefCmd::IDC_COMMAND)->setText("SITE CHMOD 644 a");
    cmd.accept();
    EXPECT_EQ(cmd.command, "SITE CHMOD 644 a");
    EXPECT_EQ(cmd.windowTitle(), "Send a custom command");
}

class FileRegTest : public kvtest::TempDirTest
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
        n.set_name("ftp.example.com");
        n.params_ftp().set_dst_addr("ftp.example.com");
        ASSERT_NE(pool->tree().create(pool->tree().find(KV_DS_NODE_FTP, true), &n, 0, true),
                  nullptr);
    }
    void TearDown() override { CKivrelApp::Instance()->DeletePool(); }

    std::vector<std::string> Items(CDlgFileReg& dlg)
    {
        std::vector<std::string> out;
        auto* combo = dlg.Item<QComboBox>(CDlgFileReg::IDC_DS);
        for (int i = 0; i < combo->count(); ++i) {
            out.push_back(combo->itemText(i).toStdString());
        }
        return out;
    }

    KV_FileManPool* pool = nullptr;
};

TEST_F(FileRegTest, ListsTheMatchingSourcesAndANewOne)
{
    CDlgFileReg unknown(KV_DS_NODE_FTP, "ftp.nowhere.org", "/pub/a.zip", false, nullptr);
    unknown.show();
    EXPECT_EQ(Items(unknown), (std::vector<std::string>{"ftp.nowhere.org [ New ]"}));
    EXPECT_EQ(unknown.Item<QLineEdit>(CDlgFileReg::IDC_FILE)->text(), "/pub/a.zip");
    unknown.Item<QLineEdit>(CDlgFileReg::IDC_FILE)->setText("/pub/b.zip");
    unknown.accept();
    EXPECT_EQ(unknown.GetFileText(), "/pub/b.zip");
    ASSERT_NE(unknown.GetSelInfo(), nullptr);
    EXPECT_TRUE(unknown.GetSelInfo()->new_node());

    CDlgFileReg known(KV_DS_NODE_FTP, "ftp.example.com", "/x", false, nullptr);
    known.show();
    const std::vector<std::string> items = Items(known);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], "ftp.example.com");
    EXPECT_EQ(items[1], "ftp.example.com [ New ]");
    EXPECT_EQ(known.Item<QComboBox>(CDlgFileReg::IDC_DS)->currentIndex(), 0);
    known.reject();
    EXPECT_EQ(known.GetSelInfo(), nullptr);
}

// "Properties" opens the sheet of the chosen data source: a known one is
// changed in the tree and in the clone the caller reads after OK, a new one
// only in its clone (the caller adds it later); Cancel changes nothing.
TEST_F(FileRegTest, PropertiesEditTheChosenSource)
{
    CSettingsEnv env;
    env.user_conf = QString::fromStdString(dir / "config/kivrel.conf");
    env.tmp = QString::fromUtf8(dir.c_str());
    SetSettingsEnv(env);
    struct Case
    {
        int item; // 0 the known data source, 1 the new one
        bool ok;
        const char* comment;
    } const cases[] = {{0, false, "Not kept"}, {0, true, "Nightly"}, {1, true, "Fresh"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "item " << c.item << (c.ok ? " OK" : " Cancel"));
        CDlgFileReg dlg(KV_DS_NODE_FTP, "ftp.example.com", "/x", false, nullptr);
        dlg.show();
        dlg.Item<QComboBox>(CDlgFileReg::IDC_DS)->setCurrentIndex(c.item);
        QString title;
        kvtest::DialogDriver<CDsProp> sheet([&](CDsProp& s) {
            title = s.windowTitle();
            s.GetPage(0)->Item<QLineEdit>(1195)->setText("joe");
            s.GetPage(0)->Item<QPlainTextEdit>(1024)->setPlainText(c.comment);
            c.ok ? s.accept() : s.reject();
            if (s.isVisible()) {
                s.reject();
            }
        });
        QStringList errors;
        kvtest::DialogDriver<QMessageBox> boxes([&](QMessageBox& box) {
            errors << box.text();
            box.reject();
        });
        dlg.Item<QPushButton>(CDlgFileReg::IDC_PROPERTIES)->click();
        EXPECT_EQ(sheet.handled, 1);
        EXPECT_TRUE(errors.isEmpty()) << errors.join('|').toStdString();
        EXPECT_EQ(title, "ftp.example.com properties.");
        dlg.accept();
        ASSERT_NE(dlg.GetSelInfo(), nullptr);
        EXPECT_EQ(dlg.GetSelInfo()->new_node(), c.item == 1);
        const KV_String in_tree = pool->tree().find(KV_String("ftp.example.com"))->comment();
        const KV_String in_clone = dlg.GetSelInfo()->clone()->comment();
        if (!c.ok) {
            EXPECT_EQ(in_tree, KV_String(""));
            EXPECT_EQ(in_clone, KV_String(""));
        } else if (c.item == 0) {
            EXPECT_EQ(in_tree, KV_String(c.comment));
            EXPECT_EQ(in_clone, KV_String(c.comment));
        } else {
            EXPECT_EQ(in_tree, KV_String("Nightly")) << "the known one keeps its own";
            EXPECT_EQ(in_clone, KV_String(c.comment));
        }
    }
    SetSettingsEnv(CSettingsEnv());
}

} // namespace
