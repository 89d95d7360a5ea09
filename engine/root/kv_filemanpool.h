// The engine root: the one object through which the program reaches the
// engine.
//
// The program creates exactly one, after kv_init and before anything else of
// the engine is used, and deletes it before kv_cleanup. While it lives,
// KV_FileReqMan::pool() returns it and kv_root_informer() its informer; the
// layers below reach it only through those and KV_DsRoot, KV_FileManReg.
//
// It owns the data-source tree, the transfer manager, the list of live file
// managers and the TLS context. It registers (finds or creates and starts)
// the file manager of a data-source instance, pushes changed settings to live
// managers, follows the notification messages the program pops from the
// informers, and drives loading, saving and shut-down. The façade operations
// build one request each for the user interface's commands.
//
// Threads: every member is called on the user-interface thread, except
// informer() and eh(), which any thread may use (the informer is
// thread-safe). The pool takes no lock of its own: other threads reach its
// parts only through the locks of the transfer manager and of each manager.
#pragma once

#include <cstdint>

#include "datasources/kv_dsroot.h"
#include "datasources/kv_dstree.h"
#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_path.h"
#include "foundation/kv_storage.h"
#include "foundation/kvtl.h"
#include "net/kv_sslctx.h"
#include "requests/kv_filemanreg.h"
#include "requests/kv_filereqs.h"
#include "transfers/kv_filetransman.h"

class KV_DsId;
class KV_DsTreeNode;
class KV_FileMan;
class KV_FileManId;
class KV_FileManStd;

class KV_FileManPool : public KV_SafeObj, public KV_DsRoot, public KV_FileManReg
{
public:
    // Builds the members, hands the tree this root and registers the root
    // with KV_FileReqMan::set_pool.
    KV_FileManPool();
    KV_FileManPool(const KV_FileManPool&) = delete;
    KV_FileManPool& operator=(const KV_FileManPool&) = delete;
    // cleanup(), deletes the local check manager, unregisters the root (when
    // it is still the registered one), then the members go.
    virtual ~KV_FileManPool();

    // ---- accessors

    KV_FileTransMan& man_trans() { return man_trans_; }
    KV_DsTree& tree() { return tree_; }
    const KV_DsTree& tree() const { return tree_; }
    KV_SSLCtx& ssl_ctx() { return ssl_ctx_; }
    // The transfer manager's informer: the engine-wide notices for the main
    // window.
    KV_Informer& informer() { return man_trans_.informer(); }
    // The same informer as the engine's error sink.
    KV_ErrHandler& eh() override { return man_trans_.informer(); }
    // The informer of the live manager `id`; null when none lives.
    KV_Informer* informer(const KV_FileManId& id) const;
    // The first window bound to a live manager's informer, in list order;
    // null when none is. The shut-down loop closes one per call.
    KV_HWND pop_hwnd() const;

    // ---- registry of live file managers

    // The first live manager whose id equals `id` (data source and instance
    // number); null when none lives.
    KV_FileMan* man(const KV_FileManId& id) const;
    // Whether some live manager belongs to the data source `id`.
    bool contains(const KV_DsId& id) const override;
    // The first live manager's id of that data source; else the data source
    // with instance number 0.
    KV_FileManId best_man(const KV_DsId& id) const;
    bool man_lives(const KV_FileManId& id) const override { return man(id) != nullptr; }
    // Locks the live manager `id` (not for a request) or unlocks it.
    void hold_man(const KV_FileManId& id, bool hold) override;
    // Whether a live manager of that data source is held by requests.
    bool reqs_reg(const KV_DsId& id) const;
    // Finds or creates, initialises and starts the manager of `id` (instance
    // number 0: a new instance); null on failure. Virtual so that tests of
    // the transfer manager can hand out managers of their own.
    KV_FileMan* reg(const KV_FileManId& id) override;
    // Deletes, pass by pass, every live manager that nothing holds (lock
    // count 0). False when a removal fails.
    bool delete_zombies() override;

    // ---- settings push

    // Makes every live manager with that id re-read its data source's
    // settings. Always true.
    bool upd_fman(const KV_FileManId& id) override;
    // Hands the settings of `node` to the live managers of the instance nodes
    // below it. True for a null node; false from the first failing step on.
    bool upd_fman_param(KV_DsTreeNode* node) override;
    // Changes the tree's node, then hands the live managers its settings.
    bool update(KV_DsTreeNode* node, const KV_DsTreeNode* src, uint8_t flags);
    bool set_status(KV_DsTreeNode* node, uint8_t flags);
    // Creates `node` (FTP, SFTP or HTTP) in its protocol group; the node in
    // the tree, or null.
    KV_DsTreeNode* new_ds(KV_DsTreeNode* node, uint8_t flags);

    // ---- life cycle, in the order the program calls them

