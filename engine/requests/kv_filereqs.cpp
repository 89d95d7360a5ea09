#include "requests/kv_filereqs.h"

#include <cstring>
#include <new>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_tavo.h"

namespace {

// Operation names: the user interface compares them by address.
const char OP_MKDIR[] = "Create dir.";
const char OP_REN[] = "Rename";
const char OP_CHMOD[] = "CHMOD";
const char OP_PWD[] = "Get current dir.";
const char OP_RM[] = "Delete";
const char OP_SCAN[] = "List";
const char OP_DTRANS_END[] = "FTP -> FTP: end";
const char OP_DTRANS_RUN[] = "FTP -> FTP: run";
const char* const OP_UMAN[] = {
    "Use new settings", "Keep alive",           "Connect",
    "Disconnect",       "User defined command", "Server check",
};
// A command this build does not know (a value from outside the enumeration).
const char OP_UMAN_UNKNOWN[] = "";

// Duplicates are of one kind and queued on one manager. The manager only
// compares its own requests; asking for the same manager as well keeps
// requests of different managers (whose worker ids and paths name different
// things) apart when anything else compares them.
bool same_kind(const KV_FileReq& a, const KV_FileReq& b)
{
    return a.type() == b.type() && a.man() == b.man();
}

// Paths compare under the manager's case sensitivity; without a manager
// nothing says that case does not matter, so it does.
bool same_path(const KV_FileReq& r, const KV_PathDef& a, const KV_PathDef& b)
{
    return a.is_equal(b, r.man() ? r.case_sens() : true);
}

bool same_path(const KV_FileReq& r, const KV_PathDefDir& a, const KV_PathDefDir& b)
{
    return a.is_equal(b, r.man() ? r.case_sens() : true);
}

// Byte for byte, NUL bytes included (KV_String's == stops at the first NUL).
bool same_text(const KV_String& a, const KV_String& b)
{
    return a.length() == b.length() && std::memcmp(a.data(), b.data(), a.length()) == 0;
}

// `path` in the notation of the request's manager into `descr`; `descr` is
// left as it is without a manager.
void descr_path(const KV_FileReq& r, KV_String& descr, const KV_PathDef& path)
{
    if (r.man()) {
        r.man()->man_path().build_path(descr, path, false, 0);
    }
}

} // namespace

void KV_FileReq::send_tree(const KV_FileReq& r, KV_Msg* msg)
{
    KV_Informer* inf = r.informer();
    if (!inf) {
        delete msg;
        return;
    }
    inf->send(msg);
}

void KV_FileReq::descr_pair(KV_String& descr, const KV_PathMan& man_a, const KV_PathDef& a,
                            const KV_PathMan& man_b, const KV_PathDef& b)
{
    KV_String text_a;
    KV_String text_b;
    if (!man_a.build_path(text_a, a, false, 0) || !man_b.build_path(text_b, b, false, 0)) {
        return;
    }
    KV_String text;
    if (text.append(text_a.data(), text_a.length()) && text.append(" -> ") &&
        text.append(text_b.data(), text_b.length())) {
        descr = text;
    }
}

// ---------------------------------------------------------------------------
// KV_FileReqMkDir

KV_FileReqMkDir::KV_FileReqMkDir(KV_ErrHandler& eh, const KV_PathDef& path)
    : KV_FileReq(eh), path_(path)
{
}

KV_FileReqMkDir::~KV_FileReqMkDir()
{
    set_term_status();
}

bool KV_FileReqMkDir::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    const auto& o = static_cast<const KV_FileReqMkDir&>(other);
    return same_path(*this, path_, o.path_);
}

const char* KV_FileReqMkDir::get_descr(KV_String& descr, bool full) const
{
    (void)full;
    descr_path(*this, descr, path_);
    return OP_MKDIR;
}

