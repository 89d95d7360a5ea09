#include "requests/kv_filetree.h"

#include <algorithm>
#include <new>
#include <vector>

#include "foundation/kv_msg.h"

namespace {

// The path of the first n entries of path.
bool path_head(const KV_PathDef& path, uint32_t n, KV_PathDef& out)
{
    out.clear();
    out.set_root_entry(path.root_entry());
    for (uint32_t i = 0; i < n && i < path.entries(); ++i) {
        if (!out.append(path.at(i))) {
            return false;
        }
    }
    return true;
}

} // namespace

KV_FileTree::KV_FileTree()
{
    recvs.set_grow(256);
}

KV_FileTree::~KV_FileTree()
{
    ntf_on = false;
    delete root_;
    root_ = nullptr;
    recvs.clear();
}

// ------------------------------------------------------------------- lookups

bool KV_FileTree::child_pos(const KV_FileTreeNode* parent, const KV_String& name,
                            uint32_t* pos) const
{
    const auto& list = parent->list();
    uint32_t lo = 0;
    uint32_t hi = list.size();
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        const KV_FileTreeNode* child = list.at(mid);
        int c = child ? child->name().compare(name, case_sens_) : -1;
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    *pos = lo;
    const KV_FileTreeNode* hit = list.at(lo);
    return hit && hit->name().compare(name, case_sens_) == 0;
}

KV_FileTreeNode* KV_FileTree::find(KV_FileTreeNode* parent, const KV_String& name) const
{
    if (!parent) {
        if (root_ && root_->name().compare(name, case_sens_) == 0) {
            return root_;
        }
        return nullptr;
    }
    uint32_t pos = 0;
    return child_pos(parent, name, &pos) ? parent->list().at(pos) : nullptr;
}

KV_FileTreeNode* KV_FileTree::find(const KVTL::KV_ListVal<KV_String>& entries) const
{
    if (entries.empty()) {
        return nullptr;
    }
    KV_FileTreeNode* node = find(nullptr, entries.at(0));
    for (uint32_t i = 1; node && i < entries.size(); ++i) {
        node = find(node, entries.at(i));
    }
    return node;
}

// ----------------------------------------------------------------- receivers

bool KV_FileTree::reg(KV_FileTreeNtfRecv* recv)
{
    return recv && recvs.add(recv);
}

bool KV_FileTree::unreg(KV_FileTreeNtfRecv* recv)
{
    for (uint32_t i = 0; i < recvs.size(); ++i) {
        if (recvs.at(i) == recv) {
            return recvs.remove_at(i);
        }
    }
    return false;
}

void KV_FileTree::set_act_inf(const KV_FileTreeNode* node)
{
    if (glob_recv) {
        glob_recv->act_node = const_cast<KV_FileTreeNode*>(node);
    }
}

void KV_FileTree::inform_global(KV_FileTreeNode* node)
{
    if (glob_recv && glob_recv->act_node == node) {
        glob_recv->node_updated(node);
    }
}

void KV_FileTree::set_status(KV_FileTreeNode* node, KV_TREE_NODE_STAT status,
                             const KV_PathDef& path)
{
    node->status_ = status;
    inform(node, KV_TREE_NODE_STATUS, path, 0);
}

void KV_FileTree::inform(KV_FileTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_PathDef& path,
                         uint32_t extra)
{
    if (!ntf_on) {
        return;
    }
    const KV_PathDef* told = &path;
    KV_PathDef parent;
    if (ntf == KV_TREE_NODE_STATUS) {
        if (!(parent = path) || !parent.remove_last()) {
            return;
        }
        told = &parent;
    }
    // By index, re-reading the size: a receiver may unregister while told.
    for (uint32_t i = 0; i < recvs.size(); ++i) {
        if (KV_FileTreeNtfRecv* r = recvs.at(i)) {
            r->on_node_ntf(node, ntf, *told, extra);
        }
    }
}

void KV_FileTree::inform(const KV_MsgTreeNtf* msg)
{
    if (!ntf_on) {
        return;
    }
    for (uint32_t i = 0; i < recvs.size(); ++i) {
        if (KV_FileTreeNtfRecv* r = recvs.at(i)) {
            r->on_tree_ntf(msg);
        }
    }
}

// ------------------------------------------------------------------- refresh

