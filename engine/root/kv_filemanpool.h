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
// window. The registry of live file managers is declared with the calls the
// data-source tree and the transfer manager make; until the root keeps its
// list of live managers, no manager is live and the registry calls act
// accordingly.
//
// Threads: constructed, used and destroyed on the user-interface thread;
// informer() may be called from any thread (the informer is thread-safe).
#pragma once

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_storage.h"

class KV_DsId;
class KV_DsTreeNode;
class KV_FileMan;
class KV_FileManId;

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
    // The same informer as the engine's error handler.
    KV_ErrHandler& eh() { return informer_; }

    // Hands a message popped from an informer to the parts of the engine
    // that follow it. True when every part handled it.
    bool process_ntf(const KV_Msg* msg);

    // ---- registry of live file managers

    // The first live manager whose id equals `id` (data source and instance
    // number); null when none lives.
    KV_FileMan* man(const KV_FileManId& id) const;
    // Finds or creates, initialises and starts the manager of `id`; null
    // when it cannot (no such data source). Virtual for now so that the
    // tests of the transfer manager can hand out managers of their own.
    virtual KV_FileMan* reg(const KV_FileManId& id);
    // Whether some live manager belongs to the data source `id`.
    bool contains(const KV_DsId& id) const;
    // Deletes, pass by pass, every live manager that nothing holds (lock
    // count 0). False when a removal fails.
    bool delete_zombies();

    // ---- settings push

    // Makes every live manager with that id re-read its data source's
    // settings. Always true.
    bool upd_fman(const KV_FileManId& id);
    // Hands the settings of `node` to the live managers of the instance nodes
    // below it. True for a null node; false from the first failing step on.
    bool upd_fman_param(KV_DsTreeNode* node);

private:
    KV_Informer informer_;
};
