// The transfer worker: runs one transfer request (copy or move, rename,
// delete) of the transfer manager.
//
// The worker holds no connection. It turns its request into elementary
// requests (listings, renames, deletes, copies) that it queues on the
// request's file managers and waits for, and it records each step in the
// request's log before it relies on it, so that a request reloaded after a
// shut-down or a crash goes on where it stopped: entries recorded as done or
// skipped are left alone, answers given are not asked again.
//
// The rename walker moves the entries of a source folder into a destination
// folder of the same data source, merging folders that exist on both sides
// (depth first: the merge of a subfolder ends before the entries of its
// folder are queued). The delete walker deletes the entries of a folder,
// emptying subfolders first where the file manager cannot delete a folder
// that holds something; a folder in which something stays is kept. Both
// queue every entry of a folder before waiting for the first, so the file
// manager runs as many at once as it has workers, then settle them in order.
//
// Threads: process() and the walkers run on the worker's own thread, which
// ends after every request (quit_after_req): each request runs on a fresh
// thread. set_opts is called by the manager thread between requests. The
// elementary requests run on the file managers' workers; the walkers only
// wait on their observers.
#pragma once

#include <cstdint>
#include <memory>

#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_tavo.h"

class KV_FileListStore;
class KV_FileMan;
class KV_FileReqTrans;
class KV_FileReqTransCp;
class KV_FileReqTransRen;
class KV_FileReqTransRm;

class KV_TavoTrans : public KV_Tavo
{
public:
    // One entry of a rename or delete walk: the observer of its elementary
    // request, its path (the destination for a rename) and its entry as
    // listed.
    class KV_DirEntryStd
    {
    public:
        KV_DirEntryStd(const KV_PathDef& path, const KV_FileData& fd) : path(path), fd(fd) {}
        KV_DirEntryStd(const KV_DirEntryStd&) = delete;
        KV_DirEntryStd& operator=(const KV_DirEntryStd&) = delete;

        KV_FileReqObs obs;
        KV_PathDef path;
        KV_FileData fd;
    };

    // The entries of one folder's walk; owns them.
    class KV_DirEntryList : public KVTL::KV_ListPtr<KV_DirEntryStd>
    {
    public:
        KV_DirEntryList() = default;
        ~KV_DirEntryList() override;
        // Deletes every entry (their requests must have ended).
        void free();
    };

    // The source and destination names of a subfolder that the copy walker
    // descends into.
    class KV_NamePair
    {
    public:
        KV_NamePair() = default;
        KV_NamePair(const KV_String& src, const KV_String& dst) : src(src), dst(dst) {}
        KV_NamePair(const KV_NamePair&) = default;
        KV_NamePair& operator=(const KV_NamePair&) = default;

        KV_String src;
        KV_String dst;
    };

    // One planned file copy (kv_copyplan.h).
    class KV_DirEntryCp;
    using Names = KVTL::KV_ListVal<KV_String>;
    using CpList = KVTL::KV_ListPtr<KV_DirEntryCp>;

    // `informer` is the transfer manager's; it must outlive the worker.
    explicit KV_TavoTrans(KV_Informer& informer);
    // Waits for the worker's thread (the owner has stopped it).
    ~KV_TavoTrans() override;

    // The transfer options for the next request. Manager thread, between
    // requests.
    void set_opts(const KV_FileTransManOpts& opts) { opts_ = opts; }
    const KV_FileTransManOpts& opts() const { return opts_; }

    // Runs transfer requests only, which carry the log that req_begin and
    // req_end write: any other request fails at once, with no notice and
    // nothing logged. Then the base's dispatch to the handler of its kind.
    // Worker thread.
    bool process() override;
    bool quit_after_req() const override;
    uint32_t kind() const override { return 1; }

    // --- Walkers (worker thread) -------------------------------------------
    //
    // Each returns false on an outright failure (a listing or request that
    // cannot be queued, a log write that fails, a question nobody answers,
    // an entry of the other kind in the way of a rename); errors of single
    // entries clear the request's executed flag instead, and the folder is
    // tried again while the request may retry. `all`, when given, is
    // cleared whenever the walk leaves an entry of the folder or below in
    // place (refused, skipped, already done, or kept by a nested walk); it
    // is never set.

