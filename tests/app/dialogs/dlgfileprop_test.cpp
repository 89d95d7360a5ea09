// The file properties dialogs: rights shown from the entry, the octal text
// and the boxes following each other, and what OK hands back.
#include "dialogs/dlgfileprop.h"

#include "foundation/kv_time.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Unix = CDlgFilePropUnix;

const int kNineBoxes[] = {Unix::IDC_OWNER_R, Unix::IDC_OWNER_W, Unix::IDC_OWNER_X,
                          Unix::IDC_GROUP_R, Unix::IDC_GROUP_W, Unix::IDC_GROUP_X,
                          Unix::IDC_OTHER_R, Unix::IDC_OTHER_W, Unix::IDC_OTHER_X};
const int kSpecialBoxes[] = {Unix::IDC_SETUID, Unix::IDC_SETGID, Unix::IDC_STICKY};

KV_FileDataExt Entry(const char* accf)
{
    return KV_FileDataExt(KV_String("f"), KV_String(), 0, KV_String(accf), KV_String("ann"),
                          KV_String("staff"), KV_Time());
}

// The checked boxes as "1"/"0", nine, then the three special ones when the
// dialog has them.
std::string Boxes(const CDlgFileProp& dlg)
{
    std::string out;
    for (int id : kNineBoxes) {
        out += dlg.Item<QCheckBox>(id)->isChecked() ? '1' : '0';
    }
    if (dlg.Item<QCheckBox>(Unix::IDC_SETUID) != nullptr) {
        out += ' ';
        for (int id : kSpecialBoxes) {
            out += dlg.Item<QCheckBox>(id)->isChecked() ? '1' : '0';
        }
    }
    return out;
}

std::string Str(const KV_String& s)
{
    return std::string(s.data(), s.length());
}

QString Octal(const CDlgFileProp& dlg)
{
    return dlg.Item<QLineEdit>(Unix::IDC_OCTAL)->text();
}

TEST(CDlgFileProp, RightsOpenFromTheAccessString)
{
    struct Case
    {
        const char* accf;
        bool ftp;
        const char* boxes;
        const char* octal;
    };
    const Case cases[] = {
        {"-rwsr-x--T", true, "111101000 101", "5750"},
        // The SFTP dialog has no special boxes, but "s" is still execute.
        {"-rwsr-x--T", false, "111101000", "750"},
        {"drwxr-x--t", true, "111101001 001", "1751"},
        // Not ten characters: no right is shown.
        {"rwxrwxrwx", true, "000000000 000", "0"},
        {"", false, "000000000", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.accf) + (c.ftp ? " ftp" : " sftp"));
        const KV_FileDataExt e = Entry(c.accf);
        std::unique_ptr<Unix> dlg;
        if (c.ftp) {
            dlg = std::make_unique<CDlgFilePropFtp>(e, "srv", "f", nullptr);
        } else {
            dlg = std::make_unique<CDlgFilePropSftp>(e, "srv", "f", nullptr);
        }
        dlg->show();
        EXPECT_EQ(Boxes(*dlg), c.boxes);
        EXPECT_EQ(Octal(*dlg), QString::fromLatin1(c.octal));
        EXPECT_EQ(dlg->Item<QLabel>(Unix::IDC_USER)->text(), "ann");
        EXPECT_EQ(dlg->Item<QLabel>(Unix::IDC_GROUP)->text(), "staff");
        EXPECT_EQ(dlg->windowTitle(), "File properties");
        dlg->reject();
    }
}

TEST(CDlgFileProp, OctalAndBoxesFollowEachOther)
{
    const KV_FileDataExt e = Entry("-rwsr-x--T");
    CDlgFilePropFtp dlg(e, "srv", "f", nullptr);
    dlg.show();
    auto* octal = dlg.Item<QLineEdit>(Unix::IDC_OCTAL);
    octal->selectAll();
    QTest::keyClicks(octal, "644");
    EXPECT_EQ(Boxes(dlg), "110100100 000");
    // A click rewrites the text from the boxes.
    dlg.Item<QCheckBox>(Unix::IDC_OTHER_X)->click();
    EXPECT_EQ(octal->text(), "645");
    dlg.Item<QCheckBox>(Unix::IDC_SETGID)->click();
    EXPECT_EQ(octal->text(), "2645");
    dlg.accept();
    QString text;
    KV_String accf;
    EXPECT_TRUE(dlg.GetPermissions(text, accf));
    EXPECT_EQ(text, "2645");
    EXPECT_EQ(Str(accf), "-rw-r-Sr-x");
}

TEST(CDlgFileProp, WhatOkHandsBack)
{
    struct Case
    {
        const char* accf;
        const char* typed; // null: nothing typed
        bool changed;
        const char* octal;
        const char* result;
    };
    const Case cases[] = {
        // Untouched boxes are no change.
        {"-rwsr-x--T", nullptr, false, "5750", "-rwsr-x--T"},
        {"-rw-r--r--", "600", true, "600", "-rw-------"},
        // Rights that could not be read are never sent, whatever was typed:
        // the boxes never showed them.
        {"rwxr-xr-x", "755", false, "755", ""},
        {"", nullptr, false, "0", ""},
        // The text goes back as the boxes read it, never as typed.
        {"-rw-r--r--", "7z9", true, "7", "-------rwx"},
        {"-rw-r--r--", "zz", true, "0", "----------"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.accf) + " " + (c.typed ? c.typed : "-"));
        const KV_FileDataExt e = Entry(c.accf);
        CDlgFilePropFtp dlg(e, "srv", "f", nullptr);
        dlg.show();
        if (c.typed != nullptr) {
            auto* octal = dlg.Item<QLineEdit>(Unix::IDC_OCTAL);
            octal->selectAll();
            QTest::keyClicks(octal, c.typed);
        }
        dlg.accept();
        QString text;
        KV_String accf;
        EXPECT_EQ(dlg.GetPermissions(text, accf), c.changed);
        EXPECT_EQ(text, QString::fromLatin1(c.octal));
        EXPECT_EQ(Str(accf), c.result);
    }
}

