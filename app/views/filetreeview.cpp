#include "views/filetreeview.h"

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "core/filecols.h"
#include "root/kv_filemanpool.h"
#include "shell/innerfrm.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>

namespace {

QWidget* MakeFileTreeView()
{
    return new CFileTreeView;
}

KV_FileManPool* Pool()
{
    return CKivrelApp::Instance() ? CKivrelApp::Instance()->GetPool() : nullptr;
}

// Whether `a` sorts after `b` among siblings: folders first, "." and ".."
// first, names without case.
bool SortsAfter(const CFileTreeData& a, const KV_FileTreeNode* b)
{
    return a.node != nullptr && b != nullptr &&
           a.node->fdc().compare(b->fdc(), KV_SORT_FD_NAME, false) > 0;
}

} // namespace

const CRuntimeClass classCFileTreeView("CFileTreeView", &MakeFileTreeView, &classCView);

// ---------------------------------------------------------------------------
// CFileTreeData, CFileTreeModel

CFileTreeData* CFileTreeData::ChildOf(const KV_FileTreeNode* wanted) const
{
    if (wanted == nullptr) {
        return nullptr;
    }
    // The children stay sorted, so the items that sort as `wanted` stand
    // just before its insertion place: a folder of 100,000 files shown in
    // the tree asked this for every file, and a walk of the whole list made
    // that quadratic.
    const int at = SortedInsertPos(static_cast<int>(children.size()), [&](int i) {
        return SortsAfter(*children[static_cast<size_t>(i)], wanted);
    });
    for (int i = at - 1; i >= 0; --i) {
        const CFileTreeData& c = *children[static_cast<size_t>(i)];
        if (c.node == wanted) {
            return children[static_cast<size_t>(i)].get();
        }
        if (c.node == nullptr ||
            c.node->fdc().compare(wanted->fdc(), KV_SORT_FD_NAME, false) != 0) {
            break;
        }
    }
    return nullptr;
}

