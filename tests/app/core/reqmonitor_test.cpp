// The rules of the request and worker windows that need no widget: row and
// tip texts, pictures, command enabling, row order, tab stepping and the
// request-log lines.
#include "core/reqmonitor.h"

#include "datasources/kv_filereqtransparams.h"
#include "requests/kv_sessinfo.h"

#include <gtest/gtest.h>

namespace {

// A request snapshot as a request fills it.
class Snap : public KV_FileReqInfo
{
public:
    explicit Snap(int32_t prog = PROG_UNKNOWN, KV_REQ_STAT s = KV_REQ_STAT_RUNNING)
    {
        operation_ = "Copy";
        status_str_ = "Running";
        descr_ = "/a -> /b";
        prog_perc_ = prog;
        status_ = s;
    }
    Snap& Add(KV_REQ_ADD a, uint8_t f = 0)
    {
        add_ = a;
        flags_ = f;
        return *this;
    }
    Snap& Errors(uint32_t n)
    {
        err_cnt_ = n;
        return *this;
    }
    Snap& Start(long t)
    {
        tm_start_ = KV_Time(t);
        return *this;
    }
};

TEST(ReqRowText, ProgressSplitsIntoDownloadAndUploadAt101)
{
    struct Case
    {
        int32_t prog;
        const char* text;
    };
    const Case cases[] = {
        {0x7FFFFFFF, "Copy: /a -> /b"},         {0x7FFFFFFE, "Copy: /a -> /b"},
        {0, "Copy ( download 0% ) : /a -> /b"}, {100, "Copy ( download 100% ) : /a -> /b"},
        {101, "Copy ( upload 0% ) : /a -> /b"}, {201, "Copy ( upload 100% ) : /a -> /b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kvmon::ReqRowText(Snap(c.prog)).toStdString(), c.text) << c.prog;
    }
}

// A request that ended at 43 percent shows how it ended in its status
// column; the row itself no longer claims a download under way.
TEST(ReqRowText, AnEndedRequestShowsNoRunningPercentage)
{
    const std::pair<KV_REQ_STAT, const char*> cases[] = {
        {KV_REQ_STAT_RUNNING, "Copy ( download 43% ) : /a -> /b"},
        {KV_REQ_STAT_PAUSED, "Copy ( download 43% ) : /a -> /b"},
        {KV_REQ_STAT_RESTARTING, "Copy: /a -> /b"},
        {KV_REQ_STAT_ERROR, "Copy: /a -> /b"},
        {KV_REQ_STAT_CANCELLED, "Copy: /a -> /b"},
        {KV_REQ_STAT_COMPLETED, "Copy: /a -> /b"},
    };
    for (const auto& [status, text] : cases) {
        EXPECT_EQ(kvmon::ReqRowText(Snap(43, status)).toStdString(), text) << status;
    }
}

TEST(ReqTipText, AddsTheLastErrorAndTheWaitingUploadLine)
{
    Snap plain;
    EXPECT_EQ(kvmon::ReqTipText(plain).toStdString(), "Copy (Running)\r\n/a -> /b");

    Snap both(150);
    both.set_last_err(KV_String("550 denied"));
    both.Add(KV_REQ_ADD_NONE, 2);
    EXPECT_EQ(kvmon::ReqTipText(both).toStdString(),
              "Copy (Running, upload: 49%)\r\n/a -> /b\r\nlast error: 550 denied\r\n"
              "Ready to upload changes ( waiting for user confirmation ).");
}

TEST(ReqIconBitmap, ByTypeAndFileOperation)
{
    struct Case
    {
        KV_REQ_TYPE type;
        uint32_t fileop;
        uint32_t bitmap;
    };
    const Case cases[] = {
        {KV_REQ_TYPE_TRANS_CP, 0, 18},  {KV_REQ_TYPE_TRANS_CP, 1, 26},
        {KV_REQ_TYPE_TRANS_CP, 3, 26},  {KV_REQ_TYPE_TRANS_CP, 4, 27},
        {KV_REQ_TYPE_TRANS_CP, 5, 18},  {KV_REQ_TYPE_TRANS_CP, 77, 18},
        {KV_REQ_TYPE_TRANS_REN, 0, 22}, {KV_REQ_TYPE_TRANS_RM, 4, 29},
        {KV_REQ_TYPE_SCAN, 0, 19},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kvmon::ReqIconBitmap(c.type, static_cast<KV_FILEOP>(c.fileop)), c.bitmap)
            << c.type << "/" << c.fileop;
    }
}

TEST(ReqBlinkOverlay, UnseenResultsShowOnlyInTheLitPhaseAcknowledgedOnesSteadily)
{
    struct Case
    {
        KV_REQ_ADD add;
        uint8_t flags;
        KV_REQ_NTF kind;
        bool lit;
        int overlay;
    };
    const Case cases[] = {
        {KV_REQ_ADD_COMPLETED, 0, KV_REQ_NTF_FLASH, true, 1},
        {KV_REQ_ADD_COMPLETED, 0, KV_REQ_NTF_FLASH, false, 0},
        {KV_REQ_ADD_COMPLETED, 4, KV_REQ_NTF_FLASH, true, 4},
        {KV_REQ_ADD_COMPLETED, 4, KV_REQ_NTF_FLASH_END, false, 4},
        {KV_REQ_ADD_ERROR, 0, KV_REQ_NTF_FLASH, true, 2},
        {KV_REQ_ADD_ERROR, 0, KV_REQ_NTF_FLASH, false, 0},
        {KV_REQ_ADD_ERROR, 0, KV_REQ_NTF_FLASH_END, false, 2},
        {KV_REQ_ADD_ERRORS, 0, KV_REQ_NTF_FLASH, true, 3},
        {KV_REQ_ADD_ERRORS, 0, KV_REQ_NTF_FLASH, false, 0},
        {KV_REQ_ADD_ERRORS, 0, KV_REQ_NTF_FLASH_END, true, 0},
        {KV_REQ_ADD_NONE, 0, KV_REQ_NTF_FLASH, true, 0},
    };
    for (const Case& c : cases) {
        Snap s;
        s.Add(c.add, c.flags);
        EXPECT_EQ(kvmon::ReqBlinkOverlay(s, c.kind, c.lit), c.overlay)
            << c.add << " " << int(c.flags) << " " << c.kind << " " << c.lit;
    }
    // Written whole, a row shows "errors" not at all.
    EXPECT_EQ(kvmon::ReqOverlay(Snap().Add(KV_REQ_ADD_ERRORS)), 0);
    EXPECT_EQ(kvmon::OverlayBitmap(4), 25u);
    EXPECT_EQ(kvmon::LightBitmap(KV_REQ_TL_RUNNING), 21u);
}

TEST(ReqCommandEnabled, FollowsTheStatus)
{
    // Cancel, Delete, Restart, Pause, Continue, green lamp, Skip erroneous.
    const uint32_t cmds[] = {32823, 32827, 32833, 32831, 32825, 32842, 32835};
    struct Case
    {
        KV_REQ_STAT status;
        uint32_t errors;
        const char* enabled; // one letter per command above
    };
    const Case cases[] = {
        {KV_REQ_STAT_QUEUED, 0, "1000000"},    {KV_REQ_STAT_RUNNING, 0, "1001000"},
        {KV_REQ_STAT_RUNNING, 2, "1001001"},   {KV_REQ_STAT_PAUSED, 0, "1000110"},
        {KV_REQ_STAT_SUSPENDED, 1, "1000001"}, {KV_REQ_STAT_COMPLETED, 0, "0110010"},
        {KV_REQ_STAT_ERROR, 3, "0110010"},     {KV_REQ_STAT_CANCELLED, 0, "0110010"},
    };
    for (const Case& c : cases) {
        const Snap s = Snap(0x7FFFFFFF, c.status).Errors(c.errors);
        std::string got;
        for (uint32_t cmd : cmds) {
            got += kvmon::ReqCommandEnabled(cmd, &s) ? '1' : '0';
        }
        EXPECT_EQ(got, c.enabled) << c.status;
        // The lamps and toolbar twins follow their menu commands.
        EXPECT_EQ(kvmon::ReqCommandEnabled(32843, &s), kvmon::ReqCommandEnabled(32823, &s));
        EXPECT_EQ(kvmon::ReqCommandEnabled(32844, &s), kvmon::ReqCommandEnabled(32831, &s));
        EXPECT_EQ(kvmon::ReqCommandEnabled(32781, &s), kvmon::ReqCommandEnabled(32827, &s));
    }
    // Without a snapshot only what needs a selection alone.
    for (uint32_t cmd : cmds) {
        EXPECT_FALSE(kvmon::ReqCommandEnabled(cmd, nullptr)) << cmd;
    }
    for (uint32_t cmd : {32829u, 32822u, 32830u}) {
        EXPECT_TRUE(kvmon::ReqCommandEnabled(cmd, nullptr)) << cmd;
    }
}

TEST(ReqOrder, TextsDescendFirstStartTimesOldestFirstAndTheFlagReverses)
{
    EXPECT_GT(kvmon::CompareTexts("abc", "ABD", true), 0); // "ABD" first
    EXPECT_LT(kvmon::CompareTexts("abc", "ABD", false), 0);
    EXPECT_EQ(kvmon::CompareTexts("Abc", "aBC", true), 0);

    Snap early = Snap().Start(1000000);
    Snap late = Snap().Start(2000000);
    EXPECT_EQ(kvmon::CompareReqStart(&late, &early, true), 1);
    EXPECT_EQ(kvmon::CompareReqStart(&early, &late, true), -1);
    EXPECT_EQ(kvmon::CompareReqStart(&early, &late, false), 1);
    EXPECT_EQ(kvmon::CompareReqStart(&early, &early, false), 0);
    EXPECT_EQ(kvmon::CompareReqStart(nullptr, &late, true), 0);
}

TEST(TabStepping, WrapsBothWaysAndCutsTitles)
{
    EXPECT_EQ(kvmon::NextTab(2, 3, false), 0);
    EXPECT_EQ(kvmon::NextTab(0, 3, true), 2);
    EXPECT_EQ(kvmon::NextTab(1, 3, false), 2);
    EXPECT_EQ(kvmon::NextTab(0, 1, true), 0);
    EXPECT_EQ(kvmon::NextTab(0, 0, false), -1); // no tabs: nothing to divide by
    EXPECT_EQ(kvmon::TabTitle(QString(60, 'x')).size(), 49);
    EXPECT_EQ(kvmon::TabTitle("Requests"), "Requests");
}

TEST(ReqLogElem, KindsGiveTheirTypeAndColours)
{
    struct Case
    {
        KV_FILE_REQ_LOG_ELEM kind;
        int code;
        const char* type;
        int type_clr, status_clr, file_clr;
    };
    using namespace kvmon;
    const Case cases[] = {
        {KV_FILE_REQ_LOG_ELEM_ANSWER, -1, "User int.", kClrDefault, kClrDefault, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_MSG, 0, "Message", kClrBlue, kClrDefault, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_MSG, 1, "Error", kClrDefault, kClrRed, kClrRed},
        {KV_FILE_REQ_LOG_ELEM_MSG, 2, "Error", kClrDefault, kClrRed, kClrRed},
        {KV_FILE_REQ_LOG_ELEM_FILEOP, 0, "File stat.", kClrDefault, kClrOrange, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_FILEOP, 1, "File stat.", kClrDefault, kClrGreen, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_FILEOP, 2, "File stat.", kClrDefault, kClrRed, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_FILEOP_CP, 0, "File stat.", kClrDefault, kClrBlue, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_FILEOP_CP, 1, "File stat.", kClrDefault, kClrOrange, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_FILEOP_CP, 2, "File stat.", kClrDefault, kClrGreen, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_FILEOP_CP, 3, "File stat.", kClrDefault, kClrRed, kClrDefault},
        {KV_FILE_REQ_LOG_ELEM_FILEOP_CP, 9, "File stat.", kClrDefault, kClrDefault, kClrDefault},
    };
    for (const Case& c : cases) {
        KV_FileReqLogElem e(c.kind, 1, KV_Time(), KV_String("f"), c.code, KV_String());
        const LogCells cells = LogElemCells(e);
        EXPECT_EQ(cells.type.toStdString(), c.type) << c.kind << "/" << c.code;
        EXPECT_EQ(cells.type_clr, c.type_clr) << c.kind << "/" << c.code;
        EXPECT_EQ(cells.status_clr, c.status_clr) << c.kind << "/" << c.code;
        EXPECT_EQ(cells.file_clr, c.file_clr) << c.kind << "/" << c.code;
    }
    // Windows colour words 0xA00000, 0x1F9D37, 0x0000FF, 0x0084FF as RGB.
    EXPECT_EQ(LogColourRgb(kClrBlue), 0x0000A0);
    EXPECT_EQ(LogColourRgb(kClrGreen), 0x379D1F);
    EXPECT_EQ(LogColourRgb(kClrRed), 0xFF0000);
    EXPECT_EQ(LogColourRgb(kClrOrange), 0xFF8400);
    EXPECT_EQ(LogColourRgb(kClrDefault), -1);
}

TEST(ReqLogElem, ALineNamingAFarRowIsSkipped)
{
    auto row = [](uint32_t seq, int shown, int in_notice) {
        KV_FileReqLogElem e(KV_FILE_REQ_LOG_ELEM_MSG, seq, KV_Time(), KV_String(), 0, KV_String());
        return kvmon::LogElemRow(e, shown, in_notice);
    };
    EXPECT_EQ(row(1, 0, 1), 0);
    EXPECT_EQ(row(11, 10, 1), 10);
    EXPECT_EQ(row(12, 10, 1), 11); // one row of gap at most per line of the notice
    EXPECT_EQ(row(13, 10, 1), -1);
    EXPECT_EQ(row(4000000000u, 10, 5), -1);
    EXPECT_EQ(row(0, 10, 5), -1); // no sequence number: no row
}

TEST(TavoTransferred, TheLargerCounterAndItsSpeed)
{
    KV_SessInfo s;
    EXPECT_EQ(kvmon::TavoTransferred(s).bytes, 0);
    EXPECT_EQ(kvmon::TavoTransferred(s).speed, 0.0);
    s.set_bytes_recv(10);
    s.set_speed_recv(1.5);
    s.set_bytes_sent(20);
    s.set_speed_send(2.5);
    EXPECT_EQ(kvmon::TavoTransferred(s).bytes, 20);
    EXPECT_EQ(kvmon::TavoTransferred(s).speed, 2.5);
    s.set_bytes_sent(10);
    EXPECT_EQ(kvmon::TavoTransferred(s).speed, 1.5); // equal: the received one
    // Compared as signed: a counter past 2^63 counts as negative.
    s.set_bytes_sent(0x8000000000000000ull);
    EXPECT_EQ(kvmon::TavoTransferred(s).bytes, 10);
}

} // namespace
