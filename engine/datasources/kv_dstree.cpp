#include "datasources/kv_dstree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <concepts>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "datasources/kv_dsroot.h"
#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_bytebuf.h"
#include "foundation/kv_file.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_path.h"
#include "foundation/kv_safefile.h"

namespace {

const char file_main[] = "kivrel.ds";
// Left by an interrupted save of earlier versions, which moved the old file
// here before writing the new one: then it is the complete file.
const char file_backup[] = "kivrel.ds.tmp";

// The reader's limits: a key or type word of at most 4095 characters and a
// value or path of at most 4194303 (0x3FFFFF); longer ones are cut.
constexpr uint32_t key_size = 4096;
constexpr uint32_t val_size = 0x400000;
const char fmt_set[] = "SET %4095s %4194303c";
const char fmt_node[] = "NODE: TYPE = %4095s NAME = %4194303c";

const char text_grp_comment[] = "You can create own sub-folders|to categorize your servers and/or|"
                                "to manage the settings using|the properties inheritence.";
const char text_std_comment[] =
    "Use this data source|to transfer files from/to|the local computer.";

// A value that its node refuses fails the load without a word, as any
// damaged value does. Every scrambled value is refused when the cipher
// cannot be had, though, and that reason must reach the user: the scrambling
// is tried once more here, where there is a handler to report to.
void report_cipher(KV_ErrHandler& eh)
{
    KV_String("0000").decrypt_bf(KV_LoginData::bf_key, &eh);
}

KV_DsTreeNodeGrp* as_grp(KV_DsTreeNode* node)
{
    // Every node of type KV_DS_NODE_GRP is a KV_DsTreeNodeGrp.
    return node && node->type() == KV_DS_NODE_GRP ? static_cast<KV_DsTreeNodeGrp*>(node) : nullptr;
}

const KV_DsTreeNodeGrp* as_grp(const KV_DsTreeNode* node)
{
    return node && node->type() == KV_DS_NODE_GRP ? static_cast<const KV_DsTreeNodeGrp*>(node)
                                                  : nullptr;
}

bool copy_path(const KV_DsTreePath& from, KV_DsTreePath& to)
{
    to.clear();
    for (KV_DsTreeNode* n : from)
        if (!to.add(n))
            return false;
    return true;
}

// The names of the path list's nodes joined with '|': the path text that a
// node at the end of that list gets.
bool path_text(const KV_DsTreePath& path, KV_String& text)
{
    text.clear();
    for (uint32_t i = 0; i < path.size(); ++i) {
        if (i && !text.append("|"))
            return false;
        if (!text.append(path.at(i)->name().data()))
            return false;
    }
    return true;
}

// The moved nodes take the path text of their new place.
bool set_paths(KV_DsTreeNode* node, const KV_String& text)
{
    node->set_path(text);
    KV_String below = text;
    if ((!below.empty() && !below.append("|")) || !below.append(node->name().data()))
        return false;
    for (KV_DsTreeNode* child : node->list())
        if (!set_paths(child, below))
            return false;
    return true;
}

KV_String settings_file(const char* name)
{
    return KV_File::path(KV_PATH_SETTINGS, true) + name;
}

// The next non-blank line of the text from `pos` on, trimmed of blanks, tabs,
// CR and LF at both ends; a NUL byte ends the line's text there. False when
// no line is left or memory ran out (then `fail`).
bool next_line(const unsigned char* text, uint32_t len, uint32_t& pos, KV_String& line, bool& fail)
{
    line.clear();
    while (pos < len && line.empty()) {
        const unsigned char* start = text + pos;
        const void* lf = std::memchr(start, '\n', len - pos);
        uint32_t n =
            lf ? static_cast<uint32_t>(static_cast<const unsigned char*>(lf) - start) : len - pos;
        pos += n + (lf ? 1 : 0);
        KV_String raw;
        if (!raw.append(reinterpret_cast<const char*>(start), n)) {
            fail = true;
            return false;
        }
        line = raw.trim();
    }
    return !line.empty();
}

void zero(char* buf, uint32_t size, uint32_t line_len)
{
    uint64_t n = static_cast<uint64_t>(line_len) + 1;
    std::memset(buf, 0, n < size ? static_cast<size_t>(n) : size);
}

} // namespace

KV_DsTree::KV_DsTree(KV_ErrHandler& err) : cache(4096), err_handler(err) {}

KV_DsTree::~KV_DsTree()
{
    cleanup();
    cache.clear();
}

// ---------------------------------------------------------------------------
// Walks

KV_DsTreeNode* KV_DsTree::find(KV_DS_NODE_TYPE type, bool grp) const
{
    return find(root, type, grp);
}

KV_DsTreeNode* KV_DsTree::find(const KV_FileManId& id) const
{
    return find(root, id, nullptr, nullptr);
}

