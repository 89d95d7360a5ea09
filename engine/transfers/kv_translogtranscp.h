// The request log of a copy or move request (type byte 2).
//
// Besides what every request log keeps (kv_translogtrans.h), it stores what
// the request is (the two data-source instances, the two folders, the
// selected names, the file operation that follows the copy) and where it
// stands: its phase, the end of the last successful mirror pass, and one
// record per file or folder and phase (KV_TransLogFileGrpFopCp) with its
// status, size and time text and the name of the copy sub-log of an
// unfinished copy. After a restart the request resumes from these: finished
// items are skipped, an interrupted file continues from its sub-log, an edit
// continues in the phase it had reached.
//
// Body after the common start (status, then the 23 bytes of parameters):
//   80   4    fileop (u32 KV_FILEOP)
//   84   var  id_man_src, id_man_dst (KV_FileManId)
//        var  path_src, path_dst (KV_PathDef)
//        var  names_src, names_dst (u32 count, then the names)
//        1    phase, rewritten in place (next_phase)
//        4    tm_last_cp, rewritten in place (set_tm_last_cp)
//        rest the record area: answers, messages, copy items (kind 5)
//
// Phases: 0 the first pass, source items to the destination; for the edit
// operation (fileop 3) then 1 (the downloaded files wait for the user) and
// 2 (the changed files go back: the source and destination accessors swap
// and overwriting needs no question); 3 done. Records are keyed by phase and
// path, so the download and the upload of one file keep a record each.
//
// Sub-logs: a record names the sub-log file of a copy that has begun. A
// restored log registers those names as in use with the temporary-file
// manager (tmp_used tells used sub-logs from leftovers) and deletes the
// files when the copy ends (del_sublog), when the destination item goes
// (file_del) and when the request restarts or is removed (del_sublogs, which
// walks the records of every phase). Only names of files directly in the
// temporary transfer folder are believed from a file: any other name is
// forgotten on restore, so a damaged log can never make the engine delete a
// file elsewhere.
//
// Threads: as every request log; every public operation takes the lock. The
// const accessors read without it: their fields change only before create
// or during restore. path_src, path_dst, list_files_src and list_files_dst
// take the lock (through phase()) and must not be called with it held.
#pragma once

#include <cstdint>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"
#include "transfers/kv_translogfilegrp.h"
#include "transfers/kv_translogtrans.h"

class KV_FileMan;
class KV_TransLogCp;

class KV_TransLogTransCp : public KV_TransLogTrans
{
public:
    // Copies of the arguments; fileop 0, phase 0, no last pass. A name that
    // cannot be copied ends the copying of its list (a prefix is kept).
    KV_TransLogTransCp(const KV_String& name, const KV_PathDef& path_src,
                       const KV_PathDef& path_dst, const KVTL::KV_ListVal<KV_String>& names_src,
                       const KVTL::KV_ListVal<KV_String>& names_dst,
                       const KV_FileReqTransParamsCp& params);
    ~KV_TransLogTransCp() override;

    uint8_t type() const override { return 2; }

    // Before create.
    void set_ids(const KV_FileManId& src, const KV_FileManId& dst);
    void set_fileop(KV_FILEOP fileop) { fileop_ = fileop; }

    // As stored, without the lock.
    const KV_FileManId& id_man_src() const { return id_man_src_; }
    const KV_FileManId& id_man_dst() const { return id_man_dst_; }
    const KV_PathDef& path_src_const() const { return path_src_; }
    const KV_PathDef& path_dst_const() const { return path_dst_; }
    const KVTL::KV_ListVal<KV_String>& list_files_src_const() const { return names_src_; }
    const KVTL::KV_ListVal<KV_String>& list_files_dst_const() const { return names_dst_; }
    KV_FILEOP fileop() const { return fileop_; }
    KV_Time tm_last_cp();

    // By direction: source and destination swap while the phase is 2.
    const KV_PathDef& path_src();
    const KV_PathDef& path_dst();
    const KVTL::KV_ListVal<KV_String>& list_files_src();
    const KVTL::KV_ListVal<KV_String>& list_files_dst();

    // The parameters' values, under the lock.
    uint8_t mirror();
    uint8_t tm_type();
    uint32_t tm_def();
    uint16_t dayspec();
    bool skip_sz();
    bool del_src();
    bool dtrans();
    uint8_t phase();

    // Moves to the next phase (0 -> 3, or 0 -> 1 -> 2 -> 3 for an edit) and
    // rewrites it; false in phase 3.
    bool next_phase();
    bool set_tm_last_cp(const KV_Time& time);

