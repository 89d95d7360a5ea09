// The worker of an HTTP data source: one connection (KV_HttpMan) that turns
// each request of its file manager into HTTP and WebDAV actions, run one at
// a time: the current folder, MKCOL, rename (MOVE), delete, listings
// (PROPFIND in WebDAV folders; the documents and HEAD in plain-HTTP ones),
// connect and disconnect, and the copies of a transfer (GET into the copy's
// sub-log, PUT from it, or COPY on the server).
//
// Redirects are followed for rename, delete, HEAD, GET and COPY, at most
// max_redirects times, and only on the same server: a Location with another
// scheme, host or port fails the request with a clear error instead of being
// requested on this connection.
//
// It reports on two informers: its own (status texts, tree messages for the
// browse windows) and the engine's (documents added to or dropped from the
// data source's list, while the engine's pool exists).
//
// Threads: everything here runs on the worker's own thread, except
// set_opts and docs(), which the manager thread uses in prestart_req while
// the worker holds no request.
#pragma once

#include <cstdint>
#include <functional>

#include "datasources/kv_filemanopts.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "http/kv_httpman.h"
#include "requests/kv_tavo.h"

class KV_FileManHttp;
class KV_FileListStore;
class KV_FileReq;
class KV_FileReqCopy;
class KV_FileReqMkDir;
class KV_FileReqPwd;
class KV_FileReqRen;
class KV_FileReqRm;
class KV_FileReqScan;
class KV_FileReqUMan;
class KV_HttpActTrans;
class KV_MsgTreeScan;

// Only opens the connection (or finds it open); sends nothing.
class KV_HttpActConnMan : public KV_HttpAct
{
public:
    KV_HttpActConnMan() = default;
    ~KV_HttpActConnMan() override;

protected:
    bool run() override;
};

class KV_TavoHttp : public KV_Tavo
{
public:
    // The most redirects one request follows.
    static constexpr uint32_t max_redirects = 10;

    // `man`: the owning manager (not owned; may be null in tests). `inf`:
    // the manager's informer, which must outlive the worker.
    KV_TavoHttp(KV_FileManHttp* man, KV_Informer& inf);
    // Waits for the worker's thread (the owner has stopped it).
    ~KV_TavoHttp() override;

    KV_HttpMan& man() { return http_; }
    KVTL::KV_ListVal<KV_String>& docs() { return docs_; }
    const KV_FileManHttpOpts& opts() const { return opts_; }
    // Takes the options, and passes the protocol options on to the
    // connection.
    void set_opts(const KV_FileManHttpOpts& opts);
    // The base's, then the connection's log lines carry the id.
    void set_id(uint32_t id) override;
    // KV_FileManHttp::dir_dav on the worker's own options and documents.
    bool dir_dav(const KV_PathDef& path) const;

    // The base's outcome; a request that failed on a lost connection and
    // may be retried is set Restarting, and the worker no longer counts as
    // proven.
    void req_executed(bool executed) override;
    uint32_t kind() const override { return 0; }
    // The connection broke and the owning manager still takes requests.
    bool conn_lost() const;

private:
    // Makes the action for a URI; null when memory cannot be had.
    using MakeAct = std::function<KV_HttpActTrans*(const KV_String& uri)>;
    // Looks at a run action before it is deleted.
    using TakeAct = std::function<void(KV_HttpActTrans& act)>;

    // Runs actions made from `uri` while the server redirects on the same
    // server. executed := whether the last action was carried out. False
    // when an action could not run, memory ran out or a redirect was
    // refused (the reason goes to r's error handler).
    bool follow(KV_FileReq& r, KV_String uri, const MakeAct& make, const TakeAct& take,
                bool& executed);
    // Whether a redirect to `location` stays on this connection's server;
    // else the reason goes to r's error handler.
    bool same_server(KV_FileReq& r, const KV_String& location);
    // The text of `path` in the worker's syntax; false when empty.
    bool path_text(const KV_PathDef& path, KV_String& text) const;
    // "http" or "https" and the server's address, then `path`.
    KV_String server_uri(const KV_String& path);
    void status(const KV_String& text);
    // A document notice (kind 4 added, 5 deleted) through the engine's
    // informer, while the engine's pool exists.
    void doc_ntf(bool added, const KV_String& doc);

    // The connection's error text, for the closing "Error" notice.
    KV_String end_err(KV_FileReq& r) override;

    bool do_pwd(KV_FileReqPwd& r) override;
    bool do_mkdir(KV_FileReqMkDir& r) override;
    bool do_ren(KV_FileReqRen& r) override;
    bool do_rm(KV_FileReqRm& r) override;
    // Deletes `path` for `r` (a delete, or the target a rename replaces).
    bool rm(KV_FileReq& r, const KV_PathDef& path);
    bool do_scan(KV_FileReqScan& r) override;
    // One entry of a plain-HTTP folder: `d` the folder of the document,
    // `doc` its text. The node goes to the store or to *msg (made when
    // needed).
    bool head_entry(KV_FileReqScan& r, const KV_PathDef& d, const KV_String& name,
                    const KV_String& doc, KV_MsgTreeScan*& msg);
    bool do_uman(KV_FileReqUMan& r) override;
    bool do_copy(KV_FileReqCopy& r) override;

    KV_FileManHttp* owner_;
    KV_HttpMan http_;
    KV_FileManHttpOpts opts_;
    KVTL::KV_ListVal<KV_String> docs_;
};
