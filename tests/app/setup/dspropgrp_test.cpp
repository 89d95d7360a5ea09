// The protocol group pages: the proxy types each offers, which fields a
// type enables, what "None" keeps, ports that never wrap, and what an
// inheriting folder shows.
#include "setup/dspropgrp.h"

#include "setup/dspropgrpsheets.h"

#include "core/settings.h"
#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

namespace {

using P = CDsPropGrpProxyMain;

class GrpPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ftp = std::make_unique<KV_DsTreeNodeGrpFtp>(tree);
        http = std::make_unique<KV_DsTreeNodeGrpHttp>(tree);
        sftp = std::make_unique<KV_DsTreeNodeGrpSftp>(tree);
        ftp->set_name("Ftp");
        http->set_name("Http");
        sftp->set_name("SFtp");
    }

    // A sheet over `group` with the page `make` builds.
    template <class Page, class G> std::unique_ptr<CDsProp> Sheet(G* group, G* parent, Page*& page)
    {
        auto sheet = std::make_unique<CDsProp>(group, parent, nullptr);
        page = new Page(group, parent, &tree);
        sheet->AddPage(page);
        sheet->show();
        return sheet;
    }
    static void Choose(P* page, int type)
    {
        auto* box = page->Item<QComboBox>(P::IDC_TYPE);
        box->setCurrentIndex(type);
        emit box->activated(type);
    }
    static bool On(P* page, int id) { return page->Item(id)->isEnabled(); }

    kvtest::NullErr eh;
    KV_DsTree tree{eh};
    std::unique_ptr<KV_DsTreeNodeGrpFtp> ftp;
    std::unique_ptr<KV_DsTreeNodeGrpHttp> http;
    std::unique_ptr<KV_DsTreeNodeGrpSftp> sftp;
};

