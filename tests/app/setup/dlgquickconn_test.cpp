// Quick connect: picking from the history, the anonymous box by scheme, the
// refused inputs, and what Connect records.
#include "setup/dlgquickconn.h"

#include "core/settings.h"
#include "setup/setupentry.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

// Records the error boxes instead of showing them.
class QuickConn : public CDlgQuickConn
{
public:
    QuickConn() : CDlgQuickConn(nullptr) {}
    QStringList errors;
    QWidget* focus = nullptr;

protected:
    void ShowError(const QString& text, QWidget* field) override
    {
        errors << text;
        focus = field;
    }
};

class QuickConnTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "kivrel.conf");
        SetSettingsEnv(env);
    }

    static void Store(std::initializer_list<CQuickConnItem> items)
    {
        CQuickConnHistory h;
        for (const CQuickConnItem& it : items) {
            h.Add(it);
        }
        ASSERT_TRUE(h.SaveToProfile());
    }
    static CQuickConnItem Item(const char* url, long time, const char* user, const char* pass,
                               uint8_t anonymous, uint8_t temporary)
    {
        CQuickConnItem it;
        it.url = url;
        it.user = user;
        it.pass = pass;
        it.anonymous = anonymous;
        it.temporary = temporary;
        it.last_use = KV_Time(time);
        return it;
    }

    static QComboBox* Url(CDlgQuickConn& d) { return d.Item<QComboBox>(CDlgQuickConn::IDC_URL); }
    static QCheckBox* Anon(CDlgQuickConn& d)
    {
        return d.Item<QCheckBox>(CDlgQuickConn::IDC_ANONYMOUS);
    }
    static QCheckBox* Temp(CDlgQuickConn& d)
    {
        return d.Item<QCheckBox>(CDlgQuickConn::IDC_TEMPORARY);
    }
    static QLineEdit* Edit(CDlgQuickConn& d, int id) { return d.Item<QLineEdit>(id); }
};

TEST_F(QuickConnTest, HistoryFillsTheLogin)
{
    Store({Item("sftp://ssh.example.com", 100, "anna", "pw", 0, 0),
           Item("ftp://files.example.com", 200, "", "", 1, 1)});
    WriteProfileInt("UI", "QuickConnTmp", 0);
    QuickConn dlg;
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Kivrel: Quick connect");
    ASSERT_EQ(Url(dlg)->count(), 2);
    EXPECT_EQ(Url(dlg)->itemText(0), "ftp://files.example.com") << "alphabetical";
    EXPECT_EQ(Url(dlg)->itemText(1), "sftp://ssh.example.com");
    EXPECT_TRUE(Url(dlg)->currentText().isEmpty());
    EXPECT_TRUE(Anon(dlg)->isChecked());
    EXPECT_FALSE(Temp(dlg)->isChecked());

    // Typing an entry's URL exactly picks it.
    Url(dlg)->setEditText("sftp://ssh.example.com");
    EXPECT_EQ(Edit(dlg, CDlgQuickConn::IDC_USER)->text(), "anna");
    EXPECT_EQ(Edit(dlg, CDlgQuickConn::IDC_PASS)->text(), "pw");
    EXPECT_FALSE(Anon(dlg)->isChecked());
    EXPECT_TRUE(Anon(dlg)->isHidden()) << "no anonymous login for SFTP";
    EXPECT_TRUE(Edit(dlg, CDlgQuickConn::IDC_USER)->isEnabled());

    // Typing on resets what the entry filled in.
    Url(dlg)->setEditText("sftp://ssh.example.co");
    EXPECT_TRUE(Edit(dlg, CDlgQuickConn::IDC_USER)->text().isEmpty());
    EXPECT_TRUE(Edit(dlg, CDlgQuickConn::IDC_PASS)->text().isEmpty());
    EXPECT_FALSE(Anon(dlg)->isChecked()) << "checked again, then cleared for SFTP";
    EXPECT_EQ(Url(dlg)->currentText(), "sftp://ssh.example.co");

    // A pick from the list.
    Url(dlg)->setCurrentIndex(0);
    emit Url(dlg)->activated(0);
    EXPECT_TRUE(Anon(dlg)->isChecked());
    EXPECT_TRUE(Temp(dlg)->isChecked());
    EXPECT_FALSE(Edit(dlg, CDlgQuickConn::IDC_USER)->isEnabled());
    dlg.reject();
}

