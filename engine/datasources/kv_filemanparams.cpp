#include "datasources/kv_filemanparams.h"

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_path.h"

// ---------------------------------------------------------------------------
// KV_FileManParams

KV_FileManParams::~KV_FileManParams() = default;

void KV_FileManParams::destr_clone(const KV_FileManParams* params)
{
    delete params;
}

void KV_FileManParams::set_name(const KV_String& name)
{
    name_ = name.trim();
}

void KV_FileManParams::set_def_path(const KV_String& path, bool normalise)
{
    KV_String text = path.trim();
    if (normalise && !text.empty()) {
        // A start path that names a file means the folder that holds it.
        const KV_PathMan& syntax = opts().man_path();
        KV_PathDef def;
        if (syntax.split_path(text, def, false) && syntax.is_fname(text) && def.remove_last()) {
            KV_String built;
            if (syntax.build_path(built, def, false, 0))
                text = built;
        }
    }
    def_path_ = text;
}

bool KV_FileManParams::init(const KV_DsTree& tree, KV_DsTreeNode* const node)
{
    // The group of type KV_DS_NODE_GRP_DS is always the root group.
    const auto* root = static_cast<const KV_DsTreeNodeGrpDs*>(tree.find(KV_DS_NODE_GRP_DS, true));
    if (!root || !node)
        return false;
    opts().set_rdonly(node->rdonly());
    opts().set_nretries(root->opts_trans().nfretries());
    return true;
}
