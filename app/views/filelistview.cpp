#include "views/filelistview.h"

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "core/settings.h"
#include "dialogs/dlgselcols.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/innerfrm.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"

#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QStackedLayout>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

namespace {

QWidget* MakeFileListView()
{
    return new CFileListView;
}

KV_FileManPool* Pool()
{
    return CKivrelApp::Instance() ? CKivrelApp::Instance()->GetPool() : nullptr;
}

QColor FromColorRef(uint32_t c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

} // namespace

const CRuntimeClass classCFileListView("CFileListView", &MakeFileListView, &classCView);

// ---------------------------------------------------------------------------
// CFileListModel

CFileListModel::CFileListModel(QObject* parent) : QAbstractItemModel(parent) {}

void CFileListModel::SetColumns(const std::vector<int>& columns)
{
    beginResetModel();
    this->columns = columns;
    for (Row& r : rows) {
        r.filled = false;
    }
    endResetModel();
}

void CFileListModel::FillRow(const Row& row) const
{
    row.filled = true;
    row.texts.clear();
    for (int index : columns) {
        const CFileColumnDef* def = GetFileColumnDef(index);
        row.texts << (def == nullptr ? QString() : FileColumnText(row.node->fdc(), def->code));
    }
    // The name is the node's, which a temporary entry has too.
    row.icon = QIcon();
    if (pane != nullptr) {
        QIcon open;
        pane->GetNodeIcons(row.node, row.icon, open, false);
    }
}

int CFileListModel::Insert(KV_FileTreeNode* node, const CFileSortOrder& order)
{
    const KV_FileData& fd = node->fdc();
    const auto sorts_after = [&](int i) {
        return rows[static_cast<size_t>(i)].node->fdc().compare(fd, order.key, order.descending) >
               0;
    };
    // A listing mostly comes in the list's order: one comparison with the
    // last row then places the entry.
    const int count = static_cast<int>(rows.size());
    const int at =
        count == 0 || !sorts_after(count - 1) ? count : SortedInsertPos(count, sorts_after);
    Row row{node, {}, {}};
    beginInsertRows(QModelIndex(), at, at);
    rows.insert(rows.begin() + at, std::move(row));
    shown.insert(node);
    endInsertRows();
    return at;
}

int CFileListModel::RowOf(const KV_FileTreeNode* node) const
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].node == node) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

KV_FileTreeNode* CFileListModel::NodeAt(int row) const
{
    return row >= 0 && row < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(row)].node
                                                           : nullptr;
}

void CFileListModel::RemoveRow(int row)
{
    if (row < 0 || row >= static_cast<int>(rows.size())) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    shown.erase(rows[static_cast<size_t>(row)].node);
    rows.erase(rows.begin() + row);
    endRemoveRows();
}

void CFileListModel::Clear()
{
    if (rows.empty()) {
        return;
    }
    beginResetModel();
    rows.clear();
    shown.clear();
    endResetModel();
}

void CFileListModel::Update(int row)
{
    if (row < 0 || row >= static_cast<int>(rows.size())) {
        return;
    }
    rows[static_cast<size_t>(row)].filled = false;
    Redraw(row, row);
}

void CFileListModel::Redraw(int first, int last)
{
    if (rows.empty() || first > last) {
        return;
    }
    emit dataChanged(index(first, 0), index(last, static_cast<int>(columns.size()) - 1));
}

int CFileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns.size());
}

QModelIndex CFileListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) {
        return QModelIndex();
    }
    return createIndex(row, column);
}

QModelIndex CFileListModel::parent(const QModelIndex&) const
{
    return QModelIndex();
}