TEST_F(QuickConnTest, AnonymousBoxFollowsTheScheme)
{
    struct Row
    {
        const char* url;
        bool shown;
    } rows[] = {{"files.example.com", true},        {"ftp://files.example.com", true},
                {"FTPS://files.example.com", true}, {"https://web.example.com", false},
                {"http://web.example.com", false},  {"sftp://ssh.example.com", false}};
    QuickConn dlg;
    dlg.show();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.url);
        Anon(dlg)->setChecked(true);
        Url(dlg)->setEditText(r.url);
        EXPECT_EQ(!Anon(dlg)->isHidden(), r.shown);
        EXPECT_EQ(Anon(dlg)->isChecked(), r.shown) << "cleared where it does not apply";
    }
    dlg.reject();
}

TEST_F(QuickConnTest, RefusedInputs)
{
    struct Row
    {
        const char* url;
        bool anonymous;
        const char* user;
        const char* pass;
        const char* error;
        int focus;
    } rows[] = {
        {"   ", true, "", "", "Invalid server address specified.", CDlgQuickConn::IDC_URL},
        {"https://web.example.com", false, "", "secret", "Missing login parameter(s).",
         CDlgQuickConn::IDC_USER},
        {"ftp://files.example.com", false, "  ", "", "Missing login parameter(s).",
         CDlgQuickConn::IDC_USER},
        {"sftp://ssh.example.com", false, "", "", "Missing login parameter(s).",
         CDlgQuickConn::IDC_USER},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.url);
        QuickConn dlg;
        dlg.show();
        Url(dlg)->setEditText(r.url);
        Anon(dlg)->setChecked(r.anonymous);
        Edit(dlg, CDlgQuickConn::IDC_USER)->setText(r.user);
        Edit(dlg, CDlgQuickConn::IDC_PASS)->setText(r.pass);
        dlg.accept();
        EXPECT_EQ(dlg.errors, QStringList{r.error});
        EXPECT_EQ(dlg.focus, dlg.Item(r.focus));
        EXPECT_TRUE(dlg.isVisible()) << "the dialog stays";
        EXPECT_TRUE(dlg.History().Items().empty());
        dlg.reject();
    }
    CQuickConnHistory h;
    h.LoadFromProfile();
    EXPECT_TRUE(h.Items().empty());
}

TEST_F(QuickConnTest, ConnectRecordsTheConnection)
{
    WriteProfileInt("UI", "QuickConnTmp", 1);
    {
        QuickConn dlg;
        dlg.show();
        EXPECT_TRUE(Temp(dlg)->isChecked()) << "preset from QuickConnTmp";
        Url(dlg)->setEditText("  http://web.example.com/dav ");
        dlg.accept();
        EXPECT_TRUE(dlg.errors.isEmpty()) << dlg.errors.join(", ").toStdString();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.GetUrl(), "http://web.example.com/dav");
        EXPECT_FALSE(dlg.IsAnonymous());
        EXPECT_TRUE(dlg.IsTemporary());
    }
    {
        QuickConn dlg;
        dlg.show();
        Url(dlg)->setEditText("HTTP://WEB.EXAMPLE.COM/DAV");
        Edit(dlg, CDlgQuickConn::IDC_USER)->setText(" bob ");
        Edit(dlg, CDlgQuickConn::IDC_PASS)->setText("pw");
        Temp(dlg)->setChecked(false);
        dlg.accept();
        EXPECT_EQ(dlg.GetUser(), "bob");
    }
    CQuickConnHistory h;
    h.LoadFromProfile();
    ASSERT_EQ(h.Items().size(), 1u) << "the same URL in other case is one entry";
    EXPECT_EQ(h.Items()[0].url, "HTTP://WEB.EXAMPLE.COM/DAV");
    EXPECT_EQ(h.Items()[0].user, "bob");
    EXPECT_EQ(h.Items()[0].pass, "pw");
    EXPECT_EQ(h.Items()[0].temporary, 0);
    EXPECT_TRUE(h.Items()[0].last_use.valid());
}

TEST_F(QuickConnTest, EntryPointHandsOnTheServer)
{
    std::vector<CServerOpen> opened;
    {
        kvtest::DialogDriver<CDlgQuickConn> driver([](CDlgQuickConn& dlg) {
            dlg.Item<QComboBox>(CDlgQuickConn::IDC_URL)->setEditText("ftp://127.0.0.1:2121");
            dlg.accept();
        });
        QuickConnect(nullptr, [&opened](const CServerOpen& what) {
            opened.push_back(what);
            return true;
        });
    }
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].uri, "ftp://127.0.0.1:2121");
    EXPECT_TRUE(opened[0].anonymous);
    EXPECT_TRUE(opened[0].name.empty());
    EXPECT_TRUE(opened[0].comment.empty());

    kvtest::DialogDriver<CDlgQuickConn> cancel([](CDlgQuickConn& dlg) { dlg.reject(); });
    QuickConnect(nullptr, [&opened](const CServerOpen& what) {
        opened.push_back(what);
        return true;
    });
    EXPECT_EQ(opened.size(), 1u) << "Cancel opens nothing";
}

} // namespace
