#include "monitor/dlgreqinfolog.h"

#include "core/reqmonitor.h"
#include "core/settings.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_reqmsg.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"
#include "transfers/kv_filereqtaskstrans.h"
#include "transfers/kv_translogtrans.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QShowEvent>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>

namespace {

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

QString ToQ(const char* s)
{
    return s != nullptr ? QString::fromUtf8(s) : QString();
}

QTextEdit* ReadOnlyField(int id, bool multi_line, QWidget* parent)
{
    auto* edit = new QTextEdit(parent);
    edit->setObjectName(QString::number(id));
    edit->setReadOnly(true);
    edit->setAcceptRichText(false);
    edit->setLineWrapMode(multi_line ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    if (!multi_line) {
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setFixedHeight(edit->fontMetrics().height() + 8);
    }
    return edit;
}

void Append(QTextEdit* edit, const QString& text, const QTextCharFormat& format)
{
    QTextCursor cursor(edit->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text, format);
}

KV_FileManPool* Pool()
{
    return CKivrelApp::Instance()->GetPool();
}

} // namespace

CDlgReqInfoLog* CDlgReqInfoLog::instance = nullptr;

CDlgReqInfoLog::CDlgReqInfoLog(QWidget* parent) : CKVDialog(74, parent)
{
    setWindowTitle("Request info");
    setWindowIcon(kvres::LoadIcon(111));
    setSizeGripEnabled(true);
    setModal(false);
    CKivrelApp::SetHelpTopic(this, "html\\reqinfownd.htm");

    type = ReadOnlyField(1144, false, this);
    status = ReadOnlyField(1142, false, this);
    start = ReadOnlyField(1143, false, this);
    last_err = ReadOnlyField(1052, false, this);
    descr = ReadOnlyField(1040, true, this);
    descr->setFixedHeight(descr->fontMetrics().height() * 3 + 10);
    auto* browse = new QPushButton("&Browse", this);
    browse->setObjectName("1013");
    browse->setAutoDefault(false);
    auto* params = new QPushButton("&Parameters", this);
    params->setObjectName("1112");
    params->setAutoDefault(false);
    list = new QTreeWidget(this);
    list->setObjectName("1084");
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels({"Time", "Type", "Status", "File"});
    const int widths[] = {120, 60, 150, 500};
    for (int i = 0; i < 4; ++i) {
        list->setColumnWidth(i, widths[i]);
    }
    // The text fields and the list on the tool-tip background.
    for (QWidget* w : {static_cast<QWidget*>(type), static_cast<QWidget*>(status),
                       static_cast<QWidget*>(start), static_cast<QWidget*>(last_err),
                       static_cast<QWidget*>(descr), static_cast<QWidget*>(list)}) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
        w->setPalette(pal);
    }

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Type:", this), 0, 0);
    grid->addWidget(type, 0, 1);
    grid->addWidget(new QLabel("Status:", this), 0, 2);
    grid->addWidget(status, 0, 3);
    grid->addWidget(new QLabel("Start time:", this), 1, 0);
    grid->addWidget(start, 1, 1);
    grid->addWidget(new QLabel("Last error:", this), 1, 2);
    grid->addWidget(last_err, 1, 3);
    grid->addWidget(descr, 2, 0, 1, 4);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(browse);
    buttons->addWidget(params);
    grid->addLayout(buttons, 3, 0, 1, 4);
    grid->addWidget(list, 4, 0, 1, 4);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    resize(560, 380);

    fmt_red.setFontWeight(QFont::Bold);
    fmt_red.setForeground(QColor(255, 0, 0));
    fmt_green.setFontWeight(QFont::Bold);
    fmt_green.setForeground(QColor(55, 157, 31));
    fmt_blue.setForeground(QColor(0, 0, 0xA0));

    connect(browse, &QPushButton::clicked, this, [this] { AddBrowseTask(); });
    connect(params, &QPushButton::clicked, this, [this] { AddParamsTask(); });
}

CDlgReqInfoLog::~CDlgReqInfoLog()
{
    if (instance == this) {
        instance = nullptr;
        KV_TransLogTrans::set_id_log(0);
    }
}

void CDlgReqInfoLog::OnInitDialog()
{
    CKVDialog::OnInitDialog();
    // The size it opens with is the smallest it may take.
    min_size = size();
    setMinimumSize(min_size);
    QSettings settings(SettingsEnv().user_conf, QSettings::IniFormat);
    LoadWndPlacement(settings, "LayoutWndReqInfo", this);
}

void CDlgReqInfoLog::OnOK()
{
    OnCancel();
}

