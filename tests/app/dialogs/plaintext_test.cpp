// The question dialog shows what an engine thread asks (a certificate's
// fields, a server's host key, a server's message) as it is.
#include "dialogs/dlgask.h"
#include "support/kv_plaintext.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(DlgAskPlainText, QuestionsQuoteTheServerAsItIs)
{
    using kvtest::kMarkup;
    struct Case
    {
        KV_ASK kind;
        QString text;
    };
    const Case cases[] = {
        {KV_ASK_TRUST,
         QStringLiteral("The certificate of the server is not trusted.\nSubject: CN=") + kMarkup +
             QStringLiteral("\nIssuer: O=") + kMarkup},
        {KV_ASK_TRUST2, QStringLiteral("Host key of ") + kMarkup +
                            QStringLiteral(" unknown.\nFingerprint: SHA256:") + kMarkup},
        {KV_ASK_YES_NO, kMarkup + QStringLiteral("\nOverwrite?")},
        {KV_ASK_YES_ALL, QStringLiteral("Delete ") + kMarkup + QStringLiteral(" ?")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const QByteArray utf8 = c.text.toUtf8();
        CDlgAsk dlg(KV_String(utf8.constData()), KV_ANS_YES, c.kind, nullptr, nullptr);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        EXPECT_EQ(dlg.Text(), c.text);
        const kvtest::MarkupScan scan = kvtest::ScanForMarkup(dlg, kMarkup);
        EXPECT_TRUE(scan.faults.isEmpty()) << scan.faults.join(QLatin1Char('\n')).toStdString();
        // The question is painted as plain text: its rectangle holds every
        // line of it, brackets included.
        const QFontMetrics fm(dlg.font());
        const QRect need =
            fm.boundingRect(QRect(QPoint(0, 0), dlg.TextRect().size()), Qt::TextWordWrap, c.text);
        EXPECT_LE(need.height(), dlg.TextRect().height());
        dlg.done(0);
    }
}

} // namespace
