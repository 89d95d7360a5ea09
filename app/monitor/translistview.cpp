#include "monitor/translistview.h"

#include "core/reqmonitor.h"
#include "core/settings.h"
#include "dialogs/dlgappinfo.h"
#include "menus/commands.h"
#include "menus/menufind.h"
#include "menus/newmenu.h"
#include "monitor/dlgreqinfolog.h"
#include "monitor/listbitmap.h"
#include "monitor/tlmenu.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqtasks.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "shell/wndutil.h"
#include "transfers/kv_filereqtaskstrans.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <utility>

namespace {

QWidget* MakeTransListView()
{
    return new CTransListView;
}

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

constexpr int kLightWidth = 10;
constexpr int kIconWidth = 16;
constexpr int kPictureHeight = 12;

// The resource set has no pictures of the traffic lights, so they are drawn:
// a dark case with the lamp of the state lit (red cancelled, yellow waiting,
// green running) and nothing at all for no state.
QPixmap LightPixmap(KV_REQ_TL tl)
{
    QPixmap pixmap(kLightWidth, kPictureHeight);
    pixmap.fill(Qt::transparent);
    if (tl == KV_REQ_TL_NONE) {
        return pixmap;
    }
    QPainter p(&pixmap);
    p.fillRect(QRect(2, 0, 6, 12), QColor(0x40, 0x40, 0x40));
    const QColor lit[] = {QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 255, 0)};
    const int on = tl == KV_REQ_TL_CANCELLED ? 0 : tl == KV_REQ_TL_WAITING ? 1 : 2;
    for (int i = 0; i < 3; ++i) {
        p.fillRect(QRect(3, 1 + 4 * i, 4, 2), i == on ? lit[i] : QColor(0x80, 0x80, 0x80));
    }
    return pixmap;
}

// Paints column 0's pictures: the light, the icon and the overlay over it.
class CTransListDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != 0) {
            return;
        }
        QPixmap pictures(kLightWidth + kIconWidth, kPictureHeight);
        pictures.fill(Qt::transparent);
        QPainter p(&pictures);
        p.drawPixmap(
            0, 0,
            LightPixmap(static_cast<KV_REQ_TL>(index.data(CTransListView::LightRole).toUInt())));
        p.drawPixmap(kLightWidth, 0, ListBitmap(index.data(CTransListView::IconRole).toUInt()));
        const uint32_t overlay =
            kvmon::OverlayBitmap(index.data(CTransListView::OverlayRole).toInt());
        if (overlay != 0) {
            p.drawPixmap(kLightWidth, 0, ListBitmap(overlay));
        }
        p.end();
        option->icon = QIcon(pictures);
        option->decorationSize = pictures.size();
        option->features |= QStyleOptionViewItem::HasDecoration;
    }
};

// The list's tips come up after half a second, sooner than the style's
// usual delay: a request's tip is what a user hovering over it looks for.
class CTipDelayStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override
    {
        if (hint == QStyle::SH_ToolTip_WakeUpDelay) {
            return CTransListView::kTipDelayMs;
        }
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

} // namespace

const CRuntimeClass classCTransListView("CTransListView", &MakeTransListView, &classCView);

void CTransListView::CReqInfoTransNtf::notify(unsigned int id, KV_REQ_NTF kind)
{
    if (view != nullptr) {
        view->OnReqNtf(id, kind);
    }
}

