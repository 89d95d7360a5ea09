#include "views/fileview.h"

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "menus/menufind.h"
#include "menus/newmenu.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "views/filetreeview.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QWidget>

uint32_t CFileView::counter = 0;

QString KvToQString(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.length()));
}

KV_String QStringToKv(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    KV_String out;
    out.append(bytes.constData(), static_cast<uint32_t>(bytes.size()));
    return out;
}

void CFileView::CFileViewNtf::on_tree_ntf(const KV_MsgTreeNtf* msg)
{
    if (view != nullptr) {
        view->OnTreeMsg(msg);
    }
}

void CFileView::CFileViewNtf::on_node_ntf(KV_FileTreeNode* node, KV_TREE_NODE_NTF ntf,
                                          const KV_PathDef& path, uint32_t extra)
{
    if (view != nullptr) {
        view->OnTreeNode(node, ntf, path, extra);
    }
}

CFileView::CFileView() : number(++counter), ntf(this) {}

CFileView::~CFileView() = default;

CBrowseFrm* CFileView::GetPane() const
{
    // While Qt deletes the pane's children the pane is a plain QWidget
    // already, so the cast tells a live pane from a dying one.
    return dynamic_cast<CBrowseFrm*>(pane.data());
}

CFileManData* CFileView::GetData() const
{
    CBrowseFrm* frm = GetPane();
    return frm != nullptr ? frm->GetData() : nullptr;
}

CFileView* CFileView::FromWidget(QWidget* wnd)
{
    // The focus sits in the widget that shows a list, or in a name editor.
    for (QWidget* w = wnd; w != nullptr; w = w->parentWidget()) {
        if (auto* view = dynamic_cast<CFileView*>(w)) {
            return view;
        }
        if (w->isWindow()) {
            break;
        }
    }
    return nullptr;
}

void CFileView::PopupFileMenu(QWidget* source, const QPoint& global)
{
    if (CBrowseSplt* browse = CBrowseSplt::FromChild(source)) {
        browse->PopupFileMenu(global);
    }
}

bool CFileView::RequesterHasFocus() const
{
    QWidget* focus = QApplication::focusWidget();
    return requester != nullptr && focus != nullptr &&
           (focus == requester || requester->isAncestorOf(focus));
}

bool CFileView::Register(QWidget* view, bool update_adapter)
{
    view->setAcceptDrops(true);
    pane = CBrowseFrm::FromChild(view);
    CFileManData* data = GetData();
    if (GetPane() != nullptr && data != nullptr) {
        if (update_adapter) {
            SetListHidden(data, false);
        }
        KV_FileTree* t = data->GetFileTree();
        if (tree == nullptr && t != nullptr && t->reg(&ntf)) {
            tree = t;
            man = data->GetFileMan();
            man_id = data->GetManId();
        }
    }
    if (CBrowseFrm* frm = GetPane()) {
        frm->OnViewCreated(CRuntimeClass::Of(view));
    }
    return GetPane() != nullptr && data != nullptr;
}

void CFileView::Unregister(QWidget* view, bool update_adapter)
{
    CFileManData* data = GetData();
    if (tree != nullptr) {
        // The tree lives as long as its file manager; a pane that went
        // first may have let go of the manager.
        KV_FileManPool* pool = CKivrelApp::Instance() ? CKivrelApp::Instance()->GetPool() : nullptr;
        if (pool != nullptr && man != nullptr && pool->man(man_id) == man) {
            tree->unreg(&ntf);
        }
        tree = nullptr;
        man = nullptr;
    }
    if (data != nullptr && update_adapter) {
        SetListHidden(data, true);
    }
    if (CBrowseFrm* frm = GetPane()) {
        frm->OnViewDestroyed(CRuntimeClass::Of(view));
    }
}

void CFileView::NewDirectory() {}
void CFileView::Rename() {}
void CFileView::Delete(bool) {}
void CFileView::CopyToClipboard(bool) {}
void CFileView::Paste(bool) {}
void CFileView::FileOperation(KV_FILEOP) {}

bool CFileView::UpdateStatus()
{
    return false;
}

void CFileView::OnTreeMsg(const KV_MsgTreeNtf*) {}

void CFileView::OnTreeNode(KV_FileTreeNode*, KV_TREE_NODE_NTF, const KV_PathDef&, uint32_t) {}

bool CFileView::GetSelection(uint32_t, KV_PathDef*, uint32_t*, bool)
{
    return false;
}

KV_FileData* CFileView::GetSelectedEntry() const
{
    return nullptr;
}

bool CFileView::CanNewDirectory()
{
    return false;
}

bool CFileView::CanRename()
{
    return false;
}

