#include "transfers/kv_filereqtrans.h"

#include <mutex>

#include "foundation/kv_tmpfile.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqman.h"
#include "transfers/kv_filetransman.h"

KV_FileReqTrans::KV_FileReqTrans(KV_ErrHandler& eh) : KV_FileReq(eh), retry_ev(false, true) {}

KV_FileReqTrans::~KV_FileReqTrans() = default;

bool KV_FileReqTrans::trans() const
{
    return true;
}

void KV_FileReqTrans::get_info(KV_FileReqInfo& info, bool full)
{
    KV_FileReq::get_info(info, full);
    KV_TransLogTrans& log = log_trans();
    info.set_last_err(log.last_err());
    info.set_tm_start(log.tm_started());
    // A scheduled start still ahead is what the user wants to see.
    const KV_Time susp = tm_start_susp();
    if (susp.valid() && susp > info.tm_start())
        info.set_tm_start(susp);
    if (status() == KV_REQ_STAT_COMPLETED && log.some_skipped())
        info.set_flags(4, 0);
}

bool KV_FileReqTrans::get_log(KV_FileReqLog& log)
{
    return log_trans().get_log(id(), log);
}

bool KV_FileReqTrans::req_status_changed()
{
    if (!KV_FileReq::req_status_changed())
        return false;
    const KV_REQ_STAT st = status();
    return log_trans().req_status_changed(st, KV_FileReq::status_str(st));
}

bool KV_FileReqTrans::pre_add()
{
    KV_TransLogTrans& log = log_trans();
    if (log.has_name())
        return true;
    KV_TmpFileMan& tmp = KV_TransLog::tmp_file_man();
    KV_PathDef path;
    KV_String name;
    if (!tmp.new_file(KV_PATH_TMP, path, KV_String()) ||
        !tmp.path_man().build_path(name, path, false, 0) || name.empty())
        return false;
    return log.set_name(name) && log.create();
}

bool KV_FileReqTrans::pre_rm()
{
    log_trans().del_log();
    return true;
}

bool KV_FileReqTrans::skip_err(const KV_PathDef& path, bool& retry)
{
    if (take_skip_err())
        return true;
    const bool reached = log_trans().inc_err(path, file_retries());
    if (reached)
        retry = false;
    return reached;
}

bool KV_FileReqTrans::file_del(const KV_PathDef&)
{
    return true;
}

uint32_t KV_FileReqTrans::file_retries() const
{
    KV_FileReqMan* m = man();
    if (m == nullptr || !m->trans())
        return 0;
    return static_cast<KV_FileTransMan*>(m)->nfretries();
}

bool KV_FileReqTrans::retry_wait()
{
    uint64_t ms = static_cast<uint64_t>(rest_wait()) * 1000u;
    if (ms == 0 && max_err_cnt() == 0)
        ms = 1000;
    // Reset before the test: a stop in between sets the event again.
    retry_ev.reset();
    if (stopped())
        return false;
    if (ms != 0)
        retry_ev.wait(ms < KV_WAIT_INFINITE ? static_cast<uint32_t>(ms) : KV_WAIT_INFINITE - 1);
    return !stopped();
}

void KV_FileReqTrans::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_FileReq::stop_done(type, threshold);
    retry_ev.set();
}

bool KV_FileReqTrans::same_man(const KV_FileMan* a, const KV_FileMan* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    const KV_DsId da = a->id();
    const KV_DsId db = b->id();
    return da == db;
}

bool KV_FileReqTrans::restart()
{
    if (!processed())
        return false;
    if (!log_trans().restart())
        return false;
    return KV_FileReq::restart();
}

void KV_FileReqTrans::set_id(uint32_t id)
{
    KV_FileReq::set_id(id);
    log_trans().set_id(id);
}

KV_Time KV_FileReqTrans::tm_start_susp() const
{
    return log_trans().tm_start();
}

bool KV_FileReqTrans::involved(const KV_FileManId&) const
{
    return false;
}

void KV_FileReqTrans::req_browse() {}

void KV_FileReqTrans::set_skip_err()
{
    std::lock_guard<KV_Lock> guard(lock);
    skip_err_ = 1;
}

bool KV_FileReqTrans::take_skip_err()
{
    std::lock_guard<KV_Lock> guard(lock);
    const bool b = skip_err_ != 0;
    skip_err_ = 0;
    return b;
}

void KV_FileReqTrans::ds_types(uint16_t& src, uint16_t& dst) const
{
    src = 0;
    dst = 0;
}