const CFileListModel::Row& CFileListModel::Filled(int row) const
{
    const Row& r = rows[static_cast<size_t>(row)];
    if (!r.filled) {
        FillRow(r);
    }
    return r;
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return QVariant();
    }
    const Row& row = Filled(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.texts.value(index.column());
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(row.icon) : QVariant();
    case Qt::ToolTipRole: {
        const CFileManData* data = pane != nullptr ? pane->GetData() : nullptr;
        if (data == nullptr || data->GetFileMan() == nullptr || row.node->temp()) {
            return QVariant();
        }
        return PlainToolTip(
            KvToQString(row.node->info(data->GetFileMan()->man_path(), data->GetPath())));
    }
    case Qt::ForegroundRole: {
        if (pane == nullptr) {
            return QVariant();
        }
        uint32_t colour = 0;
        pane->GetNodeColour(&colour, row.node, false, static_cast<int>(folder_status));
        return QVariant(FromColorRef(colour));
    }
    default:
        return QVariant();
    }
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount()) {
        return QVariant();
    }
    const CFileColumnDef* def = GetFileColumnDef(columns[static_cast<size_t>(section)]);
    return def == nullptr ? QVariant() : QVariant(QLatin1String(def->title));
}

Qt::ItemFlags CFileListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == 0) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

// ---------------------------------------------------------------------------
// CFileItemView: the widgets that show a list's model hand what the user
// does to the list, whichever of them is shown.

template <class Base> class CFileItemView : public Base
{
public:
    explicit CFileItemView(CFileListView* owner) : Base(owner), owner(owner) {}

    // Closes an open name editor as Escape would.
    void CancelEdit()
    {
        if (this->state() != QAbstractItemView::EditingState) {
            return;
        }
        for (QLineEdit* e :
             this->viewport()->template findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly)) {
            if (e->isVisible()) {
                closeEditor(e, QAbstractItemDelegate::RevertModelCache);
            }
        }
    }

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (this->state() == QAbstractItemView::EditingState || !owner->OnKey(e)) {
            Base::keyPressEvent(e);
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        Base::mouseDoubleClickEvent(e);
        owner->OnDoubleClick(this, e);
    }
    void contextMenuEvent(QContextMenuEvent* e) override { owner->OnContextMenu(this, e); }
    void focusInEvent(QFocusEvent* e) override
    {
        Base::focusInEvent(e);
        owner->OnFocusIn();
    }
    bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger, QEvent* e) override
    {
        if (trigger != QAbstractItemView::AllEditTriggers &&
            (this->editTriggers() & trigger) == 0) {
            return Base::edit(index, trigger, e);
        }
        if (!index.isValid() || !owner->CanEdit(index.row())) {
            return false;
        }
        if (!Base::edit(this->model()->index(index.row(), 0), trigger, e)) {
            return false;
        }
        owner->OnEditStarted(index.row());
        return true;
    }
    void commitData(QWidget* editor) override { owner->OnCommit(editor); }
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override
    {
        KV_FileTreeNode* node = owner->TakeEditing();
        Base::closeEditor(editor, hint);
        owner->OnEditorClosed(node);
    }
    void startDrag(Qt::DropActions) override { owner->OnStartDrag(); }
    void dragEnterEvent(QDragEnterEvent* e) override { owner->OnDragMove(this, e); }
    void dragMoveEvent(QDragMoveEvent* e) override { owner->OnDragMove(this, e); }
    void dropEvent(QDropEvent* e) override { owner->OnDropEvent(this, e); }

private:
    CFileListView* owner;
};

// ---------------------------------------------------------------------------
// CFileListView

namespace {
// Rows a pass of the event loop inserts: a few milliseconds of work.
constexpr size_t kInsertSlice = 2000;
} // namespace

CFileListView::CFileListView(QWidget* parent) : QWidget(parent), model(new CFileListModel(this))
{
    insert_timer = new QTimer(this);
    insert_timer->setSingleShot(true);
    insert_timer->setInterval(0);
    connect(insert_timer, &QTimer::timeout, this, &CFileListView::InsertQueued);
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\browsewnd.htm#filelist"));
    details = new CFileItemView<QTreeView>(this);
    icons = new CFileItemView<QListView>(this);
    details->setModel(model);
    selection = details->selectionModel();
    icons->setModel(model);
    QItemSelectionModel* own = icons->selectionModel();
    icons->setSelectionModel(selection);
    delete own;
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(details), static_cast<QAbstractItemView*>(icons)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setEditTriggers(QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::SelectedClicked);
        view->setDragEnabled(true);
        view->setAcceptDrops(true);
        view->setDropIndicatorShown(false);
        view->setDragDropMode(QAbstractItemView::DragDrop);
    }
    details->setRootIsDecorated(false);
    details->setItemsExpandable(false);
    details->setUniformRowHeights(true);
    details->setAllColumnsShowFocus(true);
    details->setSelectionBehavior(QAbstractItemView::SelectRows);
    details->header()->setSectionsClickable(true);
    details->header()->setStretchLastSection(false);
    connect(details->header(), &QHeaderView::sectionClicked, this, &CFileListView::OnColumnClick);

    stack = new QStackedLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(details);
    stack->addWidget(icons);
    stack->setCurrentWidget(details);
    setFocusProxy(details);
}

