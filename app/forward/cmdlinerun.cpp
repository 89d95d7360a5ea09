#include "forward/cmdlinerun.h"

#include "core/cmdforward.h"
#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenode.h"
#include "dialogs/dlgfilereg.h"
#include "dialogs/dlgfiletrans.h"
#include "foundation/kv_uriman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

namespace {

KV_FileManPool* Pool()
{
    return CKivrelApp::Instance() != nullptr ? CKivrelApp::Instance()->GetPool() : nullptr;
}

void Report(const QString& text)
{
    if (KV_FileManPool* pool = Pool()) {
        pool->eh().set_err(2, KV_String(text.toUtf8().constData()));
    }
}

void ReportInvalid(const KV_String& uri)
{
    if (KV_FileManPool* pool = Pool()) {
        pool->eh().set_err(2, "Invalid URI %s.", uri.data());
    }
}

// The chosen data source in the tree with status 2: a new one joins the
// tree, a found one has its status set. Null when none.
KV_DsTreeNode* Resolve(KV_FileManPool& pool, const KV_DsTreeNodeInfo* info)
{
    if (info == nullptr) {
        return nullptr;
    }
    if (info->new_node()) {
        return pool.new_ds(info->clone(), 2);
    }
    KV_DsTreeNode* node = info->orig();
    if (node != nullptr) {
        pool.set_status(node, 2);
    }
    return node;
}

// Adds `doc` to the documents of the data source of `node`.
bool AddDoc(KV_FileManPool& pool, const KV_DsTreeNode* node, const KV_String& doc)
{
    KV_DsTreeNode* ds = pool.tree().find(KV_FileManId(node->id(), 0));
    if (ds == nullptr) {
        return true;
    }
    bool changed = false;
    if (!ds->node_doc_add(doc, changed)) {
        return false;
    }
    return !changed || pool.upd_fman_param(ds);
}

KV_String ToBytes(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    KV_String out;
    out.append(bytes.constData(), static_cast<uint32_t>(bytes.size()));
    return out;
}

} // namespace

void RunCommandLine(const QByteArray& payload, QWidget* parent)
{
    std::vector<KV_String> args;
    if (!UnpackCommandLine(payload, args)) {
        return;
    }
    const CCmdLineAction action = ParseCommandLine(args);
    switch (action.kind) {
    case CCmdLineAction::kError:
        Report(action.error);
        return;
    case CCmdLineAction::kRegister:
        RegisterUri(action.first, parent);
        return;
    case CCmdLineAction::kCopy:
        CopyUri(action.first, action.second, KV_FILEOP_COPY, parent);
        return;
    case CCmdLineAction::kDrop:
        DropFromExplorer(action.first, action.drag, action.move);
        return;
    case CCmdLineAction::kNone:
        return;
    }
}

bool RegisterUri(const KV_String& uri, QWidget* parent)
{
    KV_FileManPool* pool = Pool();
    if (pool == nullptr) {
        return false;
    }
    KV_String scheme;
    KV_String host;
    KV_String path;
    KV_UriMan::split_uri(uri, scheme, host, path);
    KV_DS_NODE_TYPE type = KV_DS_NODE_NONE;
    bool secure = false;
    KV_DsTreeNode::get_type(scheme, type, secure, KV_DS_NODE_NONE);
    if (type == KV_DS_NODE_NONE) {
        ReportInvalid(uri);
        return false;
    }
    CDlgFileReg dlg(type, host, path, secure, parent);
    if (dlg.exec() != QDialog::Accepted || dlg.GetSelInfo() == nullptr) {
        return true;
    }
    KV_DsTreeNode* node = Resolve(*pool, dlg.GetSelInfo());
    if (node == nullptr) {
        return false;
    }
    return AddDoc(*pool, node, ToBytes(dlg.GetFileText()));
}

bool CopyUri(const KV_String& src, const KV_String& dst, KV_FILEOP op, QWidget* parent)
{
    KV_FileManPool* pool = Pool();
    if (pool == nullptr) {
        return false;
    }
    KV_String s_scheme, s_host, s_path;
    KV_UriMan::split_uri(src, s_scheme, s_host, s_path);
    KV_DS_NODE_TYPE s_type = KV_DS_NODE_NONE;
    bool secure = false;
    if (s_scheme.empty()) {
        s_type = KV_DS_NODE_STD;
        s_host.clear();
        s_path = src;
    } else {
        KV_DsTreeNode::get_type(s_scheme, s_type, secure, KV_DS_NODE_NONE);
    }
    KV_String d_scheme, d_host, d_path;
    KV_UriMan::split_uri(dst, d_scheme, d_host, d_path);
    KV_DS_NODE_TYPE d_type = KV_DS_NODE_NONE;
    if (d_scheme.empty() && (!d_host.empty() || !d_path.empty())) {
        d_type = KV_DS_NODE_STD;
        d_host.clear();
        d_path = dst;
    } else {
        bool d_secure = false;
        KV_DsTreeNode::get_type(d_scheme, d_type, d_secure, KV_DS_NODE_NONE);
    }
    if (s_type == KV_DS_NODE_NONE) {
        ReportInvalid(src);
        return false;
    }
    CDlgFileTrans dlg(s_type, s_host, s_path, d_type, d_host, d_path, secure, op != KV_FILEOP_COPY,
                      parent);
    if (dlg.exec() != QDialog::Accepted || dlg.GetSrcInfo() == nullptr ||
        dlg.GetDstInfo() == nullptr) {
        return true;
    }
    const bool previous = pool->set_deltemp(false);
    bool ok = false;
    KV_DsTreeNode* dst_node = Resolve(*pool, dlg.GetDstInfo());
    KV_DsTreeNode* src_node = dst_node != nullptr ? Resolve(*pool, dlg.GetSrcInfo()) : nullptr;
    if (src_node != nullptr && AddDoc(*pool, src_node, dlg.GetSrcPath())) {
        ok = pool->copy(KV_FileManId(src_node->id(), 0), KV_FileManId(dst_node->id(), 0),
                        dlg.GetSrcPath(), dlg.GetDstPath(), dlg.GetParams(), op);
    }
    pool->set_deltemp(previous);
    return ok;
}

bool DropFromExplorer(const KV_String&, bool, bool)
{
    return false;
}
