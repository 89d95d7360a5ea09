#include "dialogs/dlgtranspar.h"

#include "foundation/kv_time.h"
#include "requests/kv_filereq.h"
#include "shell/kivrelapp.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

template <class T> T* Named(T* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

// The value 1 (a second after the epoch) stands for "no scheduled start".
const KV_Time kNoStart(1L);

Qt::CheckState ToState(int value)
{
    return value == 2 ? Qt::PartiallyChecked : value == 1 ? Qt::Checked : Qt::Unchecked;
}

int FromState(Qt::CheckState state)
{
    return state == Qt::PartiallyChecked ? 2 : state == Qt::Checked ? 1 : 0;
}

} // namespace

// ---------------------------------------------------------------------------
// CDlgTransPar

CDlgTransPar::CDlgTransPar(int template_id, KV_FileReqTransParams& params, bool tristate,
                           QWidget* parent)
    : CKVDialog(template_id, parent), params(&params)
{
    layout_main = new QVBoxLayout(this);
    auto* sched = new QHBoxLayout;
    auto* sched_box = Named(new QCheckBox(QStringLiteral("&Schedule:")), IDC_SCHEDULE);
    sched->addWidget(sched_box);
    sched->addWidget(new QLabel(QStringLiteral("Time:")));
    sched->addWidget(Named(new QTimeEdit, IDC_TIME));
    sched->addWidget(new QLabel(QStringLiteral("Date:")));
    auto* date = Named(new QDateEdit, IDC_DATE);
    date->setCalendarPopup(true);
    sched->addWidget(date);
    layout_main->addLayout(sched);
    auto* forced_box =
        Named(new QCheckBox(QStringLiteral("&Forced execution (don't prompt):")), IDC_FORCED);
    forced_box->setTristate(tristate);
    layout_main->addWidget(forced_box);
    connect(sched_box, &QCheckBox::toggled, this, &CDlgTransPar::OnScheduleToggled);
}

void CDlgTransPar::FinishLayout()
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout_main->addWidget(buttons);
}

bool CDlgTransPar::IsScheduleEditable() const
{
    return true;
}

void CDlgTransPar::OnInitDialog()
{
    forced = static_cast<int>(params->forced_exec());
    const KV_Time start = params->tm_start();
    schedule = start.valid() && start > kNoStart ? 1 : 0;
    const QDate today = QDate::currentDate();
    Item<QDateEdit>(IDC_DATE)->setDateRange(today, today.addDays(365));
    const QDateTime shown =
        schedule ? QDateTime::fromSecsSinceEpoch(start.impl()) : QDateTime::currentDateTime();
    Item<QDateEdit>(IDC_DATE)->setDate(shown.date());
    Item<QTimeEdit>(IDC_TIME)->setTime(shown.time());
    CKVDialog::OnInitDialog();
    OnScheduleToggled();
}

void CDlgTransPar::exchange(bool save)
{
    CKVDialog::exchange(save);
    auto* forced_box = Item<QCheckBox>(IDC_FORCED);
    auto* sched_box = Item<QCheckBox>(IDC_SCHEDULE);
    if (save) {
        forced = FromState(forced_box->checkState());
        schedule = sched_box->isChecked() ? 1 : 0;
    } else {
        forced_box->setCheckState(ToState(forced));
        sched_box->setChecked(schedule != 0);
    }
}

void CDlgTransPar::OnScheduleToggled()
{
    const bool on = Item<QCheckBox>(IDC_SCHEDULE)->isChecked() && IsScheduleEditable();
    Item<QTimeEdit>(IDC_TIME)->setEnabled(on);
    Item<QDateEdit>(IDC_DATE)->setEnabled(on);
}

