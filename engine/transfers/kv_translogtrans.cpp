// KV_TransLogTrans: the request log common to the three transfer kinds.
#include "transfers/kv_translogtrans.h"

#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <new>
#include <unistd.h>

#include "datasources/kv_translogio.h"
#include "foundation/kv_tmpfile.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqinfoman.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_reqmsg.h"

namespace {

const char* answer_text(uint8_t ans)
{
    switch (ans) {
    case KV_TransLogFileGrpAns::ANS_YES:
        return "Yes";
    case KV_TransLogFileGrpAns::ANS_NO:
        return "No";
    default:
        return "Undefined";
    }
}

const char* question_label(uint8_t kind)
{
    switch (kind) {
    case KV_TransLogFileGrpAns::ASK_OVERWRITE:
        return "Overwrite ?";
    case KV_TransLogFileGrpAns::ASK_DELETE:
        return "Delete ?";
    case KV_TransLogFileGrpAns::ASK_SKIP:
        return "Skip err. ?";
    default:
        return "";
    }
}

// The question put to the user: `item` is the quoted name with its details.
const char* question_form(uint8_t kind, bool dir)
{
    switch (kind) {
    case KV_TransLogFileGrpAns::ASK_OVERWRITE:
        return dir ? "The directory %s already exists. Overwrite ?"
                   : "The file %s already exists. Overwrite ?";
    case KV_TransLogFileGrpAns::ASK_DELETE:
        return dir ? "Are you sure you want to remove the directory %s ?"
                   : "Are you sure you want to delete the file %s ?";
    case KV_TransLogFileGrpAns::ASK_SKIP:
        return dir ? "Are you sure you want to skip the directory %s ?"
                   : "Are you sure you want to skip the file %s ?";
    default:
        return nullptr;
    }
}

KV_String item_text(const KV_FileData& item)
{
    KV_String details;
    if (item.valid_time())
        details.format("last changed: %s", item.time().data());
    if (item.valid_size(false)) {
        if (!details.empty())
            details += ", ";
        details += KV_String::format_impl("size: %" PRId64 " byte(s)", item.size(false));
    }
    KV_String text = KV_String("\"") + item.name() + "\"";
    if (!details.empty())
        text += KV_String(" ( ") + details + " )";
    return text;
}

} // namespace

KV_TransLogTrans::KV_TransLogTrans(const KV_String& name) : KV_TransLog(name)
{
    answers.set_grow(256);
    msgs.set_grow(256);
    fops.set_grow(256);
}

KV_TransLogTrans::~KV_TransLogTrans()
{
    std::lock_guard<KV_Lock> hold(lock);
    drop_records();
}

bool KV_TransLogTrans::create()
{
    return KV_TransLog::create(*this);
}

bool KV_TransLogTrans::restore(uint8_t* type)
{
    return KV_TransLog::restore(*this, type);
}

void KV_TransLogTrans::set_id(uint32_t id)
{
    std::lock_guard<KV_Lock> hold(lock);
    id_ = id;
}

uint32_t KV_TransLogTrans::id() const
{
    std::lock_guard<KV_Lock> hold(lock);
    return id_;
}

void KV_TransLogTrans::set_eh(KV_ErrHandler* eh)
{
    std::lock_guard<KV_Lock> hold(lock);
    eh_ = eh;
}

// ---------------------------------------------------------------------------
// Status and parameters

bool KV_TransLogTrans::set_req_status(KV_REQ_STAT status)
{
    std::lock_guard<KV_Lock> hold(lock);
    if (status == status_)
        return true;
    KV_TransLogOut out(pos_status);
    if (!reopen() || !out.num<uint32_t>(status) || !out.rewrite(file))
        return false;
    const KV_REQ_STAT old = status_;
    status_ = status;
    changing_status(old, status);
    return true;
}

KV_REQ_STAT KV_TransLogTrans::req_status() const
{
    std::lock_guard<KV_Lock> hold(lock);
    return status_;
}