CTransListView::CTransListView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName("translist");
    CKivrelApp::SetHelpTopic(this, "html\\ctrlwnd.htm#requests");
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setFont(CKivrelApp::Instance()->GetFont(0));
    setIconSize(QSize(kLightWidth + kIconWidth, kPictureHeight));
    setItemDelegate(new CTransListDelegate(this));
    setHeaderLabels({"Request", "Status", "Errors", "Start time"});
    // The widths were chosen for a narrower font than the desktop's: the
    // status and start-time columns grow to the longest text they show, so
    // "Completed" or a full start time is never cut.
    int widths[] = {300, 60, 50, 90};
    const QFontMetrics metrics(font());
    const int margin = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    for (uint32_t stat = KV_REQ_STAT_QUEUED; stat <= KV_REQ_STAT_CANCELLED; ++stat) {
        KV_REQ_TL light = KV_REQ_TL_NONE;
        const QString text = QString::fromUtf8(
            KV_FileReq::status_str(static_cast<KV_REQ_STAT>(stat), &light, nullptr));
        widths[1] = std::max(widths[1], metrics.horizontalAdvance(text) + margin);
    }
    // Every day of a year: each weekday and month name of the locale's form.
    constexpr long kDay = 86400;
    const long year = 1767225600 + 22 * 3600 + 22 * 60 + 22; // 2026-01-01 22:22:22
    for (long day = 0; day < 365; ++day) {
        const KV_Time start(year + day * kDay);
        widths[3] =
            std::max(widths[3], metrics.horizontalAdvance(ToQ(start.as_str("%c"))) + margin);
    }
    for (int i = 0; i < 4; ++i) {
        setColumnWidth(i, widths[i]);
    }
    // The application asks the style of the widget under the mouse, the
    // viewport, when to wake the tip.
    auto* tip_style = new CTipDelayStyle;
    tip_style->setParent(this);
    viewport()->setStyle(tip_style);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int column) { OnHeaderClicked(column); });
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] { OnSelectionChanged(); });

    tl_menu = new CTlMenu(this);
    tl_menu->setObjectName("tl_menu");
    tl_menu->Create(this, 32843, 32844, 32842);
    RegisterCommands();

    refresh.setSingleShot(true);
    refresh.setInterval(kRefreshMs);
    connect(&refresh, &QTimer::timeout, this, [this] { RefreshMarked(); });

    pool = CKivrelApp::Instance()->GetPool();
    if (KV_FileReqInfoMan* man = InfoMan()) {
        registered = man->reg(&receiver);
    }
}

CTransListView::~CTransListView()
{
    receiver.view = nullptr;
    if (registered && CKivrelApp::Instance()->GetPool() == pool) {
        if (KV_FileReqInfoMan* man = InfoMan()) {
            man->unreg(&receiver);
        }
    }
}

KV_FileReqInfoMan* CTransListView::InfoMan() const
{
    return pool != nullptr ? &pool->man_trans().man_info() : nullptr;
}

unsigned int CTransListView::IdOf(const QTreeWidgetItem* item)
{
    return item != nullptr ? item->data(0, IdRole).toUInt() : 0;
}

const KV_FileReqInfo* CTransListView::InfoOf(const QTreeWidgetItem* item) const
{
    KV_FileReqInfoMan* man = InfoMan();
    return man != nullptr && item != nullptr ? man->at(IdOf(item)) : nullptr;
}

QTreeWidgetItem* CTransListView::FindRow(unsigned int id) const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (IdOf(topLevelItem(i)) == id) {
            return topLevelItem(i);
        }
    }
    return nullptr;
}

unsigned int CTransListView::SelectedId() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? 0 : IdOf(selected.front());
}

bool CTransListView::AnyListed(int what) const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const KV_FileReqInfo* info = InfoOf(topLevelItem(i));
        if (info != nullptr && kvmon::ReqMatches(what, *info)) {
            return true;
        }
    }
    return false;
}

void CTransListView::AcknowledgeSelected()
{
    const unsigned int id = SelectedId();
    if (id != 0 && InfoMan() != nullptr) {
        InfoMan()->add_stop(id);
    }
}

int CTransListView::PictureWidth()
{
    return kLightWidth + kIconWidth;
}

bool CTransListView::IsBlinkLit() const
{
    auto* frm = qobject_cast<const CMainFrm*>(window());
    if (frm == nullptr) {
        frm = CKivrelApp::Instance()->GetMainFrm();
    }
    return frm != nullptr && frm->IsBlinkLit();
}

// ---------------------------------------------------------------- notices