void CDlgTransPar::OnOK()
{
    exchange(true);
    params->set_forced_exec(static_cast<KV_FEXEC_TYPE>(forced));
    if (!schedule) {
        params->set_tm_start(kNoStart);
    } else {
        const QDate d = Item<QDateEdit>(IDC_DATE)->date();
        const QTime t = Item<QTimeEdit>(IDC_TIME)->time();
        params->set_tm_start(
            KV_Time(static_cast<uint16_t>(d.day()), static_cast<uint16_t>(d.month()),
                    static_cast<uint16_t>(d.year()), static_cast<uint16_t>(t.hour()),
                    static_cast<uint16_t>(t.minute()), static_cast<uint16_t>(t.second())));
    }
    CKVDialog::OnOK();
}

// ---------------------------------------------------------------------------
// CDlgTransParCp

QStringList CDlgTransParCp::WeekDays()
{
    return {QStringLiteral("Sunday"),    QStringLiteral("Monday"),   QStringLiteral("Tuesday"),
            QStringLiteral("Wednesday"), QStringLiteral("Thursday"), QStringLiteral("Friday"),
            QStringLiteral("Saturday")};
}

CDlgTransParCp::CDlgTransParCp(uint16_t src_type, uint16_t dst_type,
                               const KV_FileReqTransParamsCp& params, KV_REQ_STAT status,
                               QWidget* parent)
    : CDlgTransPar(81, params_cp, true, parent), params_cp(params), status(status),
      dtrans_possible(src_type == 2 && dst_type == src_type)
{
    setWindowTitle(QStringLiteral("Copy Parameters"));
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\reqextcp.htm"));
    mode = params_cp.mirror();
    timing = static_cast<int>(params_cp.tm_type()) - 1;
    repeat = static_cast<int>(params_cp.tm_def() % 86400);
    skip = params_cp.skip_sz();
    del_src = params_cp.del_src();
    dtrans = params_cp.dtrans();

    auto* mode_box = new QGroupBox(QStringLiteral("Operating mode"));
    auto* mode_layout = new QVBoxLayout(mode_box);
    auto* modes = new QButtonGroup(this);
    modes->setObjectName(QStringLiteral("modes"));
    const std::pair<int, const char*> mode_buttons[] = {
        {IDC_MODE_NORMAL, "Normal"},
        {IDC_MODE_SIMPLE, "Mirror SIMPLE (copy only)"},
        {IDC_MODE_SYNCHRO, "Mirror SYNCHRO (copy + delete)"},
    };
    int index = 0;
    for (const auto& [id, label] : mode_buttons) {
        auto* b = Named(new QRadioButton(QLatin1String(label)), id);
        modes->addButton(b, index++);
        mode_layout->addWidget(b);
    }
    layout_main->addWidget(mode_box);

    auto* timing_box = new QGroupBox(QStringLiteral("Timing"));
    auto* timing_layout = new QGridLayout(timing_box);
    auto* timings = new QButtonGroup(this);
    timings->setObjectName(QStringLiteral("timings"));
    const std::pair<int, const char*> timing_buttons[] = {
        {IDC_WAIT, "Wait"}, {IDC_DAILY, "Daily"}, {IDC_WEEKLY, "Weekly"}, {IDC_MONTHLY, "Monthly"}};
    index = 0;
    for (const auto& [id, label] : timing_buttons) {
        auto* b = Named(new QRadioButton(QLatin1String(label)), id);
        timings->addButton(b, index);
        timing_layout->addWidget(b, 0, index++);
    }
    auto* when = new QHBoxLayout;
    when->addWidget(Named(new QLabel, IDC_LABEL_BEFORE));
    when->addWidget(Named(new QComboBox, IDC_DAY));
    when->addWidget(Named(new QLabel, IDC_LABEL_AFTER));
    when->addWidget(Named(new QLabel, IDC_LABEL_AT));
    auto* repeat_edit = Named(new QTimeEdit, IDC_REPEAT);
    repeat_edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    when->addWidget(repeat_edit);
    when->addWidget(new QLabel(QStringLiteral("hour(s)")));
    when->addStretch();
    timing_layout->addLayout(when, 1, 0, 1, 4);
    layout_main->addWidget(timing_box);

    layout_main->addWidget(
        Named(new QCheckBox(QStringLiteral("Skip files identical in name and length:")), IDC_SKIP));
    layout_main->addWidget(
        Named(new QCheckBox(QStringLiteral("Delete the source file(s) upon transfer completion:")),
              IDC_DEL_SRC));
    layout_main->addWidget(
        Named(new QCheckBox(QStringLiteral("Direct server-to-server transfer (FTP->FTP only):")),
              IDC_DTRANS));
    FinishLayout();

    connect(modes, &QButtonGroup::idClicked, this, &CDlgTransParCp::OnModeChanged);
    connect(timings, &QButtonGroup::idClicked, this, &CDlgTransParCp::OnTimingChanged);
    connect(Item<QCheckBox>(IDC_DEL_SRC), &QCheckBox::clicked, this,
            &CDlgTransParCp::OnDelSrcToggled);
    connect(Item<QCheckBox>(IDC_FORCED), &QCheckBox::clicked, this,
            &CDlgTransParCp::OnForcedToggled);
}

