// The SFTP server as a data source: its file manager with the browse tree
// (KV_FileManSftp) and its worker (KV_TavoSftp), which owns one SFTP
// connection and turns each request into SFTP actions.
//
// Threads: the manager runs on its own thread plus KV_FileManTavo's
// workers; see kv_fileman.h. A worker reads only its own copy of the
// options and its connection's addresses and login, which the manager
// thread hands it under the parameters lock before it assigns a request
// (prestart_req). The browse tree lives on the user-interface thread
// (process_ntf).
#pragma once

#include <cstdint>

#include "datasources/kv_filemanopts.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filetree.h"
#include "ssh/kv_tavosftp.h"

class KV_FileManSftp : public KV_FileMan
{
public:
    explicit KV_FileManSftp(const KV_FileManId& id);
    // Terminates the request manager before the tree goes.
    ~KV_FileManSftp() override;

    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_SFTP; }
    // A new KV_TavoSftp whose connection knows this manager, its TLS context
    // and the worker's informer; null without memory.
    KV_Tavo* create_tavo() override;
    // Hands `t` the current addresses, proxy, login and options when its
    // version is older. Manager thread.
    void prestart_req(KV_Tavo* t) override;
    // The answers below come from SFTP parameters only; without them: 0 or
    // false.
    uint32_t scan_cache() const override;
    int64_t min_frag_size(uint32_t& nworkers) const override;
    bool can_resume_get() const override;
    bool can_resume_put() const override;
    // The worker-info and request-info tables, then the browse tree.
    bool process_ntf(KV_Msg* msg) override;
    // SFTP parameters only; the tree takes the case sensitivity of the path
    // syntax.
    bool init(KV_FileManParams* params) override;

    KV_FileTree& tree() { return tree_; }

private:
    // With params_lock_ held: the SFTP parameters, or null.
    const KV_FileManParamsSftp* sftp_params() const;

    KV_FileTree tree_;
};