KV_DsTreeNode* KV_DsTree::find(const KV_String& name) const
{
    return find(root, name, true);
}

KV_DsTreeNode* KV_DsTree::find(const KV_DsTreeNode* const from, const KV_String& name,
                               bool deep) const
{
    if (!from) {
        if (!root)
            return nullptr;
        if (root->name() == name)
            return root;
        return deep ? find(root, name, true) : nullptr;
    }
    for (KV_DsTreeNode* child : from->list()) {
        if (child->name() == name)
            return child;
        if (deep)
            if (KV_DsTreeNode* found = find(child, name, true))
                return found;
    }
    return nullptr;
}

KV_DsTreeNode* KV_DsTree::find(KV_DsTreeNode* const from, KV_DS_NODE_TYPE type, bool grp) const
{
    if (!from)
        return nullptr;
    if (grp) {
        const KV_DsTreeNodeGrp* g = as_grp(from);
        if (g && g->type_grp() == type)
            return from;
    } else if (from->type() == type) {
        return from;
    }
    for (KV_DsTreeNode* child : from->list())
        if (KV_DsTreeNode* found = find(child, type, grp))
            return found;
    return nullptr;
}

KV_DsTreeNode* KV_DsTree::find(KV_DsTreeNode* const from, const KV_FileManId& id,
                               KV_DsTreePath* const path, const KV_DsTreeNode* const skip) const
{
    if (!from)
        return nullptr;
    if (from != skip && from->id() == id) {
        if (path)
            path->insert(0, from);
        return from;
    }
    for (KV_DsTreeNode* child : from->list()) {
        if (KV_DsTreeNode* found = find(child, id, path, skip)) {
            if (path)
                path->insert(0, from);
            return found;
        }
    }
    return nullptr;
}

bool KV_DsTree::find(const KV_DsTreeNode* const from, const KV_DsTreeNode* const node,
                     KV_DsTreePath* const path, bool deep) const
{
    if (!node)
        return false;
    if (!from) {
        if (!root)
            return false;
        if (node == root)
            return true;
        if (!deep || !find(root, node, path, true))
            return false;
        return !path || path->insert(0, root);
    }
    for (KV_DsTreeNode* child : from->list()) {
        if (child == node)
            return true;
        if (deep && find(child, node, path, true))
            return !path || path->insert(0, child);
    }
    return false;
}

KV_DsTreeNode* KV_DsTree::parent(const KV_DsTreeNode* const node) const
{
    return root ? parent(root, node) : nullptr;
}

KV_DsTreeNode* KV_DsTree::parent(const KV_DsTreeNode* const from,
                                 const KV_DsTreeNode* const node) const
{
    for (KV_DsTreeNode* child : from->list()) {
        for (KV_DsTreeNode* grandchild : child->list())
            if (grandchild == node)
                return child;
        if (KV_DsTreeNode* found = parent(child, node))
            return found;
    }
    return nullptr;
}

KV_DsTreeNodeGrp* KV_DsTree::parent_grp(const KV_DsTreeNode* const node, bool inh) const
{
    if (!node)
        return nullptr;
    const KV_DsTreeNodeGrp* self = as_grp(node);
    KV_DS_NODE_TYPE want = self ? self->type_grp() : node->type();
    KV_DsTreeNodeGrp* found = nullptr;
    for (KV_DsTreeNode* up = parent(node); up; up = parent(up)) {
        KV_DsTreeNodeGrp* g = as_grp(up);
        if (!g || g->type_grp() != want)
            continue;
        found = g;
        if (!inh || !g->inh_params())
            break;
    }
    return found;
}

KV_DsTreeNode* KV_DsTree::clone(const KV_DsTreeNode* const node, bool resolve) const
{
    return node ? node->clone(resolve ? this : nullptr) : nullptr;
}

KV_DsTreeNode* KV_DsTree::clone(const KV_DsId& id, bool resolve, KV_DsTreeNode** const orig) const
{
    KV_DsTreeNode* node = find(KV_FileManId(id, 0));
    if (orig)
        *orig = node;
    return clone(node, resolve);
}

bool KV_DsTree::rdonly(const KV_FileManId& id, bool in_use) const
{
    KV_DsTreeNode* node = find(id);
    if (!node || node->rdonly())
        return true;
    if (node->type() == KV_DS_NODE_GRP) {
        // The root and the protocol groups have no group of their kind above
        // them; they are the tree's frame.
        if (!parent_grp(node, false))
            return true;
        return in_use && find(node, KV_DS_NODE_MAN_INST, false) != nullptr;
    }
    return find(node, KV_DS_NODE_MAN_INST, false) != nullptr;
}

// ---------------------------------------------------------------------------
// Notifications

