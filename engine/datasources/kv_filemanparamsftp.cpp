#include "datasources/kv_filemanparamsftp.h"

#include <new>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"

KV_FileManParamsFtp::KV_FileManParamsFtp() = default;

KV_FileManParamsFtp::~KV_FileManParamsFtp() = default;

bool KV_FileManParamsFtp::operator==(const KV_FileManParams& other) const
{
    if (other.type() != type())
        return false;
    const auto* o = dynamic_cast<const KV_FileManParamsFtp*>(&other);
    return o != nullptr && src_addr_ == o->src_addr_ && dst_addr_ == o->dst_addr_ &&
           ldata_ == o->ldata_;
}

KV_FileManParams* KV_FileManParamsFtp::clone() const
{
    return new (std::nothrow) KV_FileManParamsFtp(*this);
}

bool KV_FileManParamsFtp::init(const KV_DsTree& tree, KV_DsTreeNode* const node)
{
    const KV_DsTreeNode* grp = node != nullptr ? tree.parent_grp(node, true) : nullptr;
    if (grp == nullptr || !KV_FileManParams::init(tree, node))
        return false;
    const auto* ftp = dynamic_cast<const KV_DsTreeNodeGrpFtp*>(grp);
    if (ftp == nullptr)
        return false;
    if (anonymous_)
        ldata_ = KV_FtpLoginData(KV_String("anonymous"), ftp->anonymous_pass(), KV_String());
    proxy_ = ftp->proxy();
    return true;
}

void KV_FileManParamsFtp::set_src_addr(const KV_String& addr)
{
    src_addr_ = addr.trim();
}

void KV_FileManParamsFtp::set_dst_addr(const KV_String& addr)
{
    dst_addr_ = addr.trim();
}