int CFileTreeData::Row() const
{
    if (parent == nullptr) {
        return 0;
    }
    for (size_t i = 0; i < parent->children.size(); ++i) {
        if (parent->children[i].get() == this) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

CFileTreeModel::CFileTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

CFileTreeModel::~CFileTreeModel() = default;

CFileTreeData* CFileTreeModel::DataOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<CFileTreeData*>(index.internalPointer())
                           : const_cast<CFileTreeData*>(&root);
}

QModelIndex CFileTreeModel::IndexOf(const CFileTreeData* item) const
{
    if (item == nullptr || item == &root) {
        return QModelIndex();
    }
    return createIndex(item->Row(), 0, const_cast<CFileTreeData*>(item));
}

void CFileTreeModel::FillIcons(CFileTreeData* item) const
{
    item->icon = QIcon();
    item->open_icon = QIcon();
    item->shown_icon = QIcon();
    if (pane != nullptr) {
        pane->GetNodeIcons(item->node, item->icon, item->open_icon, item->parent == &root);
    }
    if (item->open_icon.isNull() || item->open_icon.cacheKey() == item->icon.cacheKey()) {
        item->shown_icon = item->icon;
        return;
    }
    // A selected folder shows itself open. Theme icons take no pixmaps of
    // another mode, so the pair becomes one icon of pixmaps.
    for (const int size : {16, 22, 24, 32}) {
        item->shown_icon.addPixmap(item->icon.pixmap(size), QIcon::Normal);
        item->shown_icon.addPixmap(item->open_icon.pixmap(size), QIcon::Selected);
    }
}

void CFileTreeModel::SetDropItem(const CFileTreeData* item)
{
    if (item == drop_item) {
        return;
    }
    const CFileTreeData* old = drop_item;
    drop_item = item;
    for (const CFileTreeData* changed : {old, item}) {
        if (changed != nullptr) {
            const QModelIndex i = IndexOf(changed);
            emit dataChanged(i, i);
        }
    }
}

CFileTreeData* CFileTreeModel::Insert(CFileTreeData* parent, KV_FileTreeNode* node)
{
    const int at = SortedInsertPos(static_cast<int>(parent->children.size()), [&](int i) {
        return SortsAfter(*parent->children[static_cast<size_t>(i)], node);
    });
    auto item = std::make_unique<CFileTreeData>(node, parent);
    item->has_children = node->fdc().not_empty();
    CFileTreeData* raw = item.get();
    FillIcons(raw);
    const bool first = parent->children.empty();
    beginInsertRows(IndexOf(parent), at, at);
    parent->children.insert(parent->children.begin() + at, std::move(item));
    endInsertRows();
    if (first && parent != &root) {
        // The parent's expander appears.
        const QModelIndex p = IndexOf(parent);
        emit dataChanged(p, p);
    }
    return raw;
}

void CFileTreeModel::Remove(CFileTreeData* item)
{
    CFileTreeData* parent = item->parent;
    const int row = item->Row();
    if (parent == nullptr || row < 0) {
        return;
    }
    // The highlight could name an item of the branch that goes.
    drop_item = nullptr;
    beginRemoveRows(IndexOf(parent), row, row);
    parent->children.erase(parent->children.begin() + row);
    endRemoveRows();
}

void CFileTreeModel::RemoveChildren(CFileTreeData* item)
{
    if (item->children.empty()) {
        return;
    }
    drop_item = nullptr;
    if (item == &root) {
        beginResetModel();
        item->children.clear();
        endResetModel();
        return;
    }
    beginRemoveRows(IndexOf(item), 0, static_cast<int>(item->children.size()) - 1);
    item->children.clear();
    endRemoveRows();
}

void CFileTreeModel::Update(CFileTreeData* item)
{
    FillIcons(item);
    const QModelIndex i = IndexOf(item);
    emit dataChanged(i, i);
}

void CFileTreeModel::SetHasChildren(CFileTreeData* item, bool has)
{
    item->has_children = has;
    const QModelIndex i = IndexOf(item);
    emit dataChanged(i, i);
}

int CFileTreeModel::rowCount(const QModelIndex& parent) const
{
    return static_cast<int>(DataOf(parent)->children.size());
}

int CFileTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool CFileTreeModel::hasChildren(const QModelIndex& parent) const
{
    const CFileTreeData* item = DataOf(parent);
    return !item->children.empty() || (item != &root && item->has_children);
}

QModelIndex CFileTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const CFileTreeData* p = DataOf(parent);
    if (column != 0 || row < 0 || row >= static_cast<int>(p->children.size())) {
        return QModelIndex();
    }
    return createIndex(row, 0, p->children[static_cast<size_t>(row)].get());
}

QModelIndex CFileTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid()) {
        return QModelIndex();
    }
    return IndexOf(DataOf(child)->parent);
}

QVariant CFileTreeModel::data(const QModelIndex& index, int role) const
{
    const CFileTreeData* item = index.isValid() ? DataOf(index) : nullptr;
    if (item == nullptr || item->node == nullptr) {
        return QVariant();
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return KvToQString(item->node->name());
    case Qt::DecorationRole:
        return item->shown_icon;
    case Qt::ToolTipRole: {
        const CFileManData* data = pane != nullptr ? pane->GetData() : nullptr;
        if (data == nullptr || data->GetFileMan() == nullptr) {
            return QVariant();
        }
        // The path counts only for "." and "..", which the tree leaves out.
        return PlainToolTip(
            KvToQString(item->node->info(data->GetFileMan()->man_path(), KV_PathDef())));
    }
    case Qt::BackgroundRole:
        return item == drop_item ? QVariant(QApplication::palette().brush(QPalette::Highlight))
                                 : QVariant();
    case Qt::ForegroundRole: {
        if (item == drop_item) {
            return QApplication::palette().brush(QPalette::HighlightedText);
        }
        if (pane == nullptr) {
            return QVariant();
        }
        uint32_t c = 0;
        pane->GetNodeColour(&c, item->node, false, 0);
        return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                      static_cast<int>((c >> 16) & 0xFF));
    }
    default:
        return QVariant();
    }
}

Qt::ItemFlags CFileTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
           Qt::ItemIsDropEnabled;
}

// ---------------------------------------------------------------------------
// CFileTreeView

