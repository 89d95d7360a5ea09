// The connection setup: address, protocol and port follow each other, the
// login page's rules by protocol, the name taken from the host, and what
// Finish hands on.
#include "setup/wizconn.h"

#include "setup/setupentry.h"
#include "support/kv_dlgdriver.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

QLineEdit* Edit(QWidget* page, int id)
{
    return page->findChild<QLineEdit*>(QString::number(id));
}

bool NextEnabled(CWizConn& wiz)
{
    return wiz.button(QWizard::NextButton)->isEnabled();
}

TEST(CWizConn, ServerPageTable)
{
    struct Row
    {
        const char* typed;
        int click;        // a protocol clicked after typing, -1 none
        const char* port; // typed into the port field after that, null none
        const char* addr;
        int protocol;
        const char* port_field;
        const char* uri;
    } rows[] = {
        {"sftp://ssh.example.com", -1, nullptr, "sftp://ssh.example.com", 4, "22",
         "sftp://ssh.example.com"},
        {"https://web.example.com:8443", -1, nullptr, "https://web.example.com:8443", 3, "8443",
         "https://web.example.com:8443"},
        {"ftp://files.example.com/pub", 2, nullptr, "http://files.example.com/pub", 2, "80",
         "http://files.example.com/pub"},
        {"files.example.com", 1, "990", "files.example.com", 1, "990", "ftps://files.example.com"},
        {"files.example.com", 1, "2121", "files.example.com", 1, "2121",
         "ftps://files.example.com:2121"},
        {"ftp://files.example.com:2121", -1, "2200", "ftp://files.example.com:2200", 0, "2200",
         "ftp://files.example.com:2200"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.typed << " click " << r.click);
        CWizConn wiz;
        wiz.show();
        CWizConnSrv* page = wiz.Srv();
        EXPECT_EQ(Edit(page, CWizConnSrv::IDC_PORT)->text(), "21");
        EXPECT_FALSE(NextEnabled(wiz)) << "no address yet";
        Edit(page, CWizConnSrv::IDC_ADDR)->setText(r.typed);
        EXPECT_TRUE(NextEnabled(wiz));
        if (r.click >= 0) {
            page->findChild<QRadioButton*>(QString::number(CWizConnSrv::IDC_FTP + r.click))
                ->click();
        }
        if (r.port != nullptr) {
            Edit(page, CWizConnSrv::IDC_PORT)->setText(r.port);
        }
        EXPECT_EQ(Edit(page, CWizConnSrv::IDC_ADDR)->text(), r.addr);
        EXPECT_EQ(page->Protocol(), r.protocol);
        EXPECT_EQ(Edit(page, CWizConnSrv::IDC_PORT)->text(), r.port_field);
        EXPECT_EQ(wiz.GetUri(), r.uri);
        wiz.reject();
    }
}

class ConnWiz : public CWizConn
{
public:
    QStringList errors;
    void ShowRangeError(const QString& text, QWidget*) override { errors << text; }
};

TEST(CWizConn, PortOutsideOneTo65535IsRefused)
{
    const QString range = "Please enter an integer between 1 and 65535.";
    struct Row
    {
        const char* addr;
        const char* port;  // typed into the port field, null: as the address left it
        const char* error; // null: Next goes on
        const char* uri;
    } rows[] = {
        {"files.example.com", "1", nullptr, "ftp://files.example.com:1"},
        {"files.example.com", "65535", nullptr, "ftp://files.example.com:65535"},
        {"files.example.com", " 2121 ", nullptr, "ftp://files.example.com:2121"},
        {"files.example.com", "0", "range", nullptr},
        {"files.example.com", "65536", "range", nullptr},
        {"files.example.com", "99999", "range", nullptr},
        {"files.example.com", "4294967317", "range", nullptr}, // 2^32 + 21
        {"files.example.com", "", "Please enter a positive integer.", nullptr},
        {"ftp://files.example.com:99999", nullptr, "range", nullptr},
        {"ftp://files.example.com:0", nullptr, "range", nullptr},
        {"sftp://files.example.com:65535", nullptr, nullptr, "sftp://files.example.com:65535"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.addr << " port " << (r.port ? r.port : "-"));
        ConnWiz wiz;
        wiz.show();
        Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText(r.addr);
        if (r.port != nullptr) {
            Edit(wiz.Srv(), CWizConnSrv::IDC_PORT)->setText(r.port);
        }
        wiz.next();
        if (r.error == nullptr) {
            EXPECT_TRUE(wiz.errors.isEmpty()) << wiz.errors.join(' ').toStdString();
            EXPECT_EQ(wiz.currentId(), CWizConn::kPageLogin);
            EXPECT_EQ(wiz.GetUri(), r.uri);
        } else {
            EXPECT_EQ(wiz.errors.join('|').toStdString(),
                      std::string(r.error) == "range" ? range.toStdString() : r.error);
            EXPECT_EQ(wiz.currentId(), CWizConn::kPageSrv);
        }
        wiz.reject();
    }

    // Mended and tried again, the wizard goes on.
    ConnWiz wiz;
    wiz.show();
    Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText("files.example.com");
    Edit(wiz.Srv(), CWizConnSrv::IDC_PORT)->setText("70000");
    wiz.next();
    ASSERT_EQ(wiz.currentId(), CWizConn::kPageSrv);
    Edit(wiz.Srv(), CWizConnSrv::IDC_PORT)->setText("7000");
    wiz.next();
    EXPECT_EQ(wiz.currentId(), CWizConn::kPageLogin);
    EXPECT_EQ(wiz.errors.size(), 1);
    wiz.reject();
}