bool KV_DsTree::inform(KV_DsTreeNode* const node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath& path,
                       uint8_t flags)
{
    if (!ntf_recv || (node && !node->visible()))
        return false;
    ntf_recv->on_node_ntf(node, ntf, path, flags);
    return true;
}

bool KV_DsTree::refresh_node(KV_DsTreeNode* const node, const KV_DsTreePath& path)
{
    inform(node, KV_TREE_NODE_ADDED, path, 0);
    KV_DsTreePath below;
    if (!copy_path(path, below) || !below.add(node))
        return false;
    bool ok = true;
    for (uint32_t i = 0; ok && i < node->list().size(); ++i)
        ok = refresh_node(node->list().at(i), below);
    return ok;
}

bool KV_DsTree::refresh()
{
    if (!root || !ntf_recv)
        return true;
    KV_DsTreePath empty;
    return refresh_node(root, empty);
}

bool KV_DsTree::set_status(KV_DsTreeNode* const node, uint8_t flags)
{
    KV_DsTreePath path;
    if (!find(nullptr, node, &path, true))
        return false;
    inform(node, KV_TREE_NODE_STATUS, path, flags);
    return true;
}

void KV_DsTree::cleanup()
{
    if (!root)
        return;
    KV_DsTreePath empty;
    inform(root, KV_TREE_NODE_REMOVED, empty, 0);
    delete root;
    root = nullptr;
}

// ---------------------------------------------------------------------------
// Changing the tree

void KV_DsTree::refuse_dupl(const KV_DsTreeNode* const found)
{
    err_handler.set_err(2,
                        KV_String(found->type() == KV_DS_NODE_GRP ? "Folder already exists."
                                                                  : "Data source already exists."));
}

KV_DsTreeNode* KV_DsTree::insert_clone(const KV_DsTreePath& path, const KV_DsTreeNode* const node,
                                       uint8_t flags, bool check_dupl)
{
    KV_String text;
    if (!path_text(path, text))
        return nullptr;
    KV_DsTreeNode* c = node->clone(nullptr);
    if (!c)
        return nullptr;
    c->set_path(text);
    // The id is checked with the path the node gets: a folder's id holds it,
    // so two folders of one name under one parent are refused here. Such a
    // pair could not be told apart in the file.
    if (check_dupl) {
        if (KV_DsTreeNode* found = find(root, c->id(), nullptr, nullptr)) {
            refuse_dupl(found);
            KV_DsTreeNode::destr_clone(c);
            return nullptr;
        }
    }
    if (path.empty()) {
        if (root) {
            KV_DsTreeNode::destr_clone(c);
            return nullptr;
        }
        root = c;
    } else if (!path.at(path.size() - 1)->insert(c)) {
        KV_DsTreeNode::destr_clone(c);
        return nullptr;
    }
    c->post_updt();
    inform(c, KV_TREE_NODE_ADDED, path, flags);
    return c;
}

KV_DsTreeNode* KV_DsTree::create(KV_DsTreeNode* const parent, KV_DsTreeNode* const node,
                                 uint8_t flags, bool check_name)
{
    if (!node)
        return nullptr;
    if (check_name && node->name().empty()) {
        err_handler.set_err(2, KV_String("The name can't be empty."));
        return nullptr;
    }
    KV_DsTreePath path;
    if (parent && (!find(nullptr, parent, &path, true) || !path.add(parent)))
        return nullptr;
    KV_DsTreeNode* c = insert_clone(path, node, flags, true);
    if (!c)
        return nullptr;
    if (autosave_ && !node->save_type().empty() && !save())
        return nullptr;
    return c;
}

bool KV_DsTree::update(KV_DsTreeNode* const node, const KV_DsTreeNode* const from, uint8_t flags)
{
    if (!from || !node)
        return false;
    if (from->name().empty()) {
        err_handler.set_err(2, KV_String("The name can't be empty."));
        return false;
    }
    if (node->visible() != from->visible()) {
        err_handler.set_err(2, KV_String("Invalid name."));
        return false;
    }
    KV_DsTreePath path;
    KV_String text;
    if (!find(nullptr, node, &path, true) || !path_text(path, text))
        return false;
    // The edited copy is checked, and stored, with the path of the node's
    // place, whatever path the copy brings.
    KV_DsTreeNode* probe = from->clone(nullptr);
    if (!probe)
        return false;
    probe->set_path(text);
    KV_DsTreeNode* found = find(root, probe->id(), nullptr, node);
    KV_DsTreeNode::destr_clone(probe);
    if (found) {
        refuse_dupl(found);
        return false;
    }
    if (!node->operator=(from))
        return false;
    node->set_path(text);
    node->post_updt();
    inform(node, KV_TREE_NODE_CHANGED, path, flags);
    if (autosave_ && !from->save_type().empty())
        return save();
    return true;
}

