#include "browse/browsesplt.h"

#include "browse/browsefrm.h"
#include "browse/filemandata.h"
#include "foundation/kv_filetreenode.h"
#include "menus/kvtoolbar.h"
#include "menus/menufind.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"
#include "transfers/kv_filereqtaskstrans.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>

namespace {

QPointer<CBrowseSplt> g_in_creation;

QWidget* MakeBrowseSplt()
{
    return new CBrowseSplt(KV_FileManId(), KV_FileManId(), 0);
}

// The check items of the side popups: tree, list, details.
const uint32_t kLeftItems[3] = {32815, 32814, 32816};
const uint32_t kRightItems[3] = {32837, 32836, 32838};

const CRuntimeClass* const kViewClasses[3] = {&classCFileTreeView, &classCFileListView,
                                              &classCFileDetailView};

// Which view kind (0 tree, 1 list, 2 details) a view class is; -1 for none.
int ViewKind(const CRuntimeClass* view)
{
    for (int i = 0; i < 3; ++i) {
        if (view != nullptr && view->IsDerivedFrom(kViewClasses[i])) {
            return i;
        }
    }
    return -1;
}

const int kTreeWidth = 225;
const int kListWidth = 240;
const int kMinWidth = 450;
const int kHeight = 480;

} // namespace

const CRuntimeClass CBrowseSplt::classCBrowseSplt("CBrowseSplt", &MakeBrowseSplt,
                                                  &CInnerFrm::classCInnerFrm);

CBrowseSplt* BrowseWndInCreation()
{
    return g_in_creation.data();
}

// ---------------------------------------------------------------------------
// CBrowseMsgPane

CBrowseMsgPane::CBrowseMsgPane(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void CBrowseMsgPane::SetPaneText(const QString& text)
{
    raw = text;
    bool red = false;
    // The label keeps the shown text for readers (accessibility, tests);
    // painting is done here.
    setText(Shown(text, &red));
    update();
}

QString CBrowseMsgPane::Shown(const QString& text, bool* red)
{
    *red = false;
    const QString sep = QStringLiteral("\r\n");
    if (!text.startsWith(sep)) {
        return text;
    }
    const qsizetype end = text.indexOf(sep, 3);
    if (end < 0) {
        return text;
    }
    bool ok = false;
    const uint code = text.mid(2, end - 2).toUInt(&ok);
    *red = ok && code != 0;
    return text.mid(end + 2);
}

void CBrowseMsgPane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QRect r = contentsRect();
    p.fillRect(r, palette().button());
    r.adjust(1, 0, 0, -1);
    bool red = false;
    const QString shown = Shown(raw, &red);
    p.setPen(red ? QColor(255, 0, 0) : palette().color(QPalette::ButtonText));
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, shown);
}

// ---------------------------------------------------------------------------
// CBrowseSplt

void CBrowseSplt::CBrowseSpltNtf::node_updated(KV_FileTreeNode* node)
{
    if (wnd != nullptr) {
        wnd->ShowNodeCounts(node);
    }
}

CBrowseSplt::CBrowseSplt(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags,
                         QWidget* parent)
    : CInnerFrm(1, 0, parent), ntf(this), left(left), right(right), flags(flags)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CBrowseSplt::~CBrowseSplt()
{
    // The panes go with the window; their views must not report to a
    // window that is half destroyed.
    if (g_in_creation == this) {
        g_in_creation = nullptr;
    }
    tearing_down = true;
    delete GetSplitter();
}

CBrowseSplt* CBrowseSplt::FromChild(QWidget* wnd)
{
    for (QWidget* w = wnd; w != nullptr; w = w->parentWidget()) {
        if (auto* browse = qobject_cast<CBrowseSplt*>(w)) {
            return browse;
        }
    }
    return nullptr;
}