CFileTreeView::CFileTreeView(QWidget* parent) : QTreeView(parent), model(new CFileTreeModel(this))
{
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\browsewnd.htm#filetree"));
    setModel(model);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setExpandsOnDoubleClick(true);
    connect(this, &QTreeView::expanded, this, &CFileTreeView::OnExpanded);
}

CFileTreeView::~CFileTreeView()
{
    if (bound) {
        Unregister(this, false);
    }
}

bool CFileTreeView::EnsureRegistered()
{
    if (bound) {
        return true;
    }
    if (CBrowseFrm::FromChild(this) == nullptr || !Register(this, false)) {
        return false;
    }
    bound = true;
    model->SetPane(GetPane());
    InitialFill();
    return true;
}

bool CFileTreeView::event(QEvent* e)
{
    if (e->type() == QEvent::ParentChange) {
        EnsureRegistered();
    }
    return QTreeView::event(e);
}

void CFileTreeView::showEvent(QShowEvent* e)
{
    EnsureRegistered();
    QTreeView::showEvent(e);
}

void CFileTreeView::Unregister(QWidget* view, bool update_adapter)
{
    CFileView::Unregister(view, update_adapter);
    bound = false;
    internal_change = true;
    pending = nullptr;
    editing = nullptr;
    model->RemoveChildren(model->Root());
    temp_node.reset();
    internal_change = false;
}

void CFileTreeView::InitialFill()
{
    CFileManData* data = GetData();
    if (data == nullptr || data->GetFileTree() == nullptr) {
        return;
    }
    internal_change = true;
    pending = nullptr;
    model->RemoveChildren(model->Root());
    internal_change = false;
    data->GetFileTree()->refresh(KV_PathDef(), GetNumber(), true);
    Select(ItemOf(data->GetPath()));
}

KV_PathDef CFileTreeView::PathOf(const CFileTreeData* item) const
{
    std::vector<const KV_String*> names;
    for (const CFileTreeData* i = item; i != nullptr && i->node != nullptr; i = i->parent) {
        names.push_back(&i->node->name());
    }
    KV_PathDef path;
    // The browse tree's paths start with the root node's name as an
    // ordinary entry.
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path.append(**it);
    }
    return path;
}

CFileTreeData* CFileTreeView::ItemOf(const KV_PathDef& path) const
{
    CFileManData* data = GetData();
    const bool case_sens = data == nullptr || data->IsCaseSens();
    CFileTreeData* item = model->Root();
    for (uint32_t i = 0; i < path.entries(); ++i) {
        const KV_String& entry = path.at(i);
        CFileTreeData* found = nullptr;
        for (const auto& c : item->children) {
            const bool same =
                i == 0 ? c->node->name() == entry : c->node->name().compare(entry, case_sens) == 0;
            if (same) {
                found = c.get();
                break;
            }
        }
        if (found == nullptr) {
            return nullptr;
        }
        item = found;
    }
    return item;
}

CFileTreeData* CFileTreeView::GetSelectedItem() const
{
    const QModelIndex i = currentIndex();
    return i.isValid() ? model->DataOf(i) : nullptr;
}

void CFileTreeView::Select(CFileTreeData* item)
{
    internal_change = true;
    if (item == nullptr || item == model->Root()) {
        selectionModel()->clearCurrentIndex();
        selectionModel()->clearSelection();
    } else {
        const QModelIndex i = model->IndexOf(item);
        scrollTo(i);
        selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    }
    internal_change = false;
}

void CFileTreeView::DeleteItem(CFileTreeData* item)
{
    internal_change = true;
    if (GetSelectedItem() == item) {
        selectionModel()->clearCurrentIndex();
        selectionModel()->clearSelection();
    }
    if (pending == item) {
        pending = nullptr;
    }
    CFileTreeData* parent = item->parent;
    model->Remove(item);
    if (parent != nullptr && parent != model->Root() && parent->children.empty()) {
        model->SetHasChildren(parent, false);
    }
    internal_change = false;
}

