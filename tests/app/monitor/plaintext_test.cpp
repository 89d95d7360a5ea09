// The transfer list and the request information window show what a server
// sent (file names, paths, its error replies, log lines) as it is, in rows,
// fields and tooltips.
#include "monitor/dlgreqinfolog.h"
#include "monitor_fixture.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_reqmsg.h"
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

TEST_F(TransListPlainText, TheRequestInformationWindowShowsMarkupAsItIs)
{
    using kvtest::kMarkup;
    const QByteArray text = kMarkup.toUtf8();
    CDlgReqInfoLog::ShowRequest(1);
    CDlgReqInfoLog* dlg = CDlgReqInfoLog::Instance();
    ASSERT_NE(dlg, nullptr);
    auto* msg = new KV_MsgReqLog(1);
    msg->log.chg = CDlgReqInfoLog::kFillHeader | CDlgReqInfoLog::kFillStatus |
                   CDlgReqInfoLog::kFillElems | CDlgReqInfoLog::kFillLastErr;
    Snap info(KV_REQ_STAT_RUNNING, (QStringLiteral("Copy\r\n/in/") + kMarkup).toUtf8().constData());
    info.set_last_err(KV_String((QStringLiteral("550 ") + kMarkup).toUtf8().constData()));
    msg->log.info = info;
    ASSERT_TRUE(msg->log.insert(
        new KV_FileReqLogElem(KV_FILE_REQ_LOG_ELEM_FILEOP, 1, KV_Time(1700000000),
                              KV_String(text.constData()), 1, KV_String(text.constData()))));
    Feed(msg);
    ASSERT_EQ(dlg->LogList()->topLevelItemCount(), 1);
    const kvtest::MarkupScan scan = kvtest::ScanForMarkup(*dlg, kMarkup);
    EXPECT_TRUE(scan.faults.isEmpty()) << scan.faults.join(QLatin1Char('\n')).toStdString();
    // The description and the last error; the log line's name and text.
    EXPECT_GE(scan.literal, 4);
}

} // namespace
