#include "ssh/kv_sftpman.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "ssh/kv_sshchannel.h"

namespace {

constexpr const char* tmout_text = "Message acknowledgment timed out.";

} // namespace

// ---------------------------------------------------------------------------
// KV_SftpMan

KV_SftpMan::KV_SftpMan()
{
    ids.set_grow(256);
}

KV_SftpMan::~KV_SftpMan()
{
    stop(KV_STOP_TERMINATE);
    close_sessions();
    std::lock_guard<KV_Lock> g(lock);
    ids.clear();
}

void KV_SftpMan::set_opts(const KV_SftpManOpts& opts)
{
    opts_ = opts;
}

uint32_t KV_SftpMan::ack_reg() const
{
    std::lock_guard<KV_Lock> g(lock);
    return ids.size();
}

std::unique_ptr<KV_SshChanMapIf> KV_SftpMan::init_channels()
{
    std::unique_ptr<KV_SshChannelMan> cm(new (std::nothrow) KV_SshChannelMan);
    if (!cm)
        return nullptr;
    std::unique_ptr<KV_SshChannelSftp> ch(new (std::nothrow) KV_SshChannelSftp(this));
    if (!ch)
        return nullptr;
    const uint32_t id = cm->new_id();
    if (id == 0 || !cm->add(id, ch.get()))
        return nullptr;
    ch.release();
    return cm;
}

KV_SshAct* KV_SftpMan::init_act() const
{
    return new (std::nothrow) KV_SftpActInit;
}

void KV_SftpMan::end_sess()
{
    act_done();
}

void KV_SftpMan::new_conn()
{
    std::lock_guard<KV_Lock> g(lock);
    ids.clear();
    timer.reset();
}

void KV_SftpMan::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_SshMan::stop_done(type, threshold);
    act_end(true);
}

void KV_SftpMan::act_set(KV_SftpAct* const act)
{
    std::lock_guard<KV_Lock> g(lock);
    ev_act.reset();
    act_ = act;
    if (act)
        act->reg = this;
}

void KV_SftpMan::act_done()
{
    ev_act.set();
}

bool KV_SftpMan::act_end(bool aborted)
{
    {
        std::lock_guard<KV_Lock> g(lock);
        if (act_) {
            act_->set_executed(!aborted);
            act_->cleanup();
            act_ = nullptr;
        }
    }
    act_done();
    return true;
}

bool KV_SftpMan::timed_out_locked()
{
    const uint32_t limit = opts_.tmout_msg_resp();
    // A limit of 0 would fail every request on its first check: no limit.
    if (!act_ || ids.empty() || limit == 0 || timer.diff() < static_cast<int64_t>(limit))
        return false;
    act_->set_executed(false);
    set_err_msg(tmout_text);
    return true;
}

void KV_SftpMan::wait_trans_end()
{
    for (;;) {
        if (stopped())
            return;
        const uint32_t limit = opts_.tmout_msg_resp();
        // The session checks the time-out only when it makes a pass; a peer
        // that sends nothing at all gives it none, so the waiter looks too.
        const uint32_t slice = limit == 0 ? KV_WAIT_INFINITE : std::clamp(limit / 4, 50u, 1000u);
        if (!ev_act.wait(slice))
            return;
        bool timed_out;
        {
            std::lock_guard<KV_Lock> g(lock);
            timed_out = timed_out_locked();
        }
        if (timed_out) {
            act_end(true);
            // Replies still owed must not reach a later action.
            close();
            return;
        }
    }
}

bool KV_SftpMan::set_ids(KV_SftpMsgList& out)
{
    for (uint32_t i = 0; i < out.size(); ++i) {
        KV_SftpMsg* m = out.at(i);
        if (!m || !m->has_id())
            continue;
        m->set_id(++last_id);
        if (!ids.add(last_id))
            return false;
    }
    return true;
}

bool KV_SftpMan::act_process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                                uint8_t* const buf)
{
    std::lock_guard<KV_Lock> g(lock);
    bool ok = true;
    if (msg.has_id() && !ids.remove(msg.id())) {
        ok = false;
    } else if (act_) {
        ok = act_->process_in(msg, out, buf_len, buf);
        if (ok) {
            ok = set_ids(out);
            if (ok && act_)
                act_->numbered(out);
        }
    }
    timer.reset();
    return ok;
}

bool KV_SftpMan::act_process_out(KV_SftpMsgList& out)
{
    std::lock_guard<KV_Lock> g(lock);
    const uint32_t before = ids.size();
    bool ok = !act_ || act_->process_out(out);
    if (ok) {
        ok = set_ids(out);
        if (ok && act_)
            act_->numbered(out);
    }
    if (ok && act_ && !ids.empty()) {
        if (ids.size() != before)
            timer.reset();
        else if (timed_out_locked())
            ok = false;
    }
    return ok;
}