bool KV_DsTree::remove(KV_DsTreeNode* const node)
{
    KV_DsTreePath path;
    if (!find(nullptr, node, &path, true))
        return false;
    bool saved_kind = !node->save_type().empty();
    if (path.empty()) {
        if (node != root)
            return false;
        root = nullptr;
    } else if (!path.at(path.size() - 1)->remove(node)) {
        return false;
    }
    inform(node, KV_TREE_NODE_REMOVED, path, 0);
    delete node;
    if (autosave_ && saved_kind)
        return save();
    return true;
}

bool KV_DsTree::move(KV_DsTreeNode* const node, KV_DsTreeNode* const dst, bool test)
{
    if (!node || !dst || node->rdonly())
        return false;
    KV_DsTreePath from_path;
    KV_DsTreePath to_path;
    if (!find(nullptr, node, &from_path, true) || !find(nullptr, dst, &to_path, true))
        return false;
    if (dst->type() != KV_DS_NODE_GRP)
        return false;
    // A node moved into itself or below itself would leave the tree with its
    // whole subtree.
    if (dst == node || find(node, dst, nullptr, true))
        return false;
    if (from_path.empty())
        return false;
    KV_DsTreeNode* old_parent = from_path.at(from_path.size() - 1);
    if (old_parent == dst || !to_path.add(dst))
        return false;
    // A node never leaves its protocol: the innermost groups of both places
    // gather the same kind.
    auto innermost = [](const KV_DsTreePath& path) -> const KV_DsTreeNodeGrp* {
        for (uint32_t i = path.size(); i-- > 0;)
            if (const KV_DsTreeNodeGrp* g = as_grp(path.at(i)))
                return g;
        return nullptr;
    };
    const KV_DsTreeNodeGrp* grp_from = innermost(from_path);
    const KV_DsTreeNodeGrp* grp_to = innermost(to_path);
    if (!grp_from || !grp_to || grp_from->type_grp() != grp_to->type_grp())
        return false;
    KV_String text;
    if (!path_text(to_path, text))
        return false;
    if (node->type() == KV_DS_NODE_GRP) {
        // A folder's id holds its path: at the new place it must not equal
        // another folder's, or the two could not be told apart in the file.
        KV_DsTreeNode* probe = node->clone(nullptr);
        if (!probe)
            return false;
        probe->set_path(text);
        KV_DsTreeNode* found = find(root, probe->id(), nullptr, node);
        KV_DsTreeNode::destr_clone(probe);
        if (found)
            return false;
    }
    if (test)
        return true;

    if (!old_parent->remove(node))
        return false;
    if (!dst->insert(node)) {
        // Back under its old parent (at the end of its children); when even
        // that fails the node is out of the tree and is deleted.
        if (!old_parent->insert(node)) {
            inform(node, KV_TREE_NODE_REMOVED, from_path, 0);
            delete node;
        }
        return false;
    }
    set_paths(node, text);
    if (inform(node, KV_TREE_NODE_REMOVED, from_path, 0))
        refresh_node(node, to_path);
    return true;
}

void KV_DsTree::set_pass(const KV_DsId& id, const KV_String& pass)
{
    KV_DsTreeNode* node = find(KV_FileManId(id, 0));
    if (!node)
        return;
    KV_DsTreeNode* c = node->clone(nullptr);
    if (!c)
        return;
    c->set_pass(pass);
    update(node, c, 0);
    KV_DsTreeNode::destr_clone(c);
}

bool KV_DsTree::process_ntf(const KV_Msg* const msg)
{
    if (!msg)
        return false;
    if (msg->type() != KV_MSG_MAN)
        return true;
    const auto* ntf = static_cast<const KV_MsgManNtf*>(msg);
    switch (ntf->ntf) {
    case KV_MAN_NTF_INIT: {
        KV_DsTreeNode* ds = find(KV_FileManId(ntf->man_id, 0));
        if (!ds || !ds->opts())
            return false;
        KV_DsTreeNodeManInst inst(ntf->man_id, *ds->opts());
        inst.set_name(ntf->text);
        if (!create(ds, &inst, 0, true))
            return false;
        return pool_ ? pool_->upd_fman(ntf->man_id) : true;
    }
    case KV_MAN_NTF_REMOVED: {
        KV_DsTreeNode* node = find(ntf->man_id);
        return node ? remove(node) : false;
    }
    case KV_MAN_NTF_DOC_ADD:
    case KV_MAN_NTF_DOC_DEL: {
        KV_DsTreeNode* node = find(ntf->man_id);
        if (!node)
            return false;
        bool changed = false;
        bool ok = ntf->ntf == KV_MAN_NTF_DOC_ADD ? node->node_doc_add(ntf->text, changed)
                                                 : node->node_doc_del(ntf->text, changed);
        if (!ok)
            return false;
        if (changed && pool_)
            return pool_->upd_fman_param(node);
        return true;
    }
    default:
        return true;
    }
}

