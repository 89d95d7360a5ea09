// The sheet and page base with a small page that edits one option of its
// target: which page loads and saves when, what inheriting greys and shows,
// and how a refused value keeps the sheet open on its field.
#include "props/dsprop.h"

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_errhandler.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testtools.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// Edits the scan-cache size of its target: the parent's options while
// inheriting, else its own.
class ScanPage : public CDsPropPage
{
public:
    ScanPage(KV_FileManOpts* own, KV_FileManOpts* parent)
        : CDsPropPage(50, "Details", true), own(own), parent(parent)
    {
        auto* edit = new QLineEdit(this);
        edit->setObjectName("1150");
        PageLayout()->addWidget(edit);
    }
    KV_FileManOpts* Target() const { return IsInherited() && parent ? parent : own; }
    void LoadData() override
    {
        ++loads;
        scan = Target()->scan_cache();
        CDsPropPage::LoadData();
    }
    bool SaveData() override
    {
        if (!CDsPropPage::SaveData()) {
            return false;
        }
        Target()->set_scan_cache(scan);
        return true;
    }
    QString Shown() const { return Item<QLineEdit>(1150)->text(); }

    int loads = 0;

protected:
    void OnInitDialog() override
    {
        SetHelpTopic("#details");
        CDsPropPage::OnInitDialog();
    }
    void DoDataExchange(CDataExchange& dx) override
    {
        CDsPropPage::DoDataExchange(dx);
        dx.UInt(1150, scan, 0, 9999);
    }

private:
    KV_FileManOpts* own;
    KV_FileManOpts* parent;
    uint32_t scan = 0;
};

class DsPropBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        node.set_name("Mirror");
        node.set_inh_params(false);
        node.params_ftp().opts_ftp().set_scan_cache(7);
        group = std::make_unique<KV_DsTreeNodeGrpFtp>(tree);
        group->set_name("Ftp");
        group->opts_ftp().set_scan_cache(99);
    }
    // A sheet over the node with two pages; `with_parent` gives it the group.
    std::unique_ptr<CDsProp> MakeSheet(bool with_parent)
    {
        auto sheet = std::make_unique<CDsProp>(&node, with_parent ? group.get() : nullptr, nullptr);
        sheet->SetSheetHelpTopic("html\\dspropftp.htm");
        first = new ScanPage(&node.params_ftp().opts_ftp(), &group->opts_ftp());
        second = new ScanPage(&node.params_ftp().opts_ftp(), &group->opts_ftp());
        sheet->AddPage(first);
        sheet->AddPage(second);
        return sheet;
    }

    kvtest::NullErr eh;
    KV_DsTree tree{eh};
    KV_DsTreeNodeFtp node;
    std::unique_ptr<KV_DsTreeNodeGrpFtp> group;
    ScanPage* first = nullptr;
    ScanPage* second = nullptr;
};

TEST_F(DsPropBase, CaptionHelpAndButtons)
{
    auto sheet = MakeSheet(true);
    sheet->show();
    EXPECT_EQ(sheet->windowTitle(), "Mirror properties.");
    EXPECT_EQ(sheet->GetButtons()->standardButtons(),
              QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_FALSE(sheet->windowIcon().isNull());
    EXPECT_EQ(first->GetHelpTopic(), "html\\dspropftp.htm#details");
    EXPECT_EQ(CKivrelApp::HelpUrl(first->Item(1150)).contains("dspropftp.htm#details"), true);
    // Only the page shown was loaded.
    EXPECT_TRUE(first->IsCreated());
    EXPECT_FALSE(second->IsCreated());
    EXPECT_EQ(second->loads, 0);
}

TEST_F(DsPropBase, InheritingShowsTheGroupGreyedAndGivesBackTheOwnEdits)
{
    auto sheet = MakeSheet(true);
    sheet->show();
    auto* box = first->Item<QCheckBox>(CDsPropPage::IDC_INHERIT);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), "Inherit properties from the parent node (Ftp).");
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(first->Shown(), "7");
    EXPECT_TRUE(first->Item(1150)->isEnabled());

    first->Item<QLineEdit>(1150)->setText("8"); // an edit not saved yet
    box->click();
    EXPECT_TRUE(node.inh_params());
    EXPECT_EQ(first->Shown(), "99");
    EXPECT_FALSE(first->Item(1150)->isEnabled());
    EXPECT_TRUE(box->isEnabled());
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(second->IsCreated()) << "a page never shown is not loaded by the toggle";

    // The second page, first shown now, loads the state the toggle left.
    ASSERT_TRUE(sheet->SetActivePage(1));
    EXPECT_EQ(second->Shown(), "99");
    EXPECT_FALSE(second->Item(1150)->isEnabled());
    EXPECT_TRUE(second->Item<QCheckBox>(CDsPropPage::IDC_INHERIT)->isChecked());

    second->Item<QCheckBox>(CDsPropPage::IDC_INHERIT)->click();
    EXPECT_FALSE(node.inh_params());
    EXPECT_EQ(first->Shown(), "8") << "the own value as it was when the box was checked";
    EXPECT_EQ(second->Shown(), "8");
    EXPECT_TRUE(first->Item(1150)->isEnabled());
    EXPECT_EQ(group->opts_ftp().scan_cache(), 99u);
}

