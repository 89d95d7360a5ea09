// The pages one by one, over clones of nodes of a real tree: which fields
// a state enables, which values are refused with which message, and what
// reaches the engine objects.
#include "props/dspropsheets.h"

#include "core/propvalues.h"
#include "dialogs/checkcombo.h"
#include "kv_propfixture.h"
#include "props/dsprophttp.h"
#include "ssh/kv_sshcipher.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

namespace {

using proptest::PoolTest;

class Pages : public PoolTest
{
protected:
    void TearDown() override
    {
        sheet.reset();
        KV_DsTreeNode::destr_clone(clone);
        PoolTest::TearDown();
    }
    // A clone of a tree node, as EditProperties makes it.
    template <class T> T* CloneOf(KV_DsTreeNode* node)
    {
        clone = pool->tree().clone(node, false);
        return dynamic_cast<T*>(clone);
    }
    // Shows the sheet and page `index`.
    CDsPropPage* Show(int index)
    {
        sheet->show();
        sheet->SetActivePage(index);
        return sheet->GetPage(index);
    }
    // Presses OK; the error boxes' texts, in order.
    QStringList PressOk()
    {
        QStringList texts;
        kvtest::DialogDriver<QMessageBox> errors([&](QMessageBox& b) {
            texts << b.text();
            b.accept();
        });
        sheet->accept();
        return texts;
    }

    KV_DsTreeNode* clone = nullptr;
    std::unique_ptr<CDsProp> sheet;
};

TEST_F(Pages, FtpMainEnablesByAnonymityAndUse)
{
    const int ids[] = {1094, 1156, 1006, 1195, 1001, 1113, 1152, 1163, 1036, 1024};
    struct Row
    {
        bool anonymous, editable;
        bool on[10];
    } rows[] = {
        {false, true, {true, true, true, true, true, true, true, true, true, true}},
        {true, true, {true, true, true, false, false, false, true, true, true, true}},
        // In use: the identity is fixed; security, type, folder, password
        // and description stay.
        {false, false, {false, false, false, false, false, true, true, true, true, true}},
        {true, false, {false, false, false, false, false, false, true, true, true, true}},
    };
    KV_DsTreeNode* node = AddFtp("Mirror");
    KV_DsTreeNodeFtp anon_tmpl;
    anon_tmpl.set_name("Anon");
    anon_tmpl.params_ftp().set_dst_addr("ftp.example.com");
    anon_tmpl.params_ftp().set_anonymous(true);
    KV_DsTreeNode* anon = pool->tree().create(FtpGroup(), &anon_tmpl, 0, true);
    ASSERT_NE(anon, nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << "anonymous " << r.anonymous << " editable " << r.editable);
        sheet.reset();
        KV_DsTreeNode::destr_clone(clone);
        auto* ftp = CloneOf<KV_DsTreeNodeFtp>(r.anonymous ? anon : node);
        {
            kvtest::DialogDriver<CDlgAppInfo> notes([](CDlgAppInfo& d) { d.reject(); });
            sheet = std::make_unique<CDsPropFtp>(ftp, nullptr, r.editable, nullptr);
        }
        CDsPropPage* main = Show(0);
        for (size_t i = 0; i < std::size(ids); ++i) {
            EXPECT_EQ(main->Item(ids[i])->isEnabled(), r.on[i]) << ids[i];
        }
    }
    // Clicking Anonymous switches the login fields at once.
    sheet.reset();
    KV_DsTreeNode::destr_clone(clone);
    sheet = std::make_unique<CDsPropFtp>(CloneOf<KV_DsTreeNodeFtp>(node), nullptr, true, nullptr);
    CDsPropPage* main = Show(0);
    main->Item<QCheckBox>(1006)->click();
    EXPECT_FALSE(main->Item(1195)->isEnabled());
    EXPECT_FALSE(main->Item(1113)->isEnabled());
}