CFileListView::~CFileListView()
{
    if (bound) {
        Unregister(this, true);
    }
}

bool CFileListView::EnsureRegistered()
{
    if (bound) {
        return true;
    }
    if (CBrowseFrm::FromChild(this) == nullptr || !Register(this, true)) {
        return false;
    }
    bound = true;
    model->SetPane(GetPane());
    CFileManData* data = GetData();
    std::vector<int> columns = DefaultFileColumns();
    if (data->GetFileMan() != nullptr) {
        columns = ParseFileColumns(
            GetProfileString(QStringLiteral("UI"),
                             FileColumnsProfileKey(static_cast<int>(data->GetFileMan()->type()))));
    }
    SetColumns(&columns);
    return true;
}

bool CFileListView::event(QEvent* e)
{
    if (e->type() == QEvent::ParentChange) {
        EnsureRegistered();
    }
    return QWidget::event(e);
}

void CFileListView::showEvent(QShowEvent* e)
{
    EnsureRegistered();
    QWidget::showEvent(e);
}

QAbstractItemView* CFileListView::GetItemView() const
{
    if (style == kStyleDetails) {
        return details;
    }
    return icons;
}

void CFileListView::clearSelection()
{
    selection->clearSelection();
}

void CFileListView::SetStyle(int new_style)
{
    if (new_style < kStyleIcons || new_style > kStyleList || new_style == style) {
        return;
    }
    QAbstractItemView* old = GetItemView();
    const bool had_focus = old->hasFocus();
    details->CancelEdit();
    icons->CancelEdit();
    style = new_style;
    switch (style) {
    case kStyleIcons:
        icons->setViewMode(QListView::IconMode);
        icons->setIconSize(QSize(32, 32));
        icons->setFlow(QListView::LeftToRight);
        icons->setGridSize(QSize(96, 32 + 3 * fontMetrics().height()));
        icons->setWordWrap(true);
        break;
    case kStyleSmallIcons:
        icons->setViewMode(QListView::ListMode);
        icons->setIconSize(QSize(16, 16));
        icons->setFlow(QListView::LeftToRight);
        icons->setGridSize(QSize(180, qMax(20, fontMetrics().height() + 4)));
        icons->setWordWrap(false);
        break;
    case kStyleList:
        icons->setViewMode(QListView::ListMode);
        icons->setIconSize(QSize(16, 16));
        icons->setFlow(QListView::TopToBottom);
        icons->setGridSize(QSize());
        icons->setWordWrap(false);
        break;
    default:
        break;
    }
    if (style != kStyleDetails) {
        // The icons stay where the layout puts them: a drag moves files,
        // never icons.
        icons->setMovement(QListView::Static);
        icons->setWrapping(true);
        icons->setResizeMode(QListView::Adjust);
        icons->setTextElideMode(style == kStyleIcons ? Qt::ElideNone : Qt::ElideRight);
    } else {
        // Entries selected among icons cover their name only; the details
        // show whole rows.
        QItemSelection rows;
        for (int row : SelectedRows()) {
            rows.select(model->index(row, 0), model->index(row, model->columnCount() - 1));
        }
        selection->select(rows, QItemSelectionModel::ClearAndSelect);
    }
    QAbstractItemView* view = GetItemView();
    stack->setCurrentWidget(view);
    setFocusProxy(view);
    if (view != old) {
        view->doItemsLayout();
    }
    if (selection->currentIndex().isValid()) {
        view->scrollTo(selection->currentIndex());
    }
    if (had_focus) {
        view->setFocus(Qt::OtherFocusReason);
    }
}