bool KV_FileTree::refresh(const KV_PathDef& path, uint32_t extra, bool recursive)
{
    inform(nullptr, KV_TREE_NODE_REFRESH_BEGIN, path, extra);
    bool ok = refresh_node(path, extra, recursive);
    inform(nullptr, KV_TREE_NODE_REFRESH_END, path, extra);
    return ok;
}

int64_t KV_FileTree::refresh_part(const KV_PathDef& path, uint32_t extra, KV_String* after,
                                  uint32_t max)
{
    KV_FileTreeNode* node = path.empty() ? nullptr : find(path.list());
    if (!node || !after) {
        return -1;
    }
    uint32_t pos = 0;
    if (!after->empty() && child_pos(node, *after, &pos)) {
        ++pos;
    }
    uint32_t told = 0;
    const KV_FileTreeNode* last = nullptr;
    // By index, re-reading the size, as in refresh_node; receivers do not
    // delete nodes, so `last` stays valid.
    for (; told < max && pos < node->list().size(); ++pos) {
        KV_FileTreeNode* child = node->list().at(pos);
        if (!child) {
            continue;
        }
        inform(child, KV_TREE_NODE_REFRESH, path, extra);
        last = child;
        ++told;
    }
    if (last) {
        *after = last->name();
    }
    return told;
}

bool KV_FileTree::refresh_node(const KV_PathDef& path, uint32_t extra, bool recursive)
{
    if (path.empty()) {
        if (!root_) {
            return true;
        }
        inform(root_, KV_TREE_NODE_REFRESH, path, extra);
        if (!recursive) {
            return true;
        }
        KV_PathDef sub;
        sub.set_root_entry(path.root_entry());
        return sub.append(root_->name()) && refresh_node(sub, extra, true);
    }
    KV_FileTreeNode* node = find(path.list());
    if (!node) {
        return false;
    }
    for (uint32_t i = 0; i < node->list().size(); ++i) {
        KV_FileTreeNode* child = node->list().at(i);
        if (!child) {
            continue;
        }
        inform(child, KV_TREE_NODE_REFRESH, path, extra);
        if (recursive) {
            KV_PathDef sub;
            if (!(sub = path) || !sub.append(child->name()) || !refresh_node(sub, extra, true)) {
                return false;
            }
        }
    }
    return true;
}

// ------------------------------------------------------------------ messages

void KV_FileTree::adj_flags(KV_FileTreeNode* node, uint32_t level) const
{
    if (level > 1) {
        return;
    }
    uint8_t flags = KV_TN_RDONLY;
    if (level == 0 && !root_scan_) {
        flags |= KV_TN_NSCAN;
    }
    if (level == 1 && drv_relevant_) {
        flags |= KV_TN_DRIVE;
    }
    node->set_node_flags(flags, 0);
}

bool KV_FileTree::process_ntf(KV_Msg* msg)
{
    if (!msg) {
        return false;
    }
    switch (msg->type()) {
    case KV_MSG_TREE_PWD:
        return on_pwd(*static_cast<KV_MsgTreePwd*>(msg));
    case KV_MSG_TREE_SCAN:
        return on_scan(*static_cast<KV_MsgTreeScan*>(msg));
    case KV_MSG_TREE_NTF:
        return on_ntf(*static_cast<KV_MsgTreeNtf*>(msg));
    case KV_MSG_TREE_EXP:
        return on_exp(*static_cast<KV_MsgTreeExp*>(msg));
    default:
        return true;
    }
}

bool KV_FileTree::on_pwd(const KV_MsgTreePwd& msg)
{
    if (root_) {
        return true;
    }
    const KV_PathDef& p = msg.path;
    if (!(pwd_path_ = p)) {
        return false;
    }
    KV_FileTreeNode* prev = nullptr;
    KV_PathDef above;
    above.set_root_entry(p.root_entry());
    for (uint32_t i = 0; i < p.entries(); ++i) {
        auto* node = new (std::nothrow) KV_FileTreeNode(case_sens_, KV_FileData(p.at(i), true));
        if (!node) {
            return false;
        }
        adj_flags(node, i);
        if (!prev) {
            root_ = node;
        } else if (!prev->list_.add(node)) {
            delete node;
            return false;
        }
        inform(node, KV_TREE_NODE_ADDED, above, 0);
        if (!above.append(p.at(i))) {
            return false;
        }
        prev = node;
    }
    KV_MsgTreeNtf built(p, KV_TREE_NTF_PWD_BUILT, true, KV_String());
    inform(&built);
    return true;
}