void CDlgReqInfoLog::OnCancel()
{
    QSettings settings(SettingsEnv().user_conf, QSettings::IniFormat);
    SaveWndPlacement(settings, "LayoutWndReqInfo", this);
    // Gone at once for everyone: the next ShowRequest makes a new window
    // while this one waits for its deletion.
    if (instance == this) {
        instance = nullptr;
        // Nothing shows a log any more: the transfer logs stop sending.
        KV_TransLogTrans::set_id_log(0);
    }
    CKVDialog::OnCancel();
    deleteLater();
}

void CDlgReqInfoLog::ShowRequest(uint32_t id)
{
    if (instance == nullptr) {
        instance = new CDlgReqInfoLog(nullptr);
    }
    instance->Clear();
    instance->show();
    instance->raise();
    instance->activateWindow();
    instance->req_id = id;
    KV_TransLogTrans::set_id_log(id);
    if (KV_FileManPool* pool = Pool()) {
        pool->man_trans().add_task(
            KV_FileReqTaskInfo(id, pool->informer(),
                               KV_FileReqTaskInfo::INFO_SNAPSHOT | KV_FileReqTaskInfo::INFO_LOG));
    }
}

void CDlgReqInfoLog::CloseIf(uint32_t id, bool same)
{
    if (instance != nullptr && (instance->req_id == id) == same) {
        instance->reject();
    }
}

void CDlgReqInfoLog::Clear()
{
    list->clear();
    for (QTextEdit* edit : {type, status, start, last_err, descr}) {
        edit->clear();
    }
}

void CDlgReqInfoLog::AddBrowseTask()
{
    if (KV_FileManPool* pool = Pool()) {
        pool->man_trans().add_task(KV_FileReqTaskBrowse(req_id));
    }
}

void CDlgReqInfoLog::AddParamsTask()
{
    if (KV_FileManPool* pool = Pool()) {
        pool->man_trans().add_task(KV_FileReqTaskPropReq(req_id, 0));
    }
}

void CDlgReqInfoLog::Fill(const KV_MsgReqLog& msg)
{
    const KV_FileReqLog& log = msg.log;
    const KV_FileReqInfo& info = log.info;
    if ((log.chg & kFillRestart) != 0) {
        list->clear();
    }
    if ((log.chg & kFillHeader) != 0) {
        type->setPlainText(ToQ(info.operation()));
        start->setPlainText(ToQ(info.tm_start().as_str("%c")));
        descr->clear();
        const QString text = ToQ(info.descr());
        const int br = text.indexOf("\r\n");
        if (br >= 0) {
            if (br > 0) {
                Append(descr, text.left(br), fmt_green);
            }
            Append(descr, text.mid(br + 2) + "\n", fmt_blue);
        } else {
            Append(descr, text + "\n", fmt_blue);
        }
    }
    if ((log.chg & kFillStatus) != 0) {
        status->setPlainText(ToQ(info.status_str()));
    }
    if ((log.chg & kFillLastErr) != 0) {
        last_err->clear();
        Append(last_err, ToQ(info.last_err()), fmt_red);
    }
    if ((log.chg & kFillElems) == 0) {
        return;
    }
    QScrollBar* bar = list->verticalScrollBar();
    // Following new rows only when the user looks at the last ones.
    const bool at_bottom = bar->value() >= bar->maximum() - 1;
    list->setUpdatesEnabled(false);
    const int rows_shown = list->topLevelItemCount();
    const int in_notice = static_cast<int>(log.list_elems().size());
    for (const KV_FileReqLogElem* elem : log.list_elems()) {
        const int row = kvmon::LogElemRow(*elem, rows_shown, in_notice);
        if (row < 0) {
            continue;
        }
        while (list->topLevelItemCount() <= row) {
            list->addTopLevelItem(new QTreeWidgetItem);
        }
        QTreeWidgetItem* item = list->topLevelItem(row);
        const kvmon::LogCells cells = kvmon::LogElemCells(*elem);
        item->setText(0, ToQ(elem->time.as_str("%c")));
        item->setText(1, cells.type);
        item->setText(2, ToQ(elem->note));
        item->setText(3, ToQ(elem->text));
        const int codes[4] = {kvmon::kClrBlack, cells.type_clr, cells.status_clr, cells.file_clr};
        uint32_t packed = 0;
        for (int c = 0; c < 4; ++c) {
            packed |= static_cast<uint32_t>(codes[c] & 0xF) << (4 * c);
            const int64_t rgb = kvmon::LogColourRgb(codes[c]);
            if (rgb >= 0) {
                item->setForeground(c, QColor(static_cast<QRgb>(rgb)));
            } else {
                item->setData(c, Qt::ForegroundRole, QVariant());
            }
        }
        item->setData(0, ColourRole, packed);
    }
    list->setUpdatesEnabled(true);
    if (at_bottom) {
        list->scrollToBottom();
    }
}
