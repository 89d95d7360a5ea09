// The SFTP connection manager and the SFTP actions.
//
// KV_SftpMan is the SSH connection of one SFTP worker. It supplies the
// session's one channel (the SFTP channel), the INIT exchange that opens the
// SFTP conversation on every new connection, and the error format
// "SFTP: %s". Between the worker thread that runs an action and the session
// thread that carries the channel's messages it keeps the running action,
// the ids of the requests still awaiting a reply and the reply timer.
//
// An action is a small state machine: process_out queues its first message,
// process_in takes every reply and may queue more, set_done ends it. The
// worker's run() registers the action and sleeps on the manager's event
// until the action is done, stopped or timed out.
//
// Request ids are never reused on a manager: they count up across actions
// and connections, so a late reply of an earlier connection can never pass
// for one of the current action.
//
// The reply time-out is checked on the session's output pass and, so that a
// peer gone fully silent is caught too, by the waiting worker on a timer;
// a time-out closes the connection, which drops whatever replies were still
// owed.
//
// Threads and locks: `lock` guards the running action, the id list, the
// timer and the last id. The worker thread runs run(), init(), act_set,
// act_end(false) and the cleanup hook; the session thread runs
// act_process_in, act_process_out, new_conn, end_sess and act_end(true) from
// the channel. The actions' process_in, process_out and first_msg run only
// inside `lock`. The worker never holds `lock` while it waits.
#pragma once

#include <cstdint>
#include <memory>

#include "datasources/kv_manopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_thread.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"
#include "ssh/kv_sftpmsg.h"
#include "ssh/kv_sshact.h"
#include "ssh/kv_sshman.h"

class KV_SftpAct;
class KV_SshChanMapIf;

using KV_SftpMsgList = KVTL::KV_ListPtr<KV_SftpMsg>;

class KV_SftpMan : public KV_SshMan
{
public:
    KV_SftpMan();
    // Stops the manager and closes the connection before the members go.
    ~KV_SftpMan() override;

    void set_opts(const KV_SftpManOpts& opts);
    const KV_SftpManOpts& opts_sftp() const { return opts_; }
    // Number of requests awaiting a reply.
    uint32_t ack_reg() const;
    // The same from inside the lock: for the actions' handlers, which the
    // manager calls with `lock` held.
    uint32_t ack_reg_locked() const { return ids.size(); }

    // ---- slots of the SSH manager
    // A table with one SFTP channel under the lowest free number.
    std::unique_ptr<KV_SshChanMapIf> init_channels() override;
    // A new INIT action; null without memory.
    KV_SshAct* init_act() const override;
    const char* prot_err() const override { return "SFTP: %s"; }
    // Wakes a worker that waits for an action.
    void end_sess() override;
    // Empty id list, timer restarted.
    void new_conn() override;
    KV_SSH_MAN_TYPE type_ssh() const override { return KV_SSH_MAN_SFTP; }
    const KV_SshManOpts& opts() const override { return opts_; }

    // ---- the running action
    // Makes `act` the running action (event reset); the action knows this
    // manager from then on, even before a connection bound it.
    void act_set(KV_SftpAct* const act);
    // Signals the action event.
    void act_done();
    // Forgets the running action after clearing its executed flag (when
    // `aborted`) and running its cleanup; then signals the event. True.
    bool act_end(bool aborted);
    // Waits until the running action ends, the manager is stopped, or no
    // reply came within the time-out (then the action fails with "Message
    // acknowledgment timed out." and the connection is closed). Worker
    // thread.
    void wait_trans_end();
    // Numbers every message of `out` that carries an id and records the id
    // as awaiting a reply. With `lock` held.
    bool set_ids(KV_SftpMsgList& out);

    // ---- from the SFTP channel (session thread)
    // A reply: its id must be awaited; the running action takes it and may
    // queue more messages into out.
    bool act_process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                        uint8_t* const buf);
    // The messages the running action wants sent now. False on a reply
    // time-out.
    bool act_process_out(KV_SftpMsgList& out);

protected:
    // The base's stop, then the running action ends as aborted.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;

private:
    // With `lock` held: whether the running action has waited too long for
    // a reply; if so it is failed with the time-out text.
    bool timed_out_locked();

    mutable KV_Lock lock;
    KV_Event ev_act{false, true};
    KVTL::KV_ListValSrt<uint32_t> ids;
    KV_SftpAct* act_ = nullptr;
    KV_SftpManOpts opts_;
    KV_TimeInt timer;
    uint32_t last_id = 0;
};