    // Reads the data-source file (the root group's options go to the
    // transfer manager), then init().
    bool load_ds();
    bool init();
    // Reloads the saved transfer requests; on success temporary data sources
    // are deleted from then on as soon as nothing uses them.
    bool load_req();
    // Returns the previous value; true also deletes the unused temporary data
    // sources at once.
    bool set_deltemp(bool deltemp);
    bool save();
    // Hands a message popped from an informer to the tree and the transfer
    // manager, then follows the manager notices. True when every part
    // handled it.
    bool process_ntf(const KV_Msg* msg);
    // Stops the transfer manager and every live manager; true once all their
    // threads have ended. Polled, any number of times.
    bool term();
    // Terminates the transfer manager and deletes every live manager.
    void cleanup();

    // ---- single-manager requests (the manager must live)

    bool mkdir(const KV_FileManId& id, const KV_PathDef& path);
    bool rename(const KV_FileManId& id, const KV_PathDef& from, const KV_PathDef& to,
                bool dst_exists);
    bool chmod(const KV_FileManId& id, const KV_PathDef& path, const KV_String& accf,
               const KV_String& text);
    bool scan(const KV_FileManId& id, const KV_PathDef& path, bool incl_sub, bool usr_scan);
    // Nothing is queued once the working folder is known.
    bool pwd(const KV_FileManId& id);
    bool tavo_man(const KV_FileManId& id, uint32_t tavo_id, KV_MANAGE_CMD cmd,
                  const KV_String& param);

    // ---- transfer requests on the transfer manager

    bool remove(const KV_FileManId& id, const KV_PathDef& folder,
                const KVTL::KV_ListVal<KV_String>& names, const KV_FileReqTransParamsRm& params);
    bool rename(const KV_FileManId& id, const KV_PathDef& from, const KV_PathDef& to,
                const KVTL::KV_ListVal<KV_String>& names, const KV_FileReqTransParamsRen& params);
    // Both managers must live.
    bool copy(const KV_FileManId& src, const KV_FileManId& dst, const KV_PathDef& from,
              const KV_PathDef& to, const KVTL::KV_ListVal<KV_String>& names,
              const KVTL::KV_ListVal<KV_String>& names_dst, const KV_FileReqTransParamsCp& params);
    // Copy, or move (a rename inside the data source). With `fallback` a
    // move that cannot be one becomes a copy. Registers the managers.
    bool copy(const KV_FileManId& src, const KV_FileManId& dst, const KV_PathDef& from,
              const KV_PathDef& to, const KVTL::KV_ListVal<KV_String>& names,
              const KV_FileReqTransParamsCp& params, bool move, bool flag, bool fallback);
    // Copies the one item named by the path text `src_text` to `dst_text`
    // (a folder when it ends in the separator, else the target's name).
    bool copy(const KV_FileManId& src, const KV_FileManId& dst, const KV_String& src_text,
              const KV_String& dst_text, const KV_FileReqTransParamsCp& params, KV_FILEOP op);
    // Copies remote items into new files of the system's temporary folder
    // for the program to open; local items are used in place.
    bool fileop(const KV_FileManId& id, const KV_PathDef& folder,
                const KVTL::KV_ListVal<KV_String>& names, const KV_FileReqTransParamsCp& params,
                KV_FILEOP op);
    // The same for one path text; registers the manager and writes its id
    // to `out` when given.
    bool fileop(const KV_FileManId& id, const KV_String& path,
                const KV_FileReqTransParamsCp& params, KV_FILEOP op, KV_FileManId* out);

    // ---- predicates for the user interface

    bool can_move(const KV_FileManId& src, const KV_FileManId& dst, const KV_PathDef& from,
                  const KV_PathDef& to, const KVTL::KV_ListVal<KV_String>& names, bool flag) const;
    // A local source without an instance is checked with a manager of the
    // pool's own that is never started.
    bool can_copy(const KV_FileManId& src, const KV_FileManId& dst, const KV_PathDef& from,
                  const KV_PathDef& to, const KVTL::KV_ListVal<KV_String>& names, bool flag);
    bool can_mkdir(const KV_FileManId& id, const KV_PathDef& path) const;
    bool can_rename(const KV_FileManId& id, const KV_PathDef& path) const;

protected:
    // The data source with the lowest free instance number from 1 up.
    KV_FileManId new_id(const KV_DsId& id) const;

private:
    // Steps 4 and 5 of a move check inside one data source: the folders
    // differ, and no item moves into itself or onto its own folder.
    static bool move_paths_ok(const KV_PathDef& from, const KV_PathDef& to,
                              const KVTL::KV_ListVal<KV_String>& names, bool case_sens);
    // Splits a trimmed path text with `man`'s syntax (absolute first for the
    // local disk). False for an empty text or no entry.
    static bool split_text(KV_FileMan& man, const KV_String& text, KV_String& trimmed,
                           KV_PathDef& path);
    // The engine path of `text` in `man`'s syntax, its prefix as the root
    // entry. False when it holds no entry beyond the root.
    static bool split_path(KV_FileMan& man, const KV_String& text, KV_PathDef& path);

    // Made on the first can_copy of a local source; never started.
    KV_FileManStd* man_chk = nullptr;
    bool deltemp_ = false;
    KV_FileTransMan man_trans_;
    // Not owning: the pool deletes the managers.
    KVTL::KV_ListPtr<KV_FileMan> mans;
    KV_SSLCtx ssl_ctx_;
    KV_DsTree tree_;
};
