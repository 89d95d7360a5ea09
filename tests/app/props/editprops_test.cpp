// Opening a node's sheet over a real engine root: what Cancel, OK and a
// refused change leave in the tree, in a working node and in the file, and
// what inheriting from a group shows.
#include "props/dspropsheets.h"

#include "kv_propfixture.h"
#include "menus/commands.h"
#include "shell/dsview.h"
#include "shell/mainfrm.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <memory>

namespace {

using proptest::PoolTest;

class EditProps : public PoolTest
{
protected:
    static CDsPropPage* Page(CDsProp& s, int index)
    {
        s.SetActivePage(index);
        return s.GetPage(index);
    }
};

TEST_F(EditProps, CancelChangesNeitherTreeNorWorkingNode)
{
    KV_DsTreeNode* node = AddFtp("Mirror");
    ASSERT_NE(node, nullptr);
    KV_DsTreeNodeFtp work;
    work.set_name("Draft");
    work.params_ftp().set_dst_addr("draft.example.com");
    KV_DsTreeNode* works[] = {nullptr, &work};
    for (KV_DsTreeNode* w : works) {
        SCOPED_TRACE(w != nullptr ? "with a working node" : "the node itself");
        EXPECT_FALSE(Edit(node, w, [](CDsProp& s) {
            Type(s.GetPage(0), 1094, "Renamed");
            Type(s.GetPage(0), 1156, "other.example.com");
            Type(Page(s, 3), 1181, "33");
            s.reject();
        }));
        EXPECT_EQ(node->name(), KV_String("Mirror"));
        auto* ftp = static_cast<KV_DsTreeNodeFtp*>(node);
        EXPECT_EQ(ftp->params_ftp().dst_addr(), KV_String("ftp.example.com"));
        EXPECT_EQ(ftp->params_ftp().opts_ftp().ftp().tmout_cmd_resp(), 90000u);
        EXPECT_EQ(work.name(), KV_String("Draft"));
        EXPECT_EQ(work.params_ftp().dst_addr(), KV_String("draft.example.com"));
    }
    EXPECT_EQ(sheets_shown, 2);
}

TEST_F(EditProps, OkCommitsAndTheFileKeepsTheValues)
{
    ASSERT_NE(AddFtp("Mirror"), nullptr);
    KV_DsTreeNode* node = pool->tree().find(KV_String("Mirror"));
    EXPECT_TRUE(Edit(node, nullptr, [](CDsProp& s) {
        CDsPropPage* main = s.GetPage(0);
        Type(main, 1156, "ftp2.example.com:2121");
        Type(main, 1036, "/pub");
        main->Item<QPlainTextEdit>(1024)->setPlainText("Nightly mirror");
        main->Item<QComboBox>(1152)->setCurrentIndex(2);
        CDsPropPage* layout = Page(s, 1);
        layout->Item<QCheckBox>(1086)->click(); // details off (new FTP nodes show all three)
        CDsPropPage* adv = Page(s, 2);
        Type(adv, 1100, "4");
        Type(adv, 1101, "2");
        Type(adv, 1089, "2048");
        CDsPropPage* det = Page(s, 3);
        Type(det, 1181, "45");
        det->Item<QRadioButton>(1066)->click(); // Normal: PORT
        det->Item<QCheckBox>(1082)->click();    // -L
        s.accept();
    }));
    EXPECT_TRUE(error_texts.isEmpty()) << error_texts.join("|").toStdString();

    Reload(); // everything below comes from the file
    auto* ftp = dynamic_cast<KV_DsTreeNodeFtp*>(pool->tree().find(KV_String("Mirror")));
    ASSERT_NE(ftp, nullptr);
    const KV_FileManParamsFtp& p = ftp->params_ftp();
    EXPECT_EQ(p.dst_addr(), KV_String("ftp2.example.com:2121"));
    EXPECT_EQ(p.def_path(), KV_String("/pub"));
    EXPECT_EQ(ftp->comment(), KV_String("Nightly mirror"));
    EXPECT_EQ(p.security(), KV_FTP_SECURE_EXPLICIT);
    EXPECT_EQ(p.opts_ftp().ntavos(), 4u);
    EXPECT_EQ(p.opts_ftp().ntavos_conn(), 2u);
    EXPECT_EQ(p.opts_ftp().min_frag_size(), 2048 * 1024);
    EXPECT_EQ(p.opts_ftp().ftp().tmout_cmd_resp(), 45000u);
    EXPECT_EQ(p.opts_ftp().ftp().conn_mode(), KV_FTP_CONN_ACTIVE);
    EXPECT_EQ(p.opts_ftp().ftp().list_flags(), 2);
    // The empty second side came up with its tree checked, and was saved so.
    EXPECT_EQ(p.opts_ftp().disp_info(), 0x0103);
    EXPECT_EQ(p.ldata().user(), KV_String("joe"));
}

TEST_F(EditProps, RefusedUpdateGivesFalseAndLeavesTheWorkingNode)
{
    ASSERT_NE(AddFtp("One"), nullptr);
    KV_DsTreeNode* two = AddFtp("Two");
    ASSERT_NE(two, nullptr);
    KV_DsTreeNodeFtp work;
    work.set_name("Two");
    work.params_ftp().set_dst_addr("ftp.example.com");
    work.params_ftp().ldata().set_user("joe");
    EXPECT_FALSE(Edit(two, &work, [](CDsProp& s) {
        Type(s.GetPage(0), 1094, "One");
        s.accept();
    }));
    EXPECT_EQ(sheets_left_open, 0);
    EXPECT_EQ(two->name(), KV_String("Two"));
    EXPECT_EQ(work.name(), KV_String("Two"));

    // The same with a name that is free goes through and reaches both.
    EXPECT_TRUE(Edit(two, &work, [](CDsProp& s) {
        Type(s.GetPage(0), 1094, "Three");
        s.accept();
    }));
    EXPECT_EQ(work.name(), KV_String("Three"));
    EXPECT_NE(pool->tree().find(KV_String("Three")), nullptr);
}

TEST_F(EditProps, InheritingGreysLayoutAndProtocolPagesAndShowsTheGroup)
{
    // A folder inside the FTP group whose own options differ from the
    // node's: the node shows the folder's values while it inherits.
    KV_DsTreeNodeGrpFtp folder_tmpl(pool->tree());
    folder_tmpl.set_name("Work");
    folder_tmpl.set_inh_params(false);
    folder_tmpl.opts_ftp().set_ntavos(7);
    folder_tmpl.opts_ftp().ftp().set_tmout_cmd_resp(120);
    KV_DsTreeNode* folder = pool->tree().create(FtpGroup(), &folder_tmpl, 0, true);
    ASSERT_NE(folder, nullptr);
    KV_DsTreeNode* node = AddFtp("Mirror", folder, false);
    ASSERT_NE(node, nullptr);
    static_cast<KV_DsTreeNodeFtp*>(node)->params_ftp().opts_ftp().set_ntavos(3);

    EXPECT_TRUE(Edit(node, nullptr, [](CDsProp& s) {
        // A new name typed before the toggle is saved into the clone by it;
        // the name field must stay open although the clone's id changed.
        Type(s.GetPage(0), 1094, "Mirror2");
        CDsPropPage* adv = Page(s, 2);
        auto* box = adv->Item<QCheckBox>(CDsPropPage::IDC_INHERIT);
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(box->text(), "Inherit properties from the parent node (Work).");
        EXPECT_EQ(adv->Item<QLineEdit>(1100)->text(), "3");
        box->click();
        EXPECT_EQ(adv->Item<QLineEdit>(1100)->text(), "7");
        EXPECT_FALSE(adv->Item(1100)->isEnabled());
        EXPECT_TRUE(box->isEnabled());
        // Pages first shown now load the inheriting state.
        CDsPropPage* det = Page(s, 3);
        EXPECT_EQ(det->Item<QLineEdit>(1181)->text(), "120");
        EXPECT_FALSE(det->Item(1181)->isEnabled());
        CDsPropPage* layout = Page(s, 1);
        EXPECT_FALSE(layout->Item(1088)->isEnabled());
        EXPECT_FALSE(layout->Item(1080)->isEnabled());
        // The main page is not the group's.
        CDsPropPage* main = Page(s, 0);
        EXPECT_TRUE(main->Item(1156)->isEnabled());
        EXPECT_TRUE(main->Item(1094)->isEnabled());
        // Back to the own values.
        Page(s, 3)->Item<QCheckBox>(CDsPropPage::IDC_INHERIT)->click();
        EXPECT_EQ(adv->Item<QLineEdit>(1100)->text(), "3");
        EXPECT_TRUE(adv->Item(1100)->isEnabled());
        EXPECT_EQ(det->Item<QLineEdit>(1181)->text(), "90");
        // Inheriting once more, and committing that.
        box->click();
        s.accept();
    }));
    EXPECT_TRUE(node->inh_params());
    EXPECT_EQ(node->name(), KV_String("Mirror2"));
    auto* ftp = static_cast<KV_DsTreeNodeFtp*>(node);
    EXPECT_EQ(ftp->params_ftp().opts_ftp().ntavos(), 3u) << "the own values are kept";
    EXPECT_EQ(static_cast<KV_DsTreeNodeGrpFtp*>(folder)->opts_ftp().ntavos(), 7u);
}

TEST_F(EditProps, LocalSheetHasNoInheritBoxAndAFixedName)
{
    KV_DsTreeNode* local = pool->tree().find(KV_DS_NODE_STD, false);
    ASSERT_NE(local, nullptr);
    EXPECT_TRUE(Edit(local, nullptr, [](CDsProp& s) {
        EXPECT_EQ(s.GetPageCount(), 2);
        CDsPropPage* main = s.GetPage(0);
        EXPECT_FALSE(main->Item(1094)->isEnabled())
            << "the tree calls the local computer read-only";
        Type(main, 1100, "21");
        s.accept(); // refused: threads 1 to 20
        EXPECT_TRUE(s.isVisible());
        Type(main, 1100, "6");
        main->Item<QCheckBox>(1135)->setChecked(false);
        CDsPropPage* layout = Page(s, 1);
        EXPECT_FALSE(layout->Item(CDsPropPage::IDC_INHERIT)->isVisible());
        EXPECT_TRUE(layout->Item(1088)->isEnabled() || layout->Item(1087)->isEnabled());
        s.accept();
    }));
    EXPECT_EQ(error_texts, QStringList{"Please enter an integer between 1 and 20."});
    auto* std_node = static_cast<KV_DsTreeNodeStd*>(pool->tree().find(KV_DS_NODE_STD, false));
    EXPECT_EQ(std_node->params_std().opts().ntavos(), 6u);
    EXPECT_FALSE(std_node->params_std().opts_std().recycle());
}

TEST_F(EditProps, NoNodeOpensNothingAndAGroupOpensItsSheet)
{
    EXPECT_FALSE(app->EditProperties(nullptr, nullptr, nullptr));
    EXPECT_EQ(sheets_shown, 0);
    // A protocol group has its own sheet; Cancel commits nothing.
    EXPECT_FALSE(Edit(FtpGroup(), nullptr, [](CDsProp& s) { s.reject(); }));
    EXPECT_EQ(sheets_shown, 1);
}

TEST_F(EditProps, TreePropertiesCommandsOpenTheSelectedNode)
{
    KV_DsTreeNode* node = AddFtp("Mirror");
    auto frm = std::make_unique<CMainFrm>();
    ASSERT_TRUE(frm->CreateFrame());
    auto* view = frm->findChild<CDsView*>();
    ASSERT_NE(view, nullptr);
    frm->show();
    frm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
    for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
        if (CDsView::NodeOf(*it) == node) {
            view->setCurrentItem(*it);
        }
    }
    ASSERT_EQ(view->SelectedNode(), node);
    // The menu's command and the toolbar's.
    for (uint32_t id : {32793u, 32819u}) {
        SCOPED_TRACE(id);
        frm->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frm.get()));
        view->setFocus();
        CCmdUI ui(id);
        frm->Commands()->Update(ui, true);
        EXPECT_TRUE(ui.enabled);
        QString caption;
        kvtest::DialogDriver<CDsProp> sheets([&](CDsProp& s) {
            caption = s.windowTitle();
            Type(s.GetPage(0), 1156, "ftp3.example.com");
            s.accept();
        });
        EXPECT_TRUE(CCommandLayer::Execute(frm.get(), id));
        EXPECT_EQ(caption, "Mirror properties.");
    }
    EXPECT_EQ(static_cast<KV_DsTreeNodeFtp*>(node)->params_ftp().dst_addr(),
              KV_String("ftp3.example.com"));
}

} // namespace