// The base of every SFTP action.
class KV_SftpAct : public KV_SshActTrans
{
    friend class KV_SftpMan;

public:
    KV_SftpAct() = default;
    KV_SftpAct(const KV_SftpAct&) = default;
    KV_SftpAct& operator=(const KV_SftpAct&) = default;
    ~KV_SftpAct() override;

    // Registers with the manager, queues the first message through the
    // session and waits until done. The result is init()'s; executed()
    // tells whether the exchange was completed and succeeded. False at once
    // when replies of an earlier action are still owed.
    bool run() override;

    // The message that opens the exchange (owned by the caller); null: none.
    virtual KV_SftpMsg* first_msg() { return nullptr; }
    // A reply of a kind the base does not handle. False here.
    virtual bool process_msg(const KV_SftpMsg& msg);
    // A reply; replies of the simple actions are one STATUS.
    virtual bool process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                            uint8_t* const buf);
    // Queues the first message once.
    virtual bool process_out(KV_SftpMsgList& out);
    // The manager has given ids to the messages just queued in out (with the
    // manager's lock held). Nothing here; the pipelined actions note which
    // request each id stands for.
    virtual void numbered(const KV_SftpMsgList& out);

    // The manager that runs the action when it is an SFTP manager, else the
    // one it was registered with; null before either.
    KV_SftpMan* sftp();
    const KV_SftpMan* sftp() const;
    bool done() const { return done_; }
    // Ends the exchange and wakes the worker.
    void set_done();
    // Queues CLOSE of a non-empty handle and empties it; true with an empty
    // handle. A message that cannot be queued is deleted (false).
    bool close_handle(KV_SshString& handle, KV_SftpMsgList& out);

protected:
    // Appends msg to out; deletes it and is false when that fails or msg is
    // null.
    static bool queue(KV_SftpMsgList& out, KV_SftpMsg* msg);
    // For a failed status: its text becomes the connection's error text.
    void status_err(const KV_SftpMsgStatus& st);

private:
    bool first = true;
    bool done_ = false;
    KV_SftpMan* reg = nullptr;
};

// INIT version 3; done with VERSION.
class KV_SftpActInit : public KV_SftpAct
{
public:
    KV_SftpMsg* first_msg() override;
    bool process_msg(const KV_SftpMsg& msg) override;
};

// Sends nothing: running it makes exec connect and initialise.
class KV_SftpActConnMan : public KV_SftpAct
{
public:
    bool process_out(KV_SftpMsgList& out) override;
};

// One request with a path, answered by STATUS.
class KV_SftpActDel : public KV_SftpAct
{
public:
    explicit KV_SftpActDel(const KV_SshString& path) : path_(path) {}
    KV_SftpMsg* first_msg() override;

private:
    KV_SshString path_;
};

class KV_SftpActMkDir : public KV_SftpAct
{
public:
    explicit KV_SftpActMkDir(const KV_SshString& path) : path_(path) {}
    KV_SftpMsg* first_msg() override;

private:
    KV_SshString path_;
};

class KV_SftpActRmDir : public KV_SftpAct
{
public:
    explicit KV_SftpActRmDir(const KV_SshString& path) : path_(path) {}
    KV_SftpMsg* first_msg() override;

private:
    KV_SshString path_;
};

class KV_SftpActRen : public KV_SftpAct
{
public:
    KV_SftpActRen(const KV_SshString& from, const KV_SshString& to) : from_(from), to_(to) {}
    KV_SftpMsg* first_msg() override;

private:
    KV_SshString from_;
    KV_SshString to_;
};

class KV_SftpActSetstat : public KV_SftpAct
{
public:
    KV_SftpActSetstat(const KV_SshString& path, const KV_SftpFileAttr& attrs)
        : path_(path), attrs_(attrs)
    {
    }
    KV_SftpMsg* first_msg() override;

private:
    KV_SshString path_;
    KV_SftpFileAttr attrs_;
};

// REALPATH of an empty path: the server's current folder.
class KV_SftpActPwd : public KV_SftpAct
{
public:
    KV_SftpMsg* first_msg() override;
    // NAME: the first entry's file name; any STATUS fails.
    bool process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                    uint8_t* const buf) override;
    const KV_SshString& path() const { return path_; }

private:
    KV_SshString path_;
};