const CRuntimeClass* CBrowseSplt::PaneClassOf(const KV_DsId& id)
{
    if (!id.valid()) {
        return nullptr;
    }
    switch (id.type()) {
    case 1:
        return &CBrowseStd::classCBrowseStd;
    case 2:
        return &CBrowseFtp::classCBrowseFtp;
    case 3:
        return &CBrowseSftp::classCBrowseSftp;
    case 4:
        return &CBrowseHttp::classCBrowseHttp;
    default:
        return nullptr;
    }
}

int CBrowseSplt::SideWidth(uint8_t side_flags)
{
    return ((side_flags & kTree) != 0 ? kTreeWidth : 0) +
           ((side_flags & kList) != 0 ? kListWidth : 0);
}

int CBrowseSplt::InitialWidth(const KV_FileManId& left, const KV_FileManId& right, uint16_t flags)
{
    int width = 0;
    if (left.valid()) {
        width += SideWidth(static_cast<uint8_t>(flags & 0xFF));
    }
    if (right.valid()) {
        width += SideWidth(static_cast<uint8_t>(flags >> 8));
    }
    return std::max(width, kMinWidth);
}

const KV_FileManId* CBrowseSplt::GetSideId(uint32_t side) const
{
    return side == kLeft ? &left : side == kRight ? &right : nullptr;
}

bool CBrowseSplt::HasNoListPane(uint32_t side) const
{
    if (side == kLeft) {
        return (GetLeftFlags() & kList) == 0;
    }
    if (side == kRight) {
        return (GetRightFlags() & kList) == 0;
    }
    return false;
}

bool CBrowseSplt::IsTwoPane() const
{
    return PaneClassOf(left) != nullptr && PaneClassOf(right) != nullptr;
}

CBrowseFrm* CBrowseSplt::GetPane(uint32_t side) const
{
    CFileSplitter* splitter = GetSplitter();
    for (int i = 0; i < splitter->count(); ++i) {
        auto* pane = qobject_cast<CBrowseFrm*>(splitter->widget(i));
        if (pane != nullptr && pane->GetNumber() == side) {
            return pane;
        }
    }
    return nullptr;
}

KV_FileManId CBrowseSplt::GetLeftManId() const
{
    // A side whose views are all gone is closed, whatever its pane holds.
    CBrowseFrm* pane = left.valid() ? GetPane(kLeft) : nullptr;
    return pane != nullptr && pane->GetData() != nullptr ? pane->GetData()->GetManId()
                                                         : KV_FileManId();
}

KV_FileManId CBrowseSplt::GetRightManId() const
{
    CBrowseFrm* pane = right.valid() ? GetPane(kRight) : nullptr;
    return pane != nullptr && pane->GetData() != nullptr ? pane->GetData()->GetManId()
                                                         : KV_FileManId();
}

CFileManData* CBrowseSplt::GetFocusData() const
{
    CBrowseFrm* pane = CBrowseFrm::FromChild(QApplication::focusWidget());
    if (pane == nullptr || FromChild(pane) != this) {
        return nullptr;
    }
    return pane->GetData();
}

QWidget* CBrowseSplt::GetListView() const
{
    return GetSplitter()->LocatePane(GetSplitter()->GetFocusPaneInfo(&classCFileListView));
}

// ---------------------------------------------------------------------------
// creation

void CBrowseSplt::OnBeforeCreatePane(const CRuntimeClass*)
{
    g_in_creation = this;
}

void CBrowseSplt::OnAfterCreatePane(const CRuntimeClass*)
{
    g_in_creation = nullptr;
}

