// The table of request snapshots of one request manager, as the user
// interface sees it.
//
// Requests never reach the user interface directly: each one sends a
// KV_MsgReqNtf when it is added, when its status changes and when it ends.
// The user-interface thread feeds those messages to process_ntf(); the table
// keeps the latest snapshot per request id, tells the registered receivers
// what changed, and drives the flash of a finished request's result
// indicator. When a flash ends, the table asks the request manager to delete
// the request (a delete task), whose end message then removes the snapshot.
//
// Threads: the user-interface thread only. Receivers are called on it,
// synchronously, while the table is consistent. Nothing here locks.
#pragma once

#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "foundation/kv_msg.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereqinfo.h"

class KV_FileReqMan;

// What a view implements to follow a request-info table.
class KV_FileReqInfoNtfRecv
{
public:
    KV_FileReqInfoNtfRecv() = default;
    KV_FileReqInfoNtfRecv(const KV_FileReqInfoNtfRecv&) = default;
    KV_FileReqInfoNtfRecv& operator=(const KV_FileReqInfoNtfRecv&) = default;
    virtual ~KV_FileReqInfoNtfRecv() = default;

    // The snapshot of request `id` was added (KV_REQ_NTF_INIT), changed
    // (STATUS) or removed (ENDED), or its indicator flashed once (FLASH) or
    // stopped flashing (FLASH_END). Read the snapshot with
    // KV_FileReqInfoMan::at. Called on the user-interface thread. May
    // unregister itself or others; must not delete the table. Default:
    // nothing.
    virtual void notify(unsigned int id, KV_REQ_NTF kind);

    // Identity, for the receiver list.
    bool operator==(const KV_FileReqInfoNtfRecv* other) const { return this == other; }
    bool operator<(const KV_FileReqInfoNtfRecv* other) const { return this < other; }
};

class KV_FileReqInfoMan
{
public:
    using Map = KVTL::KV_HMapPtr<unsigned int, KV_FileReqInfo>;

    KV_FileReqInfoMan();
    // Deletes every snapshot; the receivers are not owned.
    virtual ~KV_FileReqInfoMan();
    // A copy would have to duplicate the owned snapshots and the receivers'
    // registrations; nothing needs one.
    KV_FileReqInfoMan(const KV_FileReqInfoMan&) = delete;
    KV_FileReqInfoMan& operator=(const KV_FileReqInfoMan&) = delete;

    // The request whose log the request-log window shows (0: none), which
    // the transfer logs set (KV_TransLogTrans::set_id_log). It has a lock of
    // its own, taken inside a log's lock, never around one. Any thread.
    static uint32_t id_log();
    static void set_id_log(uint32_t id);

    // Takes in one engine message. Messages other than KV_MsgReqNtf (and
    // null) are ignored with true. Init: stores a copy of the snapshot
    // (replacing one left under the same id) and tells KV_REQ_NTF_INIT.
    // Status: merges the snapshot into the stored one and tells
    // KV_REQ_NTF_STATUS when something shown changed; false for an unknown
    // id. Ended: removes the snapshot and tells KV_REQ_NTF_ENDED; false for
    // an unknown id. False also when memory cannot be had (nobody is told).
    bool process_ntf(const KV_Msg* msg);

    // One flash step of every flashing indicator; with `reset` every flash
    // ends now. Receivers hear KV_REQ_NTF_FLASH for a flash that goes on and
    // KV_REQ_NTF_FLASH_END for one that ended. For each flash that ended,
    // when `man` is given, a delete task for that request goes to `man`,
    // unless the snapshot's flags keep it (bit 4) or its log is being read.
    // add() becomes 0 once nothing flashes.
    void flash(bool reset, KV_FileReqMan* man);
    // Ends the flash of request `id` now (the user has seen the result);
    // tells KV_REQ_NTF_FLASH_END. Nothing for an unknown id.
    void add_stop(unsigned int id);

    // Registers a receiver (not owned; it stays registered until unreg) and
    // then tells every registered receiver KV_REQ_NTF_INIT for every known
    // request, in ascending id order. A receiver registered already is not
    // added twice, but the announcement is made. False for null, or when
    // memory cannot be had (a receiver appended stays registered).
    bool reg(KV_FileReqInfoNtfRecv* recv);
    // False when the receiver was not registered.
    bool unreg(KV_FileReqInfoNtfRecv* recv);

    // The snapshot of request `id`, null when unknown. Valid until the next
    // process_ntf.
    const KV_FileReqInfo* at(unsigned int id) const;
    const Map& map() const { return map_; }
    // Number of snapshots with status `s`.
    uint32_t cnt(KV_REQ_STAT s) const;
    // The latest indicator that started a flash; 0 once nothing flashes.
    KV_REQ_ADD add() const { return add_; }

protected:
    // Tells every registered receiver, in registration order.
    void inform(unsigned int id, KV_REQ_NTF kind);

private:
    KVTL::KV_ListPtr<KV_FileReqInfoNtfRecv> list_recv;
    Map map_;
    KV_REQ_ADD add_ = KV_REQ_ADD_NONE;
};
