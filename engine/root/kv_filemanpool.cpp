#include "root/kv_filemanpool.h"

#include "requests/kv_filereqman.h"

KV_FileManPool::KV_FileManPool()
{
    KV_FileReqMan::set_pool(this);
}

KV_FileManPool::~KV_FileManPool()
{
    if (KV_FileReqMan::pool() == this)
        KV_FileReqMan::set_pool(nullptr);
}

bool KV_FileManPool::process_ntf(const KV_Msg* msg)
{
    // Nothing follows the messages yet: the data-source tree and the
    // managers hook in here as they arrive.
    (void)msg;
    return true;
}

KV_FileMan* KV_FileManPool::man(const KV_FileManId& id) const
{
    // No list of live managers yet: no manager is found.
    (void)id;
    return nullptr;
}

KV_FileMan* KV_FileManPool::reg(const KV_FileManId& id)
{
    // Creates no manager yet: without the data-source tree the pool knows
    // no data source to make one for.
    (void)id;
    return nullptr;
}

bool KV_FileManPool::contains(const KV_DsId& id) const
{
    // No list of live managers yet: no data source has one.
    (void)id;
    return false;
}

bool KV_FileManPool::delete_zombies()
{
    // No list of live managers yet: there is nothing to delete.
    return true;
}

bool KV_FileManPool::upd_fman(const KV_FileManId& id)
{
    // No list of live managers yet: no manager has to re-read its settings.
    (void)id;
    return true;
}

bool KV_FileManPool::upd_fman_param(KV_DsTreeNode* node)
{
    // No list of live managers yet: no manager takes the node's settings.
    (void)node;
    return true;
}