TEST_F(Pages, FtpMainChecksOnOk)
{
    struct Row
    {
        const char* server;
        const char* user;
        bool anonymous;
        const char* folder;
        const char* message; // "" accepted
    } rows[] = {
        {"  ", "joe", false, "", "Invalid server address specified."},
        {"ftp.example.com", "  ", false, "", "Missing login parameter(s)."},
        {"ftp.example.com", "", true, "", ""},
        {"ftp.example.com", "joe", false, "pub", "Invalid path (pub)."},
        {"ftp.example.com", "joe", false, " pub ", "Invalid path (pub)."},
        {"ftp.example.com", "joe", false, "/pub", ""},
        {"ftp.example.com", "joe", false, "", ""},
    };
    KV_DsTreeNode* node = AddFtp("Mirror");
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.server << "|" << r.user << "|" << r.folder);
        sheet.reset();
        KV_DsTreeNode::destr_clone(clone);
        auto* ftp = CloneOf<KV_DsTreeNodeFtp>(node);
        sheet = std::make_unique<CDsPropFtp>(ftp, nullptr, true, nullptr);
        CDsPropPage* main = Show(0);
        Type(main, 1156, r.server);
        Type(main, 1195, r.user);
        main->Item<QCheckBox>(1006)->setChecked(r.anonymous);
        Type(main, 1036, r.folder);
        Show(2); // another page is on top: a refusal brings the main page back
        const QStringList texts = PressOk();
        if (*r.message == '\0') {
            EXPECT_TRUE(texts.isEmpty()) << texts.join("|").toStdString();
            EXPECT_EQ(sheet->result(), QDialog::Accepted);
        } else {
            EXPECT_EQ(texts, QStringList{r.message});
            EXPECT_TRUE(sheet->isVisible());
            EXPECT_EQ(sheet->GetActivePage(), main);
        }
    }
}

TEST_F(Pages, FtpDetailsPartSizeAndSessions)
{
    KV_DsTreeNode* node = AddFtp("Mirror");
    auto* ftp = CloneOf<KV_DsTreeNodeFtp>(node);
    ftp->params_ftp().opts_ftp().ftp().set_use_rest_get(false);
    sheet = std::make_unique<CDsPropFtp>(ftp, nullptr, true, nullptr);
    CDsPropPage* det = Show(3);
    det->Item<QCheckBox>(1193)->setChecked(true); // not saved yet
    CDsPropPage* adv = Show(2);
    EXPECT_FALSE(adv->Item(1089)->isEnabled()) << "follows the stored options";
    EXPECT_TRUE(adv->Item(1100)->isEnabled());
    Type(adv, 1100, "3");
    Type(adv, 1101, "4");
    EXPECT_EQ(PressOk(), QStringList{"Please enter an integer between 0 and 3."});
    EXPECT_TRUE(sheet->isVisible());
    Type(adv, 1101, "3");
    EXPECT_TRUE(PressOk().isEmpty());
    const KV_FileManFtpOpts& o = ftp->params_ftp().opts_ftp();
    EXPECT_EQ(o.ntavos(), 3u);
    EXPECT_EQ(o.ntavos_conn(), 3u);
    EXPECT_TRUE(o.ftp().use_rest_get());
}

TEST_F(Pages, FtpProtocolRadiosAndUnreliableNote)
{
    KV_DsTreeNode* node = AddFtp("Mirror");
    const struct
    {
        int radio_id;
        KV_FTP_CONN_MODE mode;
    } rows[] = {{1065, KV_FTP_CONN_AUTO}, {1067, KV_FTP_CONN_PASSIVE}, {1066, KV_FTP_CONN_ACTIVE}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.radio_id);
        sheet.reset();
        KV_DsTreeNode::destr_clone(clone);
        auto* ftp = CloneOf<KV_DsTreeNodeFtp>(node);
        sheet = std::make_unique<CDsPropFtp>(ftp, nullptr, true, nullptr);
        CDsPropPage* det = Show(3);
        det->Item<QRadioButton>(r.radio_id)->click();
        int notes = 0;
        {
            kvtest::DialogDriver<CDlgAppInfo> driver([&](CDlgAppInfo& d) {
                ++notes;
                d.reject();
            });
            det->Item<QCheckBox>(1083)->click();
        }
        EXPECT_EQ(notes, 1);
        EXPECT_TRUE(PressOk().isEmpty());
        EXPECT_EQ(ftp->params_ftp().opts_ftp().ftp().conn_mode(), r.mode);
        EXPECT_TRUE(ftp->params_ftp().opts_ftp().ftp().sz_unrel());
    }
}

