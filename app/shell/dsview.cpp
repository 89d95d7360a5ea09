#include "shell/dsview.h"

#include "core/fileclip.h"
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "menus/commands.h"
#include "menus/menufind.h"
#include "menus/newframe.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"

#include <QDrag>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

namespace {

QWidget* MakeDsView()
{
    return new CDsView;
}

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

constexpr int kNodeRole = Qt::UserRole;

// Items order themselves as the view sorts its nodes.
class CDsItem : public QTreeWidgetItem
{
public:
    bool operator<(const QTreeWidgetItem& other) const override
    {
        return CDsView::CompareNodes(CDsView::NodeOf(this), CDsView::NodeOf(&other));
    }
};

// The label editor: its text is committed whichever way the edit ends, and
// the item's text is left to the engine tree's notice.
class CLabelDelegate : public QStyledItemDelegate
{
public:
    explicit CLabelDelegate(CDsView* view) : QStyledItemDelegate(view), view(view) {}

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        if (edit == nullptr || committed.contains(editor)) {
            return;
        }
        committed.append(editor);
        QTreeWidgetItem* item = view->itemFromIndex(index);
        if (item != nullptr) {
            view->CommitLabel(item, edit->text());
        }
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* editor = qobject_cast<QWidget*>(object);
        if (editor != nullptr && event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            // Escape commits: a new node must not stay without its name.
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    CDsView* view;
    mutable QList<QWidget*> committed;
};

bool IsGroup(const KV_DsTreeNode* node)
{
    return node != nullptr && node->type() == KV_DS_NODE_GRP;
}

} // namespace

const CRuntimeClass CDsView::classCDsView("CDsView", &MakeDsView, &classCView);

CDsView::CDsView(QWidget* parent) : QTreeWidget(parent), pool(CKivrelApp::Instance()->GetPool())
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new CLabelDelegate(this));
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setMouseTracking(true);
    CKivrelApp::SetHelpTopic(this, "html\\ctrlwnd.htm#datasrc");
    RegisterCommands();
    Attach();
}

CDsView::~CDsView()
{
    receiver.owner = nullptr;
    if (pool != nullptr && CKivrelApp::Instance()->GetPool() == pool) {
        pool->tree().set_ntf(nullptr);
    }
}

void CDsView::Detach()
{
    if (pool != nullptr) {
        pool->tree().set_ntf(nullptr);
    }
    clear();
}

void CDsView::Attach()
{
    clear();
    if (pool == nullptr) {
        return;
    }
    pool->tree().set_ntf(&receiver);
    building = true;
    pool->tree().refresh();
    building = false;
    built.clear();
    addTopLevelItems(built_top);
    built_top.clear();
}

bool CDsView::CompareNodes(const KV_DsTreeNode* a, const KV_DsTreeNode* b)
{
    if (a == nullptr || b == nullptr) {
        return a == nullptr && b != nullptr;
    }
    const bool ga = IsGroup(a);
    const bool gb = IsGroup(b);
    if (ga != gb) {
        return ga;
    }
    return a->disp_name().compare(b->disp_name(), false) < 0;
}

KV_DsTreeNode* CDsView::NodeOf(const QTreeWidgetItem* item)
{
    return item == nullptr
               ? nullptr
               : reinterpret_cast<KV_DsTreeNode*>(item->data(0, kNodeRole).value<quintptr>());
}

QTreeWidgetItem* CDsView::FindChildItem(QTreeWidgetItem* parent, const KV_DsTreeNode* node) const
{
    if (parent == nullptr) {
        QTreeWidgetItem* first = topLevelItem(0);
        return first != nullptr && NodeOf(first) == node ? first : nullptr;
    }
    for (int i = 0; i < parent->childCount(); ++i) {
        if (NodeOf(parent->child(i)) == node) {
            return parent->child(i);
        }
    }
    return nullptr;
}

QTreeWidgetItem* CDsView::FindItemByPath(const KV_DsTreePath& path) const
{
    QTreeWidgetItem* item = nullptr;
    for (uint32_t i = 0; i < path.size(); ++i) {
        item = FindChildItem(item, path.at(i));
        if (item == nullptr) {
            return nullptr;
        }
    }
    return item;
}

