#include "monitor/filetavo.h"

#include "core/reqmonitor.h"
#include "monitor/listbitmap.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QTextEdit>
#include <QTreeWidget>
#include <algorithm>

namespace {

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

// The pictures of a worker: running (bitmap 6) or not (7), white clear.
QIcon WorkerIcon(bool running)
{
    static QIcon icons[2];
    QIcon& icon = icons[running ? 1 : 0];
    if (icon.isNull()) {
        const QPixmap pixmap = ListBitmap(running ? 6 : 7);
        if (!pixmap.isNull()) {
            icon = QIcon(pixmap);
        }
    }
    return icon;
}

} // namespace

void CFileTavoPage::CTavoInfoNtf::notify(unsigned int id, KV_TAVO_NTF_TYPE type)
{
    if (page != nullptr) {
        page->OnTavoNtf(id, type);
    }
}

CFileTavoPage::CFileTavoPage(const CPaneLink& link, int id, const QString& title, QWidget* parent)
    : QWidget(parent), link(link)
{
    setObjectName(QString::number(id));
    setWindowTitle(title);
    list = new QTreeWidget(this);
    list->setObjectName("1191");
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setIconSize(QSize(10, 10));
    list->setSortingEnabled(false);
    list->header()->setSectionsClickable(true);
    list->setContextMenuPolicy(Qt::DefaultContextMenu);
    connect(list->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { OnHeaderClicked(column); });
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
}

CFileTavoPage::~CFileTavoPage()
{
    receiver.page = nullptr;
    if (registered && link.Alive()) {
        link.tavo->unreg(&receiver);
    }
}

void CFileTavoPage::Register()
{
    SetChildFont(this, CKivrelApp::Instance()->GetFont(0));
    if (link.tavo != nullptr && !registered) {
        registered = link.tavo->reg(&receiver);
    }
}

QTreeWidgetItem* CFileTavoPage::FindRow(unsigned int id) const
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->data(0, IdRole).toUInt() == id) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
}

unsigned int CFileTavoPage::SelectedId() const
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? 0 : selected.front()->data(0, IdRole).toUInt();
}

QTreeWidgetItem* CFileTavoPage::RowOf(unsigned int id)
{
    QTreeWidgetItem* item = FindRow(id);
    if (item == nullptr) {
        item = new QTreeWidgetItem;
        item->setData(0, IdRole, id);
        list->addTopLevelItem(item);
    }
    return item;
}

void CFileTavoPage::SetRunning(QTreeWidgetItem* item, const KV_TavoInfo& info)
{
    item->setIcon(0, WorkerIcon(info.sess_ctrl.running()));
}

void CFileTavoPage::OnHeaderClicked(int column)
{
    if (column == sort_column) {
        sort_flag = !sort_flag;
    } else {
        sort_column = column;
    }
    if (list->topLevelItemCount() < 2) {
        return;
    }
    const unsigned int selected = SelectedId();
    QList<QTreeWidgetItem*> rows;
    {
        const QSignalBlocker block(list);
        while (list->topLevelItemCount() > 0) {
            rows.append(list->takeTopLevelItem(0));
        }
        std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
            return kvmon::CompareTexts(a->text(column), b->text(column), sort_flag) < 0;
        });
        list->addTopLevelItems(rows);
        if (QTreeWidgetItem* item = FindRow(selected)) {
            list->setCurrentItem(item);
        }
    }
}

