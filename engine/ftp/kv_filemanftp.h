// The file manager of an FTP data source: queues the data source's requests
// and runs them on a pool of FTP workers (KV_TavoFtp), each with its own
// control connection. It hands the current parameters to each worker before
// its next request, reports the transfer capabilities (resume, transfer mode,
// fragment size) to the transfer engine, learns once whether the server
// supports REST, and logs the first workers in ahead of use.
//
// The REST probe: the first transfer request asks a worker to try "REST 100"
// (a server check). A server that answers the command, either way, settles
// the question for good: a refusal means "no resume" and transfers start at
// 0; it never fails the transfer. Only a probe that could not reach the
// server leaves the question open for the next transfer. The REST lock is
// never held while the probe waits on the network: concurrent transfers wait
// for the running probe's answer on an event.
//
// Threads: see kv_fileman.h. The capability queries run on worker and
// request-manager threads under the parameters lock; the REST state has its
// own lock; the browse tree lives on the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/kv_event.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filetree.h"

// The transfer mode chosen in the browse windows.
enum KV_FILE_MAN_TMODE : uint32_t {
    KV_FILE_MAN_TMODE_AUTO = 1, // by the file's extension
    KV_FILE_MAN_TMODE_ASCII = 2,
    KV_FILE_MAN_TMODE_BINARY = 3,
};

class KV_FileManFtp : public KV_FileMan
{
public:
    explicit KV_FileManFtp(const KV_FileManId& id);
    // Terminates the request queue (and the workers) before the tree goes.
    ~KV_FileManFtp() override;

    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_FTP; }
    bool init(KV_FileManParams* params) override;
    KV_Tavo* create_tavo() override;
    // The base's step, then the current parameters for a worker whose copy
    // is older.
    void prestart_req(KV_Tavo* t) override;
    uint32_t scan_cache() const override;
    int64_t min_frag_size(uint32_t& nworkers) const override;
    bool can_resume_get() const override;
    bool can_resume_put() const override;
    KV_TRANS_MODE trans_mode(const KV_FileData& fd) const override;
    // Probes REST support once (see the top of the file). False only when
    // the probe could not be queued; `trans` then is not executed.
    bool pretrans(KV_FileReqTrans& trans) override;
    // The base's tables, the browse tree, and the advance connection once
    // the workers exist.
    bool process_ntf(KV_Msg* msg) override;

    // The server accepted REST.
    bool impl_rest() const;
    // 0 unknown, 1 supported, 2 not supported.
    uint32_t rest_state() const;
    void set_tmode(KV_FILE_MAN_TMODE tmode);
    KV_FILE_MAN_TMODE tmode() const;
    KV_FileTree& tree() { return tree_; }

private:
    // Queues a connect request for each worker that should be logged in
    // ahead of use.
    bool conn_advance();
    // Runs one REST probe; true when the server answered (`supported`
    // then tells how).
    bool probe_rest(KV_FileReqTrans& trans, bool& queued, bool& supported);

    mutable KV_Lock rest_lock;
    // Guarded by rest_lock.
    uint32_t rest_ = 0;
    bool probing = false;
    // Manual reset; signalled while no probe runs.
    KV_Event ev_probe{true, true};
    // Browse-window transfer mode, under the parameters lock.
    KV_FILE_MAN_TMODE tmode_ = KV_FILE_MAN_TMODE_AUTO;
    KV_FileTree tree_;
};