bool CFileListView::ArrangeIcons()
{
    if (style != kStyleIcons && style != kStyleSmallIcons) {
        return false;
    }
    icons->doItemsLayout();
    return true;
}

void CFileListView::Unregister(QWidget* view, bool update_adapter)
{
    CFileView::Unregister(view, update_adapter);
    bound = false;
    ClearRows();
    temp_node.reset();
}

void CFileListView::SetColumns(const std::vector<int>* columns)
{
    ClearRows();
    temp_node.reset();
    if (columns != nullptr) {
        model->SetColumns(*columns);
        for (size_t i = 0; i < columns->size(); ++i) {
            if (const CFileColumnDef* def = GetFileColumnDef((*columns)[i])) {
                details->header()->resizeSection(static_cast<int>(i), def->width);
            }
        }
    }
    CFileManData* data = GetData();
    if (data != nullptr && data->GetFileTree() != nullptr) {
        data->GetFileTree()->refresh(data->GetPath(), GetNumber(), false);
    }
}

void CFileListView::ChooseColumns()
{
    CFileManData* data = GetData();
    if (data == nullptr || data->GetFileMan() == nullptr) {
        return;
    }
    CDlgSelCols dlg(
        GetColumns(),
        [data](int index) {
            const CFileColumnDef* def = GetFileColumnDef(index);
            return def != nullptr && !data->IsColumnHidden(def->code);
        },
        this);
    if (dlg.exec() != QDialog::Accepted) {
        return;
    }
    const std::vector<int> chosen = dlg.GetColumns();
    SetColumns(&chosen);
    if (dlg.IsDefault()) {
        WriteProfileString(QStringLiteral("UI"),
                           FileColumnsProfileKey(static_cast<int>(data->GetFileMan()->type())),
                           FormatFileColumns(chosen));
    }
}

void CFileListView::OnColumnClick(int section)
{
    const std::vector<int>& columns = GetColumns();
    if (section < 0 || section >= static_cast<int>(columns.size())) {
        return;
    }
    const CFileColumnDef* def = GetFileColumnDef(columns[static_cast<size_t>(section)]);
    if (def == nullptr) {
        return;
    }
    order.Click(SortKeyOfColumn(def->code));
    SetColumns(nullptr);
}

bool CFileListView::UpdateStatus()
{
    CFileManData* data = GetData();
    KV_FileTree* tree = data != nullptr ? data->GetFileTree() : nullptr;
    if (tree == nullptr) {
        return false;
    }
    const KV_FileTreeNode* node = tree->find(data->GetPath().list());
    if (node == nullptr) {
        return false;
    }
    const uint32_t status =
        node->status() == KV_TREE_NODE_STAT_REQUESTED || node->status() == KV_TREE_NODE_STAT_RUNNING
            ? static_cast<uint32_t>(node->status())
            : 0u;
    const bool changed = status != folder_status;
    folder_status = status;
    model->SetFolderStatus(status);
    return changed;
}

void CFileListView::RefreshStatus(bool select_first)
{
    if (UpdateStatus()) {
        model->Redraw(0, model->rowCount() - 1);
    }
    if (select_first && hasFocus() && model->rowCount() > 0 && !selection->hasSelection()) {
        selection->setCurrentIndex(model->index(0, 0), QItemSelectionModel::NoUpdate);
    }
}

void CFileListView::OnTreeMsg(const KV_MsgTreeNtf* msg)
{
    CFileManData* data = GetData();
    if (data == nullptr || msg == nullptr) {
        return;
    }
    if (msg->ntf == KV_TREE_NTF_PWD_BUILT) {
        data->SetFolder(msg->path, true);
    } else if (msg->ntf == KV_TREE_NTF_SCAN_REQ || msg->ntf == KV_TREE_NTF_SCAN_BEGIN ||
               msg->ntf == KV_TREE_NTF_SCAN_END) {
        if (msg->path.is_equal(data->GetPath(), data->IsCaseSens())) {
            RefreshStatus(msg->ntf == KV_TREE_NTF_SCAN_END);
        }
    }
}