TEST(CDlgFileProp, SftpKeepsSpecialBitsItHasNoBoxesFor)
{
    struct Case
    {
        const char* accf;
        int click; // a box to click, 0 for none
        bool changed;
        const char* octal;
        const char* result;
    };
    const Case cases[] = {
        // A plain OK on a setuid program changes nothing.
        {"-rwsr-xr-x", 0, false, "4755", "-rwsr-xr-x"},
        {"-rwSr--r--", 0, false, "4644", "-rwSr--r--"},
        {"drwxrwxrwt", 0, false, "1777", "drwxrwxrwt"},
        {"-rwxr-sr-x", 0, false, "2755", "-rwxr-sr-x"},
        // A change elsewhere keeps the special bits with it.
        {"-rwsr-xr-x", Unix::IDC_OTHER_R, true, "4751", "-rwsr-x--x"},
        // Owner execute off: Set UID stays, now without execute.
        {"-rwsr-xr-x", Unix::IDC_OWNER_X, true, "4655", "-rwSr-xr-x"},
        {"drwxrwxrwt", Unix::IDC_OTHER_X, true, "1776", "drwxrwxrwT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.accf) + " click " + std::to_string(c.click));
        const KV_FileDataExt e = Entry(c.accf);
        CDlgFilePropSftp dlg(e, "srv", "f", nullptr);
        dlg.show();
        EXPECT_EQ(dlg.Item<QCheckBox>(Unix::IDC_SETUID), nullptr);
        if (c.click != 0) {
            dlg.Item<QCheckBox>(c.click)->click();
        }
        dlg.accept();
        QString text;
        KV_String accf;
        EXPECT_EQ(dlg.GetPermissions(text, accf), c.changed);
        EXPECT_EQ(text, QString::fromLatin1(c.octal));
        EXPECT_EQ(Str(accf), c.result);
    }
}

TEST(CDlgFileProp, LocalAttributes)
{
    const KV_FileDataExt e = Entry("RA");
    CDlgFilePropStd dlg(e, "a.txt", nullptr);
    dlg.show();
    const int ids[] = {CDlgFilePropStd::IDC_READONLY, CDlgFilePropStd::IDC_HIDDEN,
                       CDlgFilePropStd::IDC_SYSTEM, CDlgFilePropStd::IDC_ARCHIVE};
    std::string checked;
    for (int id : ids) {
        checked += dlg.Item<QCheckBox>(id)->isChecked() ? '1' : '0';
    }
    EXPECT_EQ(checked, "1001");
    EXPECT_EQ(dlg.Item<QLineEdit>(CDlgFileProp::IDC_NAME)->text(), "a.txt");
    EXPECT_TRUE(dlg.Item<QLineEdit>(CDlgFileProp::IDC_NAME)->isReadOnly());
    dlg.Item<QCheckBox>(CDlgFilePropStd::IDC_READONLY)->click();
    dlg.accept();
    KV_String letters;
    KV_String copy;
    EXPECT_TRUE(dlg.GetAttributes(letters, copy));
    EXPECT_EQ(Str(letters), "A");
    EXPECT_EQ(Str(copy), "A");

    CDlgFilePropStd same(e, "a.txt", nullptr);
    same.show();
    same.accept();
    EXPECT_FALSE(same.GetAttributes(letters, copy));
    EXPECT_EQ(Str(letters), "RA");
}

TEST(CDlgFileProp, NameServerTimeAndSize)
{
    KV_FileDataExt e = Entry("----------");
    e.set_size(1234);
    e.set_fd_flags(KV_FD_SIZE, 0);
    CDlgFileProp with_server(e, "ftp.example.com", "f", nullptr);
    with_server.show();
    EXPECT_EQ(with_server.Item<QLabel>(CDlgFileProp::IDC_SIZE)->text(), "1234 byte(s)");
    EXPECT_EQ(with_server.Item<QLabel>(CDlgFileProp::IDC_TIME)->text(), "");
    EXPECT_TRUE(with_server.Item<QLabel>(CDlgFileProp::IDC_SERVER_LABEL)->isVisible());
    // A server's text is never markup.
    CDlgFileProp markup(e, "<b>x</b>", "f", nullptr);
    EXPECT_EQ(markup.Item<QLabel>(CDlgFileProp::IDC_SERVER)->textFormat(), Qt::PlainText);
    CDlgFileProp no_server(Entry(""), "", "f", nullptr);
    no_server.show();
    EXPECT_FALSE(no_server.Item<QLabel>(CDlgFileProp::IDC_SERVER_LABEL)->isVisible());
    EXPECT_EQ(no_server.Item<QLabel>(CDlgFileProp::IDC_SIZE)->text(), "");
}

} // namespace