TEST_F(GrpPageTest, TypesAndTheFieldsTheyEnable)
{
    CDsPropGrpFtpMain* fp = nullptr;
    CDsPropGrpHttpMain* hp = nullptr;
    CDsPropGrpSftpMain* sp = nullptr;
    auto s1 = Sheet(ftp.get(), static_cast<KV_DsTreeNodeGrpFtp*>(nullptr), fp);
    auto s2 = Sheet(http.get(), static_cast<KV_DsTreeNodeGrpHttp*>(nullptr), hp);
    auto s3 = Sheet(sftp.get(), static_cast<KV_DsTreeNodeGrpSftp*>(nullptr), sp);
    struct Row
    {
        P* page;
        int template_id;
        QStringList items;
    } rows[] = {
        {fp,
         56,
         {"None", "HTTP", "SOCKS 4", "SOCKS 5", "SITE site", "OPEN site", "USER user@site:port",
          "USER user@site port"}},
        {hp,
         57,
         {"None", "Standard (using HTTP header)", "Tunnel (using  CONNECTcommand)", "SOCKS 4",
          "SOCKS 5"}},
        {sp, 58, {"None", "HTTP", "SOCKS 4", "SOCKS 5"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.template_id);
        EXPECT_EQ(r.page->GetTemplateId(), r.template_id);
        EXPECT_EQ(r.page->GetTitle(), "Main");
        auto* box = r.page->Item<QComboBox>(P::IDC_TYPE);
        QStringList items;
        for (int i = 0; i < box->count(); ++i) {
            items << box->itemText(i);
        }
        EXPECT_EQ(items, r.items);
        EXPECT_TRUE(r.page->Item(P::IDC_INHERIT)->isHidden()) << "no parent group";
        for (int type = 0; type < box->count(); ++type) {
            SCOPED_TRACE(type);
            Choose(r.page, type);
            EXPECT_TRUE(On(r.page, P::IDC_TYPE));
            for (int id : {P::IDC_SERVER, P::IDC_PORT, P::IDC_USER, P::IDC_PASS}) {
                EXPECT_EQ(On(r.page, id), type > 0) << id;
            }
            if (r.page == fp) {
                EXPECT_TRUE(On(fp, CDsPropGrpFtpMain::IDC_ANON_PASS));
                EXPECT_EQ(On(fp, CDsPropGrpFtpMain::IDC_PASV), type >= 2);
            }
        }
    }

    // An HTTP proxy of the FTP group always goes with passive connections.
    Choose(fp, 3);
    fp->Item<QCheckBox>(CDsPropGrpFtpMain::IDC_PASV)->setChecked(false);
    Choose(fp, 1);
    EXPECT_TRUE(fp->Item<QCheckBox>(CDsPropGrpFtpMain::IDC_PASV)->isChecked());
    EXPECT_FALSE(On(fp, CDsPropGrpFtpMain::IDC_PASV));
    s1->accept();
    EXPECT_EQ(ftp->proxy().type(), KV_PROXY_FTP_CONNECT);
    EXPECT_TRUE(ftp->proxy().pasv());
}

TEST_F(GrpPageTest, NoneKeepsTheFields)
{
    http->proxy().set_addr("gate.example.com");
    http->proxy().set_port(3128);
    http->proxy().ldata().set_user("anna");
    http->proxy().ldata().set_pass("pw");
    http->proxy().set_type(KV_PROXY_HTTP_NONE);
    http->set_comment("Web servers");
    CDsPropGrpHttpMain* page = nullptr;
    auto sheet = Sheet(http.get(), static_cast<KV_DsTreeNodeGrpHttp*>(nullptr), page);
    EXPECT_EQ(page->Item<QLineEdit>(P::IDC_SERVER)->text(), "gate.example.com");
    EXPECT_EQ(page->Item<QLineEdit>(P::IDC_PORT)->text(), "3128");
    EXPECT_FALSE(On(page, P::IDC_SERVER));
    EXPECT_FALSE(On(page, P::IDC_PASS));
    sheet->accept();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(http->proxy().addr(), "gate.example.com");
    EXPECT_EQ(http->proxy().port(), 3128);
    EXPECT_EQ(http->proxy().ldata().user(), "anna");
    EXPECT_EQ(http->proxy().ldata().pass(), "pw");
    EXPECT_EQ(http->proxy().type(), KV_PROXY_HTTP_NONE);
    EXPECT_EQ(http->comment(), "Web servers");
}

TEST_F(GrpPageTest, PortsNeverWrap)
{
    sftp->proxy().set_port(1080);
    struct Row
    {
        const char* text;
        bool ok;
        uint16_t stored;
    } rows[] = {{"70000", false, 1080},
                {"65536", false, 1080},
                {"-1", false, 1080},
                {"65535", true, 65535},
                {"0", true, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        CDsPropGrpSftpMain* page = nullptr;
        auto sheet = Sheet(sftp.get(), static_cast<KV_DsTreeNodeGrpSftp*>(nullptr), page);
        Choose(page, 1);
        page->Item<QLineEdit>(P::IDC_PORT)->setText(r.text);
        QString shown;
        kvtest::DialogDriver<QMessageBox> driver([&shown](QMessageBox& box) {
            shown = box.text();
            box.accept();
        });
        sheet->accept();
        EXPECT_EQ(sheet->isVisible(), !r.ok);
        EXPECT_EQ(shown.isEmpty(), r.ok) << shown.toStdString();
        if (!r.ok && r.text[0] != '-') {
            EXPECT_EQ(shown, "Please enter an integer between 0 and 65535.");
        }
        EXPECT_EQ(sftp->proxy().port(), r.stored);
        sftp->proxy().set_port(1080);
    }
}

TEST_F(GrpPageTest, InheritingFolderShowsTheParentsProxy)
{
    KV_DsTreeNodeGrpFtp folder(tree);
    folder.set_name("Mirrors");
    folder.set_inh_params(true);
    folder.set_anonymous_pass("own@example.com");
    folder.proxy().set_addr("own-proxy");
    ftp->proxy().set_addr("group-proxy");
    ftp->proxy().set_type(KV_PROXY_FTP_SOCKS5);
    ftp->set_anonymous_pass("group@example.com");

    CDsPropGrpFtpMain* page = nullptr;
    auto sheet = Sheet(&folder, ftp.get(), page);
    auto* inherit = page->Item<QCheckBox>(P::IDC_INHERIT);
    EXPECT_FALSE(inherit->isHidden());
    EXPECT_TRUE(inherit->text().contains("(Ftp)")) << inherit->text().toStdString();
    EXPECT_TRUE(inherit->isChecked());
    EXPECT_EQ(page->Item<QLineEdit>(P::IDC_SERVER)->text(), "group-proxy");
    EXPECT_EQ(page->Item<QLineEdit>(CDsPropGrpFtpMain::IDC_ANON_PASS)->text(), "group@example.com");
    EXPECT_EQ(page->Item<QComboBox>(P::IDC_TYPE)->currentIndex(), 3);
    for (int id : {int(P::IDC_TYPE), int(P::IDC_SERVER), int(P::IDC_PORT), int(P::IDC_USER),
                   int(P::IDC_PASS), int(CDsPropGrpFtpMain::IDC_ANON_PASS),
                   int(CDsPropGrpFtpMain::IDC_PASV)}) {
        EXPECT_FALSE(On(page, id)) << id;
    }
    EXPECT_TRUE(On(page, P::IDC_INHERIT));
    EXPECT_TRUE(On(page, CDsPropGrpMain::IDC_COMMENT));

    // Leaving the inheritance shows the folder's own proxy again.
    inherit->click();
    EXPECT_FALSE(folder.inh_params());
    EXPECT_EQ(page->Item<QLineEdit>(P::IDC_SERVER)->text(), "own-proxy");
    EXPECT_TRUE(On(page, P::IDC_TYPE));
    page->Item<QLineEdit>(CDsPropGrpMain::IDC_NAME)->setText("Renamed");
    sheet->accept();
    EXPECT_EQ(folder.name(), "Renamed");
    EXPECT_EQ(ftp->proxy().addr(), "group-proxy");
}

TEST_F(GrpPageTest, SheetsAndTheirPages)
{
    KV_DsTreeNodeGrpDs root;
    KV_DsTreeNodeGrpFtp folder(tree);
    folder.set_name("Mirrors");
    struct Row
    {
        KV_DsTreeNodeGrp* group;
        KV_DsTreeNode* parent;
        QList<int> templates;
        const char* help;
        bool inherits;
    } rows[] = {
        {ftp.get(), nullptr, {56, 62, 50, 51}, "html\\dspropftp.htm", false},
        {&folder, ftp.get(), {56, 62, 50, 51}, "html\\dspropftp.htm", true},
        // A parent of another protocol is none.
        {&folder, http.get(), {56, 62, 50, 51}, "html\\dspropftp.htm", false},
        {http.get(), nullptr, {57, 62, 59}, "html\\dsprophttp.htm", false},
        {sftp.get(), nullptr, {58, 62, 63}, "html\\dspropsftp.htm", false},
        {&root, nullptr, {54, 53, 55}, "html\\dspropmain.htm", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.help);
        std::unique_ptr<CDsProp> sheet = MakeGroupPropSheet(r.group, r.parent, nullptr);
        ASSERT_NE(sheet, nullptr);
        QList<int> templates;
        for (int i = 0; i < sheet->GetPageCount(); ++i) {
            templates << sheet->GetPage(i)->GetTemplateId();
        }
        EXPECT_EQ(templates, r.templates);
        EXPECT_EQ(sheet->GetSheetHelpTopic(), r.help);
        EXPECT_EQ(sheet->GetParentNode() != nullptr, r.inherits);
    }
    EXPECT_EQ(MakeGroupPropSheet(nullptr, nullptr, nullptr), nullptr);
}

// The protocol groups keep their names; folders inside them may be renamed.
class GrpNameTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        app = CKivrelApp::Instance();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(app->GetPool()->tree().load(app->GetPool()->man_trans()));
    }
    void TearDown() override { app->DeletePool(); }
    CKivrelApp* app = nullptr;
};