void CTransListView::FillRow(QTreeWidgetItem* item, const KV_FileReqInfo& info)
{
    item->setText(0, kvmon::ReqRowText(info));
    item->setData(0, LightRole, static_cast<uint32_t>(info.tl()));
    item->setData(0, OverlayRole, kvmon::ReqOverlay(info));
    item->setText(1, QString::fromUtf8(info.status_str() != nullptr ? info.status_str() : ""));
    item->setText(2, QString::number(info.err_cnt()));
    item->setText(3, ToQ(info.tm_start().as_str("%c")));
    const QString tip = PlainToolTip(kvmon::ReqTipText(info));
    for (int c = 0; c < 4; ++c) {
        item->setToolTip(c, tip);
    }
}

bool CTransListView::SameState(const QTreeWidgetItem* item, const KV_FileReqInfo& info)
{
    return item->data(0, LightRole).toUInt() == static_cast<uint32_t>(info.tl()) &&
           item->data(0, OverlayRole).toInt() == kvmon::ReqOverlay(info) &&
           item->text(1) ==
               QString::fromUtf8(info.status_str() != nullptr ? info.status_str() : "") &&
           item->text(2) == QString::number(info.err_cnt());
}

void CTransListView::RefreshMarked()
{
    if (marked.isEmpty()) {
        return;
    }
    // Filled now: the next period starts, so that a steady flow of progress
    // fills the rows once per period.
    refresh.start();
    KV_FileReqInfoMan* man = InfoMan();
    const QSet<unsigned int> ids = std::exchange(marked, {});
    for (unsigned int id : ids) {
        const KV_FileReqInfo* info = man != nullptr ? man->at(id) : nullptr;
        QTreeWidgetItem* item = FindRow(id);
        if (info != nullptr && item != nullptr) {
            FillRow(item, *info);
        }
    }
}

void CTransListView::OnReqNtf(unsigned int id, KV_REQ_NTF kind)
{
    KV_FileReqInfoMan* man = InfoMan();
    if (man == nullptr) {
        return;
    }
    switch (kind) {
    case KV_REQ_NTF_INIT:
    case KV_REQ_NTF_STATUS: {
        const KV_FileReqInfo* info = man->at(id);
        if (info == nullptr) {
            return;
        }
        QTreeWidgetItem* item = FindRow(id);
        if (item == nullptr) {
            item = new QTreeWidgetItem;
            item->setData(0, IdRole, id);
            item->setData(0, IconRole, kvmon::ReqIconBitmap(info->type(), info->fileop()));
            addTopLevelItem(item);
            // With the information window open a new row must not take the
            // selection: the window would close on it.
            if (CDlgReqInfoLog::Instance() == nullptr) {
                selectionModel()->select(indexFromItem(item), QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
            }
            scrollToItem(item);
        } else if (kind == KV_REQ_NTF_STATUS && refresh.isActive() && SameState(item, *info)) {
            // Each repaint of a row costs a layout of its texts: a transfer
            // that reports every percent would spend the window's time on
            // rows nobody can read that fast.
            marked.insert(id);
            return;
        }
        marked.remove(id);
        FillRow(item, *info);
        // The first progress after a quiet spell shows at once; what
        // follows within the period waits for its end.
        if (kind == KV_REQ_NTF_STATUS && !refresh.isActive()) {
            refresh.start();
        }
        if (kind == KV_REQ_NTF_INIT && isVisible() && (info->flags() & 1) == 0) {
            ShowAddHint();
        }
        return;
    }
    case KV_REQ_NTF_ENDED: {
        marked.remove(id);
        QTreeWidgetItem* item = FindRow(id);
        if (item == nullptr) {
            return;
        }
        const bool was_selected = item->isSelected();
        const int index = indexOfTopLevelItem(item);
        delete item;
        if (was_selected && index < topLevelItemCount()) {
            setCurrentItem(topLevelItem(index));
        } else if (was_selected) {
            clearSelection();
        }
        CDlgReqInfoLog::CloseIf(id, true);
        return;
    }
    case KV_REQ_NTF_FLASH:
    case KV_REQ_NTF_FLASH_END: {
        const KV_FileReqInfo* info = man->at(id);
        QTreeWidgetItem* item = FindRow(id);
        const bool has_frame =
            qobject_cast<CMainFrm*>(window()) != nullptr || CKivrelApp::Instance()->GetMainFrm();
        if (info == nullptr || item == nullptr || !has_frame) {
            return;
        }
        item->setData(0, OverlayRole, kvmon::ReqBlinkOverlay(*info, kind, IsBlinkLit()));
        return;
    }
    default:
        return;
    }
}

void CTransListView::ShowAddHint()
{
    QWidget* owner = CKivrelApp::Instance()->GetMainFrm();
    CDlgAppInfo::Info("InfoReqAdd", 116, owner != nullptr ? owner : window(), false);
}

// ---------------------------------------------------------------- sorting

void CTransListView::SortByStartTime()
{
    sort_column = 3;
    SortRows();
}

void CTransListView::OnHeaderClicked(int column)
{
    if (column == sort_column) {
        sort_flag = !sort_flag;
    } else {
        sort_column = column;
    }
    SortRows();
}

void CTransListView::SortRows()
{
    if (sort_column < 0 || topLevelItemCount() < 2) {
        return;
    }
    const unsigned int selected = SelectedId();
    const unsigned int current = IdOf(currentItem());
    const QSignalBlocker block(this);
    QList<QTreeWidgetItem*> rows;
    while (topLevelItemCount() > 0) {
        rows.append(takeTopLevelItem(0));
    }
    const int column = sort_column;
    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        const int r = column == 3
                          ? kvmon::CompareReqStart(InfoOf(a), InfoOf(b), sort_flag)
                          : kvmon::CompareTexts(a->text(column), b->text(column), sort_flag);
        return r < 0;
    });
    addTopLevelItems(rows);
    if (QTreeWidgetItem* item = FindRow(current)) {
        setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
    if (QTreeWidgetItem* item = FindRow(selected)) {
        item->setSelected(true);
    }
}