void CFileTreeView::OnTreeNode(KV_FileTreeNode* node, KV_TREE_NODE_NTF kind,
                               const KV_PathDef& folder, uint32_t view_number)
{
    CFileManData* data = GetData();
    if (data == nullptr) {
        return;
    }
    // Files are the list's while it is shown: a listing announces each
    // one, and finding its folder in the tree for each cost more than the
    // list's own work (so did reading each one's name first).
    if (node != nullptr && !node->is_dir() && !data->IsListHidden() &&
        (kind == KV_TREE_NODE_ADDED || kind == KV_TREE_NODE_REFRESH ||
         kind == KV_TREE_NODE_CHANGED)) {
        return;
    }
    if (node != nullptr && (node->name() == "." || node->name() == "..")) {
        return;
    }
    CFileTreeData* parent = ItemOf(folder);
    if (parent == nullptr) {
        return;
    }
    const bool mine = view_number == GetNumber();
    switch (kind) {
    case KV_TREE_NODE_ADDED:
    case KV_TREE_NODE_REFRESH: {
        if (node == nullptr || (kind == KV_TREE_NODE_REFRESH && !mine) ||
            (!node->is_dir() && !data->IsListHidden()) || parent->ChildOf(node) != nullptr) {
            return;
        }
        CFileTreeData* item = model->Insert(parent, node);
        if (parent == pending) {
            expand(model->IndexOf(parent));
        }
        if (node->expected() && GetSelectedItem() == nullptr && RequesterHasFocus()) {
            Select(item);
        }
        return;
    }
    case KV_TREE_NODE_REMOVED:
        if (CFileTreeData* item = parent->ChildOf(node)) {
            DeleteItem(item);
        }
        return;
    case KV_TREE_NODE_CHANGED:
        if (node != nullptr && (node->is_dir() || data->IsListHidden())) {
            if (CFileTreeData* item = parent->ChildOf(node)) {
                model->Update(item);
            }
        }
        return;
    case KV_TREE_NODE_STATUS:
        if (node != nullptr && node->is_dir() && GetPane() != nullptr) {
            if (CFileTreeData* item = parent->ChildOf(node)) {
                model->Update(item);
            }
        }
        return;
    case KV_TREE_NODE_REFRESH_BEGIN:
        if (mine) {
            internal_change = true;
            if (pending != nullptr &&
                (parent == model->Root() || PathOf(parent).is_parent(PathOf(pending), true))) {
                pending = nullptr;
            }
            model->RemoveChildren(parent);
            internal_change = false;
        }
        return;
    default:
        return;
    }
}

void CFileTreeView::OnExpanded(const QModelIndex& index)
{
    if (internal_change) {
        return;
    }
    CFileTreeData* item = model->DataOf(index);
    CFileManData* data = GetData();
    if (data == nullptr || item == nullptr || item->node == nullptr || !item->has_children ||
        !item->children.empty() || !item->node->is_dir()) {
        return;
    }
    if (data->Scan(PathOf(item), false)) {
        pending = item;
    }
}

void CFileTreeView::Rebuild()
{
    CFileManData* data = GetData();
    if (data == nullptr || data->GetFileTree() == nullptr) {
        return;
    }
    const KV_PathDef selected = PathOf(GetSelectedItem());
    std::vector<KV_PathDef> expanded;
    std::vector<CFileTreeData*> stack{model->Root()};
    while (!stack.empty()) {
        CFileTreeData* item = stack.back();
        stack.pop_back();
        for (auto it = item->children.rbegin(); it != item->children.rend(); ++it) {
            if (isExpanded(model->IndexOf(it->get()))) {
                expanded.push_back(PathOf(it->get()));
                stack.push_back(it->get());
            }
        }
    }
    if (!data->GetFileTree()->refresh(KV_PathDef(), GetNumber(), true)) {
        return;
    }
    internal_change = true;
    for (const KV_PathDef& path : expanded) {
        if (CFileTreeData* item = ItemOf(path)) {
            expand(model->IndexOf(item));
        }
    }
    internal_change = false;
    Select(ItemOf(selected));
}

bool CFileTreeView::UpdateStatus()
{
    CFileManData* data = GetData();
    if (data == nullptr) {
        return false;
    }
    Select(ItemOf(data->GetPath()));
    return false;
}

