// The transfer list shows request descriptions (file names and paths from
// a server) as they are, in its rows and its tooltips.
#include "monitor_fixture.h"
#include "support/kv_plaintext.h"

namespace {

using kvtest::Snap;

class TransListPlainText : public kvtest::MonitorTest
{
};

TEST_F(TransListPlainText, RowsAndTooltipsShowMarkupAsItIs)
{
    using kvtest::kMarkup;
    const QByteArray descr =
        (QStringLiteral("/in/") + kMarkup + QStringLiteral(" -> /out")).toUtf8();
    // Without progress, and with it (a tip of another shape).
    Feed(KV_REQ_NTF_INIT, 1, Snap(KV_REQ_STAT_RUNNING, descr.constData()));
    Feed(KV_REQ_NTF_INIT, 2, Snap(KV_REQ_STAT_RUNNING, descr.constData()).Prog(40));
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const kvtest::MarkupScan scan = kvtest::ScanForMarkup(*frm, kMarkup);
    EXPECT_TRUE(scan.faults.isEmpty()) << scan.faults.join(QLatin1Char('\n')).toStdString();
    // Two rows, each with its text and four tooltips.
    EXPECT_GE(scan.literal, 2 * 5);
}

} // namespace
