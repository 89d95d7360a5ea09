// KV_FileTransMan: the transfer manager.
#include "transfers/kv_filetransman.h"

#include <cerrno>
#include <mutex>
#include <new>
#include <unistd.h>

#include "foundation/kv_file.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_path.h"
#include "foundation/kv_tmpfile.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filemanreg.h"
#include "requests/kv_filereqtasks.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_tavotrans.h"
#include "transfers/kv_translog.h"

namespace {

// Type bytes of the transfer-log frame.
constexpr uint8_t LOG_SUB = 1;
constexpr uint8_t LOG_CP = 2;
constexpr uint8_t LOG_RM = 3;
constexpr uint8_t LOG_REN = 4;

// A request rebuilt from the log file `path` of `type`; null for another
// type and without memory.
KV_FileReqTrans* new_req(uint8_t type, const KV_String& path)
{
    switch (type) {
    case LOG_CP:
        return new (std::nothrow) KV_FileReqTransCp(path);
    case LOG_RM:
        return new (std::nothrow) KV_FileReqTransRm(path);
    case LOG_REN:
        return new (std::nothrow) KV_FileReqTransRen(path);
    default:
        return nullptr;
    }
}

} // namespace

KV_FileTransMan::KV_FileTransMan() = default;

KV_FileTransMan::~KV_FileTransMan()
{
    terminate();
    drop_kept();
}

bool KV_FileTransMan::init()
{
    if (running() || !KV_FileReqMan::init())
        return false;
    initialized();
    return true;
}

bool KV_FileTransMan::add_req(KV_FileReqTrans* r)
{
    if (r == nullptr)
        return false;
    KV_TransLogTrans& log = r->log_trans();
    log.set_eh(&informer());
    KV_REQ_STAT stat = log.req_status();
    if (!KV_FileReq::processed(stat)) {
        // A request that was running, paused or waiting to restart when the
        // program stopped has no worker any more: it queues again.
        const bool queued = stat == KV_REQ_STAT_QUEUED;
        stat = queued && log.tm_start().valid() ? KV_REQ_STAT_SUSPENDED : KV_REQ_STAT_QUEUED;
    }
    return KV_FileReqMan::add_req(r, nullptr, nullptr, stat);
}

void KV_FileTransMan::set_opts(const KV_FileTransManOpts& opts)
{
    {
        std::lock_guard<KV_Lock> hold(lock);
        if (opts.auto_rm_req() != opts_.auto_rm_req())
            add_task(KV_FileReqTaskDelete(0, true, false));
        opts_ = opts;
    }
    req_proc();
}

uint32_t KV_FileTransMan::nfretries() const
{
    std::lock_guard<KV_Lock> hold(lock);
    return opts_.nfretries();
}

uint32_t KV_FileTransMan::ntmpfiles() const
{
    std::lock_guard<KV_Lock> hold(lock);
    return opts_.ntmpfiles();
}

bool KV_FileTransMan::process_ntf(const KV_Msg* msg)
{
    return man_info_.process_ntf(msg);
}

// ---------------------------------------------------------------------------
// Overrides

bool KV_FileTransMan::auto_rm(const KV_REQ_STAT* stat, bool at_start) const
{
    if (stat == nullptr)
        return false;
    uint8_t mask;
    {
        std::lock_guard<KV_Lock> hold(lock);
        mask = opts_.auto_rm_req();
        if (at_start)
            mask |= opts_.auto_rm_req_st();
    }
    switch (*stat) {
    case KV_REQ_STAT_COMPLETED:
        return (mask & 0x01) != 0;
    case KV_REQ_STAT_ERROR:
        return (mask & 0x02) != 0;
    case KV_REQ_STAT_CANCELLED:
        return (mask & 0x04) != 0;
    default:
        return false;
    }
}

void KV_FileTransMan::dupl_start(KV_FileReq* r)
{
    if (r == nullptr || !r->trans() || !r->suspended() || !r->tm_start_susp().valid())
        return;
    static_cast<KV_FileReqTrans*>(r)->log_trans().reset_tm_susp();
}

KV_FileReqManOpts KV_FileTransMan::opts() const
{
    std::lock_guard<KV_Lock> hold(lock);
    return opts_;
}

bool KV_FileTransMan::trans() const
{
    return true;
}

KV_Tavo* KV_FileTransMan::create_tavo()
{
    return new (std::nothrow) KV_TavoTrans(informer());
}

void KV_FileTransMan::prestart_req(KV_Tavo* t)
{
    KV_FileManTavo::prestart_req(t);
    if (t == nullptr || t->kind() != 1)
        return;
    std::lock_guard<KV_Lock> hold(lock);
    static_cast<KV_TavoTrans*>(t)->set_opts(opts_);
}

// ---------------------------------------------------------------------------
// Reload at start