// ---------------------------------------------------------------- commands

void CTransListView::RegisterCommands()
{
    auto enabler = [this](CCmdUI& ui) {
        const unsigned int id = SelectedId();
        ui.Enable(id != 0 && kvmon::ReqCommandEnabled(ui.m_nID, InfoOf(FindRow(id))));
    };
    auto add_task = [this](const KV_FileReqTask& task) {
        if (pool != nullptr) {
            pool->man_trans().add_task(task);
        }
    };
    CCommandLayer::On(
        this, 32823, [this](uint32_t) { CancelSelected(); }, enabler);
    CCommandLayer::On(
        this, 32843, [this](uint32_t) { CancelSelected(); }, enabler);
    for (uint32_t cmd : {32827u, 32781u}) {
        CCommandLayer::On(
            this, cmd,
            [this, add_task](uint32_t) {
                add_task(KV_FileReqTaskDelete(SelectedId(), false, false));
            },
            enabler);
    }
    CCommandLayer::On(
        this, 32833, [this, add_task](uint32_t) { add_task(KV_FileReqTaskRestart(SelectedId())); },
        enabler);
    for (uint32_t cmd : {32831u, 32844u}) {
        CCommandLayer::On(
            this, cmd,
            [this, add_task](uint32_t) { add_task(KV_FileReqTaskPause(SelectedId(), true)); },
            enabler);
    }
    CCommandLayer::On(
        this, 32825,
        [this, add_task](uint32_t) { add_task(KV_FileReqTaskPause(SelectedId(), false)); },
        enabler);
    CCommandLayer::On(
        this, 32842,
        [this, add_task](uint32_t) {
            const unsigned int id = SelectedId();
            const KV_FileReqInfo* info = InfoOf(FindRow(id));
            if (info != nullptr && info->status() == KV_REQ_STAT_PAUSED) {
                add_task(KV_FileReqTaskPause(id, false));
            } else {
                add_task(KV_FileReqTaskRestart(id));
            }
        },
        enabler);
    CCommandLayer::On(
        this, 32835, [this, add_task](uint32_t) { add_task(KV_FileReqTaskSkipErr(SelectedId())); },
        enabler);
    CCommandLayer::On(
        this, 32829,
        [this](uint32_t) {
            const unsigned int id = SelectedId();
            AcknowledgeSelected();
            CDlgReqInfoLog::ShowRequest(id);
        },
        enabler);
    CCommandLayer::On(
        this, 32822, [this, add_task](uint32_t) { add_task(KV_FileReqTaskBrowse(SelectedId())); },
        enabler);
    for (uint32_t cmd : {32830u, 32819u}) {
        CCommandLayer::On(
            this, cmd,
            [this, add_task](uint32_t) { add_task(KV_FileReqTaskPropReq(SelectedId(), 0)); },
            enabler);
    }
}