TEST_F(DsPropBase, NoParentHidesTheBox)
{
    node.set_inh_params(true); // a flag without a group to inherit from
    auto sheet = MakeSheet(false);
    sheet->show();
    EXPECT_FALSE(first->Item(CDsPropPage::IDC_INHERIT)->isVisible());
    EXPECT_FALSE(sheet->IsInherited());
    EXPECT_TRUE(first->Item(1150)->isEnabled());
    EXPECT_EQ(first->Shown(), "7");
}

TEST_F(DsPropBase, RefusedNumberKeepsTheSheetOpenOnItsField)
{
    struct Case
    {
        const char* typed;
        const char* message;
    } cases[] = {
        {"10000", "Please enter an integer between 0 and 9999."},
        {"99999999999999999999", "Please enter an integer between 0 and 9999."},
        {"-1", "Please enter a positive integer."},
        {"", "Please enter a positive integer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        auto sheet = MakeSheet(true);
        sheet->show();
        ASSERT_TRUE(sheet->SetActivePage(1));
        second->Item<QLineEdit>(1150)->setText(c.typed);
        ASSERT_TRUE(sheet->SetActivePage(0)); // as the program does: no leaving check
        QStringList shown;
        {
            kvtest::DialogDriver<QMessageBox> driver([&](QMessageBox& box) {
                shown << box.text();
                box.accept();
            });
            sheet->accept(); // OK checks every created page
        }
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown.at(0), c.message);
        EXPECT_EQ(sheet->result(), QDialog::Rejected);
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(sheet->GetActivePage(), second);
        EXPECT_EQ(node.params_ftp().opts_ftp().scan_cache(), 7u);
    }
}

TEST_F(DsPropBase, SwitchingTabsChecksTheLeftPage)
{
    auto sheet = MakeSheet(true);
    sheet->show();
    first->Item<QLineEdit>(1150)->setText("abc");
    int boxes = 0;
    {
        kvtest::DialogDriver<QMessageBox> driver([&](QMessageBox& box) {
            ++boxes;
            box.accept();
        });
        sheet->GetTabs()->setCurrentIndex(1); // as a click on the tab
    }
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(sheet->GetTabs()->currentIndex(), 0);
    EXPECT_FALSE(second->IsCreated());
    first->Item<QLineEdit>(1150)->setText("12");
    sheet->GetTabs()->setCurrentIndex(1);
    EXPECT_EQ(sheet->GetTabs()->currentIndex(), 1);
    EXPECT_TRUE(second->IsCreated());
}

TEST_F(DsPropBase, OkSavesCreatedPagesOnly)
{
    auto sheet = MakeSheet(true);
    sheet->show();
    first->Item<QLineEdit>(1150)->setText("21");
    second->Item<QLineEdit>(1150)->setText("5000"); // never shown: not read
    sheet->accept();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(node.params_ftp().opts_ftp().scan_cache(), 21u);
    EXPECT_EQ(second->loads, 0);
}

} // namespace