bool KV_DsTree::deltemp_node(KV_DsTreeNode* const node, bool& removed)
{
    if (!pool_ || !node)
        return false;
    const KV_FileManOpts* opts = node->opts();
    if (!opts || node->rdonly() || !opts->temporary())
        return true;
    removed = !pool_->contains(node->id());
    return removed ? remove(node) : true;
}

bool KV_DsTree::deltemp(KV_DsTreeNode* const from, bool& removed)
{
    if (!pool_)
        return false;
    bool ok = true;
    // A removal changes the child lists: the walk ends with it.
    for (uint32_t i = 0; ok && !removed && i < from->list().size(); ++i) {
        KV_DsTreeNode* child = from->list().at(i);
        ok = deltemp(child, removed);
        if (ok && !removed)
            ok = deltemp_node(child, removed);
    }
    return ok;
}

bool KV_DsTree::deltemp()
{
    bool ok = true;
    bool removed = true;
    while (ok && root && removed) {
        removed = false;
        ok = deltemp(root, removed);
    }
    return ok;
}

// ---------------------------------------------------------------------------
// Lookup by address and transfer parameters

bool KV_DsTree::get_info(const KV_DsTreeNode* const from, KV_DsTreeInfo& info, KV_DS_NODE_TYPE type,
                         const KV_String& addr, uint8_t flags) const
{
    const KV_String want = addr.trim().upper();
    bool ok = true;
    for (uint32_t i = 0; ok && i < from->list().size(); ++i) {
        KV_DsTreeNode* child = from->list().at(i);
        bool cand = child->type() != KV_DS_NODE_GRP &&
                    (type == KV_DS_NODE_NONE || child->id().type() == type) &&
                    (addr.empty() || child->srv().trim().upper() == want) &&
                    (!(flags & 0x02) || child->type() != KV_DS_NODE_MAN_INST);
        if (cand) {
            KV_DsTreeNode* c = nullptr;
            if (flags & 0x01) {
                c = child->clone(nullptr);
                if (!c)
                    return false;
            }
            auto* ni = new (std::nothrow) KV_DsTreeNodeInfo(child, c, false);
            if (!ni) {
                KV_DsTreeNode::destr_clone(c);
                return false;
            }
            info.add(ni);
        }
        ok = get_info(child, info, type, addr, flags);
    }
    return ok;
}

bool KV_DsTree::get_info(KV_DsTreeInfo& info, KV_DS_NODE_TYPE type, const KV_String& addr,
                         uint8_t flags, const KV_LoginData* const login) const
{
    info.clear();
    bool ok = true;
    if (!(flags & 0x04) && root)
        ok = get_info(root, info, type, addr, flags);
    if (!ok || !(flags & 0x08))
        return ok;

    const bool use_login = login && !login->empty();
    KV_DsTreeNode* node = nullptr;
    switch (type) {
    case KV_DS_NODE_FTP: {
        auto* n = new (std::nothrow) KV_DsTreeNodeFtp();
        if (!n)
            return false;
        KV_FileManParamsFtp& p = n->params_ftp();
        p.set_anonymous(true);
        if (flags & 0x10)
            p.opts().set_temporary(true);
        if (flags & 0x20)
            p.set_security(KV_FTP_SECURE_EXPLICIT);
        if (use_login) {
            p.ldata() = *login;
            p.set_anonymous(false);
        }
        p.set_dst_addr(addr);
        node = n;
        break;
    }
    case KV_DS_NODE_SFTP: {
        auto* n = new (std::nothrow) KV_DsTreeNodeSftp();
        if (!n)
            return false;
        KV_FileManParamsSftp& p = n->params_sftp();
        if (flags & 0x10)
            p.opts().set_temporary(true);
        if (use_login)
            p.ldata() = *login;
        p.set_dst_addr(addr);
        node = n;
        break;
    }
    case KV_DS_NODE_HTTP: {
        auto* n = new (std::nothrow) KV_DsTreeNodeHttp();
        if (!n)
            return false;
        KV_FileManParamsHttp& p = n->params_http();
        if (flags & 0x10)
            p.opts().set_temporary(true);
        if (flags & 0x20)
            p.set_security(KV_FTP_SECURE_IMPLICIT);
        if (use_login)
            p.ldata() = *login;
        p.set_dst_addr(addr);
        node = n;
        break;
    }
    default:
        return true;
    }
    node->set_name(addr);
    auto* ni = new (std::nothrow) KV_DsTreeNodeInfo(node, node, true);
    if (!ni) {
        KV_DsTreeNode::destr_clone(node);
        return false;
    }
    info.add(ni);
    return true;
}

