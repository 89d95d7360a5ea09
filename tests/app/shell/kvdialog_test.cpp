// The dialog base: values move in one place, into the controls when the
// dialog is shown and out of them when it is accepted.
#include "shell/kvdialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

class NameDialog : public CKVDialog
{
public:
    NameDialog() : CKVDialog(130)
    {
        auto* layout = new QVBoxLayout(this);
        auto* edit = new QLineEdit;
        edit->setObjectName("1001");
        auto* check = new QCheckBox("Passive");
        check->setObjectName("1002");
        layout->addWidget(edit);
        layout->addWidget(check);
    }

    void exchange(bool save) override
    {
        CKVDialog::exchange(save);
        ++exchanges;
        auto* edit = Item<QLineEdit>(1001);
        auto* check = Item<QCheckBox>(1002);
        if (save) {
            name = edit->text();
            passive = check->isChecked();
        } else {
            edit->setText(name);
            check->setChecked(passive);
        }
    }

    QString name = "ftp.example.org";
    bool passive = true;
    int exchanges = 0;
};

TEST(CKVDialog, ExchangesOnShowAndOnAcceptOnly)
{
    struct Case
    {
        const char* name;
        bool accept;
        QString expected_name;
        bool expected_passive;
    };
    const Case cases[] = {
        {"accepted", true, "sftp.example.org", false},
        {"rejected", false, "ftp.example.org", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NameDialog dlg;
        EXPECT_EQ(dlg.GetTemplateId(), 130);
        ASSERT_NE(dlg.Item<QLineEdit>(1001), nullptr);
        EXPECT_EQ(dlg.Item<QCheckBox>(1001), nullptr);
        EXPECT_EQ(dlg.Item(1003), nullptr);

        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        EXPECT_EQ(dlg.exchanges, 1);
        EXPECT_EQ(dlg.Item<QLineEdit>(1001)->text(), "ftp.example.org");
        EXPECT_TRUE(dlg.Item<QCheckBox>(1002)->isChecked());

        // Shown again, the controls keep what the user typed.
        dlg.Item<QLineEdit>(1001)->setText("sftp.example.org");
        dlg.Item<QCheckBox>(1002)->setChecked(false);
        dlg.hide();
        dlg.show();
        EXPECT_EQ(dlg.exchanges, 1);

        if (c.accept) {
            dlg.accept();
        } else {
            dlg.reject();
        }
        EXPECT_EQ(dlg.result(), c.accept ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.name, c.expected_name);
        EXPECT_EQ(dlg.passive, c.expected_passive);
    }
}

} // namespace