QTreeWidgetItem* CDsView::GetGroupItem(QTreeWidgetItem* item) const
{
    for (item = item != nullptr ? item : SelectedItem(); item != nullptr; item = item->parent()) {
        if (IsGroup(NodeOf(item))) {
            return item;
        }
    }
    return nullptr;
}

QTreeWidgetItem* CDsView::SelectedItem() const
{
    return currentItem();
}
KV_DsTreeNode* CDsView::SelectedNode() const
{
    return NodeOf(currentItem());
}

QTreeWidgetItem* CDsView::InsertNodeItem(QTreeWidgetItem* parent, KV_DsTreeNode* node)
{
    auto* item = new CDsItem;
    item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
                   Qt::ItemIsDropEnabled);
    item->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
    if (building) {
        built.insert(node, item);
    }
    if (parent == nullptr && building) {
        built_top.append(item);
    } else if (parent == nullptr) {
        addTopLevelItem(item);
    } else {
        parent->addChild(item);
    }
    UpdateNodeItem(item, node);
    return item;
}

void CDsView::UpdateNodeItem(QTreeWidgetItem* item, const KV_DsTreeNode* node)
{
    const QString old = item->text(0);
    if (node != nullptr) {
        item->setText(0, ToQ(node->disp_name()));
    }
    int image = 0;
    int selected = 0;
    CKivrelApp* app = CKivrelApp::Instance();
    if (app->GetNodeImages(NodeOf(item), image, selected, false)) {
        item->setIcon(0, app->GetDsImageList().Icon(image));
    }
    // Greyed: temporary data sources and protocol groups.
    const KV_DsTreeNode* n = NodeOf(item);
    QBrush brush;
    if (IsGroup(n)) {
        if (static_cast<const KV_DsTreeNodeGrp*>(n)->type_grp() != KV_DS_NODE_NONE) {
            brush = QColor(96, 96, 96);
        }
    } else if (n != nullptr && n->opts() != nullptr && n->opts()->temporary()) {
        brush = QColor(160, 160, 160);
    }
    item->setForeground(0, brush);
    if (item->text(0) != old && !old.isEmpty() && item->parent() != nullptr) {
        item->parent()->sortChildren(0, Qt::AscendingOrder);
    } else if (item->text(0) != old && !old.isEmpty()) {
        sortItems(0, Qt::AscendingOrder);
    }
}

void CDsView::OnDsTreeNtf(KV_DsTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath& path,
                          uint8_t flags)
{
    QTreeWidgetItem* parent = nullptr;
    if (path.size() != 0) {
        // A refresh announces parents first: their items are known already.
        parent = building ? built.value(path.at(path.size() - 1)) : FindItemByPath(path);
        if (parent == nullptr) {
            return; // a path the view does not know
        }
    }
    QTreeWidgetItem* item = nullptr;
    switch (ntf) {
    case KV_TREE_NODE_REMOVED:
        delete FindChildItem(parent, node);
        return;
    case KV_TREE_NODE_CHANGED:
        item = FindChildItem(parent, node);
        if (item != nullptr) {
            UpdateNodeItem(item, node);
        }
        break;
    case KV_TREE_NODE_STATUS:
        item = FindChildItem(parent, node);
        break;
    default:
        item = InsertNodeItem(parent, node);
        break;
    }
    if (item != nullptr && (flags & 3) != 0) {
        setCurrentItem(item);
        if ((flags & 1) != 0) {
            QMetaObject::invokeMethod(
                this, [this] { CCommandLayer::Execute(window(), 32793); }, Qt::QueuedConnection);
        }
    }
}

void CDsView::EditLabel(QTreeWidgetItem* item)
{
    const KV_DsTreeNode* node = NodeOf(item);
    if (node == nullptr || pool == nullptr || pool->tree().rdonly(node->id(), false)) {
        return;
    }
    setCurrentItem(item);
    scrollToItem(item);
    editItem(item, 0);
}