KV_FileReqTransParamsCp KV_DsTree::params_cp(const KV_DsId& src, const KV_DsId& dst) const
{
    KV_FileReqTransParamsCp params;
    KV_DsTreeNode* src_node = find(KV_FileManId(src, 0));
    KV_DsTreeNode* dst_node = find(KV_FileManId(dst, 0));
    // Without a destination in the tree there is nothing to decide on.
    if (!src_node || !dst_node)
        return params;
    KV_DsTreeNode* c = src_node->clone(this);
    if (c) {
        params = c->params_cp(*dst_node);
        KV_DsTreeNode::destr_clone(c);
    }
    return params;
}

KV_FileReqTransParamsCp KV_DsTree::params_fileop(const KV_DsId&) const
{
    return KV_FileReqTransParamsCp();
}

KV_FileReqTransParamsRen KV_DsTree::params_ren(const KV_DsId& id) const
{
    KV_FileReqTransParamsRen params;
    KV_DsTreeNode* c = clone(id, true, nullptr);
    if (c) {
        params = c->params_ren();
        KV_DsTreeNode::destr_clone(c);
    }
    return params;
}

KV_FileReqTransParamsRm KV_DsTree::params_rm(const KV_DsId& id) const
{
    KV_FileReqTransParamsRm params;
    KV_DsTreeNode* c = clone(id, true, nullptr);
    if (c) {
        params = c->params_rm();
        KV_DsTreeNode::destr_clone(c);
    }
    return params;
}

// ---------------------------------------------------------------------------
// The file

bool KV_DsTree::read_file(const KV_String& name, KV_Stream& text) const
{
    KV_File file(name, "rb");
    if (!file.open())
        return false;
    KV_ByteBuf raw;
    for (;;) {
        if (!raw.reserve(65536))
            return false;
        const uint32_t want = raw.room();
        const uint32_t got = file.read(raw.data() + raw.size(), want);
        raw.added(got);
        if (got < want)
            break;
    }
    if (std::ferror(static_cast<FILE*>(file)))
        return false;
    // The file's lines end with CR LF; in memory they end with LF alone. A
    // file with LF line ends reads the same.
    unsigned char* bytes = raw.data();
    uint32_t n = 0;
    for (uint32_t i = 0; i < raw.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < raw.size() && bytes[i + 1] == '\n')
            continue;
        bytes[n++] = bytes[i];
    }
    text.clear();
    return n == 0 || text.append(bytes, n);
}

bool KV_DsTree::write_file(const KV_Stream& text) const
{
    if (KV_File::path(KV_PATH_SETTINGS, false).empty())
        return false;
    const KV_String name_backup = settings_file(file_backup);

    // The disk form: every LF becomes CR LF.
    const unsigned char* src = text;
    const uint32_t len = text.length();
    uint64_t out_len = len;
    for (uint32_t i = 0; i < len; ++i)
        out_len += src[i] == '\n';
    KV_ByteBuf out;
    if (out_len > UINT32_MAX || !out.reserve(static_cast<uint32_t>(out_len)))
        return false;
    unsigned char* dst = out.data();
    for (uint32_t i = 0; i < len; ++i) {
        if (src[i] == '\n')
            *dst++ = '\r';
        *dst++ = src[i];
    }
    out.added(static_cast<uint32_t>(out_len));

    // Written to "kivrel.ds.new" and renamed over the main file once complete.
    KV_SafeFile file(settings_file(file_main));
    if (!file.open())
        return false;
    bool ok = file.write(out.data(), out.size()) == out.size() && file.sync();
    // A backup left by an earlier version's interrupted save would replace
    // this file at the next load: it goes first, while the main file still
    // holds the text that was loaded.
    if (ok && KV_File::exists(name_backup))
        ok = KV_File::del(name_backup, false);
    return ok && file.commit();
}

bool KV_DsTree::save()
{
    if (!loaded)
        return true;
    // Sized for a text like the last one, so that building it copies little.
    uint64_t hint = static_cast<uint64_t>(cache.length()) + cache.length() / 8 + 4096;
    KV_Stream text(hint < UINT32_MAX ? static_cast<uint32_t>(hint) : UINT32_MAX);
    if (!save(text))
        return false;
    if (text == cache)
        return true;
    // The cache follows the file only once the file holds the text: after a
    // failed write the next save compares with what is really on disk and
    // tries again.
    if (!write_file(text))
        return false;
    if (!(cache = text))
        cache.clear();
    return true;
}

bool KV_DsTree::save(KV_Stream& out) const
{
    out.clear();
    if (!root)
        return true;
    KV_PathDef empty;
    return save_node(out, empty, root);
}

