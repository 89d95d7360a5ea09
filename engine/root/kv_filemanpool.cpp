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
