#include "datasources/kv_filemanparamssftp.h"

#include <new>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"

KV_FileManParamsSftp::KV_FileManParamsSftp() = default;

KV_FileManParamsSftp::~KV_FileManParamsSftp() = default;

bool KV_FileManParamsSftp::operator==(const KV_FileManParams& other) const
{
    if (other.type() != type())
        return false;
    const auto* o = dynamic_cast<const KV_FileManParamsSftp*>(&other);
    return o != nullptr && src_addr_ == o->src_addr_ && dst_addr_ == o->dst_addr_ &&
           ldata_ == o->ldata_;
}

KV_FileManParams* KV_FileManParamsSftp::clone() const
{
    return new (std::nothrow) KV_FileManParamsSftp(*this);
}

bool KV_FileManParamsSftp::init(const KV_DsTree& tree, KV_DsTreeNode* const node)
{
    const KV_DsTreeNode* grp = node != nullptr ? tree.parent_grp(node, true) : nullptr;
    if (!KV_FileManParams::init(tree, node))
        return false;
    const auto* sftp = dynamic_cast<const KV_DsTreeNodeGrpSftp*>(grp);
    if (sftp == nullptr)
        return false;
    proxy_ = sftp->proxy();
    return true;
}

void KV_FileManParamsSftp::set_src_addr(const KV_String& addr)
{
    src_addr_ = addr.trim();
}

void KV_FileManParamsSftp::set_dst_addr(const KV_String& addr)
{
    dst_addr_ = addr.trim();
}