bool CDlgTransParCp::IsScheduleEditable() const
{
    return !KV_FileReq::running(status);
}

int CDlgTransParCp::Mode() const
{
    const int id = findChild<QButtonGroup*>(QStringLiteral("modes"))->checkedId();
    return id < 0 ? 0 : id;
}

int CDlgTransParCp::Timing() const
{
    return findChild<QButtonGroup*>(QStringLiteral("timings"))->checkedId();
}

void CDlgTransParCp::SetTiming(int value)
{
    auto* group = findChild<QButtonGroup*>(QStringLiteral("timings"));
    if (value < 0) {
        // An exclusive group cannot be emptied while it is exclusive.
        group->setExclusive(false);
        for (QAbstractButton* b : group->buttons()) {
            b->setChecked(false);
        }
        group->setExclusive(true);
    } else if (QAbstractButton* b = group->button(value)) {
        b->setChecked(true);
    }
}

void CDlgTransParCp::exchange(bool save)
{
    CDlgTransPar::exchange(save);
    auto* modes = findChild<QButtonGroup*>(QStringLiteral("modes"));
    if (save) {
        mode = Mode();
        timing = Timing();
        repeat = Item<QTimeEdit>(IDC_REPEAT)->time().msecsSinceStartOfDay() / 1000;
        skip = Item<QCheckBox>(IDC_SKIP)->isChecked();
        del_src = Item<QCheckBox>(IDC_DEL_SRC)->isChecked();
        dtrans = Item<QCheckBox>(IDC_DTRANS)->isChecked();
    } else {
        if (QAbstractButton* b = modes->button(mode)) {
            b->setChecked(true);
        }
        SetTiming(timing);
        Item<QTimeEdit>(IDC_REPEAT)->setTime(QTime(0, 0).addSecs(repeat));
        Item<QCheckBox>(IDC_SKIP)->setChecked(skip);
        Item<QCheckBox>(IDC_DEL_SRC)->setChecked(del_src);
        Item<QCheckBox>(IDC_DTRANS)->setChecked(dtrans);
    }
}

void CDlgTransParCp::OnInitDialog()
{
    CDlgTransPar::OnInitDialog();
    OnModeChanged();
    auto* days = Item<QComboBox>(IDC_DAY);
    if (timing == 2) {
        days->setCurrentIndex(params_cp.dayspec());
    } else if (timing == 3) {
        days->setCurrentIndex(static_cast<int>(params_cp.dayspec()) - 1);
    }
    const bool changeable = status == 0 || KV_FileReq::processed(status);
    for (int id : {IDC_MODE_NORMAL, IDC_MODE_SIMPLE, IDC_MODE_SYNCHRO, IDC_DTRANS}) {
        Item(id)->setEnabled(changeable);
    }
    Item(IDC_SCHEDULE)->setEnabled(IsScheduleEditable());
    Item(IDC_DTRANS)->setEnabled(dtrans_possible && !KV_FileReq::running(status));
}

