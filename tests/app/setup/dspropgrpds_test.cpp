// The root group's pages: the removal boxes and "StartTips", the refused
// folders and counts of the details page, the security files, the pass
// phrase and the restart notes.
#include "setup/dspropgrpds.h"

#include "core/settings.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "net/kv_sslctx.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_dstest.h"
#include "support/kv_testdir.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

namespace {

class Adv : public CDsPropGrpDsAdv
{
public:
    using CDsPropGrpDsAdv::CDsPropGrpDsAdv;
    QStringList notes;

protected:
    void ShowNote(const QString& text) override { notes << text; }
};

class Security : public CDsPropGrpDsSecurity
{
public:
    using CDsPropGrpDsSecurity::CDsPropGrpDsSecurity;
    QStringList notes;
    QList<bool> trust;

protected:
    void ShowNote(const QString& text) override { notes << text; }
    void RunTrustDialog(bool certs) override { trust << certs; }
};

class RootPageTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "kivrel.conf");
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir / "tmp-a")));
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir / "tmp-b")));
        ASSERT_TRUE(kvtest::write_file(dir / "ca.pem", "x"));
        ASSERT_TRUE(kvtest::write_file(dir / "self.pem", "x"));
        ASSERT_TRUE(kvtest::write_file(dir / "editor", "x"));
    }
    void TearDown() override
    {
        app->DeletePool();
        dstest::reset_trans_statics();
    }
    QString Path(const char* name) const { return QString::fromStdString(dir / name); }

    // A sheet with one page; the sheet owns the page.
    template <class Page> std::unique_ptr<CDsProp> Sheet(Page*& page)
    {
        auto sheet = std::make_unique<CDsProp>(&root, nullptr, nullptr);
        page = new Page(&opts);
        sheet->AddPage(page);
        sheet->show();
        return sheet;
    }
    // The errors the pages reported through the engine root's informer.
    QStringList Errors()
    {
        QStringList out;
        while (KV_Msg* m = app->GetPool()->informer().pop()) {
            if (m->type() == KV_MSG_ERR) {
                out << QString::fromUtf8(static_cast<KV_MsgErrNtf*>(m)->text.data());
            }
            KV_Informer::destroy(m);
        }
        return out;
    }
    static void Set(CDsPropPage* page, int id, const QString& text)
    {
        page->Item<QLineEdit>(id)->setText(text);
    }

    CKivrelApp* app = nullptr;
    KV_DsTreeNodeGrpDs root;
    KV_FileTransManOpts opts;
};