void CFileTreeView::OnTreeMsg(const KV_MsgTreeNtf* msg)
{
    if (msg == nullptr || msg->ntf != KV_TREE_NTF_PWD_BUILT) {
        return;
    }
    if (CFileTreeData* item = ItemOf(msg->path)) {
        const QModelIndex i = model->IndexOf(item);
        scrollTo(i);
        // A selection by the engine's notice shows the folder in the pane.
        selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    }
}

void CFileTreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    if (internal_change || !current.isValid()) {
        return;
    }
    CFileTreeData* item = model->DataOf(current);
    if (item == nullptr || item->node == nullptr || !item->node->is_dir() || item->node->temp()) {
        return;
    }
    if (CBrowseSplt* browse = CBrowseSplt::FromChild(this)) {
        browse->SetStatusText(QStringLiteral("Ready"), 0);
    }
    SetFolder(this, PathOf(item), true);
}

bool CFileTreeView::GetSelection(uint32_t refuse_flags, KV_PathDef* path, uint32_t* type,
                                 bool files_only)
{
    const CFileTreeData* item = GetSelectedItem();
    if (GetData() == nullptr || item == nullptr || item->node == nullptr ||
        (item->node->node_flags() & refuse_flags) != 0 ||
        (files_only && (item->node->is_dir() || !item->node->fdc().valid_file()))) {
        return false;
    }
    if (path != nullptr) {
        *path = PathOf(item);
    }
    if (type != nullptr) {
        *type = item->node->fdc().type();
    }
    return true;
}

KV_FileData* CFileTreeView::GetSelectedEntry() const
{
    const CFileTreeData* item = GetSelectedItem();
    return item != nullptr && item->node != nullptr ? item->node->fdc().clone() : nullptr;
}

bool CFileTreeView::CanNewDirectory()
{
    CFileManData* data = GetData();
    KV_FileManPool* pool = Pool();
    const CFileTreeData* item = GetSelectedItem();
    return data != nullptr && pool != nullptr && item != nullptr &&
           pool->can_mkdir(data->GetManId(), PathOf(item));
}

bool CFileTreeView::CanRename()
{
    CFileManData* data = GetData();
    KV_FileManPool* pool = Pool();
    const CFileTreeData* item = GetSelectedItem();
    return data != nullptr && pool != nullptr && item != nullptr &&
           pool->can_rename(data->GetManId(), PathOf(item->parent));
}

KV_PathDef CFileTreeView::GetTargetPath()
{
    const CFileTreeData* item = GetSelectedItem();
    if (item == nullptr || item->node == nullptr || !item->node->is_dir()) {
        return KV_PathDef();
    }
    return PathOf(item);
}

void CFileTreeView::NewDirectory()
{
    CFileManData* data = GetData();
    CFileTreeData* parent = GetSelectedItem();
    if (data == nullptr || parent == nullptr || temp_node != nullptr) {
        return;
    }
    temp_node = std::make_unique<KV_FileTreeNode>(data->IsCaseSens(),
                                                  KV_FileData(KV_String("New directory"), true));
    temp_node->set_temp(true);
    internal_change = true;
    CFileTreeData* item = model->Insert(parent, temp_node.get());
    expand(model->IndexOf(parent));
    internal_change = false;
    const QModelIndex i = model->IndexOf(item);
    scrollTo(i);
    if (!edit(i, QAbstractItemView::AllEditTriggers, nullptr)) {
        DeleteItem(item);
        temp_node.reset();
    }
}

void CFileTreeView::Rename()
{
    if (CFileTreeData* item = GetSelectedItem()) {
        edit(model->IndexOf(item), QAbstractItemView::AllEditTriggers, nullptr);
    }
}

bool CFileTreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* e)
{
    if (trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & trigger) != 0) {
        CFileTreeData* item = model->DataOf(index);
        if (!index.isValid() || item == nullptr || item->node == nullptr || item->node->rdonly()) {
            return false;
        }
        // The new folder goes under the caret item, which the temporary one
        // is not.
        const bool allowed = item->node->temp() ? temp_node != nullptr : CanRename();
        if (!allowed || !QTreeView::edit(index, trigger, e)) {
            return false;
        }
        editing = item;
        reopen = false;
        return true;
    }
    return QTreeView::edit(index, trigger, e);
}

void CFileTreeView::commitData(QWidget* editor)
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (editing != nullptr && line != nullptr) {
        OnEndLabelEdit(editing, line->text());
    }
}