bool KV_DsTree::save_node(KV_Storage& out, const KV_PathDef& parent_path,
                          const KV_DsTreeNode* const node) const
{
    const KV_String type = node->save_type();
    if (node->name().empty() || type.empty())
        return true;
    KV_PathDef path;
    if (!(path = parent_path) || !path.append(node->name()))
        return false;
    KV_String text;
    if (!KV_PathMan('|').build_path(text, path, true, 0))
        return false;
    KV_String header;
    KV_String line;
    if (!header.format("### Node definition: %s ###\n", node->name().data()) ||
        !line.format("NODE: TYPE = %s NAME = %s\n", type.data(), text.data()))
        return false;
    if (!header.write_txt(out) || !line.write_txt(out) || !node->save(*this, out) ||
        !KV_String("\n").write_txt(out))
        return false;
    for (KV_DsTreeNode* child : node->list())
        if (!save_node(out, path, child))
            return false;
    return true;
}

bool KV_DsTree::load(KV_TransOptsRecv& trans)
{
    return load(&trans);
}

bool KV_DsTree::load(KV_TransOptsRecv* const trans)
{
    // Nothing may be written while the tree is being rebuilt: the automatic
    // saves of the nodes' creation would put a half-read tree on disk.
    loaded = false;
    cache.clear();
    bool ok = !KV_File::path(KV_PATH_SETTINGS, false).empty();
    const KV_String name_main = settings_file(file_main);
    const KV_String name_backup = settings_file(file_backup);
    // A backup means that a save stopped after moving the complete old file
    // there: the main file next to it may be cut short. The rename replaces
    // the main file in one step.
    if (ok && KV_File::exists(name_backup))
        KV_File::rename(name_backup, name_main);
    ok = ok && read_file(name_main, cache) && load(cache, trans) && set_default_nodes();
    if (!ok) {
        cleanup();
        cache.clear();
    }
    loaded = ok;
    return ok;
}

KV_DsTreeNode* KV_DsTree::new_node(const KV_String& word, KV_TransOptsRecv* const trans,
                                   const KV_DsTree& defaults) const
{
    if (word == "STD")
        return new (std::nothrow) KV_DsTreeNodeStd();
    if (word == "FTP")
        return new (std::nothrow) KV_DsTreeNodeFtp();
    if (word == "HTTP")
        return new (std::nothrow) KV_DsTreeNodeHttp();
    if (word == "SFTP")
        return new (std::nothrow) KV_DsTreeNodeSftp();
    uint32_t bar = 0;
    if (!word.contains('|', 0, &bar) || word.part(0, bar) != "GROUP")
        return nullptr;
    const KV_String grp = word.part(bar + 1, word.length());
    if (grp == "DS")
        return new (std::nothrow) KV_DsTreeNodeGrpDs(trans);
    if (grp == "FTP")
        return new (std::nothrow) KV_DsTreeNodeGrpFtp(defaults);
    if (grp == "HTTP")
        return new (std::nothrow) KV_DsTreeNodeGrpHttp(defaults);
    if (grp == "SFTP")
        return new (std::nothrow) KV_DsTreeNodeGrpSftp(defaults);
    return nullptr;
}

