// The request log of a transfer request: a transfer-log file (kv_translog.h)
// and its image in memory.
//
// Everything a transfer request decides is written here before it acts, so
// that the request resumes after a restart of the program: its status, its
// parameters, the answers the user gave (so a resumed request does not ask
// again), its messages and the outcome of every item of a rename or delete.
// The log is also the request's error handler: every error the request
// reports becomes a message, and errors of priority 2 go on to the outer
// handler (set_eh). It feeds the request-log window of the user interface
// while the window shows it (id_log).
//
// Body of every request-log file, after the 53-byte frame:
//   53   4     request status (u32), rewritten in place
//   57   fixed the parameters (kv_filereqtransparams.h: 12 bytes, 23 for a
//              copy), rewritten in place
//   next       the kind's own fields (kv_translogtranscp.h,
//              kv_translogtransren.h)
//   next       the record area to the end of the file (kv_translogfilegrp.h):
//              records in order of appending
//
// A restore reads records until the end of the file, a record it cannot read
// or a kind it does not know; the rest is a torn tail. The next append starts
// where that tail starts and cuts the file there, so no stale bytes are ever
// read back as records. A restored log has every record back except the
// per-item error counts, which start at 0.
//
// Writes: an operation that writes first reopens a closed file, but only
// while the last create or restore stands (KV_TransLog::ok); otherwise it
// fails. A status or parameter change is adopted in memory only when its
// write succeeded; a record's fields change in memory even when its in-place
// rewrite fails; a record whose append fails is not kept.
//
// Threads: the worker that runs the request, the transfer manager's thread
// and the user interface use a log at once. Every public operation takes the
// log's lock (KV_TransLog::lock, not re-entrant) for its whole duration;
// operations that call other locking operations of the same log (ask) take
// it in each callee only. The id of the log that the request-log window
// shows (id_log) has its own static lock, taken inside a log's lock, never
// the other way round. Messages to the window go through the engine root's
// informer, which delivers them on the user-interface thread.
#pragma once

#include <cstdint>
#include <new>

#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_reqdefs.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_translog.h"
#include "transfers/kv_translogfilegrp.h"

class KV_TransLogIn;
class KV_TransLogOut;

class KV_TransLogTrans : public KV_TransLog
{
public:
    // On the file `name` (may be empty until the request is queued); nothing
    // is opened. Status Queued, no records, id 0.
    explicit KV_TransLogTrans(const KV_String& name);
    // Forgets the records; the file stays on disk.
    ~KV_TransLogTrans() override;

    // KV_TransLog::create and restore with the log itself as the error
    // handler.
    bool create();
    bool restore(uint8_t* type);
    // The log as the request's error handler.
    KV_ErrHandler& eh() { return *this; }

    void set_id(uint32_t id);
    uint32_t id() const;
    // The outer handler (not owned, may be null).
    void set_eh(KV_ErrHandler* eh);

    // --- Status and parameters ---------------------------------------------

    // Rewrites the stored status; true at once when it is already stored.
    // On success changing_status(old, new) runs.
    bool set_req_status(KV_REQ_STAT status);
    KV_REQ_STAT req_status() const;
    // Shows a status change in the request-log window when it shows this
    // log. Always true.
    bool req_status_changed(KV_REQ_STAT status, const char* text);

    // Rewrites the stored parameters with `params`; adopted in memory only
    // when the write succeeded (by the kind's assignment, so a set of
    // another kind changes only the common fields).
    bool set_trans_params(const KV_FileReqTransParams& params);
    // The parameters; read them only while nobody changes them.
    const KV_FileReqTransParams& params();
    // A copy made under the lock, owned by the caller
    // (KV_FileReqTransParams::destr_clone); null when memory cannot be had.
    KV_FileReqTransParams* clone_params();
    // The parameters' forced-execution type is 1: no question is asked.
    bool forced_exec();
    KV_Time tm_start();
    KV_Time tm_started();

    // --- Messages ----------------------------------------------------------

    // Records a message (level 0) or an error (level 1, 2). A message is
    // counted again instead of appended when it equals the newest message
    // of its level; an error also when it equals one of the three newest
    // errors of its level while they stand in a run of that level.
    bool add_msg(const KV_String& text, uint8_t level);
    // The text of the first error among the three newest messages; empty
    // when none of them is one.
    KV_String last_err() const;
    // The error message (level above 0) repeated most often, the newest of
    // equally frequent ones: the cause that kept a file from arriving
    // however often it was tried. Empty when there is none.
    KV_String main_err() const;
    // No message recorded.
    bool nomsgs() const;

    // --- Answers -------------------------------------------------------------