KV_FileTreeNode* KV_FileTree::make_path(const KV_PathDef& path)
{
    if (path.empty()) {
        return nullptr;
    }
    KV_FileTreeNode* node = find(nullptr, path.at(0));
    for (uint32_t i = 1; node && i < path.entries(); ++i) {
        KV_FileTreeNode* child = find(node, path.at(i));
        if (!child) {
            child = new (std::nothrow) KV_FileTreeNode(case_sens_, KV_FileData(path.at(i), true));
            if (!child) {
                return nullptr;
            }
            adj_flags(child, i);
            if (!node->list_.add(child)) {
                delete child;
                return nullptr;
            }
            KV_PathDef above;
            if (!path_head(path, i, above)) {
                return nullptr;
            }
            inform(child, KV_TREE_NODE_ADDED, above, 0);
        }
        node = child;
    }
    return node;
}

// Merging a listing. Inserting new entries one by one would move half the
// child list each time: a first listing of a large folder would be
// quadratic. So the listing is walked in name order beside the (sorted)
// children, which finds the known names and gathers the new ones sorted, in
// one pass; the new ones are merged into the list in one more pass; the
// notices then follow in listing order, each node already in place. The
// name order comes with the message, sorted on the thread that sent it;
// only a message that lacks it is sorted here.
bool KV_FileTree::on_scan(KV_MsgTreeScan& msg)
{
    const KV_PathDef& p = msg.path;
    KV_FileTreeNode* dir = make_path(p);
    if (!dir) {
        return false;
    }
    auto& nodes = msg.nodes;
    const uint32_t n = nodes.size();

    // target[i]: the node that entry i updates; null when entry i is itself
    // new to the folder.
    std::vector<KV_FileTreeNode*> target;
    std::vector<uint32_t> order; // indices of the non-null entries by name
    std::vector<KV_FileTreeNode*> added;
    // Sorted by the sender, the listing also says which names repeat the one
    // before and what it counts: the entries' data need not be read here.
    const bool sent_sorted =
        msg.order.size() == n && msg.order_dup.size() == n && msg.order_case_sens == case_sens_;
    try {
        target.assign(n, nullptr);
        if (sent_sorted) {
            order.swap(msg.order);
        } else {
            order.reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                if (nodes.at(i)) {
                    order.push_back(i);
                }
            }
            // Within one listing a name seen twice updates the node of its
            // first sighting, as it would had that node been added at once:
            // stable, so the first sighting comes first.
            std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
                return nodes.at(a)->name().compare(nodes.at(b)->name(), case_sens_) < 0;
            });
        }
        const auto& known = dir->list();
        const uint32_t old = known.size();
        uint32_t j = 0;
        // The node the entry before in name order updates or is.
        KV_FileTreeNode* prev = nullptr;
        for (size_t at = 0; at < order.size(); ++at) {
            const uint32_t k = order[at];
            KV_FileTreeNode* m = k < n ? nodes.at(k) : nullptr;
            if (!m || target[k]) {
                prev = nullptr;
                continue;
            }
            if (sent_sorted && prev && msg.order_dup[at]) {
                target[k] = prev;
                continue;
            }
            while (j < old &&
                   (!known.at(j) || known.at(j)->name().compare(m->name(), case_sens_) < 0)) {
                ++j;
            }
            if (j < old && known.at(j)->name().compare(m->name(), case_sens_) == 0) {
                target[k] = known.at(j);
            } else if (!sent_sorted && !added.empty() &&
                       added.back()->name().compare(m->name(), case_sens_) == 0) {
                target[k] = added.back();
            } else {
                added.push_back(m);
            }
            prev = target[k] ? target[k] : m;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }

    auto& list = dir->list_;
    if (!added.empty()) {
        const uint32_t old = list.size();
        const uint64_t total = static_cast<uint64_t>(old) + added.size();
        if (total > UINT32_MAX || !list.reserve(static_cast<uint32_t>(total))) {
            return false;
        }
        for (KV_FileTreeNode* m : added) {
            m->case_sens_ = case_sens_;
            m->set_node_flags(0, KV_TN_MARKED);
            adj_flags(m, p.entries());
            // At the end, whatever the order says; capacity is reserved: cannot fail.
            list.insert(list.size(), nullptr);
        }
        // Merge from the back so that nothing is overwritten before it moved.
        KV_FileTreeNode** d = list.data();
        int64_t i = static_cast<int64_t>(old) - 1;
        int64_t j = static_cast<int64_t>(added.size()) - 1;
        int64_t w = static_cast<int64_t>(total) - 1;
        while (j >= 0) {
            if (i >= 0 && d[i]->name().compare(added[j]->name(), case_sens_) > 0) {
                d[w--] = d[i--];
            } else {
                d[w--] = added[j--];
            }
        }
    }

    if (dir->valid_items_ == 0xFFFFFFFFu) {
        // A listing that came without its begin notice still counts from 0.
        dir->valid_items_ = 0;
    }
    if (sent_sorted) {
        dir->valid_items_ += msg.counted;
        dir->sum_size_ += msg.counted_size;
    }
    for (uint32_t i = 0; i < n; ++i) {
        KV_FileTreeNode* m = nodes.at(i);
        if (!m) {
            continue;
        }
        if (!sent_sorted && !m->is_dot_dir()) {
            ++dir->valid_items_;
            if (m->fdc().valid_size(true)) {
                dir->sum_size_ += m->fdc().size(false);
            }
        }
        KV_FileTreeNode* e = target[i];
        if (!e) {
            inform(m, KV_TREE_NODE_ADDED, p, 0);
            continue;
        }
        e->set_node_flags(0, KV_TN_MARKED | KV_TN_EXPECTED);
        if (!(e->fdc() == m->fdc())) {
            bool kind_change = e->is_dir() != m->is_dir();
            if (kind_change) {
                inform(e, KV_TREE_NODE_REMOVED, p, 0);
                // The receivers dropped what lay below it with it; a file
                // keeps no children.
                for (KV_FileTreeNode* child : e->list_) {
                    delete child;
                }
                e->list_.clear();
            }
            *e = *m;
            inform(e, kind_change ? KV_TREE_NODE_ADDED : KV_TREE_NODE_CHANGED, p, 0);
        }
        delete m;
    }
    nodes.clear();
    inform_global(dir);
    return true;
}