    // --- Copy items ----------------------------------------------------------

    // Records rec's item: rewrites the status block of its record (and its
    // sub-log name when rec names one), or appends one. A sub-log name that
    // does not fit its field is refused.
    bool set_status(KV_TransLogFileGrpFopCp& rec);
    using KV_TransLogTrans::set_status;
    // The status of the item's record in the current phase (0 when none);
    // the given out values receive its sub-log name, size and time text.
    uint8_t status(const KV_PathDef& path, KV_String* sublog, int64_t* size, KV_String* tm_text);
    using KV_TransLogTrans::status;
    // The status of the item's record in `phase` (0 when none).
    uint8_t status_in(uint8_t phase, const KV_PathDef& path);
    // Rewrites the local copy's size and time of rec's record; false
    // without one.
    bool set_props(KV_TransLogFileGrpFopCp& rec, int64_t size, const KV_Time& time);
    // The local copy's size and time from the phase 0 record.
    bool props(const KV_PathDef& path, int64_t& size, KV_Time& time);
    // The progress of the item in the current phase (memory only); false
    // without a record.
    bool update_prog(const KV_PathDef& path, int value);
    // Some file (not a folder) was transferred.
    bool some_done();
    bool inc_err(const KV_PathDef& path, uint32_t limit) override;
    bool some_skipped() override;

    // --- Sub-logs ------------------------------------------------------------

    // Closes `sub` and deletes its file; its item keeps its status.
    bool del_sublog(KV_TransLogCp& sub);
    // Deletes the sub-log of every record, whatever its phase.
    bool del_sublogs();
    // The destination item `dst` was deleted: its source item goes back to
    // status 0 and loses its sub-log, so it is copied again. False for a path
    // outside the destination folder.
    bool file_del(const KV_PathDef& dst);
    bool tmp_used(const KV_String& name) override;

    // The file operation after one file was copied: in phase 0 the local
    // copy's size and time go into `rec` (when given) and the user interface
    // is asked to open, view, edit or print it; in phase 2 the local copy,
    // uploaded again, is deleted. True for a plain copy.
    bool fileop(const KV_PathDef& src, const KV_PathDef& dst, KV_FileMan& man_src,
                KV_FileMan& man_dst, KV_TransLogFileGrpFopCp* const rec);

    // --- Slots -----------------------------------------------------------------

    void cleanup(bool all) override;
    // Sends the lines of the items when the request enters or leaves a final
    // status, so the progress column turns into final texts or back.
    void changing_status(KV_REQ_STAT old, KV_REQ_STAT now) override;
    // Overwriting is not asked while the phase is 2; deleting is not asked
    // while the parameters force execution.
    bool forced_exec(uint8_t kind) override;
    using KV_TransLogTrans::forced_exec;
    bool read_elem(KV_FILE_REQ_LOG_ELEM kind, KV_TransLogIn& in, bool& handled) override;
    KV_FileReqTransParams& params_impl() override { return params_; }
    void del_log() override;
    void reset_tm_susp() override;
    bool restart() override;
    bool get_log(uint32_t id, KV_FileReqLog& log) override;

protected:
    using FopCps = KVTL::KV_ListPtrSrt<KV_TransLogFileGrpFopCp>;

    bool write_data() override;
    bool read_data() override;

    // With the lock held: the record of (phase, path), or null.
    KV_TransLogFileGrpFopCp* find_rec(uint8_t phase, const KV_PathDef& path);
    // With the lock held: deletes the sub-log of the current phase's record
    // of `path`, resetting its status first with `reset`.
    bool del_sublog(const KV_PathDef& path, bool reset);
    // With the lock held: the same for one record.
    bool del_sublog(KV_TransLogFileGrpFopCp& rec, bool reset);
    // With the lock held: the lines of every item into `log`.
    bool add_item_lines(KV_FileReqLog& log);
    void drop_items();

private:
    FopCps fopcps;
    KV_FileReqTransParamsCp params_;
    KVTL::KV_ListVal<KV_String> names_src_;
    KVTL::KV_ListVal<KV_String> names_dst_;
    KV_PathDef path_src_;
    KV_PathDef path_dst_;
    KV_FileManId id_man_src_;
    KV_FileManId id_man_dst_;
    KV_FILEOP fileop_ = KV_FILEOP_COPY;
    uint8_t phase_ = 0;
    KV_Time tm_last_cp_;
    int64_t pos_phase = 0;
    int64_t pos_tm_last_cp = 0;
};