bool CBrowseSplt::CreateFrame()
{
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\browsewnd.htm"));
    resize(InitialWidth(left, right, flags), kHeight);
    const CRuntimeClass* left_cls = PaneClassOf(left);
    const CRuntimeClass* right_cls = PaneClassOf(right);
    if (left_cls == nullptr) {
        return false;
    }
    GetSplitter()->AddPane(left_cls, SideWidth(GetLeftFlags()), kLeft);
    if (right_cls != nullptr) {
        GetSplitter()->AddPane(right_cls, SideWidth(GetRightFlags()), kRight);
    }
    const uint8_t lf = GetLeftFlags();
    const CRuntimeClass* first = (lf & kTree) != 0      ? &classCFileTreeView
                                 : (lf & kList) != 0    ? &classCFileListView
                                 : (lf & kDetails) != 0 ? &classCFileDetailView
                                                        : &classCFileTreeView;
    CFileSplitter::SetPendingPane(CPaneInfo(first, kLeft));
    if (!LoadFrame(109)) {
        return false;
    }
    const bool made = Create();
    g_in_creation = nullptr;
    if (!made) {
        return false;
    }
    if (!popups.LoadMenu(110)) {
        return false;
    }
    popups.SetOwnerWindow(this);
    if (right_cls == nullptr) {
        if (QMenu* popup = SidePopup(kRight)) {
            DeleteSubMenu(&DefaultMenu(), popup);
        }
    }

    toolbar = new CKVToolBar(this);
    toolbar->setObjectName(QStringLiteral("toolbar_browse"));
    if (!toolbar->LoadToolBar(109)) {
        return false;
    }
    toolbar->SetBitmaps(32, 33);
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (QAction* action : toolbar->actions()) {
        auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
        if (button == nullptr) {
            continue;
        }
        if (action->objectName() == kvres::CommandName(32813)) {
            button->setPopupMode(QToolButton::MenuButtonPopup);
        } else if (action->objectName() == kvres::CommandName(32801)) {
            button->setText(QStringLiteral("Delete"));
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        } else if (action->objectName() == kvres::CommandName(32806)) {
            button->setText(QStringLiteral("Refresh"));
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        }
    }
    addToolBar(Qt::TopToolBarArea, toolbar);

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusbar_browse"));
    msg_pane = new CBrowseMsgPane(bar);
    msg_pane->setObjectName(QStringLiteral("status_message"));
    count_pane = new QLabel(bar);
    count_pane->setObjectName(QStringLiteral("status_count"));
    count_pane->setTextFormat(Qt::PlainText);
    size_pane = new QLabel(bar);
    size_pane->setObjectName(QStringLiteral("status_size"));
    size_pane->setTextFormat(Qt::PlainText);
    const QFontMetrics metrics(bar->font());
    count_pane->setMinimumWidth(metrics.horizontalAdvance(kvres::LoadString(32811)));
    size_pane->setMinimumWidth(metrics.horizontalAdvance(kvres::LoadString(32812)));
    bar->addWidget(msg_pane, 1);
    bar->addPermanentWidget(count_pane);
    bar->addPermanentWidget(size_pane);
    SetIdleText();

    toolbar->AddMenuImages(&DefaultMenu());
    toolbar->AddMenuImages(&popups);
    // The application's command pictures come from a toolbar that is never
    // shown.
    CKVToolBar app_bar;
    if (app_bar.LoadToolBar(113)) {
        app_bar.AddMenuImages(&DefaultMenu());
        app_bar.AddMenuImages(&popups);
    }
    RegisterCommands();

    for (uint32_t side : {kRight, kLeft}) {
        const uint8_t bits = side == kLeft ? GetLeftFlags() : GetRightFlags();
        if (PaneClassOf(side == kLeft ? left : right) == nullptr) {
            continue;
        }
        for (int kind = 0; kind < 3; ++kind) {
            if ((bits & (1u << kind)) != 0) {
                GetSplitter()->ShowPane(CPaneInfo(kViewClasses[kind], side));
                g_in_creation = nullptr;
            }
        }
    }
    UpdateTitle();
    return true;
}

void CBrowseSplt::RegisterCommands()
{
    RegisterConnCommands();
    RegisterFileCommands();
}

// ---------------------------------------------------------------------------
// views, popups, title