void CDsView::CommitLabel(QTreeWidgetItem* item, const QString& text)
{
    KV_DsTreeNode* node = NodeOf(item);
    if (node == nullptr || pool == nullptr) {
        return;
    }
    KV_DsTreeNode* clone = pool->tree().clone(node, false);
    bool ok = false;
    if (clone != nullptr) {
        clone->set_name(KV_String(text.trimmed().toUtf8().constData()));
        ok = pool->update(node, clone, node->name().length() == 0 ? 1 : 0);
        KV_DsTreeNode::destr_clone(clone);
    }
    if (!ok) {
        QPointer<CDsView> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, node] {
                if (self != nullptr) {
                    // The item may have gone meanwhile; find it again.
                    for (QTreeWidgetItemIterator it(self); *it != nullptr; ++it) {
                        if (NodeOf(*it) == node) {
                            self->EditLabel(*it);
                            return;
                        }
                    }
                }
            },
            Qt::QueuedConnection);
    }
}

bool CDsView::CanChangeSelected(bool in_use) const
{
    const KV_DsTreeNode* node = SelectedNode();
    return node != nullptr && pool != nullptr && IsFocusIn(this) &&
           !pool->tree().rdonly(node->id(), in_use);
}

void CDsView::DeleteSelected()
{
    KV_DsTreeNode* node = SelectedNode();
    if (node == nullptr || pool == nullptr) {
        return;
    }
    const QString q =
        QString("Are you sure you want to delete the data source %1 ?").arg(ToQ(node->name()));
    if (pool->informer().ask(KV_String(q.toUtf8().constData()), KV_ANS_YES, KV_ASK_YES_NO,
                             nullptr) == KV_ANS_YES) {
        pool->tree().remove(node);
    }
}

bool CDsView::MoveNode(KV_DsTreeNode* node, QTreeWidgetItem* target, bool test)
{
    QTreeWidgetItem* group = GetGroupItem(target);
    if (node == nullptr || group == nullptr || pool == nullptr || target == nullptr) {
        return false;
    }
    return pool->tree().move(node, NodeOf(group), test);
}

void CDsView::OpenOrToggle(QTreeWidgetItem* item, bool open_nongroups)
{
    if (item == nullptr) {
        return;
    }
    if (open_nongroups) {
        CKivrelApp::Instance()->BrowseNode(NodeOf(item));
    } else {
        item->setExpanded(!item->isExpanded());
    }
}

void CDsView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidgetItem* item = SelectedItem();
    if (item == nullptr) {
        QTreeWidget::mouseDoubleClickEvent(event);
        return;
    }
    const bool open = GetProfileInt("UI", "DsDblclckNew", 1) != 0 ? !IsGroup(NodeOf(item))
                                                                  : item->childCount() == 0;
    if (open) {
        OpenOrToggle(item, true);
    } else {
        QTreeWidget::mouseDoubleClickEvent(event);
    }
}

void CDsView::keyPressEvent(QKeyEvent* event)
{
    if (state() != QAbstractItemView::EditingState) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            QTreeWidgetItem* item = SelectedItem();
            OpenOrToggle(item, item != nullptr && !IsGroup(NodeOf(item)));
            return;
        }
        if (event->key() == Qt::Key_Delete) {
            CCommandLayer::Execute(window(), 32781);
            return;
        }
    }
    QTreeWidget::keyPressEvent(event);
}

void CDsView::focusInEvent(QFocusEvent* event)
{
    QTreeWidget::focusInEvent(event);
    if (currentItem() == nullptr && topLevelItemCount() > 0) {
        setCurrentItem(topLevelItem(0));
    }
}

void CDsView::contextMenuEvent(QContextMenuEvent* event)
{
    if (QTreeWidgetItem* item = itemAt(event->pos())) {
        setCurrentItem(item);
    }
    auto* frame = qobject_cast<CNewFrameWnd*>(window());
    if (frame == nullptr) {
        return;
    }
    if (CNewMenu* popup = FindMenuByText(&frame->DefaultMenu(), "&Tree", nullptr, true)) {
        if (QMenu* menu = popup->GetSafeHmenu()) {
            menu->popup(event->globalPos());
        }
    }
}