void KV_FileTree::sweep(KV_FileTreeNode* dir, const KV_PathDef& path)
{
    auto& list = dir->list_;
    std::vector<KV_FileTreeNode*> removed;
    try {
        for (KV_FileTreeNode* child : list) {
            if (child && child->marked()) {
                removed.push_back(child);
            }
        }
    } catch (const std::bad_alloc&) {
        // No memory to gather them: take them out one by one instead.
        for (uint32_t i = 0; i < list.size();) {
            KV_FileTreeNode* child = list.at(i);
            if (child && child->marked()) {
                list.remove_at(i);
                inform(child, KV_TREE_NODE_REMOVED, path, 0);
                delete child;
            } else {
                ++i;
            }
        }
        return;
    }
    if (removed.empty()) {
        return;
    }
    // One pass: keep the unmarked ones at the front, in order, then cut the
    // tail without letting each removal shrink (and copy) the array.
    KV_FileTreeNode** d = list.data();
    uint32_t kept = 0;
    for (uint32_t r = 0; r < list.size(); ++r) {
        if (!(d[r] && d[r]->marked())) {
            d[kept++] = d[r];
        }
    }
    if (kept == 0) {
        list.clear();
    } else {
        const uint32_t step = list.grow_step();
        list.set_grow(UINT32_MAX);
        while (list.size() > kept) {
            list.remove_at(list.size() - 1);
        }
        list.set_grow(step);
        if (static_cast<uint64_t>(kept) + step < list.capacity()) {
            list.reserve(kept);
        }
    }
    for (KV_FileTreeNode* child : removed) {
        inform(child, KV_TREE_NODE_REMOVED, path, 0);
        delete child;
    }
}