bool CFileTavoPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list && event->type() == QEvent::FocusIn) {
        if (list->currentItem() == nullptr && list->topLevelItemCount() > 0) {
            list->setCurrentItem(list->topLevelItem(0));
        }
        link.ClearActiveNode();
    } else if (watched == list->viewport() && event->type() == QEvent::ContextMenu) {
        link.OpenConnPopup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- Overview

CFileTavoMain::CFileTavoMain(const CPaneLink& link, QWidget* parent)
    : CFileTavoPage(link, 87, "Overview", parent)
{
    list->setHeaderLabels({"Status", "Trans.", "Speed", "Error"});
    const int widths[] = {200, 60, 60, 200};
    for (int i = 0; i < 4; ++i) {
        list->setColumnWidth(i, widths[i]);
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    Register();
}

void CFileTavoMain::OnTavoNtf(unsigned int id, KV_TAVO_NTF_TYPE type)
{
    if (type == KV_TAVO_NTF_TYPE_REMOVED) {
        delete FindRow(id);
        return;
    }
    if (type != KV_TAVO_NTF_TYPE_CHANGED || link.tavo == nullptr) {
        return;
    }
    const KV_TavoInfo* info = link.tavo->at(id);
    if (info == nullptr) {
        return;
    }
    QTreeWidgetItem* item = RowOf(id);
    SetRunning(item, *info);
    const kvmon::TavoAmount amount = kvmon::TavoTransferred(info->sess_data);
    item->setText(0, ToQ(info->status_text));
    item->setText(1, QString::number(amount.bytes));
    item->setText(2,
                  amount.speed > 0.0001 ? FormatByteAmount(amount.speed, true, true) : QString());
    item->setText(3, ToQ(info->detail_text));
}

// ---------------------------------------------------------------- Protocol

CFileTavoLog::CFileTavoLog(const CPaneLink& link, QWidget* parent)
    : CFileTavoPage(link, 86, "Protocol", parent)
{
    list->setHeaderLabels({"Status"});
    list->setColumnWidth(0, 300);
    // The list keeps its width; the log takes the rest.
    list->setFixedWidth(180);
    log = new QTextEdit(this);
    log->setObjectName("1085");
    log->setReadOnly(true);
    log->setAcceptRichText(false);
    log->setLineWrapMode(QTextEdit::NoWrap);
    log->document()->setMaximumBlockCount(kMaxLines);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    layout->addWidget(log, 1);
    connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { ReloadLog(); });
    Register();
}

QTextCharFormat CFileTavoLog::FormatOf(KV_SESS_LOG kind, bool err) const
{
    QTextCharFormat format;
    const bool line = kind == KV_SESS_LOG_SENT || kind == KV_SESS_LOG_RECV;
    format.setFontItalic(!line);
    if (err) {
        format.setForeground(QColor(255, 0, 0));
    } else if (kind == KV_SESS_LOG_SENT) {
        format.setForeground(palette().color(QPalette::Disabled, QPalette::Text));
    } else if (kind == KV_SESS_LOG_RECV) {
        format.setForeground(palette().color(QPalette::Text));
    } else {
        format.setForeground(QColor(0, 0, 128));
    }
    return format;
}

void CFileTavoLog::AppendLine(const KV_SessLogInfo& line)
{
    const char* prefix = line.kind() == KV_SESS_LOG_SENT   ? "<<< "
                         : line.kind() == KV_SESS_LOG_RECV ? ">>> "
                                                           : "";
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    // One line per block, so that the document's block limit drops the
    // oldest line.
    if (!log->document()->isEmpty()) {
        cursor.insertBlock();
    }
    cursor.insertText(QString::fromLatin1(prefix) + ToQ(line.text()),
                      FormatOf(line.kind(), line.err()));
    QScrollBar* bar = log->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CFileTavoLog::ReloadLog()
{
    log->setUpdatesEnabled(false);
    log->clear();
    const KV_TavoInfo* info = link.tavo != nullptr ? link.tavo->at(SelectedId()) : nullptr;
    if (info != nullptr) {
        for (const KV_SessLogInfo& line : info->list_log()) {
            AppendLine(line);
        }
    }
    log->setUpdatesEnabled(true);
}

void CFileTavoLog::OnTavoNtf(unsigned int id, KV_TAVO_NTF_TYPE type)
{
    const KV_TavoInfo* info = link.tavo != nullptr ? link.tavo->at(id) : nullptr;
    switch (type) {
    case KV_TAVO_NTF_TYPE_REMOVED:
        delete FindRow(id);
        break;
    case KV_TAVO_NTF_TYPE_CHANGED:
        if (info != nullptr) {
            QTreeWidgetItem* item = RowOf(id);
            SetRunning(item, *info);
            item->setText(0, ToQ(info->status_text));
        }
        break;
    case KV_TAVO_NTF_TYPE_LOG:
        if (info != nullptr && id == SelectedId() && !info->list_log().empty()) {
            AppendLine(info->list_log().at(info->list_log().size() - 1));
        }
        break;
    default:
        break;
    }
    if (list->topLevelItemCount() > 0 && list->selectedItems().isEmpty()) {
        list->setCurrentItem(list->topLevelItem(0));
    }
}