void CFileTreeView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    CFileTreeData* item = editing;
    editing = nullptr;
    QTreeView::closeEditor(editor, hint);
    if (item == nullptr) {
        return;
    }
    if (item->node->temp()) {
        DeleteItem(item);
        temp_node.reset();
        return;
    }
    if (reopen) {
        reopen = false;
        KV_FileTreeNode* node = item->node;
        const KV_PathDef path = PathOf(item);
        QTimer::singleShot(0, this, [this, node, path] {
            CFileTreeData* again = ItemOf(path);
            if (again != nullptr && again->node == node) {
                edit(model->IndexOf(again), QAbstractItemView::AllEditTriggers, nullptr);
            }
        });
    }
}

void CFileTreeView::OnEndLabelEdit(CFileTreeData* item, const QString& text)
{
    CFileManData* data = GetData();
    KV_FileManPool* pool = Pool();
    if (data == nullptr || pool == nullptr) {
        return;
    }
    const KV_String name = QStringToKv(text.trimmed());
    KV_PathDef parent_path = PathOf(item->parent);
    if (item->node->temp()) {
        if (name.length() != 0) {
            Select(nullptr);
            requester = this;
            if (parent_path.append(name)) {
                pool->mkdir(data->GetManId(), parent_path);
            }
        }
        return;
    }
    if (name.length() == 0) {
        // Only a committed empty name opens the editor again; Escape never
        // commits, so it always leaves.
        reopen = true;
        return;
    }
    if (item->node->rdonly() || name == item->node->name()) {
        return;
    }
    requester = this;
    const KV_PathDef from = PathOf(item);
    if (parent_path.append(name)) {
        pool->rename(data->GetManId(), from, parent_path, item->node->is_dir());
    }
}

void CFileTreeView::Delete(bool extended)
{
    CFileManData* data = GetData();
    const CFileTreeData* item = GetSelectedItem();
    if (data == nullptr || item == nullptr || item->node == nullptr || item->node->temp()) {
        return;
    }
    KVTL::KV_ListVal<KV_String> names;
    names.add(item->node->name());
    data->Remove(PathOf(item->parent), names, extended ? this : nullptr);
}

void CFileTreeView::CopyToClipboard(bool cut)
{
    const CFileTreeData* item = GetSelectedItem();
    if (item == nullptr || item->node == nullptr || item->node->temp()) {
        return;
    }
    KVTL::KV_ListVal<KV_String> names;
    names.add(item->node->name());
    CFileClipData clip;
    if (MakeClip(PathOf(item->parent), names, item->node->is_dir(), cut, clip)) {
        PutOnClipboard(clip);
    }
}

void CFileTreeView::Paste(bool extended)
{
    const KV_PathDef target = GetTargetPath();
    if (target.empty()) {
        return;
    }
    Receive(QApplication::clipboard()->mimeData(), CKivrelApp::GetClipFormatBrCl(), target, -1,
            extended ? this : nullptr);
}

void CFileTreeView::FileOperation(KV_FILEOP op)
{
    CFileManData* data = GetData();
    const CFileTreeData* item = GetSelectedItem();
    if (data == nullptr || item == nullptr || item->node == nullptr || item->node->temp()) {
        return;
    }
    KVTL::KV_ListVal<KV_String> names;
    names.add(item->node->name());
    data->FileOp(PathOf(item->parent), names, op);
}

void CFileTreeView::OnEnter()
{
    CFileTreeData* item = GetSelectedItem();
    if (item == nullptr || item->node == nullptr) {
        return;
    }
    if (!item->node->is_dir()) {
        FileOperation(KV_FILEOP_OPEN);
        return;
    }
    const QModelIndex i = model->IndexOf(item);
    setExpanded(i, !isExpanded(i));
}

void CFileTreeView::keyPressEvent(QKeyEvent* e)
{
    if (state() != QAbstractItemView::EditingState) {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            OnEnter();
            return;
        }
        if (e->key() == Qt::Key_Delete) {
            Delete(false);
            return;
        }
    }
    QTreeView::keyPressEvent(e);
}