// ---------------------------------------------------------------------------
// KV_SftpAct

KV_SftpAct::~KV_SftpAct() = default;

KV_SftpMan* KV_SftpAct::sftp()
{
    KV_SshMan* m = ssh();
    if (!m)
        return reg;
    return m->type_ssh() == KV_SSH_MAN_SFTP ? static_cast<KV_SftpMan*>(m) : nullptr;
}

const KV_SftpMan* KV_SftpAct::sftp() const
{
    return const_cast<KV_SftpAct*>(this)->sftp();
}

bool KV_SftpAct::run()
{
    KV_SftpMan* man = sftp();
    if (!man || man->ack_reg() != 0)
        return false;
    done_ = false;
    // Prepared before it is registered: the session may ask for its first
    // message as soon as it is.
    const bool ok = init();
    if (!ok) {
        cleanup();
        set_executed(false);
        return false;
    }
    man->act_set(this);
    man->wait_trans_end();
    set_executed(done_);
    man->act_end(false);
    return ok;
}

void KV_SftpAct::set_done()
{
    done_ = true;
    if (KV_SftpMan* man = sftp())
        man->act_done();
}

bool KV_SftpAct::queue(KV_SftpMsgList& out, KV_SftpMsg* msg)
{
    if (msg && out.add(msg))
        return true;
    delete msg;
    return false;
}

void KV_SftpAct::status_err(const KV_SftpMsgStatus& st)
{
    if (st.failed())
        if (KV_SftpMan* man = sftp())
            man->set_err_msg(st.err_text());
}

bool KV_SftpAct::close_handle(KV_SshString& handle, KV_SftpMsgList& out)
{
    if (handle.empty())
        return true;
    if (!queue(out, new (std::nothrow) KV_SftpMsgClose(handle)))
        return false;
    handle.clear();
    return true;
}

bool KV_SftpAct::process_msg(const KV_SftpMsg&)
{
    return false;
}

bool KV_SftpAct::process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t, uint8_t* const)
{
    if (!out.empty())
        return false;
    bool ok = true;
    if (msg.type() == KV_SFTP_STATUS) {
        const auto& st = static_cast<const KV_SftpMsgStatus&>(msg);
        status_err(st);
        // Only the flag carries the outcome: EOF is a failure here too.
        set_executed(st.ok());
        set_done();
    } else {
        ok = process_msg(msg);
    }
    set_executed(ok);
    return ok;
}

bool KV_SftpAct::process_out(KV_SftpMsgList& out)
{
    bool ok = true;
    if (first && out.empty()) {
        if (KV_SftpMsg* m = first_msg())
            ok = queue(out, m);
    }
    first = false;
    return ok;
}

void KV_SftpAct::numbered(const KV_SftpMsgList&) {}

// ---------------------------------------------------------------------------
// The simple actions

KV_SftpMsg* KV_SftpActInit::first_msg()
{
    return new (std::nothrow) KV_SftpMsgInit(3);
}

bool KV_SftpActInit::process_msg(const KV_SftpMsg& msg)
{
    if (msg.type() != KV_SFTP_VERSION)
        return false;
    set_done();
    return true;
}

bool KV_SftpActConnMan::process_out(KV_SftpMsgList&)
{
    set_done();
    return true;
}

KV_SftpMsg* KV_SftpActDel::first_msg()
{
    return new (std::nothrow) KV_SftpMsgDel(path_);
}

KV_SftpMsg* KV_SftpActMkDir::first_msg()
{
    return new (std::nothrow) KV_SftpMsgMkDir(path_, KV_SftpFileAttr());
}

KV_SftpMsg* KV_SftpActRmDir::first_msg()
{
    return new (std::nothrow) KV_SftpMsgRmDir(path_);
}

KV_SftpMsg* KV_SftpActRen::first_msg()
{
    return new (std::nothrow) KV_SftpMsgRen(from_, to_);
}

KV_SftpMsg* KV_SftpActSetstat::first_msg()
{
    return new (std::nothrow) KV_SftpMsgSetstat(path_, attrs_);
}

KV_SftpMsg* KV_SftpActPwd::first_msg()
{
    return new (std::nothrow) KV_SftpMsgRealPath(KV_SshString());
}

bool KV_SftpActPwd::process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t, uint8_t* const)
{
    if (!out.empty())
        return false;
    bool ok = false;
    if (msg.type() == KV_SFTP_STATUS) {
        status_err(static_cast<const KV_SftpMsgStatus&>(msg));
        set_executed(false);
        set_done();
        ok = true;
    } else if (msg.type() == KV_SFTP_NAME) {
        const auto& name = static_cast<const KV_SftpMsgName&>(msg);
        if (!name.entries().empty()) {
            ok = path_ = name.entries().at(0).filename;
            if (ok)
                set_done();
        }
    }
    set_executed(ok);
    return ok;
}