bool CFileView::CanGoUp()
{
    KV_PathDef path;
    return GetSelection(0, &path, nullptr, true) && path.entries() > path.first_ind();
}

KV_PathDef CFileView::GetTargetPath()
{
    return KV_PathDef();
}

bool CFileView::ChangeFolder(QWidget* requester, const KV_String& name, bool go)
{
    this->requester = requester;
    CFileManData* data = GetData();
    return data != nullptr && data->ChangeFolder(name, go);
}

bool CFileView::SetFolder(QWidget* requester, const KV_PathDef& path, bool skip_if_same)
{
    this->requester = requester;
    CFileManData* data = GetData();
    return data != nullptr && data->SetFolder(path, skip_if_same);
}

bool CFileView::MakeClip(const KV_PathDef& dir, const KVTL::KV_ListVal<KV_String>& names,
                         bool has_dir, bool cut, CFileClipData& clip) const
{
    CFileManData* data = GetData();
    if (data == nullptr || names.size() == 0) {
        return false;
    }
    clip.dir = dir;
    clip.src = data->GetManId();
    clip.names.clear();
    for (uint32_t i = 0; i < names.size(); ++i) {
        clip.names.add(names.at(i));
    }
    clip.has_dir = has_dir;
    clip.move = cut;
    return true;
}

void CFileView::PutOnClipboard(const CFileClipData& clip)
{
    const bool local = clip.src.type() == KV_DS_NODE_STD;
    QMimeData* mime = MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrCl(), local);
    // Whether the desktop moves or copies what it pastes.
    QByteArray effect(4, '\0');
    effect[0] = static_cast<char>(clip.move ? 2 : 1);
    mime->setData(QStringLiteral("Preferred DropEffect"), effect);
    QApplication::clipboard()->setMimeData(mime);
}

void CFileView::StartDrag(const CFileClipData& clip, QWidget* source)
{
    const bool local = clip.src.type() == KV_DS_NODE_STD;
    auto* drag = new QDrag(source);
    drag->setMimeData(MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrDd(), local));
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
}

bool CFileView::ReadClip(const QMimeData* mime, const QString& format, CFileClipData& clip,
                         bool& local) const
{
    local = false;
    if (mime == nullptr) {
        return false;
    }
    if (mime->hasFormat(format)) {
        return clip.Read(mime->data(format));
    }
    KV_FileManPool* pool = CKivrelApp::Instance() ? CKivrelApp::Instance()->GetPool() : nullptr;
    if (pool != nullptr && mime->hasFormat(QStringLiteral("text/uri-list")) &&
        clip.ReadUriList(mime->data(QStringLiteral("text/uri-list")), *pool)) {
        local = true;
        return true;
    }
    return false;
}

int CFileView::GetDropEffect(const QMimeData* mime, const KV_PathDef& target, bool ctrl) const
{
    CFileManData* data = GetData();
    KV_FileManPool* pool = CKivrelApp::Instance() ? CKivrelApp::Instance()->GetPool() : nullptr;
    CFileClipData clip;
    bool local = false;
    if (data == nullptr || pool == nullptr ||
        !ReadClip(mime, CKivrelApp::GetClipFormatBrDd(), clip, local)) {
        return 0;
    }
    return clip.GetDropEffect(*pool, data->GetManId(), target, data->IsSftp(), ctrl);
}

bool CFileView::Receive(const QMimeData* mime, const QString& format, const KV_PathDef& target,
                        int effect, QWidget* parent)
{
    CFileManData* data = GetData();
    CFileClipData clip;
    bool local = false;
    if (data == nullptr || target.empty() || !ReadClip(mime, format, clip, local)) {
        return false;
    }
    if (local) {
        return data->ReceiveLocal(clip.src, clip.dir, target, clip.names, false, clip.has_dir,
                                  false);
    }
    const bool move = effect == 2 || (effect < 0 && clip.move);
    return data->Receive(clip.src, clip.dir, target, clip.names, move, clip.has_dir, parent);
}

void CFileView::SetListHidden(CFileManData* data, bool hidden)
{
    if (data->IsListHidden() == hidden) {
        return;
    }
    CBrowseFrm* frm = GetPane();
    data->SetListHidden(hidden, frm);
    // A closing pane's list leaves first: filling its dying folder tree with
    // the files of a large folder held the window for seconds.
    if (frm == nullptr || frm->IsClosing()) {
        return;
    }
    for (CFileTreeView* view : frm->findChildren<CFileTreeView*>()) {
        if (view != dynamic_cast<CFileTreeView*>(this)) {
            view->Rebuild();
        }
    }
}
