// The bases of the work done over an SSH connection.
//
// An action is a single-use object: built with its inputs, run once by
// KV_SshMan::exec on the manager's connection, read, deleted. executed() is
// the operation's success: it starts true and can only be cleared, by the
// action itself or by its manager on the session's thread (a failed or
// timed-out request).
//
// Threads: exec and run on the worker's thread; set_executed from any
// thread (under the action's lock).
#pragma once

#include "foundation/kv_storage.h"
#include "foundation/kv_thread.h"

class KV_SshMan;

class KV_SshAct : public KV_SafeObj
{
    friend class KV_SshMan;

public:
    // No manager, executed.
    KV_SshAct() = default;
    KV_SshAct(const KV_SshAct& other);
    KV_SshAct& operator=(const KV_SshAct& other);
    virtual ~KV_SshAct();

    // The action's work.
    virtual bool run() = 0;

    // Runs this action on the other action's manager; false for null.
    bool exec(KV_SshAct* const other);

    // The flag becomes flag && ok.
    void set_executed(bool ok);
    bool executed() const { return executed_.load(); }
    KV_SshMan* ssh() { return ssh_; }
    const KV_SshMan* ssh() const { return ssh_; }

    bool operator==(const KV_SshAct* other) const { return this == other; }
    bool operator<(const KV_SshAct* other) const { return this < other; }

private:
    // Runs the action on man when its connection is up.
    bool exec(KV_SshMan* const man);

    KV_Lock lock;
    KV_SshMan* ssh_ = nullptr;
    std::atomic<bool> executed_{true};
};

class KV_SshActTrans : public KV_SshAct
{
public:
    KV_SshActTrans() = default;
    KV_SshActTrans(const KV_SshActTrans&) = default;
    KV_SshActTrans& operator=(const KV_SshActTrans&) = default;
    ~KV_SshActTrans() override;

    // Preparation and tidying around the action's messages; true here.
    virtual bool init() { return true; }
    virtual bool cleanup() { return true; }
};