bool KV_TransLogTrans::req_status_changed(KV_REQ_STAT status, const char* text)
{
    std::lock_guard<KV_Lock> hold(lock);
    KV_MsgReqLog* msg = window_msg();
    if (msg == nullptr)
        return true;
    msg->log.info.set_status(status, text);
    msg->log.chg |= KV_FileReqLog::CHG_STATUS;
    if (last_id == 0)
        msg->log.chg |= KV_FileReqLog::CHG_RESTART | KV_FileReqLog::CHG_LAST_ERR;
    send_window(msg);
    return true;
}

bool KV_TransLogTrans::set_trans_params(const KV_FileReqTransParams& params)
{
    std::lock_guard<KV_Lock> hold(lock);
    if (!reopen())
        return false;
    // What goes to the file is always the full set of this log's kind:
    // parameters of a longer kind would overwrite the fields that follow
    // them, those of a shorter one would leave the kind's own bytes behind.
    KV_FileReqTransParams* merged = params_impl().clone();
    if (merged == nullptr)
        return false;
    *merged = params;
    KV_TransLogOut full(pos_params);
    const bool ok = merged->write_bin(full) && full.rewrite(file);
    if (ok)
        params_impl() = *merged;
    KV_FileReqTransParams::destr_clone(merged);
    return ok;
}

const KV_FileReqTransParams& KV_TransLogTrans::params()
{
    return params_impl();
}

KV_FileReqTransParams* KV_TransLogTrans::clone_params()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_impl().clone();
}

bool KV_TransLogTrans::forced_exec()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_impl().forced_exec() == KV_FEXEC_FORCED;
}

KV_Time KV_TransLogTrans::tm_start()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_impl().tm_start();
}

KV_Time KV_TransLogTrans::tm_started()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_impl().tm_started();
}

// ---------------------------------------------------------------------------
// Messages

bool KV_TransLogTrans::add_msg(const KV_String& text, uint8_t level)
{
    std::lock_guard<KV_Lock> hold(lock);
    if (!reopen())
        return false;
    KV_TransLogFileGrpMsg* found = nullptr;
    uint32_t k = 0;
    for (uint32_t i = msgs.size(); i-- > 0;) {
        KV_TransLogFileGrpMsg* m = msgs.at(i);
        if (m->level() != level)
            continue;
        if (m->text() == text) {
            found = m;
            break;
        }
        // An error may be counted again behind a short run of other errors
        // of its level; a plain message only when it is the newest one.
        if (level != 0 && i > 0 && msgs.at(i - 1)->level() == m->level()) {
            if (++k == 3)
                break;
            continue;
        }
        break;
    }
    bool ok;
    if (found != nullptr)
        ok = found->repeat(file);
    else
        ok = append(msgs, KV_TransLogFileGrpMsg(text, level), &found);
    if (found != nullptr)
        tell(found);
    return ok;
}

KV_String KV_TransLogTrans::last_err() const
{
    std::lock_guard<KV_Lock> hold(lock);
    const uint32_t n = msgs.size();
    for (uint32_t k = 0; k < 3 && k < n; ++k) {
        const KV_TransLogFileGrpMsg* m = msgs.at(n - 1 - k);
        if (m->level() != 0)
            return m->text();
    }
    return KV_String();
}

KV_String KV_TransLogTrans::main_err() const
{
    std::lock_guard<KV_Lock> hold(lock);
    const KV_TransLogFileGrpMsg* best = nullptr;
    for (uint32_t k = 0; k < msgs.size(); ++k) {
        const KV_TransLogFileGrpMsg* m = msgs.at(k);
        if (m->level() != 0 && (best == nullptr || m->count() >= best->count()))
            best = m;
    }
    return best != nullptr ? best->text() : KV_String();
}

bool KV_TransLogTrans::nomsgs() const
{
    std::lock_guard<KV_Lock> hold(lock);
    return msgs.empty();
}