TEST_F(Pages, HttpAuthorisationFollowsItsMethods)
{
    KV_DsTreeNodeHttp tmpl;
    tmpl.set_name("Dav");
    tmpl.params_http().set_dst_addr("www.example.com");
    tmpl.params_http().ldata().set_auth_cmds(0);
    KV_DsTreeNode* node =
        pool->tree().create(pool->tree().find(KV_DS_NODE_HTTP, true), &tmpl, 0, true);
    ASSERT_NE(node, nullptr);
    auto* http = CloneOf<KV_DsTreeNodeHttp>(node);
    sheet = std::make_unique<CDsPropHttp>(http, nullptr, true, nullptr);
    CDsPropPage* main = Show(0);
    auto* methods = main->Item<CCheckComboBox>(1009);
    EXPECT_FALSE(methods->isEnabled());
    EXPECT_FALSE(main->Item(1195)->isEnabled());
    main->Item<QCheckBox>(1010)->click();
    EXPECT_EQ(methods->GetCheckedCount(), 8) << "on with none checked checks all";
    EXPECT_TRUE(main->Item(1195)->isEnabled());
    // A user is needed now.
    Type(main, 1195, "");
    EXPECT_EQ(PressOk(), QStringList{"Missing login parameter(s)."});
    for (int i = 0; i < 8; ++i) {
        methods->SetCheck(i, i == 3);
        emit methods->currentIndexChanged(i);
    }
    EXPECT_TRUE(main->Item<QCheckBox>(1010)->isChecked());
    methods->SetCheck(3, false);
    emit methods->currentIndexChanged(3);
    EXPECT_FALSE(main->Item<QCheckBox>(1010)->isChecked()) << "the last method unchecked";
    EXPECT_FALSE(main->Item(1195)->isEnabled());
    EXPECT_TRUE(PressOk().isEmpty()) << "no user needed without authorisation";
    EXPECT_FALSE(http->params_http().ldata().auth());

    // Version 1.0 knows no persistent connections.
    sheet = std::make_unique<CDsPropHttp>(http, nullptr, true, nullptr);
    CDsPropPage* adv = Show(3);
    EXPECT_TRUE(adv->Item(1121)->isEnabled());
    adv->Item<QRadioButton>(1125)->click();
    EXPECT_FALSE(adv->Item(1121)->isEnabled());
    EXPECT_TRUE(PressOk().isEmpty());
    EXPECT_EQ(http->params_http().opts_http().http().version(), KV_HttpVer(1, 0));
}

TEST_F(Pages, HttpDocuments)
{
    KV_DsTreeNodeHttp tmpl;
    tmpl.set_name("Dav");
    tmpl.params_http().set_dst_addr("www.example.com");
    tmpl.params_http().set_docs("/b.html\r\n/a/\r\n");
    KV_DsTreeNode* node =
        pool->tree().create(pool->tree().find(KV_DS_NODE_HTTP, true), &tmpl, 0, true);
    ASSERT_NE(node, nullptr);
    auto* http = CloneOf<KV_DsTreeNodeHttp>(node);
    sheet = std::make_unique<CDsPropHttp>(http, nullptr, true, nullptr);
    auto* doc = static_cast<CDsPropHttpDoc*>(Show(1));
    auto* list = doc->Item<QListWidget>(1043);
    auto* add = doc->Item<QPushButton>(1002);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "/a/") << "the list is sorted";

    QStringList errors;
    kvtest::DialogDriver<QMessageBox> driver([&](QMessageBox& b) {
        errors << b.text();
        b.button(QMessageBox::Yes) != nullptr ? b.button(QMessageBox::Yes)->click() : b.accept();
    });
    Type(doc, 1042, "docs/a.html");
    doc->OnAdd();
    EXPECT_EQ(errors, QStringList{"Invalid HTTP document/directory specified. ( valid paths begin "
                                  "with a '/' )"});
    EXPECT_EQ(list->count(), 2);
    Type(doc, 1042, " /docs/a.html ");
    EXPECT_TRUE(add->isEnabled());
    doc->OnAdd();
    EXPECT_EQ(list->count(), 3);
    EXPECT_FALSE(add->isEnabled()) << "the same path again";

    // Set with a path already listed keeps the list as it was.
    list->setCurrentRow(0); // "/a/"
    EXPECT_EQ(doc->Item<QLineEdit>(1042)->text(), "/a/");
    doc->Item<QLineEdit>(1042)->setText("/b.html");
    doc->OnSet();
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->item(i)->text();
    }
    EXPECT_EQ(items, (QStringList{"/a/", "/b.html", "/docs/a.html"}));
    list->setCurrentRow(0);
    doc->Item<QLineEdit>(1042)->setText("/c/");
    doc->OnSet();
    EXPECT_EQ(list->findItems("/c/", Qt::MatchExactly).size(), 1);
    EXPECT_TRUE(list->findItems("/a/", Qt::MatchExactly).isEmpty());

    EXPECT_TRUE(PressOk().isEmpty());
    EXPECT_EQ(http->params_http().docs(), KV_String("/b.html\r\n/c/\r\n/docs/a.html"));

    errors.clear();
    doc->OnRemoveAll();
    EXPECT_EQ(errors, QStringList{"Are you sure you want to remove all registered paths ?"});
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(doc->Item(1038)->isEnabled());
    doc->SaveData();
    EXPECT_EQ(http->params_http().docs(), KV_String(""));
}