TEST_F(GrpNameTest, OnlyFoldersMayBeRenamed)
{
    KV_DsTree& tree = app->GetPool()->tree();
    auto* group = dynamic_cast<KV_DsTreeNodeGrpFtp*>(tree.find(KV_DS_NODE_FTP, true));
    ASSERT_NE(group, nullptr);
    KV_DsTreeNodeGrpFtp folder(tree);
    folder.set_name("Mirrors");
    auto* in_tree = dynamic_cast<KV_DsTreeNodeGrpFtp*>(tree.create(group, &folder, 0, true));
    ASSERT_NE(in_tree, nullptr);
    struct Row
    {
        KV_DsTreeNodeGrpFtp* node;
        KV_DsTreeNodeGrpFtp* parent;
        bool name;
    } rows[] = {{group, nullptr, false}, {in_tree, group, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.node->name().data());
        CDsProp sheet(r.node, r.parent, nullptr);
        auto* page = new CDsPropGrpFtpMain(r.node, r.parent);
        sheet.AddPage(page);
        sheet.show();
        EXPECT_EQ(page->Item(CDsPropGrpMain::IDC_NAME)->isEnabled(), r.name);
        EXPECT_TRUE(page->Item(CDsPropGrpMain::IDC_COMMENT)->isEnabled());
        EXPECT_EQ(page->Item(CDsPropPage::IDC_INHERIT)->isHidden(), r.parent == nullptr);
    }
}

} // namespace
