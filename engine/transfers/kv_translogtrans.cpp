#include "transfers/kv_translogtrans.h"

#include <mutex>
#include <new>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqman.h"
#include "root/kv_filemanpool.h"

namespace {

// The request whose log the request-log window shows, with its own lock
// (taken inside a log's lock, never around one).
KV_Lock id_log_lock;
uint32_t id_log_value = 0;

// A window message for `id`; null when memory cannot be had or no engine
// root is there to carry it.
KV_MsgReqLog* window_msg(uint32_t id)
{
    if (KV_FileReqMan::pool() == nullptr)
        return nullptr;
    return new (std::nothrow) KV_MsgReqLog(id);
}

void send_window(KV_MsgReqLog* msg)
{
    KV_FileManPool* pool = KV_FileReqMan::pool();
    if (pool != nullptr)
        pool->informer().send(msg);
    else
        KV_Informer::destroy(msg);
}

} // namespace

KV_TransLogTrans::KV_TransLogTrans(const KV_FileReqTransParams& params) : params_(params.clone()) {}

KV_TransLogTrans::~KV_TransLogTrans()
{
    KV_FileReqTransParams::destr_clone(params_);
    msgs.clear();
}

void KV_TransLogTrans::set_id(uint32_t id)
{
    std::lock_guard<KV_Lock> guard(lock);
    id_ = id;
}

uint32_t KV_TransLogTrans::id() const
{
    std::lock_guard<KV_Lock> guard(lock);
    return id_;
}

void KV_TransLogTrans::set_eh(KV_ErrHandler* eh)
{
    std::lock_guard<KV_Lock> guard(lock);
    eh_ = eh;
}

bool KV_TransLogTrans::set_req_status(KV_REQ_STAT status)
{
    std::lock_guard<KV_Lock> guard(lock);
    status_ = status;
    return true;
}

KV_REQ_STAT KV_TransLogTrans::req_status() const
{
    std::lock_guard<KV_Lock> guard(lock);
    return status_;
}

bool KV_TransLogTrans::req_status_changed(KV_REQ_STAT status, const char* text)
{
    std::lock_guard<KV_Lock> guard(lock);
    if (!log_this())
        return true;
    KV_MsgReqLog* msg = window_msg(id_);
    if (msg == nullptr)
        return true;
    msg->log.info.set_status(status, text);
    msg->log.chg |= KV_FileReqLog::CHG_STATUS;
    if (last_seq == 0)
        msg->log.chg |= KV_FileReqLog::CHG_RESTART | KV_FileReqLog::CHG_LAST_ERR;
    send_window(msg);
    return true;
}

bool KV_TransLogTrans::set_trans_params(const KV_FileReqTransParams& params)
{
    KV_FileReqTransParams* copy = params.clone();
    if (copy == nullptr)
        return false;
    std::lock_guard<KV_Lock> guard(lock);
    KV_FileReqTransParams::destr_clone(params_);
    params_ = copy;
    return true;
}

KV_FileReqTransParams* KV_TransLogTrans::clone_params() const
{
    std::lock_guard<KV_Lock> guard(lock);
    return params_ ? params_->clone() : nullptr;
}

KV_Time KV_TransLogTrans::tm_start() const
{
    std::lock_guard<KV_Lock> guard(lock);
    return params_ ? params_->tm_start() : KV_Time();
}

KV_Time KV_TransLogTrans::tm_started() const
{
    std::lock_guard<KV_Lock> guard(lock);
    return params_ ? params_->tm_started() : KV_Time();
}

bool KV_TransLogTrans::add_msg(const KV_String& text, uint8_t level)
{
    std::lock_guard<KV_Lock> guard(lock);
    Msg* rec = nullptr;
    const uint32_t n = msgs.size();
    if (n > 0 && msgs.at(n - 1).level == level && msgs.at(n - 1).text == text) {
        rec = &msgs.at(n - 1);
        ++rec->count;
        rec->time.now();
    } else {
        Msg m;
        m.text = text;
        m.level = level;
        m.count = 1;
        m.seq = last_seq + 1;
        m.time.now();
        if (!msgs.add(m))
            return false;
        last_seq = m.seq;
        rec = &msgs.at(msgs.size() - 1);
    }
    if (log_this()) {
        KV_MsgReqLog* msg = window_msg(id_);
        if (msg != nullptr) {
            KV_String note;
            if (rec->count > 1)
                note.format("%u times", rec->count);
            auto* line = new (std::nothrow) KV_FileReqLogElem(
                KV_FILE_REQ_LOG_ELEM_MSG, rec->seq, rec->time, rec->text, rec->level, note);
            if (line != nullptr && !msg->log.insert(line))
                delete line;
            msg->log.chg |= KV_FileReqLog::CHG_ELEMS;
            send_window(msg);
        }
    }
    return true;
}

KV_String KV_TransLogTrans::last_err() const
{
    std::lock_guard<KV_Lock> guard(lock);
    const uint32_t n = msgs.size();
    for (uint32_t k = 0; k < 3 && k < n; ++k) {
        const Msg& m = msgs.at(n - 1 - k);
        if (m.level != 0)
            return m.text;
    }
    return KV_String();
}

uint32_t KV_TransLogTrans::nmsgs() const
{
    std::lock_guard<KV_Lock> guard(lock);
    return msgs.size();
}

bool KV_TransLogTrans::get_log(uint32_t id, KV_FileReqLog& log)
{
    set_id_log(id);
    log.clear();
    log.chg |= KV_FileReqLog::CHG_ELEMS;
    std::lock_guard<KV_Lock> guard(lock);
    if (!log_this())
        return true;
    for (const Msg& m : msgs) {
        KV_String note;
        if (m.count > 1)
            note.format("%u times", m.count);
        auto* line = new (std::nothrow)
            KV_FileReqLogElem(KV_FILE_REQ_LOG_ELEM_MSG, m.seq, m.time, m.text, m.level, note);
        if (line == nullptr)
            return false;
        if (!log.insert(line)) {
            delete line;
            return false;
        }
    }
    return true;
}

bool KV_TransLogTrans::some_skipped()
{
    return false;
}

bool KV_TransLogTrans::restart()
{
    std::lock_guard<KV_Lock> guard(lock);
    msgs.clear();
    last_seq = 0;
    status_ = KV_REQ_STAT_QUEUED;
    return true;
}

void KV_TransLogTrans::del_log()
{
    std::lock_guard<KV_Lock> guard(lock);
    msgs.clear();
    last_seq = 0;
    if (!log_this())
        return;
    KV_MsgReqLog* msg = window_msg(id_);
    if (msg != nullptr) {
        msg->log.chg |= KV_FileReqLog::CHG_RESTART | KV_FileReqLog::CHG_HEADER |
                        KV_FileReqLog::CHG_STATUS | KV_FileReqLog::CHG_LAST_ERR;
        send_window(msg);
    }
    set_id_log(0);
}

uint32_t KV_TransLogTrans::id_log()
{
    std::lock_guard<KV_Lock> guard(id_log_lock);
    return id_log_value;
}

void KV_TransLogTrans::set_id_log(uint32_t id)
{
    std::lock_guard<KV_Lock> guard(id_log_lock);
    id_log_value = id;
}

void KV_TransLogTrans::process_err(uint8_t prio, const KV_String& text)
{
    add_msg(text, prio);
    KV_ErrHandler* outer;
    {
        std::lock_guard<KV_Lock> guard(lock);
        outer = eh_;
    }
    if (outer != nullptr && prio == 2)
        outer->set_err(prio, text);
}

bool KV_TransLogTrans::log_this() const
{
    return id_ != 0 && id_ == id_log();
}
