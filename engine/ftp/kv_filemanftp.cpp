#include "ftp/kv_filemanftp.h"

#include <mutex>
#include <new>

#include "datasources/kv_filemanparamsftp.h"
#include "foundation/kv_msg.h"
#include "foundation/kvtl.h"
#include "ftp/kv_tavoftp.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_filereqtrans.h"

namespace {

// How often a transfer that waits for another one's REST probe looks at its
// own stop.
constexpr uint32_t PROBE_POLL_MS = 100;

} // namespace

KV_FileManFtp::KV_FileManFtp(const KV_FileManId& id) : KV_FileMan(id) {}

KV_FileManFtp::~KV_FileManFtp()
{
    // The workers send tree messages and read the REST state: they end
    // before the tree and the lock go.
    terminate();
}

bool KV_FileManFtp::init(KV_FileManParams* params)
{
    if (params == nullptr || params->type() != type() || !KV_FileMan::init(params))
        return false;
    tree_.set_case_sens(opts().man_path().case_sens());
    return true;
}

KV_Tavo* KV_FileManFtp::create_tavo()
{
    auto* t = new (std::nothrow) KV_TavoFtp(informer());
    if (t == nullptr)
        return nullptr;
    t->ftp().set_file_man(this, ssl_ctx());
    t->ftp().set_informer(&t->informer());
    return t;
}

void KV_FileManFtp::prestart_req(KV_Tavo* t)
{
    KV_FileMan::prestart_req(t);
    if (t == nullptr)
        return;
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ == nullptr || params_->type() != type() || t->params_ver() == params_ver_)
        return;
    const auto* p = static_cast<const KV_FileManParamsFtp*>(params_);
    auto* w = static_cast<KV_TavoFtp*>(t);
    KV_FtpMan& f = w->ftp();
    f.set_ctrl_addrs(p->src_addr(), p->dst_addr(), p->proxy());
    f.set_ldata(p->ldata());
    f.set_secure(p->security());
    f.set_serv_type(p->server_type());
    w->set_opts(p->opts_ftp());
    t->set_params_ver(params_ver_);
}

uint32_t KV_FileManFtp::scan_cache() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ == nullptr || params_->type() != type())
        return 0;
    return params_->opts().scan_cache();
}

int64_t KV_FileManFtp::min_frag_size(uint32_t& nworkers) const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ == nullptr || params_->type() != type())
        return 0;
    nworkers = ntavos();
    return static_cast<const KV_FileManParamsFtp*>(params_)->opts_ftp().min_frag_size();
}

bool KV_FileManFtp::can_resume_get() const
{
    bool use_rest = false;
    {
        std::lock_guard<KV_Lock> guard(params_lock_);
        if (params_ == nullptr || params_->type() != type())
            return false;
        use_rest =
            static_cast<const KV_FileManParamsFtp*>(params_)->opts_ftp().ftp().use_rest_get();
    }
    return use_rest && impl_rest();
}

bool KV_FileManFtp::can_resume_put() const
{
    bool use_rest = false;
    bool use_append = false;
    {
        std::lock_guard<KV_Lock> guard(params_lock_);
        if (params_ == nullptr || params_->type() != type())
            return false;
        const KV_FtpManOpts& o = static_cast<const KV_FileManParamsFtp*>(params_)->opts_ftp().ftp();
        use_rest = o.use_rest_put();
        use_append = o.use_append();
    }
    return (use_rest && impl_rest()) || use_append;
}

KV_TRANS_MODE KV_FileManFtp::trans_mode(const KV_FileData& fd) const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ == nullptr || params_->type() != type())
        return KV_TRANS_MODE_BINARY;
    return static_cast<const KV_FileManParamsFtp*>(params_)->opts_ftp().ftp().tmode(fd);
}

bool KV_FileManFtp::impl_rest() const
{
    std::lock_guard<KV_Lock> guard(rest_lock);
    return rest_ == 1;
}

uint32_t KV_FileManFtp::rest_state() const
{
    std::lock_guard<KV_Lock> guard(rest_lock);
    return rest_;
}

void KV_FileManFtp::set_tmode(KV_FILE_MAN_TMODE tmode)
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    tmode_ = tmode;
}

KV_FILE_MAN_TMODE KV_FileManFtp::tmode() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    return tmode_;
}

bool KV_FileManFtp::probe_rest(KV_FileReqTrans& trans, bool& queued, bool& supported)
{
    queued = false;
    supported = false;
    auto* r =
        new (std::nothrow) KV_FileReqUMan(trans.eh(), 0, KV_MANAGE_CMD_SERVER_CHECK, KV_String());
    if (r == nullptr)
        return false;
    KV_FileReqObs obs;
    queued = add_req(r, &trans, &obs, KV_REQ_STAT_QUEUED);
    if (!queued)
        return false;
    obs.wait();
    // The worker's result value tells whether the server answered at all:
    // an answer, yes or no, settles the question; a lost connection or a
    // stop does not.
    supported = obs.completed();
    return supported || (obs.status() == KV_REQ_STAT_ERROR && obs.value() == 1);
}

bool KV_FileManFtp::pretrans(KV_FileReqTrans& trans)
{
    for (;;) {
        if (!trans.executed() || trans.stopped())
            return true;
        {
            std::lock_guard<KV_Lock> guard(rest_lock);
            if (rest_ != 0)
                return true;
            if (!probing) {
                probing = true;
                ev_probe.reset();
                break;
            }
        }
        // Another transfer's probe is on its way: its answer serves this
        // one too.
        while (ev_probe.wait(PROBE_POLL_MS) && !trans.stopped())
            ;
    }
    bool queued = false;
    bool supported = false;
    const bool answered = probe_rest(trans, queued, supported);
    {
        std::lock_guard<KV_Lock> guard(rest_lock);
        if (answered)
            rest_ = supported ? 1 : 2;
        probing = false;
        ev_probe.set();
    }
    // A server that refuses REST is no reason to fail the transfer: it goes
    // on without resuming. Only an unanswered probe (the server was not
    // reached) fails it, and the next transfer asks again.
    trans.set_executed(answered);
    return queued;
}

bool KV_FileManFtp::process_ntf(KV_Msg* msg)
{
    if (!KV_FileMan::process_ntf(msg) || !tree_.process_ntf(msg))
        return false;
    if (msg != nullptr && msg->type() == KV_MSG_TAVO &&
        static_cast<const KV_MsgTavoNtf*>(msg)->ntf == KV_TAVO_NTF_CHANGED)
        return conn_advance();
    return true;
}

bool KV_FileManFtp::conn_advance()
{
    if (!pwd_done())
        return true;
    uint32_t n = 0;
    {
        std::lock_guard<KV_Lock> guard(params_lock_);
        if (params_ != nullptr && params_->type() == type())
            n = static_cast<const KV_FileManParamsFtp*>(params_)->opts_ftp().ntavos_conn();
    }
    KVTL::KV_ListVal<unsigned int> ids;
    bool ok = man_tavo_info().min_conn(n, ids);
    for (uint32_t i = 0; ok && i < ids.size(); ++i) {
        auto* r = new (std::nothrow)
            KV_FileReqUMan(informer(), ids.at(i), KV_MANAGE_CMD_CONNECT, KV_String());
        ok = r != nullptr && add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED);
    }
    return ok;
}