    // Moves the entries of `src` (those of `names`, or all) into `dst`. A
    // folder that exists on both sides is merged (after the overwrite
    // question) instead of moved; the emptied source folder stays.
    bool trans_ren(KV_FileReqTransRen& req, const KV_PathDef& src, const KV_PathDef& dst,
                   const KVTL::KV_ListVal<KV_String>* names, bool* all);
    // Deletes the entries of `folder` (those of `names`, or all), emptying
    // subfolders first when the file manager needs it. Questions, records,
    // answers and retries are those of `owner` when given (the copy request
    // whose sources or extra destination entries go), else of `req`; with
    // `report`, every entry deleted is reported to the owner (file_del).
    // The walked folder itself is not deleted.
    bool trans_rm(KV_FileReqTransRm& req, const KV_PathDef& folder,
                  const KVTL::KV_ListVal<KV_String>* names, bool* all, KV_FileReqTrans* owner,
                  bool report);
    // Runs a copy or move request: its passes, phases and schedule, then
    // the deletion of a move's copied sources.
    bool trans_cp(KV_FileReqTransCp& req);

    // --- Copy walker and plan (kv_tavotranscp.cpp, kv_copyplan.cpp) ----------

    // The destination name of the source name `name`: the entry of `dst`
    // at the position of the first equal name of `src`, else the name.
    static KV_String& map_name(KV_String& out, const KV_String& name, const Names* src,
                               const Names* dst, bool case_sens);
    // Copies `src` into `dst` (the entries of `names_src`, or all), then
    // each subfolder, depth first.
    bool copy_dir(KV_FileReqTransCp& req, const KV_PathDef& src, const KV_PathDef& dst,
                  const Names* names_src, const Names* names_dst);
    // The plan of one folder pair: entries to copy and subfolders to walk.
    bool cmp_dir(KV_FileReqTransCp& req, KV_FileListStore& ls_src, KV_FileListStore& ls_dst,
                 const KV_PathDef& src, const KV_PathDef& dst, CpList& entries,
                 KVTL::KV_ListVal<KV_NamePair>& dirs, const Names* names_src,
                 const Names* names_dst);
    // Deletes the destination entries that the source lacks.
    bool mirror_dir(KV_FileReqTransCp& req, KV_FileListStore& ls_src, KV_FileListStore& ls_dst,
                    const KV_PathDef& dst);
    // Deletes `names` of `folder` on `man` for the copy request, through a
    // delete request that is not queued; its questions, records and errors
    // go into the copy request's log.
    bool del_files(KV_FileReqTransCp& req, KV_FileMan* man, const KV_PathDef& folder,
                   const Names& names, bool report);
    // Copies the next batch of `entries` (at most NTMPFILES files).
    bool copy_files(KV_FileReqTransCp& req, const KV_PathDef& src, const KV_PathDef& dst,
                    CpList& entries, const Names* names_src, const Names* names_dst,
                    bool& src_trouble, bool& dst_trouble);
    // Starts the elementary copies of the batch. The copy of a file no
    // larger than INLINE_MAX runs here at once, its fetches and then its
    // store, on workers of the two managers' own (KV_FileMan::own_tavo)
    // when both give one: a file that small costs less to copy than to
    // hand to other threads and back.
    bool start_copies(KV_FileReqTransCp& req, CpList& batch, bool& segmented);
    // Binds the copy step `cp` of `req`, which runs on this thread, to the
    // transfer's stop and to `obs`, with the status `stat`.
    static void bind_here(KV_FileReqTransCp& req, KV_FileReqCopy* cp, KV_FileReqObs* obs,
                          KV_REQ_STAT stat);
    static constexpr int64_t INLINE_MAX = 1 << 20;
    // The checks after a batch: source unchanged, data resumable; uploads
    // present with their length.
    bool check_src(KV_FileReqTransCp& req, CpList& batch, const KV_PathDef& src, const Names& names,
                   bool segmented);
    bool check_dst(KV_FileReqTransCp& req, CpList& batch, const KV_PathDef& dst, const Names& names,
                   const Names* names_src, const Names* names_dst);
    // The start of the next mirror pass after `last` for the schedule
    // (type 1 wait, 2 daily, 3 weekly, 4 monthly), in local time; false for
    // an invalid schedule.
    static bool next_start(uint8_t tm_type, uint32_t tm_def, uint16_t dayspec, const KV_Time& last,
                           KV_Time& next);
    // The fragment length of a file of `size` bytes copied by up to
    // `nworkers` workers in fragments of at least `min` bytes: as many
    // fragments as workers while each still reaches `min`, else fewer; 0
    // when even two would be too short (the file goes whole).
    static int64_t frag_size(int64_t size, uint32_t nworkers, int64_t min);
    // The deepest folder level the copy, rename and delete walkers descend
    // to.
    static constexpr uint32_t MAX_DEPTH = 512;

private:
    // "Started" to the user interface, "Started" (or "Restarted" for a
    // request whose log holds messages already) and the status Running into
    // the log; false when the log cannot be written.
    bool req_begin(KV_FileReq& r) override;
    // The outcome goes into the log first: the final status and
    // "Terminated" (a failed write makes the request Error), unless a
    // shut-down (stop type 2) cut the request short, whose log then keeps
    // Running so that it runs again after the next start. The closing
    // notice is the final status's name. No error text: the walk's errors
    // are in the log.
    bool req_end(KV_FileReq& r, bool result) override;

