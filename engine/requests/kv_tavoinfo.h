// What the user interface knows about the workers of one pool manager: one
// KV_TavoInfo per worker id, kept in a KV_TavoInfoMan.
//
// Workers never touch the table. They and their sessions send worker notices
// (KV_MsgTavoNtf), session notices (KV_MsgSessNtf), session log lines
// (KV_MsgSessLog) and login states (KV_MsgLoginStatNtf) through the manager's
// informer; the user-interface thread hands each message to the manager's
// process_ntf, which feeds it here. An info is created by the first message
// that names its worker, whatever its type, and deleted only by a "worker
// removed" notice or with the table. Registered receivers (the worker list
// and worker log windows) are told what changed.
//
// Threads: everything here runs on the user-interface thread, the receivers'
// calls included. Nothing is locked.
#pragma once

#include <cstdint>

#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "requests/kv_sessinfo.h"

class KV_Msg;

// What happened to a worker's info, as told to the receivers.
enum KV_TAVO_NTF_TYPE : uint32_t {
    KV_TAVO_NTF_TYPE_REMOVED = 0, // the info was removed
    // The info was created or changed (texts, sessions, connection state), or
    // is being announced to a receiver that just registered.
    KV_TAVO_NTF_TYPE_CHANGED = 1,
    KV_TAVO_NTF_TYPE_LOG = 2, // a session log line was added
};

// Colour class of the summary text of all workers; the user interface picks
// the actual colours.
enum KV_CONN_CLR : uint32_t {
    KV_CONN_CLR_NONE = 0, // disconnected, or an unknown state
    KV_CONN_CLR_CONNECTED = 1,
    KV_CONN_CLR_LOGGED_IN = 2,
};

// Connection state of one worker (KV_TavoInfo::conn). The login state of a
// KV_MsgLoginStatNtf is stored as it comes, so other values occur.
enum KV_TAVO_CONN : int {
    KV_TAVO_CONN_NONE = 0,
    KV_TAVO_CONN_CONNECTED = 1,
    KV_TAVO_CONN_LOGGED_IN = 2,
};

// The picture of one worker.
class KV_TavoInfo
{
public:
    // The most recent session log lines kept per worker.
    static constexpr uint32_t max_log = 256;

    // Empty log, default sessions, status "Ready", no detail, disconnected.
    KV_TavoInfo();
    // A copy takes the sessions, the texts and the connection state, and
    // starts with an empty log: the log is the table's history of one worker,
    // not part of its state.
    KV_TavoInfo(const KV_TavoInfo& other);
    KV_TavoInfo& operator=(const KV_TavoInfo& other);
    virtual ~KV_TavoInfo();

    // Identity, for pointer lists.
    bool operator==(const KV_TavoInfo* other) const { return this == other; }
    bool operator<(const KV_TavoInfo* other) const { return this < other; }

    // Appends a line, first dropping the oldest ones so that at most max_log
    // remain. False when the append fails (the log then holds max_log - 1
    // lines or fewer).
    bool add_log(const KV_SessLogInfo& line);
    // The log, oldest line first.
    const KVTL::KV_ListVal<KV_SessLogInfo>& list_log() const { return list_log_; }

    // State of the control session (for HTTP and SSH, the one session).
    KV_SessInfo sess_ctrl;
    // State of the data session (for HTTP and SSH, the same session again).
    KV_SessInfo sess_data;
    // The worker's current status text.
    KV_String status_text;
    // Second text of the last status notice (the path of the running
    // operation, an error text).
    KV_String detail_text;
    // KV_TAVO_CONN value, or a login state stored as it came.
    int conn;
    // The server refused the worker's last login. A refused session is
    // closed and the worker may connect again, so `conn` soon says
    // "connected" or "disconnected" once more; this keeps the refusal until
    // the worker logs in.
    bool refused = false;

private:
    // Private so that nothing bypasses the cap of add_log.
    KVTL::KV_ListVal<KV_SessLogInfo> list_log_;
};

// A view of the workers. Called on the user-interface thread from inside
// KV_TavoInfoMan::process_ntf and reg. A receiver must not register or
// unregister receivers of the same table from inside notify.
class KV_TavoInfoNtfRecv
{
public:
    virtual ~KV_TavoInfoNtfRecv() = default;
    // The info of worker `id` had event `kind`; read it with
    // KV_TavoInfoMan::at (null after KV_TAVO_NTF_TYPE_REMOVED).
    virtual void notify(unsigned int id, KV_TAVO_NTF_TYPE kind) = 0;
};

class KV_TavoInfoMan
{
public:
    // Empty: no receivers, no infos.
    KV_TavoInfoMan();
    // Deletes every info; tells nobody.
    virtual ~KV_TavoInfoMan();
    // The table owns its infos and its receivers are windows bound to one
    // manager, so a copy has no sensible meaning.
    KV_TavoInfoMan(const KV_TavoInfoMan&) = delete;
    KV_TavoInfoMan& operator=(const KV_TavoInfoMan&) = delete;

    // Applies one message (worker notices, session notices, session log
    // lines, login states; every other type is ignored with true). The
    // message stays the caller's. False when an info could not be created,
    // a log line could not be stored, or a "worker removed" notice names a
    // worker without info; nothing is told then.
    bool process_ntf(const KV_Msg* msg);

    // Adds a receiver (not owned; it stays alive while registered) and
    // announces every known worker to it alone (KV_TAVO_NTF_TYPE_CHANGED, in
    // the map's order). False, announcing nothing, when it cannot be added.
    bool reg(KV_TavoInfoNtfRecv* recv);
    // Removes a receiver; false when it was not registered.
    bool unreg(KV_TavoInfoNtfRecv* recv);

    // The info of worker `id`; null when there is none. Valid until the next
    // process_ntf.
    const KV_TavoInfo* at(unsigned int id) const;
    const KVTL::KV_HMapPtr<unsigned int, KV_TavoInfo>& map_info() const { return map_info_; }
    uint32_t entries() const { return map_info_.entries(); }

    // One short text for all workers: the best connection state ("Logged
    // in", "Connected", "Disconnected", "Unknown" for a state beyond those)
    // followed by " [n]", n being the number of workers in that state; the
    // text alone when there are no workers. `clr` gets the state's colour
    // class (0 for "Unknown"). While no worker is logged in and the best
    // state is disconnected, connected or refused, the workers whose login
    // was refused are counted instead: "Login refused [n]" with colour
    // class 0, so a wrong password does not read as a connection.
    void status(KV_String& out, KV_CONN_CLR& clr) const;
    // Walks the first `n` infos in the map's order and appends to `ids` the
    // id of each one that is not logged in. False when an append fails (the
    // walk stops there).
    bool min_conn(unsigned int n, KVTL::KV_ListVal<unsigned int>& ids) const;

protected:
    // The info of `id`, created with default values when there is none;
    // null when it cannot be created.
    KV_TavoInfo* init(unsigned int id);
    // notify(id, kind) on every registered receiver in registration order;
    // only on `only` when that is not null.
    void inform(unsigned int id, KV_TAVO_NTF_TYPE kind, KV_TavoInfoNtfRecv* only);

private:
    // Registered receivers, in registration order; not owned.
    KVTL::KV_ListPtr<KV_TavoInfoNtfRecv> list_recv;
    // Worker id to info; the table owns the infos.
    KVTL::KV_HMapPtr<unsigned int, KV_TavoInfo> map_info_;
};
