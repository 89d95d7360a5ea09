// The transfer parameter dialogs: the scheduled start, and the interlocks of
// the copy dialog between mode, timing, deleting the source, forced
// execution and direct transfer.
#include "dialogs/dlgtranspar.h"

#include "foundation/kv_time.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QTimeEdit>
#include <gtest/gtest.h>
#include <memory>

namespace {

using D = CDlgTransParCp;

QCheckBox* Box(CKVDialog& dlg, int id)
{
    return dlg.Item<QCheckBox>(id);
}

bool Enabled(CKVDialog& dlg, int id)
{
    return dlg.Item(id)->isEnabled();
}

KV_FileReqTransParamsCp Params(uint8_t mirror, uint8_t tm_type, bool del_src, uint32_t forced)
{
    KV_FileReqTransParamsCp p;
    p.set_mirror(mirror);
    p.set_tm_type(tm_type);
    p.set_del_src(del_src);
    p.set_forced_exec(static_cast<KV_FEXEC_TYPE>(forced));
    return p;
}

TEST(CDlgTransPar, NoScheduledStartStaysNone)
{
    // Start times 1 and earlier mean none; OK without scheduling stores 1.
    for (long start : {-1L, 0L, 1L}) {
        SCOPED_TRACE(start);
        KV_FileReqTransParamsRm rm;
        rm.set_tm_start(KV_Time(start));
        rm.set_forced_exec(KV_FEXEC_FORCED);
        CDlgTransParRm dlg(rm, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.windowTitle(), "Delete Options");
        EXPECT_FALSE(Box(dlg, CDlgTransPar::IDC_SCHEDULE)->isChecked());
        EXPECT_FALSE(Enabled(dlg, CDlgTransPar::IDC_DATE));
        EXPECT_FALSE(Box(dlg, CDlgTransPar::IDC_FORCED)->isTristate());
        EXPECT_EQ(Box(dlg, CDlgTransPar::IDC_FORCED)->checkState(), Qt::Checked);
        dlg.accept();
        EXPECT_EQ(dlg.GetParams()->tm_start(), KV_Time(1L));
        EXPECT_EQ(dlg.GetParams()->forced_exec(), KV_FEXEC_FORCED);
    }

    // A start tomorrow at 10:30 comes back as set.
    const QDateTime when(QDate::currentDate().addDays(1), QTime(10, 30, 0));
    KV_FileReqTransParamsRen ren;
    ren.set_tm_start(KV_Time(static_cast<long>(when.toSecsSinceEpoch())));
    CDlgTransParRen dlg(ren, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Move/Rename Parameters");
    EXPECT_TRUE(Box(dlg, CDlgTransPar::IDC_SCHEDULE)->isChecked());
    EXPECT_TRUE(Enabled(dlg, CDlgTransPar::IDC_TIME));
    EXPECT_EQ(dlg.Item<QDateEdit>(CDlgTransPar::IDC_DATE)->date(), when.date());
    dlg.Item<QTimeEdit>(CDlgTransPar::IDC_TIME)->setTime(QTime(11, 0, 0));
    dlg.accept();
    EXPECT_EQ(dlg.GetParams()->tm_start().impl(),
              QDateTime(when.date(), QTime(11, 0, 0)).toSecsSinceEpoch());
}

TEST(CDlgTransParCp, Interlocks)
{
    struct Case
    {
        const char* name;
        KV_FileReqTransParamsCp params;
        uint16_t src, dst;
        KV_REQ_STAT status;
        int click; // a control the user clicks first, 0 for none
        // Afterwards:
        bool del_src, del_src_enabled;
        Qt::CheckState forced;
        bool timing_enabled, mode_enabled, schedule_enabled, dtrans_enabled;
    };
    const Case cases[] = {
        {"new copy FTP to FTP", Params(0, 0, false, 0), 2, 2, KV_REQ_STAT_QUEUED, 0, false, true,
         Qt::Unchecked, false, true, true, true},
        {"mirror clears deleting the source and the third state", Params(0, 0, true, 2), 2, 2,
         KV_REQ_STAT_QUEUED, D::IDC_MODE_SIMPLE, false, false, Qt::Unchecked, true, true, true,
         true},
        {"deleting the source forces its question", Params(0, 0, false, 0), 1, 1,
         KV_REQ_STAT_QUEUED, D::IDC_DEL_SRC, true, true, Qt::PartiallyChecked, false, true, true,
         false},
        {"keeping the source again", Params(0, 0, true, 2), 1, 1, KV_REQ_STAT_QUEUED,
         D::IDC_DEL_SRC, false, true, Qt::Unchecked, false, true, true, false},
        {"third state only beside deleting", Params(0, 0, false, 0), 1, 1, KV_REQ_STAT_QUEUED,
         D::IDC_FORCED, false, true, Qt::Unchecked, false, true, true, false},
        {"third state beside deleting", Params(0, 0, true, 0), 1, 1, KV_REQ_STAT_QUEUED,
         D::IDC_FORCED, true, true, Qt::PartiallyChecked, false, true, true, false},
        {"FTP to HTTP: no direct transfer", Params(0, 0, false, 0), 2, 4, KV_REQ_STAT_QUEUED, 0,
         false, true, Qt::Unchecked, false, true, true, false},
        {"running", Params(1, 1, false, 0), 2, 2, KV_REQ_STAT_RUNNING, 0, false, false,
         Qt::Unchecked, true, false, false, false},
        {"paused counts as running", Params(0, 0, false, 0), 2, 2, KV_REQ_STAT_PAUSED, 0, false,
         true, Qt::Unchecked, false, false, false, false},
        {"suspended: not finished", Params(0, 0, false, 0), 2, 2, KV_REQ_STAT_SUSPENDED, 0, false,
         true, Qt::Unchecked, false, false, true, true},
        {"finished", Params(2, 2, false, 0), 2, 2, KV_REQ_STAT_COMPLETED, 0, false, false,
         Qt::Unchecked, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D dlg(c.src, c.dst, c.params, c.status, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.windowTitle(), "Copy Parameters");
        if (c.click) {
            dlg.Item<QAbstractButton>(c.click)->click();
        }
        EXPECT_EQ(Box(dlg, D::IDC_DEL_SRC)->isChecked(), c.del_src);
        EXPECT_EQ(Enabled(dlg, D::IDC_DEL_SRC), c.del_src_enabled);
        EXPECT_EQ(Box(dlg, D::IDC_FORCED)->checkState(), c.forced);
        for (int id : {D::IDC_REPEAT, D::IDC_WAIT, D::IDC_DAILY, D::IDC_WEEKLY, D::IDC_MONTHLY}) {
            EXPECT_EQ(Enabled(dlg, id), c.timing_enabled) << id;
        }
        for (int id : {D::IDC_MODE_NORMAL, D::IDC_MODE_SIMPLE, D::IDC_MODE_SYNCHRO}) {
            EXPECT_EQ(Enabled(dlg, id), c.mode_enabled) << id;
        }
        EXPECT_EQ(Enabled(dlg, D::IDC_SCHEDULE), c.schedule_enabled);
        EXPECT_EQ(Enabled(dlg, D::IDC_DTRANS), c.dtrans_enabled);
    }
}

TEST(CDlgTransParCp, TimingLabelsAndStoredDays)
{
    struct Case
    {
        const char* name;
        int timing_button;
        int day_index;
        const char* before;
        const char* after;
        const char* at;
        bool days_shown;
        uint8_t tm_type;
        uint16_t dayspec;
    };
    const Case cases[] = {
        {"wait", D::IDC_WAIT, -1, "", "", "after each run", false, 1, 0},
        {"daily", D::IDC_DAILY, -1, "", "", "at", false, 2, 0},
        {"weekly on Sunday", D::IDC_WEEKLY, 0, "each", "", "at", true, 3, 0},
        {"weekly on Tuesday", D::IDC_WEEKLY, 2, "each", "", "at", true, 3, 2},
        {"monthly on the 1st", D::IDC_MONTHLY, 0, "on the", "day of the month", "at", true, 4, 1},
        {"monthly on the 31st", D::IDC_MONTHLY, 30, "on the", "day of the month", "at", true, 4,
         31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_FileReqTransParamsCp p = Params(1, 0, false, 0);
        p.set_tm_def(2 * 3600 + 15 * 60 + 5);
        D dlg(2, 2, p, KV_REQ_STAT_QUEUED, nullptr);
        dlg.show();
        dlg.Item<QAbstractButton>(c.timing_button)->click();
        EXPECT_EQ(dlg.Item<QLabel>(D::IDC_LABEL_BEFORE)->text(), c.before);
        EXPECT_EQ(dlg.Item<QLabel>(D::IDC_LABEL_AFTER)->text(), c.after);
        EXPECT_EQ(dlg.Item<QLabel>(D::IDC_LABEL_AT)->text(), c.at);
        auto* days = dlg.Item<QComboBox>(D::IDC_DAY);
        EXPECT_EQ(days->isVisible(), c.days_shown);
        if (c.day_index >= 0) {
            days->setCurrentIndex(c.day_index);
        }
        dlg.accept();
        const auto& out = static_cast<const KV_FileReqTransParamsCp&>(*dlg.GetParams());
        EXPECT_EQ(out.mirror(), 1);
        EXPECT_EQ(out.tm_type(), c.tm_type);
        EXPECT_EQ(out.dayspec(), c.dayspec);
        EXPECT_EQ(out.tm_def(), 2u * 3600 + 15 * 60 + 5);
    }
    EXPECT_EQ(D::WeekDays().at(2), "Tuesday");
    EXPECT_EQ(D::WeekDays().size(), 7);
}

TEST(CDlgTransParCp, OpensOnTheStoredDayAndNoTimingForNormalCopies)
{
    KV_FileReqTransParamsCp weekly = Params(2, 3, false, 0);
    weekly.set_dayspec(5);
    D w(2, 2, weekly, KV_REQ_STAT_QUEUED, nullptr);
    w.show();
    EXPECT_EQ(w.Item<QComboBox>(D::IDC_DAY)->currentText(), "Friday");

    KV_FileReqTransParamsCp monthly = Params(2, 4, false, 0);
    monthly.set_dayspec(15);
    D m(2, 2, monthly, KV_REQ_STAT_QUEUED, nullptr);
    m.show();
    EXPECT_EQ(m.Item<QComboBox>(D::IDC_DAY)->currentText(), "15.");

    // A normal copy has no timing; it keeps none when accepted.
    D normal(1, 1, Params(0, 0, false, 0), KV_REQ_STAT_QUEUED, nullptr);
    normal.show();
    for (int id : {D::IDC_WAIT, D::IDC_DAILY, D::IDC_WEEKLY, D::IDC_MONTHLY}) {
        EXPECT_FALSE(normal.Item<QAbstractButton>(id)->isChecked()) << id;
    }
    normal.accept();
    EXPECT_EQ(static_cast<const KV_FileReqTransParamsCp&>(*normal.GetParams()).tm_type(), 0);
}

} // namespace
