// The registry of live file managers, as the layers below the engine root
// see it: the transfer manager registers the managers of the requests it
// reloads through it. The engine root implements it.
//
// Threads: the caller's; the root's own rules apply (see root/kv_filemanpool.h).
#pragma once

class KV_ErrHandler;
class KV_FileMan;
class KV_FileManId;

class KV_FileManReg
{
public:
    // Finds or creates, initialises and starts the manager of `id`; null on
    // failure.
    virtual KV_FileMan* reg(const KV_FileManId& id) = 0;
    // The engine's error sink.
    virtual KV_ErrHandler& eh() = 0;

protected:
    KV_FileManReg() = default;
    KV_FileManReg(const KV_FileManReg&) = default;
    KV_FileManReg& operator=(const KV_FileManReg&) = default;
    ~KV_FileManReg() = default;
};