bool KV_FileTransMan::load_req(KV_FileManReg& pool)
{
    bool ok = true;
    if (KV_File::is_dir(KV_File::path(KV_PATH_TMP, false))) {
        // One look at each file for all kinds: a start with many saved
        // requests would otherwise open every log once per kind.
        LogLists lists;
        ok = read_log_files(pool.eh(), lists);
        if (ok)
            ok = load_list(pool, LOG_CP, lists[LOG_CP]);
        if (ok)
            ok = load_list(pool, LOG_RM, lists[LOG_RM]);
        if (ok)
            ok = load_list(pool, LOG_REN, lists[LOG_REN]);
        if (ok)
            ok = !running() && del_sublogs_list(lists[LOG_SUB]);
    }
    drop_kept();
    add_task(KV_FileReqTaskDelete(0, true, true));
    return ok;
}

bool KV_FileTransMan::load(KV_FileManReg& pool, uint8_t type)
{
    KVTL::KV_ListVal<KV_String> list;
    return read_log_files(pool.eh(), list, type) && load_list(pool, type, list);
}

bool KV_FileTransMan::load_list(KV_FileManReg& pool, uint8_t type,
                                const KVTL::KV_ListVal<KV_String>& list)
{
    bool ok = true;
    for (uint32_t i = 0; i < list.size() && ok; ++i) {
        const KV_String& path = list.at(i);
        KV_FileReqTrans* r = new_req(type, path);
        if (r == nullptr) {
            ok = type != LOG_CP && type != LOG_RM && type != LOG_REN;
            continue;
        }
        if (!r->log_trans().restore(nullptr)) {
            r->log_trans().del_log();
            delete r;
            continue;
        }
        bool bound = false;
        if (type == LOG_CP) {
            auto* cp = static_cast<KV_FileReqTransCp*>(r);
            KV_FileMan* src = pool.reg(cp->log().id_man_src());
            KV_FileMan* dst = src != nullptr ? pool.reg(cp->log().id_man_dst()) : nullptr;
            bound = src != nullptr && dst != nullptr;
            if (bound)
                cp->init(src, dst);
        } else {
            auto* names = static_cast<KV_FileReqTransNames*>(r);
            auto& log = static_cast<KV_TransLogTransNames&>(r->log_trans());
            KV_FileMan* man = pool.reg(log.id_man());
            bound = man != nullptr;
            if (bound)
                names->init(man);
        }
        if (bound) {
            ok = add_req(r);
        } else if (!kept.add(r)) {
            // The log stays on disk for the next start either way; only
            // its sub-logs lose their protection for this one.
            delete r;
            ok = false;
        }
    }
    return ok;
}

bool KV_FileTransMan::read_log_files(KV_ErrHandler& eh, KVTL::KV_ListVal<KV_String>& list,
                                     uint8_t type)
{
    LogLists lists;
    list.clear();
    if (!read_log_files(eh, lists))
        return false;
    if (type >= LOG_TYPES)
        return true;
    for (const KV_String& path : lists[type])
        if (!list.add(path))
            return false;
    return true;
}

bool KV_FileTransMan::read_log_files(KV_ErrHandler& eh, LogLists& lists)
{
    for (KVTL::KV_ListVal<KV_String>& list : lists)
        list.clear();
    KV_TmpFileMan& tmp = KV_TmpFileMan::singleton();
    KV_PathDef dir;
    KV_String pattern;
    if (!tmp.tmp_dir(KV_PATH_TMP, dir) || !dir.append("*.*") ||
        !tmp.path_man().build_path(pattern, dir, false, 0))
        return false;
    KV_String folder = pattern.part(0, pattern.length() - 3);
    KV_FileFind find;
    if (!find.begin(pattern))
        return true;
    while (!find.end()) {
        const KV_FileDataExt& fd = find.get();
        if (fd.is_dir() || fd.name() == "." || fd.name() == "..")
            continue;
        const KV_String path = folder + fd.name();
        uint8_t found = 0;
        KV_TransLog peek(path);
        if (peek.restore(eh, &found) && found != 0 && found < LOG_TYPES && !lists[found].add(path))
            return false;
    }
    return true;
}

bool KV_FileTransMan::del_sublogs(KV_FileManReg& pool, uint8_t type)
{
    if (running())
        return false;
    KVTL::KV_ListVal<KV_String> list;
    return read_log_files(pool.eh(), list, type) && del_sublogs_list(list);
}

bool KV_FileTransMan::del_sublogs_list(const KVTL::KV_ListVal<KV_String>& list)
{
    bool ok = true;
    for (uint32_t i = 0; i < list.size() && ok; ++i) {
        const KV_String& path = list.at(i);
        bool used = false;
        for (KV_FileReq* r : list_req_add()) {
            if (r->trans() && static_cast<KV_FileReqTrans*>(r)->log_trans().tmp_used(path)) {
                used = true;
                break;
            }
        }
        // A saved request that could not be loaded this time still needs
        // the data its sub-logs hold.
        for (uint32_t k = 0; k < kept.size() && !used; ++k)
            used = kept.at(k)->log_trans().tmp_used(path);
        if (used)
            continue;
        KV_TmpFileMan::singleton().unreg(path);
        // For good, never to the trash, and only the file: a folder that
        // took the name meanwhile is not ours.
        ok = ::unlink(path.data()) == 0 || errno == ENOENT;
    }
    return ok;
}

void KV_FileTransMan::drop_kept()
{
    for (KV_FileReqTrans* r : kept)
        delete r;
    kept.clear();
}