bool CDsView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const KV_DsTreeNode* node = NodeOf(itemAt(help->pos()));
        if (node != nullptr && pool != nullptr) {
            QToolTip::showText(help->globalPos(), ToQ(node->info(*pool)), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QTreeWidget::viewportEvent(event);
}

bool CDsView::IsSelGroupOfType(KV_DS_NODE_TYPE type) const
{
    const auto* group = static_cast<const KV_DsTreeNodeGrp*>(NodeOf(GetGroupItem(nullptr)));
    return group != nullptr && group->type_grp() == type;
}

bool CDsView::NewNode(KV_DsTreeNode* templ)
{
    QTreeWidgetItem* group_item = GetGroupItem(nullptr);
    KV_DsTreeNode* group = NodeOf(group_item);
    if (pool == nullptr || group == nullptr || templ == nullptr) {
        return false;
    }
    KV_DsTreeNode* node = pool->tree().create(group, templ, 0, false);
    // The tree's notice has inserted the item already.
    QTreeWidgetItem* item = node != nullptr ? FindChildItem(group_item, node) : nullptr;
    if (item == nullptr) {
        return false;
    }
    setCurrentItem(item);
    scrollToItem(item);
    EditLabel(item);
    return true;
}

bool CDsView::NewDataSource(KV_DS_NODE_TYPE type)
{
    if (!IsSelGroupOfType(type)) {
        return false;
    }
    switch (type) {
    case KV_DS_NODE_FTP: {
        KV_DsTreeNodeFtp templ;
        return NewNode(&templ);
    }
    case KV_DS_NODE_HTTP: {
        KV_DsTreeNodeHttp templ;
        return NewNode(&templ);
    }
    case KV_DS_NODE_SFTP: {
        KV_DsTreeNodeSftp templ;
        return NewNode(&templ);
    }
    default:
        return false;
    }
}

bool CDsView::NewFolder()
{
    const auto* group = static_cast<const KV_DsTreeNodeGrp*>(NodeOf(GetGroupItem(nullptr)));
    if (pool == nullptr || group == nullptr || !IsGroup(SelectedNode()) || !group->add_chldrn()) {
        return false;
    }
    switch (group->type_grp()) {
    case KV_DS_NODE_FTP: {
        KV_DsTreeNodeGrpFtp templ(pool->tree());
        return NewNode(&templ);
    }
    case KV_DS_NODE_SFTP: {
        KV_DsTreeNodeGrpSftp templ(pool->tree());
        return NewNode(&templ);
    }
    case KV_DS_NODE_HTTP: {
        KV_DsTreeNodeGrpHttp templ(pool->tree());
        return NewNode(&templ);
    }
    default:
        return false;
    }
}

void CDsView::RegisterCommands()
{
    CCommandLayer::On(
        this, 57600,
        [this](uint32_t) {
            for (KV_DS_NODE_TYPE t : {KV_DS_NODE_FTP, KV_DS_NODE_HTTP, KV_DS_NODE_SFTP}) {
                if (IsSelGroupOfType(t)) {
                    NewDataSource(t);
                    return;
                }
            }
        },
        [this](CCmdUI& ui) {
            ui.Enable(IsSelGroupOfType(KV_DS_NODE_FTP) || IsSelGroupOfType(KV_DS_NODE_HTTP) ||
                      IsSelGroupOfType(KV_DS_NODE_SFTP));
        });
    CCommandLayer::On(
        this, 32789, [this](uint32_t) { NewFolder(); },
        [this](CCmdUI& ui) {
            const KV_DsTreeNode* node = SelectedNode();
            ui.Enable(IsGroup(node) && static_cast<const KV_DsTreeNodeGrp*>(node)->add_chldrn());
        });
    const std::pair<uint32_t, KV_DS_NODE_TYPE> news[] = {
        {32790, KV_DS_NODE_FTP}, {32791, KV_DS_NODE_HTTP}, {32792, KV_DS_NODE_SFTP}};
    for (const auto& [id, type] : news) {
        CCommandLayer::On(
            this, id, [this, type](uint32_t) { NewDataSource(type); },
            [this, type](CCmdUI& ui) { ui.Enable(IsSelGroupOfType(type)); });
    }
    for (uint32_t id : {32793u, 32819u}) {
        CCommandLayer::On(
            this, id,
            [this](uint32_t) {
                CKivrelApp::Instance()->EditProperties(SelectedNode(), nullptr, this);
            },
            [this](CCmdUI& ui) {
                const KV_DsTreeNode* node = SelectedNode();
                ui.Enable(IsFocusIn(this) && node != nullptr && !node->id().valid_man());
            });
    }
    CCommandLayer::OnRange(
        this, 32781, 32781, [this](uint32_t) { DeleteSelected(); },
        [this](CCmdUI& ui) { ui.Enable(CanChangeSelected(true)); });
    CCommandLayer::On(
        this, 32788, [this](uint32_t) { DeleteSelected(); },
        [this](CCmdUI& ui) { ui.Enable(CanChangeSelected(true)); });
    CCommandLayer::On(
        this, 32794, [this](uint32_t) { EditLabel(SelectedItem()); },
        [this](CCmdUI& ui) { ui.Enable(CanChangeSelected(false)); });
    CCommandLayer::On(
        this, 32786, [this](uint32_t) { OpenOrToggle(SelectedItem(), true); },
        [this](CCmdUI& ui) {
            ui.Enable(IsFocusIn(this) && SelectedNode() != nullptr && !IsGroup(SelectedNode()));
        });
    // Properties (the menu's and the toolbar's): a live instance has no
    // settings of its own to edit.
    for (uint32_t id : {32793u, 32819u}) {
        CCommandLayer::On(
            this, id,
            [this](uint32_t) {
                if (CKivrelApp* app = CKivrelApp::Instance()) {
                    app->EditProperties(SelectedNode(), nullptr, this);
                }
            },
            [this](CCmdUI& ui) {
                const KV_DsTreeNode* node = SelectedNode();
                ui.Enable(IsFocusIn(this) && node != nullptr && !node->id().valid_man());
            });
    }
    CCommandLayer::On(
        this, 32795,
        [this](uint32_t) {
            KV_DsTreeNode* node = SelectedNode();
            if (node != nullptr && node->opts() != nullptr) {
                node->opts()->set_temporary(!node->opts()->temporary());
            }
        },
        [this](CCmdUI& ui) {
            const KV_DsTreeNode* node = SelectedNode();
            const bool on = node != nullptr && !node->rdonly() && node->opts() != nullptr &&
                            node->opts()->temporary();
            ui.Enable(on);
            ui.SetCheck(on ? 1 : 0);
        });
}

KV_DsTreeNode* CDsView::DraggedNode(const QMimeData* data) const
{
    // Only this view's own drag names a node: another program's bytes are
    // never taken for a pointer.
    CDsClipData clip;
    if (data == nullptr || dragged == nullptr ||
        !clip.Read(data->data(CKivrelApp::GetClipFormatDs())) || clip.item != drag_handle) {
        return nullptr;
    }
    return NodeOf(dragged);
}

void CDsView::startDrag(Qt::DropActions)
{
    QTreeWidgetItem* item = currentItem();
    if (item == nullptr) {
        return;
    }
    // Each drag gets a fresh handle, so a stale drag's bytes name nothing.
    if (++drag_handle == 0) {
        drag_handle = 1;
    }
    CDsClipData clip;
    clip.item = drag_handle;
    auto* data = new QMimeData;
    data->setData(CKivrelApp::GetClipFormatDs(), clip.Write());
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    dragged = item;
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::MoveAction);
    dragged = nullptr;
}

bool CDsView::EvaluateDrop(QDropEvent* event)
{
    KV_DsTreeNode* node = event->source() == this ? DraggedNode(event->mimeData()) : nullptr;
    QTreeWidgetItem* target = itemAt(event->position().toPoint());
    if (node != nullptr && target != nullptr && MoveNode(node, target, true)) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return true;
    }
    event->ignore();
    return false;
}

void CDsView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->source() == this && event->mimeData()->hasFormat(CKivrelApp::GetClipFormatDs())) {
        event->acceptProposedAction();
        return;
    }
    event->ignore();
}

void CDsView::dragMoveEvent(QDragMoveEvent* event)
{
    EvaluateDrop(event);
}

void CDsView::dropEvent(QDropEvent* event)
{
    KV_DsTreeNode* node = event->source() == this ? DraggedNode(event->mimeData()) : nullptr;
    QTreeWidgetItem* target = itemAt(event->position().toPoint());
    if (node != nullptr && target != nullptr) {
        MoveNode(node, target, false);
    }
    // The tree's notices have moved the item; nothing for the base to do.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
}