void CTransListView::CancelSelected()
{
    const unsigned int id = SelectedId();
    if (id == 0 || pool == nullptr) {
        return;
    }
    if (pool->informer().ask("Are you sure you want to cancel the selected request ?", KV_ANS_YES,
                             KV_ASK_YES_NO, nullptr) == KV_ANS_YES) {
        pool->man_trans().add_task(KV_FileReqTaskCancel(id, false));
    }
}

// ---------------------------------------------------------------- mouse and keys

bool CTransListView::OnPicture(const QPoint& pos, QTreeWidgetItem** item) const
{
    QTreeWidgetItem* at = itemAt(pos);
    if (at == nullptr) {
        return false;
    }
    const QRect cell = visualItemRect(at);
    const int x = pos.x() - (cell.left() - header()->offset() + header()->sectionPosition(0));
    // The pictures follow the cell's margin; a few pixels either side count.
    if (x < 0 || x > PictureWidth() + 6 || indexAt(pos).column() != 0) {
        return false;
    }
    *item = at;
    return true;
}

void CTransListView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mousePressEvent(event);
        return;
    }
    QTreeWidgetItem* item = nullptr;
    if (OnPicture(event->position().toPoint(), &item)) {
        setFocus(Qt::MouseFocusReason);
        setCurrentItem(item);
        tl_menu->Open(event->globalPosition().toPoint());
        AcknowledgeSelected();
        return;
    }
    QTreeWidget::mousePressEvent(event);
    AcknowledgeSelected();
}

void CTransListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint()) != nullptr) {
        CCommandLayer::Execute(window(), 32829);
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

bool CTransListView::event(QEvent* event)
{
    // Enter and Delete are the list's own keys, whatever the window's
    // shortcuts say (its menus give Enter to more than one command).
    if (event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Delete) {
            event->accept();
            return true;
        }
    }
    return QTreeWidget::event(event);
}

void CTransListView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        CCommandLayer::Execute(window(), 32829);
        return;
    case Qt::Key_Delete:
        CCommandLayer::Execute(window(), 32827);
        return;
    default:
        QTreeWidget::keyPressEvent(event);
    }
}

void CTransListView::contextMenuEvent(QContextMenuEvent* event)
{
    QTreeWidgetItem* item = nullptr;
    if (event->reason() == QContextMenuEvent::Mouse && OnPicture(event->pos(), &item)) {
        setCurrentItem(item);
    }
    if (SelectedId() == 0) {
        return;
    }
    AcknowledgeSelected();
    auto* frame = qobject_cast<CNewFrameWnd*>(window());
    if (frame == nullptr) {
        return;
    }
    if (CNewMenu* popup = FindMenuByText(&frame->DefaultMenu(), "Re&quest", nullptr, true)) {
        if (QMenu* menu = popup->GetSafeHmenu()) {
            menu->popup(event->globalPos());
        }
    }
}

void CTransListView::focusInEvent(QFocusEvent* event)
{
    QTreeWidget::focusInEvent(event);
    if (currentItem() == nullptr && topLevelItemCount() > 0) {
        setCurrentItem(topLevelItem(0));
    }
}

void CTransListView::OnSelectionChanged()
{
    const unsigned int id = SelectedId();
    if (id != 0 && CDlgReqInfoLog::Instance() != nullptr &&
        GetProfileInt("UI", "ReqInfoClose", 1) != 0) {
        CDlgReqInfoLog::CloseIf(id, false);
    }
}
