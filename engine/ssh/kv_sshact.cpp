#include "ssh/kv_sshact.h"

#include <mutex>

#include "ssh/kv_sshman.h"

KV_SshAct::KV_SshAct(const KV_SshAct& other) : ssh_(other.ssh_), executed_(other.executed_.load())
{
}

KV_SshAct& KV_SshAct::operator=(const KV_SshAct& other)
{
    if (this != &other) {
        ssh_ = other.ssh_;
        std::lock_guard<KV_Lock> g(lock);
        executed_.store(other.executed_.load());
    }
    return *this;
}

KV_SshAct::~KV_SshAct() = default;

bool KV_SshAct::exec(KV_SshAct* const other)
{
    if (!other)
        return false;
    return exec(other->ssh_);
}

bool KV_SshAct::exec(KV_SshMan* const man)
{
    ssh_ = man;
    {
        std::lock_guard<KV_Lock> g(lock);
        executed_.store(true);
    }
    set_executed(man && man->connected());
    if (!executed())
        return false;
    return run();
}

void KV_SshAct::set_executed(bool ok)
{
    std::lock_guard<KV_Lock> g(lock);
    executed_.store(executed_.load() && ok);
}

KV_SshActTrans::~KV_SshActTrans() = default;