    bool do_trans_cp(KV_FileReqTransCp& r) override;
    // Without a file manager the request fails.
    bool do_trans_ren(KV_FileReqTransRen& r) override;
    bool do_trans_rm(KV_FileReqTransRm& r) override;

    bool trans_ren_at(KV_FileReqTransRen& req, const KV_PathDef& src, const KV_PathDef& dst,
                      const KVTL::KV_ListVal<KV_String>* names, bool* all, uint32_t depth);
    bool trans_rm_at(KV_FileReqTransRm& req, const KV_PathDef& folder,
                     const KVTL::KV_ListVal<KV_String>* names, bool* all, KV_FileReqTrans* owner,
                     bool report, uint32_t depth);
    // Refuses the folder `path` of `man`, deeper than MAX_DEPTH, with an
    // error on `req`; returns false.
    static bool too_deep(KV_FileReqTrans& req, KV_FileMan& man, const KV_PathDef& path);
    bool copy_dir_at(KV_FileReqTransCp& req, const KV_PathDef& src, const KV_PathDef& dst,
                     const Names* names_src, const Names* names_dst, uint32_t depth);
    // Whether the delete walker must leave the source entry `path` of a
    // move in place: a file that the copy did not record as copied.
    static bool keep_src(KV_FileReqTrans* owner, bool report, const KV_PathDef& path, bool dir);

    // Appends an entry for `path` to `entries`, records it in the log of
    // `lr` as begun, then queues `elem` (owned from here on; null when it
    // could not be made) on `man` as a child of `req` that reports to the
    // entry. False, with nothing queued, when a step fails.
    bool queue_entry(KV_FileReqTrans& req, KV_FileReqTrans& lr, KV_FileMan& man,
                     KV_DirEntryList& entries, const KV_PathDef& path, const KV_FileData& fd,
                     KV_FileReq* elem);
    // Waits for the elementary request of `e` and records its outcome in
    // the log of `lr` (op: renamed or deleted): done, or skipped when req's
    // skip rule lets it go (after question 3 unless the error limit was
    // reached; a skip clears *all). A failure that is not skipped clears
    // req's executed flag. Clears `ok` when a question or a log write fails.
    // True when the entry is gone.
    bool settle(KV_FileReqTrans& req, KV_FileReqTrans& lr, KV_DirEntryStd& e, uint8_t ask,
                uint8_t op, bool& ok, bool* all);
    // A status notice with `text`.
    void status(const KV_String& text);
    // Reports a log write that failed on `req` (the request stops).
    static void log_failed(KV_FileReqTrans& req);
    // Records the planned file `e` as given up (skipped) because its source
    // cannot be copied as listed, and deletes its sub-log; the caller takes
    // it out of the plan. False when the record cannot be written.
    static bool give_up(KV_FileReqTransCp& req, KV_DirEntryCp& e);

    KV_FileTransManOpts opts_;
};