void CDlgTransParCp::OnModeChanged()
{
    const int m = Mode();
    for (int id : {IDC_REPEAT, IDC_WAIT, IDC_DAILY, IDC_WEEKLY, IDC_MONTHLY}) {
        Item(id)->setEnabled(m > 0);
    }
    if (m > 0 && Timing() < 0) {
        SetTiming(0);
    }
    OnTimingChanged();
    auto* del = Item<QCheckBox>(IDC_DEL_SRC);
    auto* forced_box = Item<QCheckBox>(IDC_FORCED);
    if (m > 0 && del->isChecked()) {
        del->setChecked(false);
        if (forced_box->checkState() == Qt::PartiallyChecked) {
            forced_box->setCheckState(Qt::Unchecked);
        }
    }
    del->setEnabled(m == 0);
}

void CDlgTransParCp::OnTimingChanged()
{
    const int m = Mode();
    const int t = Timing();
    auto* days = Item<QComboBox>(IDC_DAY);
    auto* at = Item<QLabel>(IDC_LABEL_AT);
    auto* before = Item<QLabel>(IDC_LABEL_BEFORE);
    auto* after = Item<QLabel>(IDC_LABEL_AFTER);
    days->setVisible(m > 0 && (t == 2 || t == 3));
    days->clear();
    at->clear();
    before->clear();
    after->clear();
    if (t == 2) {
        days->addItems(WeekDays());
        days->setCurrentIndex(0);
        before->setText(QStringLiteral("each"));
        at->setText(QStringLiteral("at"));
    } else if (t == 3) {
        for (int day = 1; day <= 31; ++day) {
            days->addItem(QStringLiteral("%1.").arg(day));
        }
        days->setCurrentIndex(0);
        before->setText(QStringLiteral("on the"));
        after->setText(QStringLiteral("day of the month"));
        at->setText(QStringLiteral("at"));
    } else {
        at->setText(t == 1 ? QStringLiteral("at") : QStringLiteral("after each run"));
    }
}

void CDlgTransParCp::OnDelSrcToggled()
{
    auto* forced_box = Item<QCheckBox>(IDC_FORCED);
    if (Item<QCheckBox>(IDC_DEL_SRC)->isChecked()) {
        forced_box->setCheckState(Qt::PartiallyChecked);
    } else if (forced_box->checkState() == Qt::PartiallyChecked) {
        forced_box->setCheckState(Qt::Unchecked);
    }
}

void CDlgTransParCp::OnForcedToggled()
{
    auto* forced_box = Item<QCheckBox>(IDC_FORCED);
    if (!Item<QCheckBox>(IDC_DEL_SRC)->isChecked() &&
        forced_box->checkState() == Qt::PartiallyChecked) {
        forced_box->setCheckState(Qt::Unchecked);
    }
}

void CDlgTransParCp::OnOK()
{
    exchange(true);
    params_cp.set_mirror(static_cast<uint8_t>(mode));
    params_cp.set_tm_type(static_cast<uint8_t>(timing + 1));
    params_cp.set_tm_def(static_cast<uint32_t>(repeat));
    params_cp.set_skip_sz(skip);
    params_cp.set_del_src(del_src);
    params_cp.set_dtrans(dtrans);
    const int day = Item<QComboBox>(IDC_DAY)->currentIndex();
    params_cp.set_dayspec(timing == 2   ? static_cast<uint16_t>(std::max(day, 0))
                          : timing == 3 ? static_cast<uint16_t>(std::max(day, 0) + 1)
                                        : 0);
    CDlgTransPar::OnOK();
}

// ---------------------------------------------------------------------------
// CDlgTransParRen, CDlgTransParRm

CDlgTransParRen::CDlgTransParRen(const KV_FileReqTransParamsRen& params, QWidget* parent)
    : CDlgTransPar(82, params_ren, false, parent), params_ren(params)
{
    setWindowTitle(QStringLiteral("Move/Rename Parameters"));
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\reqextren.htm"));
    FinishLayout();
}

CDlgTransParRm::CDlgTransParRm(const KV_FileReqTransParamsRm& params, QWidget* parent)
    : CDlgTransPar(83, params_rm, false, parent), params_rm(params)
{
    setWindowTitle(QStringLiteral("Delete Options"));
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\reqextrm.htm"));
    FinishLayout();
}