TEST(CWizConn, LoginPageByProtocol)
{
    struct Row
    {
        const char* addr;
        bool anonymous_shown;
        bool next_without_user;
    } rows[] = {
        {"ftp://files.example.com", true, false}, {"ftps://files.example.com", true, false},
        {"https://web.example.com", false, true}, {"http://web.example.com", false, true},
        {"sftp://ssh.example.com", false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.addr);
        CWizConn wiz;
        wiz.show();
        Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText(r.addr);
        wiz.next();
        ASSERT_EQ(wiz.currentId(), CWizConn::kPageLogin);
        auto* anon =
            wiz.Login()->findChild<QCheckBox*>(QString::number(CWizConnLogin::IDC_ANONYMOUS));
        EXPECT_EQ(!anon->isHidden(), r.anonymous_shown);
        EXPECT_TRUE(wiz.button(QWizard::BackButton)->isEnabled());
        EXPECT_EQ(NextEnabled(wiz), r.next_without_user);
        Edit(wiz.Login(), CWizConnLogin::IDC_USER)->setText("anna");
        EXPECT_TRUE(NextEnabled(wiz));
        if (r.anonymous_shown) {
            Edit(wiz.Login(), CWizConnLogin::IDC_USER)->clear();
            anon->click();
            EXPECT_TRUE(NextEnabled(wiz));
            EXPECT_FALSE(Edit(wiz.Login(), CWizConnLogin::IDC_USER)->isEnabled());
        }
        wiz.reject();
    }

    // Anonymous chosen for FTP, then the user went back to SFTP: no
    // anonymous login is carried over.
    CWizConn wiz;
    wiz.show();
    Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText("ftp://h");
    wiz.next();
    wiz.Login()->findChild<QCheckBox*>(QString::number(CWizConnLogin::IDC_ANONYMOUS))->click();
    wiz.back();
    Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText("sftp://h");
    wiz.next();
    EXPECT_FALSE(wiz.IsAnonymous());
    EXPECT_FALSE(NextEnabled(wiz));
}

TEST(CWizConn, NameFromTheHostUnlessTyped)
{
    CWizConn wiz;
    wiz.show();
    Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText("ftp://files.example.com:2121/pub");
    wiz.next();
    Edit(wiz.Login(), CWizConnLogin::IDC_USER)->setText("anna");
    wiz.next();
    ASSERT_EQ(wiz.currentId(), CWizConn::kPageDs);
    QLineEdit* name = Edit(wiz.Ds(), CWizConnDs::IDC_NAME);
    EXPECT_EQ(name->text(), "files.example.com");
    EXPECT_TRUE(wiz.button(QWizard::FinishButton)->isEnabled());
    name->clear();
    EXPECT_FALSE(wiz.button(QWizard::FinishButton)->isEnabled());

    // An empty name is refilled with the (new) host; a typed one is kept.
    wiz.back();
    wiz.back();
    Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText("ftp://other.example.com");
    wiz.next();
    wiz.next();
    EXPECT_EQ(name->text(), "other.example.com");
    name->setText("My server");
    wiz.back();
    wiz.next();
    EXPECT_EQ(name->text(), "My server");
}

TEST(CWizConn, FinishHandsOnAPermanentDataSource)
{
    std::vector<CServerOpen> opened;
    const auto record = [&opened](const CServerOpen& what) {
        opened.push_back(what);
        return true;
    };
    {
        kvtest::DialogDriver<CWizConn> driver([](CWizConn& wiz) {
            Edit(wiz.Srv(), CWizConnSrv::IDC_ADDR)->setText("files.example.com");
            wiz.findChild<QRadioButton*>(QString::number(CWizConnSrv::IDC_FTPS))->click();
            Edit(wiz.Srv(), CWizConnSrv::IDC_PORT)->setText("2121");
            wiz.next();
            Edit(wiz.Login(), CWizConnLogin::IDC_USER)->setText("anna");
            Edit(wiz.Login(), CWizConnLogin::IDC_PASS)->setText("secret");
            wiz.next();
            wiz.Ds()
                ->findChild<QPlainTextEdit*>(QString::number(CWizConnDs::IDC_COMMENT))
                ->setPlainText("Our files");
            wiz.button(QWizard::FinishButton)->click();
        });
        EXPECT_TRUE(RunConnWizard(nullptr, record));
    }
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].uri, "ftps://files.example.com:2121");
    EXPECT_EQ(opened[0].name, "files.example.com");
    EXPECT_EQ(opened[0].comment, "Our files");
    EXPECT_EQ(opened[0].user, "anna");
    EXPECT_EQ(opened[0].pass, "secret");
    EXPECT_FALSE(opened[0].anonymous);
    EXPECT_FALSE(opened[0].temporary);

    kvtest::DialogDriver<CWizConn> cancel([](CWizConn& wiz) { wiz.reject(); });
    EXPECT_FALSE(RunConnWizard(nullptr, record));
    EXPECT_EQ(opened.size(), 1u);
}

} // namespace