void CFileTreeView::mouseDoubleClickEvent(QMouseEvent* e)
{
    QTreeView::mouseDoubleClickEvent(e);
    CFileTreeData* item = GetSelectedItem();
    if (item == nullptr || item->node == nullptr) {
        return;
    }
    if (item->node->is_dir()) {
        pending = item;
    } else {
        FileOperation(KV_FILEOP_OPEN);
    }
}

void CFileTreeView::contextMenuEvent(QContextMenuEvent* e)
{
    const QModelIndex i = indexAt(e->pos());
    if (i.isValid()) {
        selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    }
    PopupFileMenu(this, e->globalPos());
}

void CFileTreeView::focusInEvent(QFocusEvent* e)
{
    QTreeView::focusInEvent(e);
    if (GetSelectedItem() == nullptr && model->rowCount() > 0) {
        selectionModel()->setCurrentIndex(model->index(0, 0), QItemSelectionModel::ClearAndSelect);
    }
    CFileManData* data = GetData();
    const CFileTreeData* item = GetSelectedItem();
    if (data != nullptr && data->GetFileTree() != nullptr && item != nullptr) {
        // Through the window, so its counts, its "&Data Source" popup and the
        // control window's selection follow the focus too.
        if (CBrowseSplt* browse = CBrowseSplt::FromChild(this)) {
            browse->OnPaneActivated(item->node);
        } else {
            data->GetFileTree()->set_act_inf(item->node);
        }
    }
}

void CFileTreeView::startDrag(Qt::DropActions)
{
    const CFileTreeData* item = GetSelectedItem();
    if (item == nullptr || item->node == nullptr || item->node->temp()) {
        return;
    }
    KVTL::KV_ListVal<KV_String> names;
    names.add(item->node->name());
    CFileClipData clip;
    if (MakeClip(PathOf(item->parent), names, item->node->is_dir(), false, clip)) {
        StartDrag(clip, this);
    }
}

KV_PathDef CFileTreeView::DropFolder(const QPoint& pt) const
{
    const QModelIndex i = indexAt(pt);
    const CFileTreeData* item = i.isValid() ? model->DataOf(i) : nullptr;
    if (item == nullptr || item->node == nullptr || !item->node->is_dir()) {
        return KV_PathDef();
    }
    KV_PathDef path = PathOf(item);
    // The top level (the data source itself) takes no drop.
    return path.entries() > path.first_ind() ? path : KV_PathDef();
}

void CFileTreeView::dragEnterEvent(QDragEnterEvent* e)
{
    dragMoveEvent(e);
}

void CFileTreeView::dragMoveEvent(QDragMoveEvent* e)
{
    const QPoint pt = e->position().toPoint();
    const KV_PathDef target = DropFolder(pt);
    const int effect = target.empty() ? 0
                                      : GetDropEffect(e->mimeData(), target,
                                                      (e->modifiers() & Qt::ControlModifier) != 0);
    // The item under the cursor shows where the drop would go.
    const QModelIndex under = indexAt(pt);
    model->SetDropItem(effect != 0 && under.isValid() ? model->DataOf(under) : nullptr);
    if (effect == 0) {
        e->ignore();
        return;
    }
    e->setDropAction(effect == 2 ? Qt::MoveAction : Qt::CopyAction);
    e->accept();
}

void CFileTreeView::dragLeaveEvent(QDragLeaveEvent* e)
{
    model->SetDropItem(nullptr);
    QTreeView::dragLeaveEvent(e);
}

void CFileTreeView::dropEvent(QDropEvent* e)
{
    model->SetDropItem(nullptr);
    const KV_PathDef target = DropFolder(e->position().toPoint());
    const int effect = target.empty() ? 0
                                      : GetDropEffect(e->mimeData(), target,
                                                      (e->modifiers() & Qt::ControlModifier) != 0);
    if (effect == 0) {
        e->ignore();
        return;
    }
    const bool alt = (e->modifiers() & Qt::AltModifier) != 0;
    Receive(e->mimeData(), CKivrelApp::GetClipFormatBrDd(), target, effect, alt ? this : nullptr);
    e->setDropAction(effect == 2 ? Qt::MoveAction : Qt::CopyAction);
    e->accept();
}