void CFileListView::OnTreeNode(KV_FileTreeNode* node, KV_TREE_NODE_NTF kind,
                               const KV_PathDef& folder, uint32_t view_number)
{
    CFileManData* data = GetData();
    if (data == nullptr) {
        return;
    }
    const bool mine = view_number == 0 || view_number == GetNumber();
    if (node != nullptr) {
        const bool shown = folder.is_equal(data->GetPath(), data->IsCaseSens());
        // "." never gets a row. An entry that comes is looked at when its
        // row goes in (InsertRow), one that goes when it leaves the queue or
        // the rows: reading the name of each of 100,000 entries here, when
        // they are announced together, cost the window more than the rest
        // of this.
        const bool looked_up = kind == KV_TREE_NODE_CHANGED || kind == KV_TREE_NODE_STATUS;
        if (!shown || (looked_up && node->name() == ".")) {
            if (kind == KV_TREE_NODE_REMOVED && node->is_dir()) {
                // The shown folder went with a folder above it.
                KV_PathDef removed;
                removed = folder;
                if (removed.append(node->name()) &&
                    removed.is_parent(data->GetPath(), data->IsCaseSens())) {
                    ClearRows();
                }
            }
            return;
        }
    } else if (kind != KV_TREE_NODE_REFRESH_BEGIN && kind != KV_TREE_NODE_REFRESH_END) {
        return;
    }
    switch (kind) {
    case KV_TREE_NODE_ADDED:
        InsertNode(node);
        break;
    case KV_TREE_NODE_REFRESH:
        if (mine) {
            InsertNode(node);
        }
        break;
    case KV_TREE_NODE_REMOVED:
        if (queued_set.erase(node) != 0) {
            queued.erase(std::find(queued.begin() + static_cast<std::ptrdiff_t>(queued_next),
                                   queued.end(), node));
        } else {
            model->RemoveRow(model->RowOf(node));
        }
        break;
    case KV_TREE_NODE_CHANGED:
        model->Update(model->RowOf(node));
        break;
    case KV_TREE_NODE_STATUS:
        if (node->is_dir()) {
            model->Update(model->RowOf(node));
        }
        break;
    case KV_TREE_NODE_REFRESH_BEGIN:
        if (mine) {
            ClearRows();
        }
        break;
    case KV_TREE_NODE_REFRESH_END:
        RefreshStatus(true);
        break;
    default:
        break;
    }
}

void CFileListView::InsertNode(KV_FileTreeNode* node)
{
    // A node the list shows already is not shown twice (a refresh for
    // another view may re-announce it).
    if (model->Contains(node) || queued_set.count(node) != 0) {
        return;
    }
    if (!insert_timer->isActive()) {
        insert_timer->start();
    }
    // Within the slice of this pass an entry goes in at once; beyond it, it
    // waits for a later pass.
    if (queued_next == queued.size() && inserted_in_pass < kInsertSlice) {
        InsertRow(node);
        return;
    }
    queued_set.insert(node);
    queued.push_back(node);
}