void KV_TransLogTrans::process_err(uint8_t code, const KV_String& text)
{
    add_msg(text, code);
    KV_ErrHandler* outer;
    {
        std::lock_guard<KV_Lock> hold(lock);
        outer = eh_;
    }
    if (outer != nullptr && code == 2)
        outer->set_err(code, text);
}

// ---------------------------------------------------------------------------
// Answers

bool KV_TransLogTrans::ask(uint8_t kind, uint8_t& answer, const KV_PathDef& path,
                           KV_Informer& informer, const KV_FileData& item, KV_ASK ask_kind,
                           void* const context)
{
    using Ans = KV_TransLogFileGrpAns;
    if (forced_exec() || forced_exec(kind))
        answer = Ans::ANS_YES;
    else
        answer = this->answer(kind, path);
    if (answer == Ans::ANS_NONE)
        answer = this->answer(kind, KV_PathDef());
    if (answer == Ans::ANS_YES || answer == Ans::ANS_NO)
        return true;
    const char* form = question_form(kind, item.is_dir());
    if (form == nullptr)
        return false;
    KV_String question;
    question.format(form, item_text(item).data());
    for (;;) {
        const KV_ANS a = informer.ask(question, KV_ANS_YES, ask_kind, context);
        switch (a) {
        case KV_ANS_YES: {
            answer = Ans::ANS_YES;
            Ans rec(kind, Ans::ANS_YES, path);
            return set_answer(rec);
        }
        case KV_ANS_YES_ALL: {
            answer = Ans::ANS_YES;
            Ans rec(kind, Ans::ANS_YES, KV_PathDef());
            return set_answer(rec);
        }
        case KV_ANS_NO:
        case KV_ANS_NO_ALL: {
            answer = Ans::ANS_NO;
            // A No to skipping is asked again at the next failure.
            if (kind == Ans::ASK_SKIP)
                return true;
            Ans rec(kind, Ans::ANS_NO, a == KV_ANS_NO ? path : KV_PathDef());
            return set_answer(rec);
        }
        case KV_ANS_NONE:
            // Nobody answers (no user interface, or it has shut down):
            // asking again would never end. Nothing is remembered, so the
            // question comes back when the request resumes; the log says
            // why the request stopped.
            answer = Ans::ANS_NO;
            set_err(1, "No answer to the question: %s", question.data());
            return false;
        default:
            break;
        }
    }
}

uint8_t KV_TransLogTrans::answer(uint8_t kind, const KV_PathDef& path)
{
    std::lock_guard<KV_Lock> hold(lock);
    KV_TransLogFileGrpAns key(kind, path);
    KV_TransLogFileGrpAns* found = nullptr;
    return answers.find(&key, &found) ? found->ans() : 0;
}

bool KV_TransLogTrans::set_answer(KV_TransLogFileGrpAns& rec)
{
    std::lock_guard<KV_Lock> hold(lock);
    return put_rec(answers, rec,
                   [&](KV_TransLogFileGrpAns& found) { return found.update(file, rec.ans()); });
}

bool KV_TransLogTrans::clr_answer(uint8_t kind, const KV_PathDef& path)
{
    std::lock_guard<KV_Lock> hold(lock);
    if (!reopen())
        return false;
    bool ok = true;
    for (KV_TransLogFileGrpAns* r : answers) {
        if ((kind != 0 && r->kind() != kind) || !r->path().is_equal(path, true))
            continue;
        ok = r->update(file, KV_TransLogFileGrpAns::ANS_NONE);
        tell(r);
        if (!ok)
            break;
    }
    return ok;
}

// ---------------------------------------------------------------------------
// Items of rename and delete requests

bool KV_TransLogTrans::set_status(KV_TransLogFileGrpFop& rec)
{
    std::lock_guard<KV_Lock> hold(lock);
    return put_rec(fops, rec, [&](KV_TransLogFileGrpFop& found) {
        return found.update(file, rec.status(), rec.op());
    });
}

uint8_t KV_TransLogTrans::status(const KV_PathDef& path)
{
    std::lock_guard<KV_Lock> hold(lock);
    KV_TransLogFileGrpFop key(path, 0, 0);
    KV_TransLogFileGrpFop* found = nullptr;
    return fops.find(&key, &found) ? found->status() : 0;
}

