#include "core/reqmonitor.h"

#include "datasources/kv_filereqtransparams.h"
#include "requests/kv_filereq.h"
#include "requests/kv_sessinfo.h"

namespace kvmon {

namespace {

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

QString ToQ(const char* s)
{
    return s != nullptr ? QString::fromUtf8(s) : QString();
}

QString Direction(int32_t prog)
{
    return ProgressIsUpload(prog) ? QStringLiteral("upload") : QStringLiteral("download");
}

} // namespace

bool ProgressKnown(int32_t prog_perc)
{
    return prog_perc != 0x7FFFFFFF && prog_perc != 0x7FFFFFFE;
}

bool ProgressIsUpload(int32_t prog_perc)
{
    return prog_perc >= 101;
}

int ProgressPercent(int32_t prog_perc)
{
    return ProgressIsUpload(prog_perc) ? prog_perc - 101 : prog_perc;
}

QString ReqRowText(const KV_FileReqInfo& info)
{
    const int32_t prog = info.prog_perc();
    // A request keeps the last percentage it reached after it ended; shown
    // beside the row's status it would read as a copy still under way.
    const bool ended =
        info.status() == KV_REQ_STAT_RESTARTING || KV_FileReq::processed(info.status());
    if (!ProgressKnown(prog) || ended) {
        return QStringLiteral("%1: %2").arg(ToQ(info.operation()), ToQ(info.descr()));
    }
    return QStringLiteral("%1 ( %2 %3% ) : %4")
        .arg(ToQ(info.operation()), Direction(prog))
        .arg(ProgressPercent(prog))
        .arg(ToQ(info.descr()));
}

QString ReqTipText(const KV_FileReqInfo& info)
{
    const int32_t prog = info.prog_perc();
    QString tip;
    if (!ProgressKnown(prog)) {
        tip = QStringLiteral("%1 (%2)\r\n%3")
                  .arg(ToQ(info.operation()), ToQ(info.status_str()), ToQ(info.descr()));
    } else {
        tip = QStringLiteral("%1 (%2, %3: %4%)\r\n%5")
                  .arg(ToQ(info.operation()), ToQ(info.status_str()), Direction(prog))
                  .arg(ProgressPercent(prog))
                  .arg(ToQ(info.descr()));
    }
    if (!info.last_err().empty()) {
        tip += QStringLiteral("\r\nlast error: %1").arg(ToQ(info.last_err()));
    }
    if ((info.flags() & 2) != 0) {
        tip += QStringLiteral("\r\nReady to upload changes ( waiting for user confirmation ).");
    }
    return tip;
}

uint32_t ReqIconBitmap(KV_REQ_TYPE type, KV_FILEOP fileop)
{
    switch (type) {
    case KV_REQ_TYPE_TRANS_CP:
        switch (fileop) {
        case KV_FILEOP_OPEN:
        case KV_FILEOP_VIEW:
        case KV_FILEOP_EDIT:
            return 26;
        case KV_FILEOP_PRINT:
            return 27;
        default:
            return 18;
        }
    case KV_REQ_TYPE_TRANS_REN:
        return 22;
    case KV_REQ_TYPE_TRANS_RM:
        return 29;
    default:
        return 19;
    }
}

int ReqOverlay(const KV_FileReqInfo& info)
{
    switch (info.add()) {
    case KV_REQ_ADD_COMPLETED:
        return (info.flags() & 4) != 0 ? 4 : 1;
    case KV_REQ_ADD_ERROR:
        return 2;
    default:
        return kOverlayNone;
    }
}

int ReqBlinkOverlay(const KV_FileReqInfo& info, KV_REQ_NTF kind, bool blink_lit)
{
    const bool lit = kind == KV_REQ_NTF_FLASH && blink_lit;
    switch (info.add()) {
    case KV_REQ_ADD_COMPLETED:
    case KV_REQ_ADD_ERROR:
        return lit || kind == KV_REQ_NTF_FLASH_END ? ReqOverlay(info) : kOverlayNone;
    case KV_REQ_ADD_ERRORS:
        return lit ? 3 : kOverlayNone;
    default:
        return kOverlayNone;
    }
}

uint32_t OverlayBitmap(int overlay)
{
    static const uint32_t ids[] = {0, 24, 19, 20, 25};
    return overlay >= 0 && overlay <= 4 ? ids[overlay] : 0;
}

uint32_t LightBitmap(KV_REQ_TL tl)
{
    switch (tl) {
    case KV_REQ_TL_CANCELLED:
        return 28;
    case KV_REQ_TL_WAITING:
        return 30;
    case KV_REQ_TL_RUNNING:
        return 21;
    default:
        return 23;
    }
}

bool ReqCommandEnabled(uint32_t cmd, const KV_FileReqInfo* info)
{
    switch (cmd) {
    case 32829: // View Info
    case 32822: // Browse
    case 32830: // Parameters
    case 32819:
        return true;
    default:
        break;
    }
    if (info == nullptr) {
        return false;
    }
    const KV_REQ_STAT status = info->status();
    const bool processed = KV_FileReq::processed(status);
    switch (cmd) {
    case 32823: // Cancel
    case 32843:
        return !processed;
    case 32827: // Delete
    case 32781:
    case 32833: // Restart
        return processed;
    case 32831: // Pause
    case 32844:
        return status == KV_REQ_STAT_RUNNING;
    case 32825: // Continue
        return status == KV_REQ_STAT_PAUSED;
    case 32842: // green lamp
        return status == KV_REQ_STAT_PAUSED || processed;
    case 32835: // Skip erroneous
        return !processed && info->err_cnt() != 0;
    default:
        return false;
    }
}

bool ReqMatches(int what, const KV_FileReqInfo& info)
{
    const bool processed = KV_FileReq::processed(info.status());
    switch (what) {
    case 0:
        return !processed;
    case 1:
        return processed;
    case 2:
        return info.status() == KV_REQ_STAT_RUNNING;
    case 3:
        return info.status() == KV_REQ_STAT_PAUSED;
    default:
        return false;
    }
}

int CompareReqStart(const KV_FileReqInfo* a, const KV_FileReqInfo* b, bool flag)
{
    if (a == nullptr || b == nullptr) {
        return 0;
    }
    int r = 0;
    if (a->tm_start() == b->tm_start()) {
        r = 0;
    } else {
        r = a->tm_start() > b->tm_start() ? 1 : -1;
    }
    return flag ? r : -r;
}

int CompareTexts(const QString& a, const QString& b, bool flag)
{
    return flag ? QString::compare(b, a, Qt::CaseInsensitive)
                : QString::compare(a, b, Qt::CaseInsensitive);
}

QString TabTitle(const QString& text)
{
    return text.left(kTabTitleMax);
}

int NextTab(int current, int count, bool back)
{
    if (count <= 0) {
        return -1;
    }
    if (current < 0) {
        current = 0;
    }
    return back ? (current + count - 1) % count : (current + 1) % count;
}

int64_t LogColourRgb(int code)
{
    switch (code) {
    case kClrBlack:
        return 0x000000;
    case kClrBlue:
        return 0x0000A0;
    case kClrGreen:
        return 0x379D1F;
    case kClrRed:
        return 0xFF0000;
    case kClrOrange:
        return 0xFF8400;
    default:
        return -1;
    }
}

LogCells LogElemCells(const KV_FileReqLogElem& elem)
{
    LogCells c;
    switch (elem.kind) {
    case KV_FILE_REQ_LOG_ELEM_ANSWER:
        c.type = QStringLiteral("User int.");
        break;
    case KV_FILE_REQ_LOG_ELEM_MSG:
        if (elem.code == 1 || elem.code == 2) {
            c.type = QStringLiteral("Error");
            c.status_clr = kClrRed;
            c.file_clr = kClrRed;
        } else {
            c.type = QStringLiteral("Message");
            c.type_clr = kClrBlue;
        }
        break;
    case KV_FILE_REQ_LOG_ELEM_FILEOP: {
        static const int clr[] = {kClrOrange, kClrGreen, kClrRed};
        c.type = QStringLiteral("File stat.");
        if (elem.code >= 0 && elem.code <= 2) {
            c.status_clr = clr[elem.code];
        }
        break;
    }
    case KV_FILE_REQ_LOG_ELEM_FILEOP_CP: {
        static const int clr[] = {kClrBlue, kClrOrange, kClrGreen, kClrRed};
        c.type = QStringLiteral("File stat.");
        if (elem.code >= 0 && elem.code <= 3) {
            c.status_clr = clr[elem.code];
        }
        break;
    }
    default:
        break;
    }
    return c;
}

int LogElemRow(const KV_FileReqLogElem& elem, int rows_shown, int elems_in_notice)
{
    if (elem.seq == 0) {
        return -1;
    }
    const int64_t row = static_cast<int64_t>(elem.seq) - 1;
    if (row > static_cast<int64_t>(rows_shown) + elems_in_notice) {
        return -1;
    }
    return static_cast<int>(row);
}

TavoAmount TavoTransferred(const KV_SessInfo& sess)
{
    const auto recv = static_cast<int64_t>(sess.bytes_recv());
    const auto sent = static_cast<int64_t>(sess.bytes_sent());
    if (sent > recv) {
        return {sent, sess.speed_send()};
    }
    return {recv, sess.speed_recv()};
}

} // namespace kvmon