TEST_F(Pages, SftpCiphersAndUser)
{
    ASSERT_GE(KV_SshCipherDef::nciphers(), 2u);
    const QString second = KV_SshCipherDef::cipher(1)->name();
    KV_DsTreeNodeSftp tmpl;
    tmpl.set_name("Box");
    tmpl.params_sftp().set_dst_addr("ssh.example.com");
    tmpl.params_sftp().ldata().set_user("joe");
    tmpl.params_sftp().opts_sftp().sftp().set_ciphers(kvprop::ToKv("unknown-cipher," + second));
    KV_DsTreeNode* node =
        pool->tree().create(pool->tree().find(KV_DS_NODE_SFTP, true), &tmpl, 0, true);
    ASSERT_NE(node, nullptr);
    auto* sftp = CloneOf<KV_DsTreeNodeSftp>(node);
    sheet = std::make_unique<CDsPropSftp>(sftp, nullptr, true, nullptr);
    CDsPropPage* main = Show(0);
    CDsPropPage* adv = Show(2);
    auto* box = adv->Item<CCheckComboBox>(1020);
    ASSERT_EQ(box->count(), static_cast<int>(KV_SshCipherDef::nciphers()));
    EXPECT_EQ(box->findText("unknown-cipher"), -1);
    EXPECT_TRUE(box->GetCheck(0));
    EXPECT_FALSE(box->GetCheck(1));

    box->SetCheckAll(false);
    EXPECT_EQ(PressOk(), QStringList{"No ciphers selected."});
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->GetActivePage(), adv);
    box->SetCheckAll(true);
    box->SetCheck(1, false);
    Type(main, 1113, "secret");
    Type(main, 1195, "   ");
    EXPECT_EQ(PressOk(), QStringList{"Missing login parameter(s)."}) << "a password is no user";
    Type(main, 1195, "ann");
    EXPECT_TRUE(PressOk().isEmpty());
    EXPECT_EQ(kvprop::FromKv(sftp->params_sftp().opts_sftp().sftp().ciphers()), second)
        << "the unknown name is dropped";
    EXPECT_EQ(sftp->params_sftp().ldata().user(), KV_String("ann"));
}

TEST_F(Pages, LayoutWordAndSecondDataSource)
{
    KV_DsTreeNode* other = AddFtp("Other");
    KV_DsTreeNode* node = AddFtp("Mirror");
    struct Row
    {
        uint16_t stored;
        bool open_other;   // open_with names "Other"
        bool open_deleted; // open_with names a data source no longer there
        uint16_t saved;
        const char* selected;
        bool second_side_enabled;
    } rows[] = {
        {0x0000, false, false, 0x0101, "<disabled>", false},
        {0x0602, true, false, 0x0602, "Other", true},
        // "<disabled>": the second side keeps its values, greyed.
        {0x0403, false, false, 0x0403, "<disabled>", false},
        {0x0101, false, true, 0x0101, "", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.stored);
        sheet.reset();
        KV_DsTreeNode::destr_clone(clone);
        auto* ftp = CloneOf<KV_DsTreeNodeFtp>(node);
        KV_FileManOpts& o = ftp->params_ftp().opts();
        o.set_disp_info(r.stored);
        o.set_open_with(r.open_other     ? KV_DsId(other->id())
                        : r.open_deleted ? KV_DsId(KV_DS_NODE_FTP, "GONE", "X", "")
                                         : KV_DsId());
        sheet = std::make_unique<CDsPropFtp>(ftp, nullptr, true, nullptr);
        CDsPropPage* layout = Show(1);
        EXPECT_EQ(layout->Item<QComboBox>(1080)->currentText(), r.selected);
        EXPECT_EQ(layout->Item(1149)->isEnabled() || layout->Item(1148)->isEnabled() ||
                      layout->Item(1147)->isEnabled(),
                  r.second_side_enabled);
        EXPECT_TRUE(PressOk().isEmpty());
        EXPECT_EQ(o.disp_info(), r.saved);
        EXPECT_EQ(o.open_with().valid(), r.open_other);
        if (r.open_other) {
            EXPECT_TRUE(o.open_with() == KV_DsId(other->id()));
        }
    }
    // The last checked pane of a side cannot be unchecked.
    sheet.reset();
    KV_DsTreeNode::destr_clone(clone);
    auto* ftp = CloneOf<KV_DsTreeNodeFtp>(node);
    ftp->params_ftp().opts().set_disp_info(0x0002);
    sheet = std::make_unique<CDsPropFtp>(ftp, nullptr, true, nullptr);
    CDsPropPage* layout = Show(1);
    EXPECT_FALSE(layout->Item(1087)->isEnabled());
    EXPECT_TRUE(layout->Item(1088)->isEnabled());
    layout->Item<QCheckBox>(1088)->click();
    EXPECT_TRUE(layout->Item(1087)->isEnabled());
}

} // namespace