bool KV_FileReqMkDir::req_processed()
{
    if (status() == KV_REQ_STAT_COMPLETED) {
        send_tree(*this, new (std::nothrow) KV_MsgTreeExp(path_, KV_TREE_EXP_CREATED, true));
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqRen

KV_FileReqRen::KV_FileReqRen(KV_ErrHandler& eh, const KV_PathDef& path_src,
                             const KV_PathDef& path_dst, bool dir, bool dst_exists)
    : KV_FileReq(eh), path_src_(path_src), path_dst_(path_dst), dst_exists_(dst_exists ? 1 : 0),
      dir_(dir ? 1 : 0)
{
}

KV_FileReqRen::~KV_FileReqRen()
{
    set_term_status();
}

bool KV_FileReqRen::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    // A rename that replaces its destination does other work than one that
    // does not.
    const auto& o = static_cast<const KV_FileReqRen&>(other);
    return same_path(*this, path_src_, o.path_src_) && same_path(*this, path_dst_, o.path_dst_) &&
           dst_exists_ == o.dst_exists_ && dir_ == o.dir_;
}

const char* KV_FileReqRen::get_descr(KV_String& descr, bool full) const
{
    (void)full;
    if (man()) {
        const KV_PathMan pm = man()->man_path();
        descr_pair(descr, pm, path_src_, pm, path_dst_);
    }
    return OP_REN;
}

bool KV_FileReqRen::req_processed()
{
    if (status() == KV_REQ_STAT_COMPLETED) {
        send_tree(*this, new (std::nothrow) KV_MsgTreeExp(path_src_, KV_TREE_EXP_REMOVED, false));
        send_tree(*this, new (std::nothrow) KV_MsgTreeExp(path_dst_, KV_TREE_EXP_CREATED, dir()));
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqChmod

KV_FileReqChmod::KV_FileReqChmod(KV_ErrHandler& eh, const KV_PathDef& path, const KV_String& accf,
                                 const KV_String& accf_upd)
    : KV_FileReq(eh), path_(path), accf_(accf), accf_upd_(accf_upd)
{
}

KV_FileReqChmod::~KV_FileReqChmod()
{
    set_term_status();
}

bool KV_FileReqChmod::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    // Only a change of the same entry to the same permissions may stand in
    // for another: a change of another file, or to other permissions, is
    // work of its own and must not be cancelled.
    const auto& o = static_cast<const KV_FileReqChmod&>(other);
    return same_path(*this, path_, o.path_) && same_text(accf_, o.accf_) &&
           same_text(accf_upd_, o.accf_upd_);
}

const char* KV_FileReqChmod::get_descr(KV_String& descr, bool full) const
{
    (void)full;
    descr_path(*this, descr, path_);
    return OP_CHMOD;
}

bool KV_FileReqChmod::req_processed()
{
    if (status() == KV_REQ_STAT_COMPLETED) {
        send_tree(*this,
                  new (std::nothrow) KV_MsgTreeExp(path_, KV_TREE_EXP_CHMOD, accf_upd_, false));
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqPwd

KV_FileReqPwd::KV_FileReqPwd(KV_ErrHandler& eh, KV_FileMan& man, const KV_String& def_path)
    : KV_FileReq(eh), def_path_(def_path), man_(man)
{
}

KV_FileReqPwd::~KV_FileReqPwd()
{
    set_term_status();
}

bool KV_FileReqPwd::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    // A query that goes to another default folder first answers another
    // question.
    const auto& o = static_cast<const KV_FileReqPwd&>(other);
    return &man_ == &o.man_ && same_text(def_path_, o.def_path_);
}

const char* KV_FileReqPwd::get_descr(KV_String& descr, bool full) const
{
    (void)descr;
    (void)full;
    return OP_PWD;
}

// The request manager the query runs on is the file manager it is for; it is
// reached as the request's manager, which is bound by then.
bool KV_FileReqPwd::req_started()
{
    if (KV_FileReqMan* m = KV_FileReq::man()) {
        m->set_pwd_done(true);
    }
    return true;
}

bool KV_FileReqPwd::req_processed()
{
    if (KV_FileReqMan* m = KV_FileReq::man()) {
        m->set_pwd_done(status() == KV_REQ_STAT_COMPLETED);
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqRm

KV_FileReqRm::KV_FileReqRm(KV_ErrHandler& eh, const KV_PathDefDir& path)
    : KV_FileReq(eh), path_(path)
{
}

KV_FileReqRm::~KV_FileReqRm()
{
    set_term_status();
}

bool KV_FileReqRm::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    const auto& o = static_cast<const KV_FileReqRm&>(other);
    return same_path(*this, path_, o.path_);
}

const char* KV_FileReqRm::get_descr(KV_String& descr, bool full) const
{
    (void)full;
    descr_path(*this, descr, path_);
    return OP_RM;
}

bool KV_FileReqRm::req_processed()
{
    if (status() == KV_REQ_STAT_COMPLETED) {
        send_tree(*this, new (std::nothrow) KV_MsgTreeExp(path_, KV_TREE_EXP_REMOVED, false));
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqScan

KV_FileReqScan::KV_FileReqScan(KV_ErrHandler& eh, const KV_PathDef& path, KV_FileListStore* store,
                               bool incl_sub, bool usr_scan)
    : KV_FileReq(eh), store_(store), incl_sub_(incl_sub ? 1 : 0), usr_scan_(usr_scan ? 1 : 0),
      cnt_limit_(store ? 0 : 1), path_(path)
{
}

KV_FileReqScan::~KV_FileReqScan()
{
    set_term_status();
}

bool KV_FileReqScan::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    // A listing with subfolders does more than one without, and only a
    // user's listing tells the tree's receivers that it succeeded: a listing
    // that stands in for another must do all the other would have done.
    const auto& o = static_cast<const KV_FileReqScan&>(other);
    return !store_ && !o.store_ && same_path(*this, path_, o.path_) && incl_sub_ == o.incl_sub_ &&
           usr_scan_ == o.usr_scan_;
}

const char* KV_FileReqScan::get_descr(KV_String& descr, bool full) const
{
    (void)full;
    descr_path(*this, descr, path_);
    return OP_SCAN;
}

bool KV_FileReqScan::pre_add()
{
    if (!store_) {
        send_tree(*this,
                  new (std::nothrow) KV_MsgTreeNtf(path_, KV_TREE_NTF_SCAN_REQ, true, KV_String()));
    }
    return true;
}

bool KV_FileReqScan::req_processed()
{
    if (store_) {
        // The caller that owns the store reads it now; the request must not
        // touch it any more.
        store_ = nullptr;
        return true;
    }
    const KV_REQ_STAT st = status();
    if (st != KV_REQ_STAT_CANCELLED) {
        send_tree(*this, new (std::nothrow)
                             KV_MsgTreeNtf(path_, KV_TREE_NTF_SCAN_END, executed(), err_msg()));
        if (st == KV_REQ_STAT_COMPLETED && usr_scan_) {
            send_tree(*this, new (std::nothrow)
                                 KV_MsgTreeNtf(path_, KV_TREE_NTF_RECV_ONLY, true, KV_String()));
        }
    } else if (!dupl_found()) {
        // A listing replaced by a newer identical one leaves the folder's
        // state to that one.
        send_tree(*this, new (std::nothrow)
                             KV_MsgTreeNtf(path_, KV_TREE_NTF_STATUS_RESET, true, KV_String()));
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqUMan

KV_FileReqUMan::KV_FileReqUMan(KV_ErrHandler& eh, uint32_t tavo_id, KV_MANAGE_CMD cmd,
                               const KV_String& param)
    : KV_FileReq(eh), tavo_id_(tavo_id), cmd_(cmd), param_(param)
{
}

KV_FileReqUMan::~KV_FileReqUMan()
{
    set_term_status();
}

bool KV_FileReqUMan::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    const auto& o = static_cast<const KV_FileReqUMan&>(other);
    return spec_tavo() == o.spec_tavo() && cmd_ == o.cmd_ && same_text(param_, o.param_);
}

const char* KV_FileReqUMan::get_descr(KV_String& descr, bool full) const
{
    (void)descr;
    (void)full;
    if (cmd_ < sizeof(OP_UMAN) / sizeof(OP_UMAN[0])) {
        return OP_UMAN[cmd_];
    }
    return OP_UMAN_UNKNOWN;
}

bool KV_FileReqUMan::can_retry()
{
    const bool base = KV_FileReq::can_retry();
    return base && (cmd_ == KV_MANAGE_CMD_CONNECT || cmd_ == KV_MANAGE_CMD_SERVER_CHECK);
}

// ---------------------------------------------------------------------------
// KV_FileReqDTrans

KV_FileReqDTrans::KV_FileReqDTrans(KV_ErrHandler& eh, uint32_t tavo_id, const KV_String& path,
                                   int64_t from)
    : KV_FileReq(eh), tavo_id_(tavo_id), path_(path), from_(from)
{
}

KV_FileReqDTrans::~KV_FileReqDTrans()
{
    set_term_status();
}

bool KV_FileReqDTrans::operator==(const KV_FileReq& other) const
{
    if (!same_kind(*this, other)) {
        return false;
    }
    const auto& o = static_cast<const KV_FileReqDTrans&>(other);
    return spec_tavo() == o.spec_tavo() && same_text(path_, o.path_) && from_ == o.from_;
}

const char* KV_FileReqDTrans::get_descr(KV_String& descr, bool full) const
{
    (void)descr;
    (void)full;
    return path_.empty() ? OP_DTRANS_END : OP_DTRANS_RUN;
}

// ---------------------------------------------------------------------------
// Each kind to its handler on the worker that runs it

bool KV_FileReqMkDir::run_on(KV_Tavo& t)
{
    return t.do_mkdir(*this);
}

bool KV_FileReqRen::run_on(KV_Tavo& t)
{
    return t.do_ren(*this);
}

bool KV_FileReqChmod::run_on(KV_Tavo& t)
{
    return t.do_chmod(*this);
}

bool KV_FileReqPwd::run_on(KV_Tavo& t)
{
    return t.do_pwd(*this);
}

bool KV_FileReqRm::run_on(KV_Tavo& t)
{
    return t.do_rm(*this);
}

bool KV_FileReqScan::run_on(KV_Tavo& t)
{
    return t.do_scan(*this);
}

bool KV_FileReqUMan::run_on(KV_Tavo& t)
{
    return t.do_uman(*this);
}

bool KV_FileReqDTrans::run_on(KV_Tavo& t)
{
    return t.do_dtrans(*this);
}