QMenu* CBrowseSplt::SidePopup(uint32_t side) const
{
    CNewMenu* menu =
        FindMenuById(const_cast<CNewMenu*>(&default_menu_), side == kLeft ? 32815 : 32837);
    return menu != nullptr ? menu->GetSafeHmenu() : nullptr;
}

namespace {

QAction* ItemOf(QMenu* popup, uint32_t id)
{
    if (popup == nullptr) {
        return nullptr;
    }
    const QString name = kvres::CommandName(id);
    for (QAction* action : popup->actions()) {
        if (action->objectName() == name) {
            return action;
        }
    }
    return nullptr;
}

} // namespace

void CBrowseSplt::OnViewShown(const CRuntimeClass* view, uint32_t side)
{
    if (tearing_down) {
        return;
    }
    const int kind = ViewKind(view);
    QMenu* popup = SidePopup(side);
    if (kind >= 0 && popup != nullptr) {
        if (QAction* item = ItemOf(popup, (side == kLeft ? kLeftItems : kRightItems)[kind])) {
            item->setCheckable(true);
            item->setChecked(true);
        }
    }
    OnPaneActivated(nullptr);
}

void CBrowseSplt::OnViewHidden(const CRuntimeClass* view, uint32_t side)
{
    if (tearing_down) {
        return;
    }
    const int kind = ViewKind(view);
    QMenu* popup = SidePopup(side);
    if (kind >= 0 && popup != nullptr) {
        const uint32_t* items = side == kLeft ? kLeftItems : kRightItems;
        if (QAction* item = ItemOf(popup, items[kind])) {
            item->setChecked(false);
        }
        bool any = false;
        for (int i = 0; i < 3; ++i) {
            QAction* item = ItemOf(popup, items[i]);
            any = any || (item != nullptr && item->isChecked());
        }
        if (!any) {
            // The side shows nothing any more: it is closed.
            DeleteSubMenu(&DefaultMenu(), popup);
            if (CBrowseFrm* other = GetPane(side == kLeft ? kRight : kLeft)) {
                other->DropStatusBar();
            }
            (side == kLeft ? left : right) = KV_FileManId();
            UpdateTitle();
        }
    }
    OnPaneActivated(nullptr);
}

void CBrowseSplt::OnPaneActivated(KV_FileTreeNode* node)
{
    if (CFileManData* data = GetFocusData()) {
        if (KV_FileTree* tree = data->GetFileTree()) {
            tree->set_act_inf(node);
        }
        ShowNodeCounts(node);
    } else {
        ShowNodeCounts(nullptr);
    }
    FindDataSource(false);
    UpdateDataSourceMenu(nullptr);
}

void CBrowseSplt::UpdateTitle()
{
    QString text;
    for (uint32_t side : {kLeft, kRight}) {
        if (PaneClassOf(side == kLeft ? left : right) == nullptr) {
            continue;
        }
        CBrowseFrm* pane = GetPane(side);
        const QString title = pane != nullptr ? pane->GetTitle() : QString();
        if (!text.isEmpty()) {
            text += QStringLiteral(", ");
        }
        text += title;
        if (QMenu* popup = SidePopup(side)) {
            // A name is shown as it is ("&" no mnemonic); the digit keeps
            // the popup one key away whatever the name's letters.
            QString shown = title;
            shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
            SetMenuItemText(&DefaultMenu(), popup,
                            (side == kLeft ? QStringLiteral("&1 ") : QStringLiteral("&2 ")) +
                                shown);
        }
    }
    if (windowTitle() != text) {
        setWindowTitle(text);
    }
}

