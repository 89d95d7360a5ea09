// Texts that quote a server (error messages, file names in tooltips) are
// shown as they are: markup in them is never taken for formatting.
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_plaintext.h"

#include <QMessageBox>
#include <gtest/gtest.h>

namespace {

TEST(PlainText, ErrorBoxesShowServerMessagesAsTheyAre)
{
    using kvtest::kMarkup;
    // Qt formats a text whose first line looks like markup; a server's
    // reply may begin with anything.
    const QString texts[] = {
        kMarkup,
        QStringLiteral("FTP: 550 ") + kMarkup,
        QStringLiteral("Certificate of ") + kMarkup + QStringLiteral("\nwas refused"),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        kvtest::MarkupScan scan;
        kvtest::DialogDriver<QMessageBox> driver([&scan](QMessageBox& box) {
            scan = kvtest::ScanForMarkup(box, kMarkup);
            box.done(QMessageBox::Ok);
        });
        ShowErrorBox(text, nullptr);
        EXPECT_EQ(driver.handled, 1);
        EXPECT_TRUE(scan.faults.isEmpty()) << scan.faults.join(QLatin1Char('\n')).toStdString();
        EXPECT_GE(scan.literal, 1);
    }
}

TEST(PlainText, ToolTipsShowTheirTextAsItIs)
{
    const QString texts[] = {
        QStringLiteral("report.txt\r\n12 KB"),
        kvtest::kMarkup,
        kvtest::kMarkup + QStringLiteral("\r\nModified: today"),
        QStringLiteral("<i>a</i> < b && c > d\r\nsecond   line"),
        QString(),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        const QString tip = PlainToolTip(text);
        QString shown = kvtest::ToolTipAsShown(tip);
        EXPECT_EQ(shown.remove(QLatin1Char('\r')), QString(text).remove(QLatin1Char('\r')));
        if (!Qt::mightBeRichText(text)) {
            EXPECT_EQ(tip, text) << "a text without markup is left alone";
        }
    }
}

TEST(PlainText, EachLineEndBecomesOneLineBreak)
{
    const std::pair<QString, QString> cases[] = {
        {"a\r\nb", "a\nb"},     {"a\r\n\r\nb", "a\n\nb"}, {"a\rb", "a\nb"},
        {"a\nb\r\n", "a\nb\n"}, {"a\n\rb", "a\n\nb"},     {"", ""},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(OneLineBreaks(text), shown) << text.toStdString();
    }
}

} // namespace