bool KV_DsTree::load(KV_Stream& in, KV_TransOptsRecv* const trans)
{
    cleanup();
    std::unique_ptr<char[]> key(new (std::nothrow) char[key_size]);
    std::unique_ptr<char[]> val(new (std::nothrow) char[val_size]);
    if (!key || !val)
        return false;
    const KV_PathMan pm('|');
    const unsigned char* text = in;
    const uint32_t len = in.length();
    uint32_t pos = 0;

    // A protocol group made with a tree takes the tree's local computer as
    // the data source that opens alongside it, and the writer leaves that
    // setting out when it equals what a group made with the complete tree
    // gets. The local computer comes last in the file, so the groups are
    // made with a tree that already holds it; read with the tree being built
    // they would lose the setting.
    KV_String local = "This Computer";
    bool fail = false;
    KV_String line;
    while (next_line(text, len, pos, line, fail)) {
        if (line.data(0) == '#')
            continue;
        zero(key.get(), key_size, line.length());
        zero(val.get(), val_size, line.length());
        KV_PathDef names;
        if (std::sscanf(line.data(), fmt_node, key.get(), val.get()) == 2 &&
            KV_String(key.get()).trim().upper() == "STD" &&
            pm.split_path(KV_String(val.get()).trim(), names, false) && !names.empty()) {
            local = names.last();
            break;
        }
    }
    KV_DsTree defaults(err_handler);
    {
        KV_DsTreeNodeGrpDs grp(nullptr);
        KV_DsTreeNodeStd std_node;
        std_node.set_name(local);
        KV_DsTreePath path;
        KV_DsTreeNode* r = defaults.insert_clone(path, &grp, 0, false);
        if (!r || !path.add(r) || !defaults.insert_clone(path, &std_node, 0, false))
            return false;
    }
    pos = 0;

    // The ancestors found for the last node line, root first. Each is the
    // first child of the one before with its name, and stays so while nodes
    // are only appended: a node line whose ancestors' names agree with them
    // needs no search of the (possibly long) child lists.
    KV_DsTreePath chain;
    KV_DsTreeNode* current = nullptr;
    bool ok = !fail;
    while (ok && next_line(text, len, pos, line, fail)) {
        if (line.data(0) == '#')
            continue;
        if (current) {
            zero(key.get(), key_size, line.length());
            zero(val.get(), val_size, line.length());
            if (std::sscanf(line.data(), fmt_set, key.get(), val.get()) >= 1) {
                const KV_String k = KV_String(key.get()).trim();
                const KV_String v = KV_String(val.get()).trim().replace("|", "\r\n");
                ok = current->load(k, v);
                if (!ok)
                    report_cipher(err_handler);
                continue;
            }
            // Not a value line: the node is complete, and the line must start
            // the next one.
            current->post_updt();
            current = nullptr;
        }
        zero(key.get(), key_size, line.length());
        zero(val.get(), val_size, line.length());
        if (std::sscanf(line.data(), fmt_node, key.get(), val.get()) != 2) {
            ok = false;
            break;
        }
        KV_PathDef names;
        if (!pm.split_path(KV_String(val.get()).trim(), names, false) || names.empty()) {
            ok = false;
            break;
        }
        const KV_String own = names.last();
        names.remove_last();
        std::unique_ptr<KV_DsTreeNode> node(
            new_node(KV_String(key.get()).trim().upper(), trans, defaults));
        if (!node) {
            ok = false;
            break;
        }
        node->set_name(own);

        // Every ancestor stands before the node in the file: the first name
        // is the root's, each further one a direct child of the one before.
        KV_DsTreeNode* prev = nullptr;
        for (uint32_t i = 0; ok && i < names.entries(); ++i) {
            const KV_String& name = names.at(i);
            if (i < chain.size() && chain.at(i)->name() == name) {
                prev = chain.at(i);
                continue;
            }
            prev = find(prev, name, false);
            while (chain.size() > i)
                chain.remove_at(chain.size() - 1);
            ok = prev && chain.add(prev);
        }
        KV_DsTreePath path;
        for (uint32_t i = 0; ok && i < names.entries(); ++i)
            ok = path.add(chain.at(i));
        if (!ok)
            break;
        if (node->name().empty()) {
            err_handler.set_err(2, KV_String("The name can't be empty."));
            ok = false;
            break;
        }
        // No id check here: the file holds what the running tree accepted,
        // and the ids of nodes that have only their names yet are not those
        // they get from their settings. Refusing the whole file over it would
        // leave the user an empty tree.
        current = insert_clone(path, node.get(), 0, false);
        ok = current != nullptr;
    }
    if (fail)
        ok = false;
    if (ok && current)
        current->post_updt();
    if (!ok)
        cleanup();
    return ok;
}

bool KV_DsTree::set_default_nodes()
{
    if (!pool_)
        return false;
    if (!find(KV_DS_NODE_GRP_DS, true)) {
        KV_DsTreeNodeGrpDs grp(nullptr);
        grp.set_name("Kivrel");
        if (!create(nullptr, &grp, 0, true))
            return false;
    }
    const KV_String grp_comment = KV_String(text_grp_comment).trim().replace("|", "\r\n");
    struct Default
    {
        KV_DS_NODE_TYPE type;
        const char* name;
    };
    const Default grps[] = {
        {KV_DS_NODE_FTP, "Ftp"}, {KV_DS_NODE_HTTP, "Http"}, {KV_DS_NODE_SFTP, "SFtp"}};
    for (const Default& d : grps) {
        if (find(d.type, true))
            continue;
        std::unique_ptr<KV_DsTreeNode> grp;
        if (d.type == KV_DS_NODE_FTP)
            grp.reset(new (std::nothrow) KV_DsTreeNodeGrpFtp(*this));
        else if (d.type == KV_DS_NODE_HTTP)
            grp.reset(new (std::nothrow) KV_DsTreeNodeGrpHttp(*this));
        else
            grp.reset(new (std::nothrow) KV_DsTreeNodeGrpSftp(*this));
        if (!grp)
            return false;
        grp->set_name(d.name);
        grp->set_comment(grp_comment);
        if (!create(root, grp.get(), 0, true))
            return false;
    }
    if (!find(KV_DS_NODE_STD, false)) {
        KV_DsTreeNodeStd std_node;
        std_node.set_name("This Computer");
        std_node.set_comment(KV_String(text_std_comment).trim().replace("|", "\r\n"));
        if (!create(root, &std_node, 0, true))
            return false;
    }
    return true;
}
