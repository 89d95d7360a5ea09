// The engine root: the one object through which the program reaches the
// engine.
//
// The program creates exactly one, after the library's start-up and before
// anything else of the engine is used, and deletes it before the library's
// clean-up. While it lives, KV_FileReqMan::pool() returns it, so request
// managers and requests reach the engine-wide informer without a reference.
//
// This holds what the request engine uses of the root so far: the
// registration and the engine-wide informer. The informer carries the
// notices of the transfer requests and the manager notices for the main
// window.
//
// Threads: constructed, used and destroyed on the user-interface thread;
// informer() may be called from any thread (the informer is thread-safe).
#pragma once

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_storage.h"

class KV_FileManPool : public KV_SafeObj
{
public:
    // Registers the root with KV_FileReqMan::set_pool.
    KV_FileManPool();
    KV_FileManPool(const KV_FileManPool&) = delete;
    KV_FileManPool& operator=(const KV_FileManPool&) = delete;
    // Unregisters the root (when it is still the registered one), then the
    // members go. Owners stop the engine threads first.
    virtual ~KV_FileManPool();

    // The engine-wide informer.
    KV_Informer& informer() { return informer_; }

    // Hands a message popped from an informer to the parts of the engine
    // that follow it. True when every part handled it.
    bool process_ntf(const KV_Msg* msg);

private:
    KV_Informer informer_;
};