void CBrowseSplt::UpdateDataSourceMenu(QWidget* fallback)
{
    CNewMenu& bar = DefaultMenu();
    uint32_t pos = 0;
    CNewMenu* current = FindMenuByText(&bar, QStringLiteral("&Data Source"), &pos, false);
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || FromChild(focus) != this) {
        focus = fallback;
    }
    CBrowseFrm* pane = CBrowseFrm::FromChild(focus);
    const char* name = pane != nullptr ? pane->GetProtoPopupName() : nullptr;
    CNewMenu* wanted = name != nullptr
                           ? FindMenuByText(&popups, QString::fromLatin1(name), nullptr, false)
                           : nullptr;
    if (current == wanted && wanted != nullptr) {
        return;
    }
    if (pane == nullptr) {
        // No pane has the focus: the popup goes and none replaces it.
        if (current != nullptr) {
            bar.RemoveItemById(pos, MF_BYPOSITION);
            DrawMenuBar();
        }
        return;
    }
    if (wanted == nullptr) {
        return;
    }
    if (current != nullptr) {
        bar.RemoveItemById(pos, MF_BYPOSITION);
    }
    bar.InsertItemWithIcon(2, QStringLiteral("&Data Source"),
                           MF_POPUP | MF_OWNERDRAW | MF_BYPOSITION,
                           MenuHandleId(wanted->GetSafeHmenu()), -1);
    DrawMenuBar();
}

// ---------------------------------------------------------------------------
// status bar

void CBrowseSplt::SetStatusText(const QString& text, uint32_t code)
{
    if (msg_pane == nullptr) {
        return;
    }
    msg_pane->SetPaneText(code == 0 ? text : QStringLiteral("\r\n%1\r\n%2").arg(code).arg(text));
}

void CBrowseSplt::SetIdleText()
{
    SetStatusText(kvres::LoadString(57345), 0);
}

void CBrowseSplt::ShowNodeCounts(KV_FileTreeNode* node)
{
    if (count_pane == nullptr || size_pane == nullptr) {
        return;
    }
    if (node == nullptr) {
        count_pane->clear();
        size_pane->clear();
        return;
    }
    count_pane->setText(QStringLiteral("%1 %2").arg(node->valid_items()).arg("item(s)"));
    size_pane->setText(FormatByteAmount(static_cast<double>(node->sum_size()), false, true));
}

QString CBrowseSplt::StatusText() const
{
    return msg_pane != nullptr ? msg_pane->PaneText() : QString();
}

QString CBrowseSplt::CountText() const
{
    return count_pane != nullptr ? count_pane->text() : QString();
}

QString CBrowseSplt::SizeText() const
{
    return size_pane != nullptr ? size_pane->text() : QString();
}

// ---------------------------------------------------------------------------
// closing

bool CBrowseSplt::DestroyIfIdle()
{
    if (isVisible() || destroying) {
        return false;
    }
    for (uint32_t side : {kLeft, kRight}) {
        CBrowseFrm* pane = GetPane(side);
        if (pane == nullptr) {
            continue;
        }
        // A side that never bound a manager holds no lock and so waits for
        // nothing.
        CFileManData* data = pane->GetData();
        KV_FileMan* man = data != nullptr ? data->GetFileMan() : nullptr;
        if (man != nullptr && man->lock_cnt() > 1) {
            return false;
        }
    }
    destroying = true;
    deleteLater();
    return true;
}

void CBrowseSplt::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
    if (DestroyIfIdle()) {
        return;
    }
    KV_FileManPool* pool =
        CKivrelApp::Instance() != nullptr ? CKivrelApp::Instance()->GetPool() : nullptr;
    if (pool == nullptr) {
        return;
    }
    for (uint32_t side : {kLeft, kRight}) {
        CBrowseFrm* pane = GetPane(side);
        if (pane != nullptr && pane->GetData() != nullptr) {
            pool->man_trans().add_task(
                KV_FileReqTaskUsgChck(pool->informer(), pane->GetData()->GetManId()));
        }
    }
}

void CBrowseSplt::changeEvent(QEvent* event)
{
    CInnerFrm::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        FindDataSource(false);
    }
}