    // Asks question `kind` (KV_TransLogFileGrpAns::ASK_*) about `item` at
    // `path` unless an answer is remembered for the path or for all files or
    // the request runs forced. `answer` receives 1 (go ahead) or 2 (don't).
    // Yes and No are remembered for the path, Yes to all and No to all for
    // all files; a No to the skip question is never remembered. Blocks the
    // calling worker while the user interface answers. False for a kind
    // outside 1 to 3, when an answer could not be recorded, and when nobody
    // answers (no user interface, or it shut down): then `answer` is 2 and
    // nothing is remembered, so the request stops there and asks again when
    // it resumes.
    bool ask(uint8_t kind, uint8_t& answer, const KV_PathDef& path, KV_Informer& informer,
             const KV_FileData& item, KV_ASK ask_kind, void* const context);
    // The remembered answer of `kind` for `path` (an empty path: for all
    // files); 0 when none.
    uint8_t answer(uint8_t kind, const KV_PathDef& path);
    // Clears the answers of `kind` (every kind for 0) remembered for exactly
    // `path` (case included). Stops at the first failing rewrite.
    bool clr_answer(uint8_t kind, const KV_PathDef& path);

    // --- Items of rename and delete requests -------------------------------

    // Records the outcome of rec's item: rewrites its record in place, or
    // appends one.
    bool set_status(KV_TransLogFileGrpFop& rec);
    // The status of the item's record; 0 when none.
    uint8_t status(const KV_PathDef& path);

    // --- Request-log window ------------------------------------------------

    // The request id whose log the window shows; 0 for none.
    static void set_id_log(uint32_t id);
    static uint32_t id_log();

    // --- The kinds' slots ----------------------------------------------------

    // Forgets the answers, messages and item records (`all` is for the
    // kinds).
    virtual void cleanup(bool all);
    // A status change was stored (called with the lock held).
    virtual void changing_status(KV_REQ_STAT old, KV_REQ_STAT now);
    // Whether question `kind` is answered Yes without asking; false here.
    virtual bool forced_exec(uint8_t kind);
    // Reads a record of a kind this class does not know, from `in` right
    // after its element kind. `handled` false: the kind is not known either
    // (the restore ends there, keeping what came before). False fails the
    // whole restore. Here: true, not handled. Called with the lock held.
    virtual bool read_elem(KV_FILE_REQ_LOG_ELEM kind, KV_TransLogIn& in, bool& handled);
    // The kind's parameters object.
    virtual KV_FileReqTransParams& params_impl() = 0;
    // Deletes the log file (and what the kind owns); the window stops
    // showing the log.
    virtual void del_log();
    // The scheduled start becomes now (memory only); nothing here.
    virtual void reset_tm_susp();
    // Whether the temporary file `name` belongs to this log; false here.
    virtual bool tmp_used(const KV_String& name);
    // Forgets the records and writes the file anew: status Queued, the
    // current parameters and the kind's fields, no records.
    virtual bool restart();
    // Makes `id` the log the window shows, clears `log` and fills it with
    // the lines of every record. False when a line cannot be added.
    virtual bool get_log(uint32_t id, KV_FileReqLog& log);
    // Counts an error of the item at `path`: true, without counting, once
    // `limit` (not 0) errors are counted; false without a record.
    virtual bool inc_err(const KV_PathDef& path, uint32_t limit);
    // Some item was skipped.
    virtual bool some_skipped();

protected:
    using Answers = KVTL::KV_ListPtrSrt<KV_TransLogFileGrpAns>;
    using Msgs = KVTL::KV_ListPtr<KV_TransLogFileGrpMsg>;
    using Fops = KVTL::KV_ListPtrSrt<KV_TransLogFileGrpFop>;

    // Records the error (add_msg) and passes priority 2 to the outer
    // handler.
    void process_err(uint8_t code, const KV_String& text) override;
    // The body: the common start and the record area's position. The kinds
    // write write_data_beg, their own fields, write_data_end.
    bool write_data() override;
    bool read_data() override;

    // With the lock held (inside create): status and parameters into `out`,
    // which starts at the file's position.
    bool write_data_beg(KV_TransLogOut& out);
    // Writes `out` and takes the end as the start of the record area.
    bool write_data_end(const KV_TransLogOut& out);
    // With the lock held (inside restore): status and parameters.
    bool read_data_beg(KV_TransLogIn& in);
    // The record area, to the end of the file or the first record that
    // cannot be read.
    bool read_data_end(KV_TransLogIn& in);

    // With the lock held (inside restore): reads one record from `in`, just
    // after its element kind, into `group` and gives it the position where
    // the kind began. A record that cannot be read is dropped and `handled`
    // cleared: the readable part of the log ends before it. With `merge` a
    // record equal to one read before replaces that one (the later wins).
    // *out receives the record kept. False only when memory cannot be had.
    template <class R, class G>
    bool read_rec(G& group, KV_TransLogIn& in, bool& handled, bool merge, R** out = nullptr);

    // With the lock held: rewrites the record of `group` equal to `rec` with
    // `rewrite` or, without one, appends a copy of `rec`; the window gets the
    // record's line either way. False when the log does not stand or a write
    // failed.
    template <class R, class G, class F> bool put_rec(G& group, const R& rec, F rewrite);

    // With the lock held: counts an error of `rec`'s item (see inc_err);
    // false for no record.
    template <class R> bool count_err(R* rec, uint32_t limit);

    // Remembers an answer: rewrites an equal record or appends one.
    bool set_answer(KV_TransLogFileGrpAns& rec);
    // The window shows this log (takes the id_log lock).
    bool log_this() const;