bool KV_FileTree::on_ntf(const KV_MsgTreeNtf& msg)
{
    if (msg.ntf == KV_TREE_NTF_RECV_ONLY) {
        inform(&msg);
        return true;
    }
    const KV_PathDef& p = msg.path;
    KV_FileTreeNode* dir = find(p.list());
    if (!dir) {
        return false;
    }
    bool ok = true;
    switch (msg.ntf) {
    case KV_TREE_NTF_SCAN_REQ:
        inform_global(dir);
        set_status(dir, KV_TREE_NODE_STAT_REQUESTED, p);
        break;
    case KV_TREE_NTF_SCAN_BEGIN: {
        dir->valid_items_ = 0;
        dir->sum_size_ = 0;
        for (KV_FileTreeNode* child : dir->list_) {
            if (child) {
                child->set_node_flags(KV_TN_MARKED, 0);
            }
        }
        if (!dir->rdonly()) {
            // The way up survives every listing.
            if (KV_FileTreeNode* up = find(dir, "..")) {
                up->set_node_flags(0, KV_TN_MARKED);
            } else {
                auto* node =
                    new (std::nothrow) KV_FileTreeNode(case_sens_, KV_FileData("..", true));
                if (node) {
                    node->set_node_flags(KV_TN_RDONLY, KV_TN_MARKED);
                    if (dir->list_.add(node)) {
                        inform(node, KV_TREE_NODE_ADDED, p, 0);
                    } else {
                        delete node;
                        ok = false;
                    }
                } else {
                    ok = false;
                }
            }
        }
        set_status(dir, KV_TREE_NODE_STAT_RUNNING, p);
        break;
    }
    case KV_TREE_NTF_SCAN_END:
        if (!msg.flag && p.is_parent(pwd_path_, true)) {
            // A folder on the way to the current one failed to list (often
            // for want of the right to list it): keep what is known of it.
            for (KV_FileTreeNode* child : dir->list_) {
                if (child) {
                    child->set_node_flags(0, KV_TN_MARKED);
                }
            }
        } else {
            sweep(dir, p);
        }
        dir->err_str_ = msg.flag ? KV_String() : msg.text;
        set_status(dir, msg.flag ? KV_TREE_NODE_STAT_NONE : KV_TREE_NODE_STAT_FAILED, p);
        break;
    case KV_TREE_NTF_STATUS_RESET:
        set_status(dir, KV_TREE_NODE_STAT_NONE, p);
        break;
    default:
        break;
    }
    inform(&msg);
    return ok;
}

bool KV_FileTree::on_exp(const KV_MsgTreeExp& msg)
{
    const KV_PathDef& p = msg.path;
    const KV_String& name = p.last();
    if (name.empty()) {
        return false;
    }
    KV_PathDef folder;
    if (!path_head(p, p.entries() - 1, folder)) {
        return false;
    }
    KV_FileTreeNode* dir = find(folder.list());
    if (!dir) {
        return false;
    }
    uint32_t pos = 0;
    bool known = child_pos(dir, name, &pos);
    switch (msg.exp) {
    case KV_TREE_EXP_CREATED: {
        if (known) {
            return true;
        }
        auto* node = new (std::nothrow)
            KV_FileTreeNode(case_sens_, KV_FileData(name, KV_String(), 0, KV_Time(0L)));
        if (!node) {
            return false;
        }
        if (msg.flag) {
            node->set_fd_flags(KV_FD_DIR, 0);
        }
        node->set_node_flags(KV_TN_MARKED | KV_TN_EXPECTED, 0);
        if (!dir->list_.add(node)) {
            delete node;
            return false;
        }
        inform(node, KV_TREE_NODE_ADDED, folder, 0);
        return true;
    }
    case KV_TREE_EXP_REMOVED: {
        if (!known) {
            return false;
        }
        KV_FileTreeNode* node = dir->list_.at(pos);
        node->set_node_flags(KV_TN_EXPECTED, 0);
        if (dir->list_.remove_at(pos)) {
            inform(node, KV_TREE_NODE_REMOVED, folder, 0);
            delete node;
        }
        return true;
    }
    case KV_TREE_EXP_CHMOD: {
        if (!known) {
            return false;
        }
        KV_FileTreeNode* node = dir->list_.at(pos);
        if (node->fdc().type() == KV_FD_DATA_EXT) {
            node->set_accf(msg.text);
            inform(node, KV_TREE_NODE_CHANGED, folder, 0);
        }
        return true;
    }
    default:
        return true;
    }
}
