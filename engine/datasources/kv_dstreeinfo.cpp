#include "datasources/kv_dstreeinfo.h"

#include "datasources/kv_dsroot.h"
#include "datasources/kv_dstreenode.h"

// ---------------------------------------------------------------------------
// KV_DsTreeNodeInfo

KV_DsTreeNodeInfo::KV_DsTreeNodeInfo(KV_DsTreeNode* const orig, KV_DsTreeNode* const clone,
                                     bool new_node)
    : orig_(orig), clone_(clone), new_node_(new_node)
{
}

KV_DsTreeNodeInfo::~KV_DsTreeNodeInfo()
{
    KV_DsTreeNode::destr_clone(clone_);
}

bool KV_DsTreeNodeInfo::operator==(KV_DsTreeNodeInfo* const other) const
{
    if (!other || !orig_ || !other->orig_)
        return false;
    if (new_node_ != other->new_node_)
        return false;
    const KV_FileManId a = orig_->id();
    const KV_FileManId b = other->orig_->id();
    return a.type() == b.type() && orig_->name() == other->orig_->name() && a.impl() == b.impl();
}

bool KV_DsTreeNodeInfo::operator<(KV_DsTreeNodeInfo* const other) const
{
    if (!other || !orig_ || !other->orig_)
        return false;
    if (new_node_ != other->new_node_)
        return !new_node_;
    const KV_FileManId a = orig_->id();
    const KV_FileManId b = other->orig_->id();
    if (a.type() != b.type())
        return a.type() < b.type();
    if (orig_->name() != other->orig_->name())
        return orig_->name() < other->orig_->name();
    // The instances of a data source, newest first, then the data source
    // itself (instance number 0).
    return a.impl() > b.impl();
}

// ---------------------------------------------------------------------------
// KV_DsTreeInfo

KV_DsTreeInfo::KV_DsTreeInfo(KV_DsRoot& pool) : pool(pool)
{
    list_.set_grow(256);
}

KV_DsTreeInfo::~KV_DsTreeInfo()
{
    clear();
}

bool KV_DsTreeInfo::add(KV_DsTreeNodeInfo* const info)
{
    if (!info)
        return false;
    // Every result names a node; the order and find_man rely on it.
    if (!info->orig()) {
        delete info;
        return false;
    }
    const KV_FileManId id = info->orig()->id();
    const bool man = id.valid_man();
    if (man) {
        if (!pool.man_lives(id)) {
            delete info;
            return false;
        }
    }
    if (!list_.add(info)) {
        delete info;
        return false;
    }
    if (man)
        pool.hold_man(id, true);
    return true;
}

void KV_DsTreeInfo::clear()
{
    for (KV_DsTreeNodeInfo* info : list_) {
        const KV_FileManId id = info->orig()->id();
        if (id.valid_man())
            pool.hold_man(id, false);
    }
    for (KV_DsTreeNodeInfo* info : list_)
        delete info;
    list_.clear();
    pool.delete_zombies();
}

KV_FileManId KV_DsTreeInfo::find_man() const
{
    KV_FileManId result;
    for (KV_DsTreeNodeInfo* info : list_) {
        const KV_FileManId id = info->orig()->id();
        if (!result.valid()) {
            result = id;
            if (id.valid_man())
                break;
        } else if (id.valid_man()) {
            result = id;
            break;
        }
    }
    return result;
}