void CFileListView::InsertRow(KV_FileTreeNode* node)
{
    if (node->name() == ".") {
        return;
    }
    ++inserted_in_pass;
    const int row = model->Insert(node, order);
    if (node->expected() && !selection->hasSelection() && RequesterHasFocus()) {
        selection->setCurrentIndex(model->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

void CFileListView::InsertQueued()
{
    inserted_in_pass = 0;
    const size_t end = std::min(queued.size(), queued_next + kInsertSlice);
    for (; queued_next < end; ++queued_next) {
        queued_set.erase(queued[queued_next]);
        InsertRow(queued[queued_next]);
    }
    if (queued_next == queued.size()) {
        queued.clear();
        queued_next = 0;
    }
    // Once more after rows went in: the next pass starts a new slice.
    if (inserted_in_pass != 0) {
        insert_timer->start();
    }
}

void CFileListView::ClearRows()
{
    queued.clear();
    queued_set.clear();
    queued_next = 0;
    model->Clear();
}

std::vector<int> CFileListView::SelectedRows() const
{
    // Among icons only the name of an entry is selected, so rows are
    // counted by any selected cell.
    std::vector<int> rows;
    for (const QModelIndex& i : selection->selectedIndexes()) {
        rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CFileListView::SelectedNames(KVTL::KV_ListVal<KV_String>& names, bool* has_dir) const
{
    names.clear();
    if (has_dir != nullptr) {
        *has_dir = false;
    }
    for (int row : SelectedRows()) {
        const KV_FileTreeNode* node = model->NodeAt(row);
        if (node == nullptr || node->temp()) {
            continue;
        }
        names.add(node->name());
        if (has_dir != nullptr && node->is_dir()) {
            *has_dir = true;
        }
    }
}

bool CFileListView::FolderWritable() const
{
    CFileManData* data = GetData();
    KV_String text;
    return data != nullptr && data->GetPathText(text, data->GetPath(), false, 0);
}

bool CFileListView::GetSelection(uint32_t refuse_flags, KV_PathDef* path, uint32_t* type,
                                 bool files_only)
{
    CFileManData* data = GetData();
    const std::vector<int> rows = SelectedRows();
    if (data == nullptr || rows.empty()) {
        return false;
    }
    for (int row : rows) {
        const KV_FileTreeNode* node = model->NodeAt(row);
        if (node == nullptr || (node->node_flags() & refuse_flags) != 0 ||
            (files_only && (node->is_dir() || !node->fdc().valid_file()))) {
            return false;
        }
    }
    if (path == nullptr && type == nullptr) {
        return true;
    }
    if (rows.size() != 1) {
        return false;
    }
    const KV_FileTreeNode* first = model->NodeAt(rows.front());
    if (path != nullptr) {
        *path = data->GetPath();
        path->append(first->name());
    }
    if (type != nullptr) {
        *type = first->fdc().type();
    }
    return true;
}

KV_FileData* CFileListView::GetSelectedEntry() const
{
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 1) {
        return nullptr;
    }
    const KV_FileTreeNode* node = model->NodeAt(rows.front());
    return node != nullptr ? node->fdc().clone() : nullptr;
}

bool CFileListView::CanNewDirectory()
{
    CFileManData* data = GetData();
    KV_FileManPool* pool = Pool();
    return data != nullptr && pool != nullptr && pool->can_mkdir(data->GetManId(), data->GetPath());
}

bool CFileListView::CanRename()
{
    CFileManData* data = GetData();
    KV_FileManPool* pool = Pool();
    return data != nullptr && pool != nullptr &&
           pool->can_rename(data->GetManId(), data->GetPath());
}

bool CFileListView::CanGoUp()
{
    CFileManData* data = GetData();
    return data != nullptr && data->GetPath().entries() > data->GetPath().first_ind();
}

KV_PathDef CFileListView::GetTargetPath()
{
    CFileManData* data = GetData();
    const std::vector<int> rows = SelectedRows();
    if (data == nullptr || rows.size() >= 2) {
        return KV_PathDef();
    }
    KV_PathDef target;
    target = data->GetPath();
    if (rows.size() == 1) {
        const KV_FileTreeNode* node = model->NodeAt(rows.front());
        if (node != nullptr && node->is_dir()) {
            target.append(node->name());
        }
    }
    return target;
}

KV_PathDef CFileListView::HitTestFolder(const QPoint& pt) const
{
    CFileManData* data = GetData();
    if (data == nullptr) {
        return KV_PathDef();
    }
    KV_PathDef target;
    target = data->GetPath();
    const QModelIndex at = GetItemView()->indexAt(pt);
    if (at.isValid()) {
        const KV_FileTreeNode* node = model->NodeAt(at.row());
        if (node != nullptr && node->is_dir() && !node->temp()) {
            target.append(node->name());
        }
    }
    return target;
}

void CFileListView::SelectAll()
{
    QItemSelection all;
    for (int row = 0; row < model->rowCount(); ++row) {
        const KV_FileTreeNode* node = model->NodeAt(row);
        if (node != nullptr && !node->rdonly()) {
            all.select(model->index(row, 0), model->index(row, model->columnCount() - 1));
        }
    }
    selection->select(all, QItemSelectionModel::ClearAndSelect);
    setFocus();
}

void CFileListView::NewDirectory()
{
    CFileManData* data = GetData();
    if (data == nullptr || temp_node != nullptr) {
        return;
    }
    temp_node = std::make_unique<KV_FileTreeNode>(data->IsCaseSens(),
                                                  KV_FileData(KV_String("New directory"), true));
    temp_node->set_temp(true);
    const int row = model->Insert(temp_node.get(), order);
    const QModelIndex at = model->index(row, 0);
    GetItemView()->scrollTo(at);
    selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!EditRow(row)) {
        RemoveTemp();
    }
}

void CFileListView::Rename()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    selection->setCurrentIndex(model->index(rows.front(), 0), QItemSelectionModel::NoUpdate);
    EditRow(rows.front());
}

bool CFileListView::EditRow(int row)
{
    editing = nullptr;
    GetItemView()->edit(model->index(row, 0));
    return editing != nullptr;
}

void CFileListView::RemoveTemp()
{
    if (temp_node == nullptr) {
        return;
    }
    model->RemoveRow(model->RowOf(temp_node.get()));
    temp_node.reset();
}

bool CFileListView::CanEdit(int row)
{
    KV_FileTreeNode* node = model->NodeAt(row);
    return node != nullptr && !node->rdonly() && (node->temp() ? CanNewDirectory() : CanRename());
}

void CFileListView::OnEditStarted(int row)
{
    editing = model->NodeAt(row);
    reopen = false;
}

void CFileListView::OnCommit(QWidget* editor)
{
    // The delegate's own commit would write into the model: the entry keeps
    // its name until the engine reports the change.
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (editing != nullptr && line != nullptr) {
        OnEndLabelEdit(editing, line->text());
    }
}

KV_FileTreeNode* CFileListView::TakeEditing()
{
    KV_FileTreeNode* node = editing;
    editing = nullptr;
    return node;
}

void CFileListView::OnEditorClosed(KV_FileTreeNode* node)
{
    if (node == nullptr) {
        return;
    }
    if (node->temp()) {
        // Committed or cancelled, the temporary entry goes; a new folder
        // shows up when the engine reports it.
        RemoveTemp();
        return;
    }
    if (reopen) {
        reopen = false;
        if (model->RowOf(node) >= 0) {
            QTimer::singleShot(0, this, [this, node] {
                const int r = model->RowOf(node);
                if (r >= 0) {
                    EditRow(r);
                }
            });
        }
    }
}

void CFileListView::OnEndLabelEdit(KV_FileTreeNode* node, const QString& text)
{
    CFileManData* data = GetData();
    KV_FileManPool* pool = Pool();
    if (data == nullptr || pool == nullptr) {
        return;
    }
    const KV_String name = QStringToKv(text.trimmed());
    if (node->temp()) {
        if (name.length() != 0) {
            requester = this;
            KV_PathDef path;
            path = data->GetPath();
            if (path.append(name)) {
                pool->mkdir(data->GetManId(), path);
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
    if (node->rdonly() || name == node->name()) {
        return;
    }
    requester = this;
    KV_PathDef from;
    from = data->GetPath();
    KV_PathDef to;
    to = data->GetPath();
    if (from.append(node->name()) && to.append(name)) {
        pool->rename(data->GetManId(), from, to, node->is_dir());
    }
}

void CFileListView::Delete(bool extended)
{
    CFileManData* data = GetData();
    if (data == nullptr || !FolderWritable()) {
        return;
    }
    KVTL::KV_ListVal<KV_String> names;
    SelectedNames(names, nullptr);
    if (names.size() == 0) {
        return;
    }
    data->Remove(data->GetPath(), names, extended ? this : nullptr);
}

void CFileListView::CopyToClipboard(bool cut)
{
    CFileManData* data = GetData();
    if (data == nullptr || !FolderWritable()) {
        return;
    }
    bool has_dir = false;
    KVTL::KV_ListVal<KV_String> names;
    SelectedNames(names, &has_dir);
    CFileClipData clip;
    if (MakeClip(data->GetPath(), names, has_dir, cut, clip)) {
        PutOnClipboard(clip);
    }
}

void CFileListView::Paste(bool extended)
{
    const KV_PathDef target = GetTargetPath();
    if (target.empty()) {
        return;
    }
    Receive(QApplication::clipboard()->mimeData(), CKivrelApp::GetClipFormatBrCl(), target, -1,
            extended ? this : nullptr);
}

void CFileListView::FileOperation(KV_FILEOP op)
{
    CFileManData* data = GetData();
    if (data == nullptr || !FolderWritable()) {
        return;
    }
    KVTL::KV_ListVal<KV_String> names;
    SelectedNames(names, nullptr);
    if (names.size() != 0) {
        data->FileOp(data->GetPath(), names, op);
    }
}

void CFileListView::OnEnter()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    const KV_FileTreeNode* node = model->NodeAt(rows.front());
    if (node == nullptr || node->temp()) {
        return;
    }
    if (node->is_dir()) {
        if (CBrowseSplt* browse = CBrowseSplt::FromChild(this)) {
            browse->SetStatusText(QStringLiteral("Ready"), 0);
        }
        ChangeFolder(this, node->name(), true);
    } else {
        FileOperation(KV_FILEOP_OPEN);
    }
}

bool CFileListView::OnKey(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        OnEnter();
        return true;
    }
    if (e->key() == Qt::Key_Delete) {
        Delete(false);
        return true;
    }
    return false;
}

void CFileListView::OnDoubleClick(QAbstractItemView* view, QMouseEvent* e)
{
    if (view->indexAt(e->position().toPoint()).isValid()) {
        OnEnter();
    }
}

void CFileListView::OnContextMenu(QAbstractItemView* view, QContextMenuEvent* e)
{
    PopupFileMenu(view, e->globalPos());
}

void CFileListView::OnFocusIn()
{
    if (!selection->currentIndex().isValid() && model->rowCount() > 0) {
        selection->setCurrentIndex(model->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    CFileManData* data = GetData();
    if (data != nullptr && data->GetFileTree() != nullptr) {
        KV_FileTreeNode* node = data->GetFileTree()->find(data->GetPath().list());
        // Through the window, so its counts, its "&Data Source" popup and the
        // control window's selection follow the focus too.
        if (CBrowseSplt* browse = CBrowseSplt::FromChild(this)) {
            browse->OnPaneActivated(node);
        } else {
            data->GetFileTree()->set_act_inf(node);
        }
    }
}

void CFileListView::OnStartDrag()
{
    CFileManData* data = GetData();
    if (data == nullptr || !FolderWritable()) {
        return;
    }
    bool has_dir = false;
    KVTL::KV_ListVal<KV_String> names;
    SelectedNames(names, &has_dir);
    CFileClipData clip;
    if (MakeClip(data->GetPath(), names, has_dir, false, clip)) {
        StartDrag(clip, this);
    }
}

namespace {

Qt::DropAction ToAction(int effect)
{
    return effect == 2 ? Qt::MoveAction : Qt::CopyAction;
}

} // namespace

void CFileListView::OnDragMove(QAbstractItemView*, QDragMoveEvent* e)
{
    const int effect = GetDropEffect(e->mimeData(), HitTestFolder(e->position().toPoint()),
                                     (e->modifiers() & Qt::ControlModifier) != 0);
    if (effect == 0) {
        e->ignore();
        return;
    }
    e->setDropAction(ToAction(effect));
    e->accept();
}

int CFileListView::OnDrop(const QMimeData* data, const QPoint& pt, Qt::KeyboardModifiers keys)
{
    const KV_PathDef target = HitTestFolder(pt);
    const int effect = GetDropEffect(data, target, (keys & Qt::ControlModifier) != 0);
    if (effect == 0 || target.empty()) {
        return 0;
    }
    // Alt: the parameters dialog first.
    const bool alt = (keys & Qt::AltModifier) != 0;
    return Receive(data, CKivrelApp::GetClipFormatBrDd(), target, effect, alt ? this : nullptr)
               ? effect
               : 0;
}

void CFileListView::OnDropEvent(QAbstractItemView*, QDropEvent* e)
{
    const int effect = OnDrop(e->mimeData(), e->position().toPoint(), e->modifiers());
    if (effect == 0) {
        e->ignore();
        return;
    }
    e->setDropAction(ToAction(effect));
    e->accept();
}