bool KV_TransLogTrans::inc_err(const KV_PathDef& path, uint32_t limit)
{
    std::lock_guard<KV_Lock> hold(lock);
    KV_TransLogFileGrpFop key(path, 0, 0);
    KV_TransLogFileGrpFop* found = nullptr;
    return count_err(fops.find(&key, &found) ? found : nullptr, limit);
}

bool KV_TransLogTrans::some_skipped()
{
    std::lock_guard<KV_Lock> hold(lock);
    for (const KV_TransLogFileGrpFop* r : fops) {
        if (r->status() == KV_TransLogFileGrpFop::ST_SKIPPED)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Life cycle

void KV_TransLogTrans::cleanup(bool all)
{
    (void)all;
    std::lock_guard<KV_Lock> hold(lock);
    drop_records();
}

void KV_TransLogTrans::drop_records()
{
    for (KV_TransLogFileGrpAns* r : answers)
        delete r;
    answers.clear();
    for (KV_TransLogFileGrpMsg* r : msgs)
        delete r;
    msgs.clear();
    for (KV_TransLogFileGrpFop* r : fops)
        delete r;
    fops.clear();
}

void KV_TransLogTrans::changing_status(KV_REQ_STAT, KV_REQ_STAT) {}

bool KV_TransLogTrans::forced_exec(uint8_t)
{
    return false;
}

bool KV_TransLogTrans::read_elem(KV_FILE_REQ_LOG_ELEM, KV_TransLogIn&, bool& handled)
{
    handled = false;
    return true;
}

void KV_TransLogTrans::reset_tm_susp() {}

bool KV_TransLogTrans::tmp_used(const KV_String&)
{
    return false;
}

void KV_TransLogTrans::del_log()
{
    std::lock_guard<KV_Lock> hold(lock);
    tmp_file_man().unreg(name());
    file.remove();
    KV_MsgReqLog* msg = window_msg();
    if (msg == nullptr)
        return;
    msg->log.chg |= KV_FileReqLog::CHG_RESTART | KV_FileReqLog::CHG_HEADER |
                    KV_FileReqLog::CHG_STATUS | KV_FileReqLog::CHG_LAST_ERR;
    send_window(msg);
    set_id_log(0);
}

bool KV_TransLogTrans::restart()
{
    cleanup(false);
    {
        std::lock_guard<KV_Lock> hold(lock);
        pos_end = 0;
        pos_params = 0;
        pos_status = 0;
        status_ = KV_REQ_STAT_QUEUED;
        last_id = 0;
    }
    return create();
}

bool KV_TransLogTrans::get_log(uint32_t id, KV_FileReqLog& log)
{
    set_id_log(id);
    log.clear();
    log.chg |= KV_FileReqLog::CHG_ELEMS;
    std::lock_guard<KV_Lock> hold(lock);
    if (!log_this())
        return true;
    for (const KV_TransLogFileGrpMsg* r : msgs) {
        if (!add_log_elem(log, r))
            return false;
    }
    for (const KV_TransLogFileGrpAns* r : answers) {
        if (!add_log_elem(log, r))
            return false;
    }
    for (const KV_TransLogFileGrpFop* r : fops) {
        if (!add_log_elem(log, r))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Body

bool KV_TransLogTrans::write_data()
{
    KV_TransLogOut out;
    return write_data_beg(out) && write_data_end(out);
}

bool KV_TransLogTrans::read_data()
{
    KV_TransLogIn in(file);
    return read_data_beg(in) && read_data_end(in);
}

bool KV_TransLogTrans::write_data_beg(KV_TransLogOut& out)
{
    if (!out.begin(file))
        return false;
    pos_status = out.pos();
    if (!out.num<uint32_t>(status_))
        return false;
    pos_params = out.pos();
    return params_impl().write_bin(out);
}

bool KV_TransLogTrans::write_data_end(const KV_TransLogOut& out)
{
    if (!out.flush(file))
        return false;
    // A new file holds no records; whatever was in memory is gone with the
    // old file.
    drop_records();
    last_id = 0;
    pos_end = out.pos();
    cut_ = false;
    return true;
}

bool KV_TransLogTrans::read_data_beg(KV_TransLogIn& in)
{
    drop_records();
    last_id = 0;
    uint32_t status = 0;
    pos_status = in.pos();
    if (!in.num(status) || status > KV_REQ_STAT_CANCELLED)
        return false;
    status_ = static_cast<KV_REQ_STAT>(status);
    pos_params = in.pos();
    // A forced execution answers every question Yes, deletions included: a
    // damaged byte must not turn it on.
    return params_impl().read_bin(in) && params_impl().forced_exec() <= KV_FEXEC_FORCED;
}

bool KV_TransLogTrans::read_data_end(KV_TransLogIn& in)
{
    last_id = 0;
    for (;;) {
        // A record that cannot be read ends the readable part here: the
        // next append overwrites it and cuts what follows.
        pos_end = in.pos();
        uint32_t kind = 0;
        if (!in.num(kind))
            break;
        bool ok = true;
        bool handled = true;
        switch (kind) {
        case KV_FILE_REQ_LOG_ELEM_ANSWER:
            ok = read_rec<KV_TransLogFileGrpAns>(answers, in, handled, true);
            break;
        case KV_FILE_REQ_LOG_ELEM_MSG:
            ok = read_rec<KV_TransLogFileGrpMsg>(msgs, in, handled, false);
            break;
        case KV_FILE_REQ_LOG_ELEM_FILEOP:
            ok = read_rec<KV_TransLogFileGrpFop>(fops, in, handled, true);
            break;
        default:
            ok = read_elem(static_cast<KV_FILE_REQ_LOG_ELEM>(kind), in, handled);
            break;
        }
        if (!ok)
            return false;
        if (!handled)
            break;
    }
    cut_ = pos_end < in.pos() + in.left();
    return true;
}

bool KV_TransLogTrans::cut_tail()
{
    if (!cut_)
        return true;
    FILE* fp = file;
    if (fp == nullptr || ::ftruncate(::fileno(fp), pos_end) != 0)
        return false;
    cut_ = false;
    return true;
}

// ---------------------------------------------------------------------------
// Request-log window

uint32_t KV_TransLogTrans::id_log()
{
    return KV_FileReqInfoMan::id_log();
}

void KV_TransLogTrans::set_id_log(uint32_t id)
{
    KV_FileReqInfoMan::set_id_log(id);
}

bool KV_TransLogTrans::log_this() const
{
    return id_ != 0 && id_ == id_log();
}

KV_MsgReqLog* KV_TransLogTrans::window_msg() const
{
    if (kv_root_informer() == nullptr || !log_this())
        return nullptr;
    return new (std::nothrow) KV_MsgReqLog(id_);
}

void KV_TransLogTrans::send_window(KV_MsgReqLog* msg)
{
    KV_Informer* root = kv_root_informer();
    if (root != nullptr)
        root->send(msg);
    else
        KV_Informer::destroy(msg);
}

bool KV_TransLogTrans::insert_line(KV_FileReqLog& log, KV_FILE_REQ_LOG_ELEM kind, uint32_t id,
                                   const KV_Time& tm, const KV_String& text, int number,
                                   const KV_String& text2)
{
    auto* line = new (std::nothrow) KV_FileReqLogElem(kind, id, tm, text, number, text2);
    if (line == nullptr)
        return false;
    if (!log.insert(line)) {
        delete line;
        return false;
    }
    return true;
}

bool KV_TransLogTrans::add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpMsg* rec)
{
    log.chg |= KV_FileReqLog::CHG_ELEMS;
    if (rec == nullptr)
        return false;
    if (rec->level() != 0) {
        log.info.set_last_err(rec->text());
        log.chg |= KV_FileReqLog::CHG_LAST_ERR;
    }
    KV_String times;
    if (rec->count() > 1)
        times.format("%u times", rec->count());
    return insert_line(log, KV_FILE_REQ_LOG_ELEM_MSG, rec->head.id(), rec->tm(), rec->text(),
                       rec->level(), times);
}

bool KV_TransLogTrans::add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpAns* rec)
{
    log.chg |= KV_FileReqLog::CHG_ELEMS;
    if (rec == nullptr)
        return false;
    KV_String text2 = KV_String(question_label(rec->kind())) + " => ";
    if (rec->ans() == 0 && rec->ans_last() != 0)
        text2 += KV_String(answer_text(rec->ans_last())) + " ( cleared )";
    else
        text2 += answer_text(rec->ans());
    const KV_String text = rec->path().empty() ? KV_String("All files") : rec->path().last();
    return insert_line(log, KV_FILE_REQ_LOG_ELEM_ANSWER, rec->head.id(), rec->tm(), text, -1,
                       text2);
}

bool KV_TransLogTrans::add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpFop* rec)
{
    log.chg |= KV_FileReqLog::CHG_ELEMS;
    if (rec == nullptr)
        return false;
    KV_String text2;
    switch (rec->status()) {
    case KV_TransLogFileGrpFop::ST_DONE:
        text2 = rec->op() == KV_TransLogFileGrpFop::OP_RENAMED   ? "Renamed"
                : rec->op() == KV_TransLogFileGrpFop::OP_DELETED ? "Deleted"
                                                                 : "Completed";
        break;
    case KV_TransLogFileGrpFop::ST_SKIPPED:
        text2 = "Skipped";
        break;
    default:
        break;
    }
    if (rec->status() != KV_TransLogFileGrpFop::ST_DONE)
        append_errors(text2, rec->nerr());
    return insert_line(log, KV_FILE_REQ_LOG_ELEM_FILEOP, rec->head.id(), rec->tm(),
                       rec->path().last(), rec->status(), text2);
}

bool KV_TransLogTrans::add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpFopCp* rec)
{
    log.chg |= KV_FileReqLog::CHG_ELEMS;
    if (rec == nullptr)
        return false;
    KV_String text2;
    const int32_t prog = rec->progress();
    switch (rec->status()) {
    case KV_TransLogFileGrpFopCp::ST_INIT:
        text2 = "Initialized";
        break;
    case KV_TransLogFileGrpFopCp::ST_RUNNING:
        // Once the request has ended, a copy still under way shows how it
        // ended instead of its progress; so does one waiting to restart,
        // until it runs again.
        if (KV_FileReq::processed(status_) || status_ == KV_REQ_STAT_RESTARTING)
            text2 = KV_FileReq::status_str(status_);
        else if (prog == KV_TransLogFileGrpFopCp::PROG_DONE)
            text2 = "Transferred";
        else if (prog < 0 || prog == KV_TransLogFileGrpFopCp::PROG_RUNNING)
            text2 = "Running";
        else if (prog <= 100)
            text2.format("%s ( %s %d%% )", "Running", "download", prog);
        else
            text2.format("%s ( %s %d%% )", "Running", "upload", prog - 101);
        break;
    case KV_TransLogFileGrpFopCp::ST_DONE:
        text2 = "Transferred";
        break;
    case KV_TransLogFileGrpFopCp::ST_SKIPPED:
        text2 = "Skipped";
        break;
    default:
        break;
    }
    if (rec->status() != KV_TransLogFileGrpFopCp::ST_DONE)
        append_errors(text2, rec->nerr());
    return insert_line(log, KV_FILE_REQ_LOG_ELEM_FILEOP_CP, rec->head.id(), rec->tm_status(),
                       rec->path().last(), rec->status(), text2);
}

void KV_TransLogTrans::append_errors(KV_String& text, uint32_t nerr)
{
    if (nerr == 0)
        return;
    if (!text.empty())
        text += ", ";
    text += KV_String::format_impl("Errors: %u", nerr);
}