    // With the lock held and the file open: appends a heap copy of `rec` to
    // `group` and to the file at the end position, with the next record
    // number. The copy is kept only when it was written; *out receives it.
    template <class R, class G> bool append(G& group, const R& rec, R** out = nullptr);
    // With the lock held: a window message for this log's id when the window
    // shows it and an engine root carries it; null otherwise.
    KV_MsgReqLog* window_msg() const;
    static void send_window(KV_MsgReqLog* msg);
    // Tells the window a record's line.
    template <class R> void tell(const R* rec);

    // A record as a line of the request-log window: kind, number, time,
    // text, number and second text. Sets the lines flag of `log`.
    bool add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpMsg* rec);
    bool add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpAns* rec);
    bool add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpFop* rec);
    // The per-file record of a copy request: its status, or while it runs
    // its progress (the request's final status once the request has ended).
    bool add_log_elem(KV_FileReqLog& log, const KV_TransLogFileGrpFopCp* rec);
    // ", " when `text` is not empty, then "Errors: %u", unless `nerr` is 0.
    static void append_errors(KV_String& text, uint32_t nerr);
    // Inserts a line; false (the line dropped) when it cannot be.
    static bool insert_line(KV_FileReqLog& log, KV_FILE_REQ_LOG_ELEM kind, uint32_t id,
                            const KV_Time& tm, const KV_String& text, int number,
                            const KV_String& text2);

    // With the lock held: forgets the three record groups.
    void drop_records();

    // Guarded by the lock.
    uint32_t id_ = 0;
    Answers answers;
    Msgs msgs;
    Fops fops;
    KV_ErrHandler* eh_ = nullptr;
    int64_t pos_status = 0;
    int64_t pos_params = 0;
    // Where the next record goes.
    int64_t pos_end = 0;
    KV_REQ_STAT status_ = KV_REQ_STAT_QUEUED;
    // The highest record number given or read.
    uint32_t last_id = 0;
    // Bytes after pos_end (a torn tail, a failed append) are cut at the next
    // append.
    bool cut_ = false;

private:
    // With the lock held: cuts the file at pos_end when it holds bytes after
    // it.
    bool cut_tail();
    // Appends a record already in its group; takes it out again and deletes
    // it when it was not written.
    template <class R, class G> bool write_new(G& group, R* rec);
};

// ---------------------------------------------------------------------------

template <class R, class G> bool KV_TransLogTrans::append(G& group, const R& rec, R** out)
{
    R* copy = new (std::nothrow) R(rec);
    if (copy == nullptr)
        return false;
    copy->head.set_pos(pos_end);
    copy->head.set_id(last_id + 1);
    if (!group.add(copy)) {
        delete copy;
        return false;
    }
    ++last_id;
    if (!write_new(group, copy))
        return false;
    if (out != nullptr)
        *out = copy;
    return true;
}

template <class R, class G> bool KV_TransLogTrans::write_new(G& group, R* rec)
{
    int64_t end = 0;
    if (cut_tail() && rec->write_bin(file) && file.pos(end)) {
        pos_end = end;
        return true;
    }
    // A record kept in memory without its bytes would later be rewritten in
    // place over whatever is appended at its position.
    cut_ = true;
    for (uint32_t i = 0; i < group.size(); ++i) {
        if (group.at(i) == rec) {
            group.remove_at(i);
            break;
        }
    }
    delete rec;
    return false;
}

template <class R, class G>
bool KV_TransLogTrans::read_rec(G& group, KV_TransLogIn& in, bool& handled, bool merge, R** out)
{
    R* rec = new (std::nothrow) R();
    if (rec == nullptr)
        return false;
    rec->head.set_pos(pos_end);
    if (!rec->read_bin(in)) {
        delete rec;
        handled = false;
        return true;
    }
    handled = true;
    if (rec->head.id() > last_id)
        last_id = rec->head.id();
    R* found = nullptr;
    if (merge && group.find(rec, &found)) {
        *found = *rec;
        delete rec;
        rec = found;
    } else if (!group.add(rec)) {
        delete rec;
        return false;
    }
    if (out != nullptr)
        *out = rec;
    return true;
}

template <class R, class G, class F>
bool KV_TransLogTrans::put_rec(G& group, const R& rec, F rewrite)
{
    if (!reopen())
        return false;
    R* found = nullptr;
    bool ok;
    if (group.find(const_cast<R*>(&rec), &found))
        ok = rewrite(*found);
    else
        ok = append(group, rec, &found);
    if (found != nullptr)
        tell(found);
    return ok;
}

template <class R> bool KV_TransLogTrans::count_err(R* rec, uint32_t limit)
{
    if (rec == nullptr)
        return false;
    if (limit != 0 && rec->nerr() >= limit)
        return true;
    rec->inc_err();
    tell(rec);
    return false;
}

template <class R> void KV_TransLogTrans::tell(const R* rec)
{
    KV_MsgReqLog* msg = window_msg();
    if (msg == nullptr)
        return;
    add_log_elem(msg->log, rec);
    send_window(msg);
}