TEST_F(RootPageTest, RemovalBoxesAndSwitches)
{
    opts.set_auto_rm_req(0x05);
    opts.set_auto_rm_req_st(0x02);
    WriteProfileInt("UI", "DsAutosel", 1);
    WriteProfileInt("UI", "Sounds", 0);
    CDsPropGrpDsMain* page = nullptr;
    auto sheet = Sheet(page);
    using M = CDsPropGrpDsMain;
    EXPECT_EQ(page->Item<QCheckBox>(M::IDC_RM_COMPLETED)->checkState(), Qt::Checked);
    EXPECT_EQ(page->Item<QCheckBox>(M::IDC_RM_ERRONEOUS)->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(page->Item<QCheckBox>(M::IDC_RM_ERRONEOUS)->text(), "Errorneus requests");
    EXPECT_TRUE(page->Item<QCheckBox>(M::IDC_AUTO_UPDATE)->isChecked()) << "default 1";
    EXPECT_TRUE(page->Item<QCheckBox>(M::IDC_DS_AUTOSEL)->isChecked());
    EXPECT_FALSE(page->Item<QCheckBox>(M::IDC_SOUNDS)->isChecked());
    EXPECT_FALSE(page->Item<QCheckBox>(M::IDC_QUICK_CONN_TMP)->isChecked()) << "default 0";

    // Completed requests go at the next start instead of at once.
    page->Item<QCheckBox>(M::IDC_RM_COMPLETED)->setCheckState(Qt::PartiallyChecked);
    page->Item<QCheckBox>(M::IDC_QUICK_CONN_TMP)->setChecked(true);
    page->Item<QCheckBox>(M::IDC_AUTO_UPDATE)->setChecked(false);
    sheet->accept();
    EXPECT_EQ(opts.auto_rm_req(), 0x04);
    EXPECT_EQ(opts.auto_rm_req_st(), 0x03);
    EXPECT_EQ(GetProfileInt("UI", "QuickConnTmp", -1), 1);
    EXPECT_EQ(GetProfileInt("UI", "AutoUpdate", -1), 0);
    EXPECT_EQ(GetProfileInt("UI", "Sounds", -1), 0);
}

TEST_F(RootPageTest, StartTipsKeepsTheLastTip)
{
    // Each step: the box as the page shows it, the user's choice, the value
    // stored after OK (INT32_MIN: nothing stored).
    struct Step
    {
        bool shown;
        bool choice;
        int32_t stored;
    };
    const auto run = [this](const std::vector<Step>& steps) {
        for (const Step& s : steps) {
            SCOPED_TRACE(testing::Message() << s.choice << " -> " << s.stored);
            CDsPropGrpDsMain* page = nullptr;
            auto sheet = Sheet(page);
            auto* box = page->Item<QCheckBox>(CDsPropGrpDsMain::IDC_START_TIPS);
            EXPECT_EQ(box->isChecked(), s.shown);
            box->setChecked(s.choice);
            sheet->accept();
            EXPECT_EQ(GetProfileInt("UI", "StartTips", INT32_MIN), s.stored);
        }
    };
    WriteProfileInt("UI", "StartTips", 5);
    run({{true, false, -5}, {false, true, 5}});
    // Nothing stored: checked (the default) stores nothing.
    ASSERT_TRUE(QFile::remove(SettingsEnv().user_conf));
    run({{true, true, INT32_MIN}, {true, false, 0}, {false, true, 0x7FFFFFFE}});
}

TEST_F(RootPageTest, DetailsRefuseWhatCannotBeUsed)
{
    WriteProfileString("Init", "Temp", Path("tmp-a"));
    WriteProfileString("Init", "DefEd", Path("editor"));
    opts.set_ntavos(5);

    // Counts and speeds outside their ranges keep the sheet open.
    struct Row
    {
        int id;
        const char* text;
        const char* message;
    } rows[] = {
        {CDsPropGrpDsAdv::IDC_NTAVOS, "21", "Please enter an integer between 1 and 20."},
        {CDsPropGrpDsAdv::IDC_NTAVOS, "0", "Please enter an integer between 1 and 20."},
        {CDsPropGrpDsAdv::IDC_DOWN, "1000000", "Please enter a number between 0 and 999999."},
        {CDsPropGrpDsAdv::IDC_UP, "-1", "Please enter a number between 0 and 999999."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        Adv* page = nullptr;
        auto sheet = Sheet(page);
        Set(page, r.id, r.text);
        QString shown;
        kvtest::DialogDriver<QMessageBox> driver([&shown](QMessageBox& box) {
            shown = box.text();
            box.accept();
        });
        sheet->accept();
        EXPECT_EQ(shown, r.message);
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(opts.ntavos(), 5u);
    }

    // An empty folder is refused and the old one stays; an empty editor is
    // taken. The other values are saved all the same.
    {
        Adv* page = nullptr;
        auto sheet = Sheet(page);
        EXPECT_EQ(page->Item<QLineEdit>(CDsPropGrpDsAdv::IDC_TEMP)->text(), Path("tmp-a"));
        Set(page, CDsPropGrpDsAdv::IDC_TEMP, "");
        Set(page, CDsPropGrpDsAdv::IDC_EDITOR, "");
        Set(page, CDsPropGrpDsAdv::IDC_NTAVOS, "20");
        Set(page, CDsPropGrpDsAdv::IDC_DOWN, "12.5");
        sheet->accept();
        EXPECT_FALSE(sheet->isVisible());
        EXPECT_EQ(Errors(), QStringList{"An invalid path specified ()."});
        EXPECT_TRUE(page->notes.isEmpty());
        EXPECT_EQ(GetProfileString("Init", "Temp"), Path("tmp-a"));
        EXPECT_EQ(GetProfileString("Init", "DefEd", "unset"), "");
        EXPECT_EQ(opts.ntavos(), 20u);
        EXPECT_DOUBLE_EQ(KV_FileTransManOpts::bwt_speed_in(), 12.5);
    }
    // Another existing folder is taken and needs a restart; a missing editor
    // is refused.
    {
        Adv* page = nullptr;
        auto sheet = Sheet(page);
        Set(page, CDsPropGrpDsAdv::IDC_TEMP, Path("tmp-b"));
        Set(page, CDsPropGrpDsAdv::IDC_EDITOR, Path("no-such-editor"));
        sheet->accept();
        EXPECT_EQ(GetProfileString("Init", "Temp"), Path("tmp-b"));
        EXPECT_EQ(page->notes, QStringList{"The application must be restarted to use the new "
                                           "path for temporary files."});
        EXPECT_EQ(Errors(),
                  QStringList{"An invalid path specified (" + Path("no-such-editor") + ")."});
        EXPECT_EQ(GetProfileString("Init", "DefEd", "unset"), "");
    }
    // The same folder again needs no restart.
    Adv* page = nullptr;
    auto sheet = Sheet(page);
    sheet->accept();
    EXPECT_TRUE(page->notes.isEmpty());
}

TEST_F(RootPageTest, SecurityFilesAndPassPhrase)
{
    WriteProfileString("Init", "SSLCas", Path("ca.pem"));
    WriteProfileString("Init", "SSLKey", Path("self.pem"));
    WriteProfileString(
        "Init", "SSLKeypass",
        QString::fromUtf8(KV_String("old phrase").encrypt_bf(KV_SSLCtx::bf_key).data()));
    WriteProfileString("Init", "SSLCiphers", "HIGH:!aNULL");
    const auto stored_pass = [] {
        return QString::fromUtf8(
            KV_String(GetProfileString("Init", "SSLKeypass").toUtf8().constData())
                .decrypt_bf(KV_SSLCtx::bf_key)
                .data());
    };

    // Nothing changed: no note, every value as it was.
    {
        Security* page = nullptr;
        auto sheet = Sheet(page);
        EXPECT_EQ(page->Item<QLineEdit>(CDsPropGrpDsSecurity::IDC_KEY_PASS)->text(), "old phrase");
        sheet->accept();
        EXPECT_TRUE(page->notes.isEmpty());
        EXPECT_EQ(GetProfileString("Init", "SSLCiphers"), "HIGH:!aNULL");
        EXPECT_TRUE(Errors().isEmpty());
    }
    // Only the pass phrase changed: the note, and never the plain text.
    {
        Security* page = nullptr;
        auto sheet = Sheet(page);
        Set(page, CDsPropGrpDsSecurity::IDC_KEY_PASS, "new phrase");
        sheet->accept();
        EXPECT_EQ(
            page->notes,
            QStringList{"The application must be restarted to use the new security settings."});
        EXPECT_NE(GetProfileString("Init", "SSLKeypass"), "new phrase");
        EXPECT_FALSE(GetProfileString("Init", "SSLKeypass").contains("phrase"));
        EXPECT_EQ(stored_pass(), "new phrase");
    }
    // An empty CA file is refused and the old one stays; an empty own key is
    // taken (and is a change).
    {
        Security* page = nullptr;
        auto sheet = Sheet(page);
        Set(page, CDsPropGrpDsSecurity::IDC_CAS, "");
        Set(page, CDsPropGrpDsSecurity::IDC_KEY, "");
        page->Item<QCheckBox>(CDsPropGrpDsSecurity::IDC_TREXPL_HTTPS)->setChecked(true);
        sheet->accept();
        EXPECT_FALSE(sheet->isVisible());
        EXPECT_EQ(Errors(), QStringList{"An invalid path specified ()."});
        EXPECT_EQ(GetProfileString("Init", "SSLCas"), Path("ca.pem"));
        EXPECT_EQ(GetProfileString("Init", "SSLKey", "unset"), "");
        EXPECT_EQ(page->notes.size(), 1);
        EXPECT_TRUE(KV_FileTransManOpts::trexpl_https());
    }
    // The store buttons open the certificate and the key dialog.
    Security* page = nullptr;
    auto sheet = Sheet(page);
    page->Item<QPushButton>(CDsPropGrpDsSecurity::IDC_CERTS)->click();
    page->Item<QPushButton>(CDsPropGrpDsSecurity::IDC_KEYS)->click();
    EXPECT_EQ(page->trust, (QList<bool>{true, false}));
}

} // namespace
