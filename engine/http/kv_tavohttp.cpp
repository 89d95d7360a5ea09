#include "http/kv_tavohttp.h"

#include <cinttypes>
#include <memory>
#include <new>

#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_uriman.h"
#include "http/kv_filemanhttp.h"
#include "http/kv_httpactdav.h"
#include "http/kv_httpactfile.h"
#include "http/kv_httpacttrans.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_translogcp.h"

// ---------------------------------------------------------------------------
// KV_HttpActConnMan

KV_HttpActConnMan::~KV_HttpActConnMan() = default;

bool KV_HttpActConnMan::run()
{
    if (http() == nullptr)
        return false;
    http()->set_response(true, false);
    return true;
}

// ---------------------------------------------------------------------------
// KV_TavoHttp

KV_TavoHttp::KV_TavoHttp(KV_FileManHttp* man, KV_Informer& inf) : KV_Tavo(inf), owner_(man) {}

KV_TavoHttp::~KV_TavoHttp()
{
    wait_term();
    docs_.clear();
}

void KV_TavoHttp::set_opts(const KV_FileManHttpOpts& opts)
{
    opts_ = opts;
    http_.set_opts(opts.http());
}

void KV_TavoHttp::set_id(uint32_t id)
{
    KV_Tavo::set_id(id);
    http_.set_tavo_id(id);
}

bool KV_TavoHttp::dir_dav(const KV_PathDef& path) const
{
    return KV_FileManHttp::dir_dav(path, opts_.man_path(), docs_);
}

bool KV_TavoHttp::conn_lost() const
{
    const KV_FileMan* fm = http_.file_man();
    return http_.conn_err() && fm != nullptr && !fm->dead(true);
}

void KV_TavoHttp::status(const KV_String& text)
{
    informer().send(new (std::nothrow) KV_MsgTavoNtf(KV_TAVO_NTF_STATUS, id(), text, KV_String()));
}

void KV_TavoHttp::doc_ntf(bool added, const KV_String& doc)
{
    KV_Informer* root = kv_root_informer();
    if (root == nullptr || owner_ == nullptr)
        return;
    const KV_FileManId own = owner_->id();
    root->send(new (std::nothrow)
                   KV_MsgManNtf(KV_FileManId(static_cast<const KV_DsId&>(own), 0),
                                added ? KV_MAN_NTF_DOC_ADD : KV_MAN_NTF_DOC_DEL, doc));
}

bool KV_TavoHttp::path_text(const KV_PathDef& path, KV_String& text) const
{
    text.clear();
    return opts_.man_path().build_path(text, path, false, 0) && !text.empty();
}

KV_String KV_TavoHttp::server_uri(const KV_String& path)
{
    return KV_UriMan::build_uri(http_.security() == KV_HTTP_SECURE_NONE ? "HTTP" : "HTTPS",
                                http_.dst_addr(), path);
}

KV_String KV_TavoHttp::end_err(KV_FileReq&)
{
    return http_.err_msg();
}

void KV_TavoHttp::req_executed(bool executed)
{
    KV_Tavo::req_executed(executed);
    const bool lost = conn_lost();
    if (lost)
        set_used(false);
    KV_FileReq* r = req();
    if (executed && r != nullptr && !r->stopped(nullptr, false) && !r->executed() && !r->paused() &&
        r->can_retry() && lost)
        set_final_status(KV_REQ_STAT_RESTARTING);
}

// ---- redirects

bool KV_TavoHttp::same_server(KV_FileReq& r, const KV_String& location)
{
    KV_String scheme, host, path, port;
    KV_UriMan::split_uri(location, scheme, host, path, &port);
    // A Location without a scheme names a path on this server.
    if (scheme.empty())
        return true;
    const KV_String up = scheme.upper();
    if (up != "HTTP" && up != "HTTPS") {
        r.eh().set_err(1, "Switching to another protocol not supported.");
        http_.set_err_msg("Switching to another protocol not supported.");
        return false;
    }
    const bool secure = http_.security() != KV_HTTP_SECURE_NONE;
    KV_String own_scheme, own_host, own_path, own_port;
    KV_UriMan::split_uri(http_.dst_addr(), own_scheme, own_host, own_path, &own_port);
    const unsigned long def_port = secure ? 443 : 80;
    const unsigned long own = own_port.empty() ? def_port : own_port.as_unsigned();
    const unsigned long their = port.empty() ? (up == "HTTPS" ? 443 : 80) : port.as_unsigned();
    // The connection stands to one server with one scheme: a redirect
    // elsewhere would send the request (and its login) to the wrong server,
    // or plain text where TLS was asked for.
    if ((up == "HTTPS") != secure || host.compare(own_host, false) != 0 || own != their) {
        const KV_String text = KV_String::format_impl(
            "Redirection to another server or protocol not supported (%s).", location.data());
        r.eh().set_err(1, text);
        http_.set_err_msg(text);
        return false;
    }
    return true;
}

bool KV_TavoHttp::follow(KV_FileReq& r, KV_String uri, const MakeAct& make, const TakeAct& take,
                         bool& executed)
{
    executed = false;
    bool redirect = true;
    uint32_t redirects = 0;
    while (!executed && redirect && !r.stopped(nullptr, false)) {
        redirect = false;
        std::unique_ptr<KV_HttpActTrans> act(make(uri));
        if (act == nullptr)
            return false;
        if (!http_.exec(r.eh(), act.get(), &r))
            return false;
        executed = act->executed();
        if (take)
            take(*act);
        if (executed || http_.last_err() != KV_HTTP_ERR_CODE)
            break;
        const KV_String location = http_.redir();
        if (location.empty() || location == uri)
            break;
        if (++redirects > max_redirects) {
            const KV_String text =
                KV_String::format_impl("Too many redirections (more than %u).", max_redirects);
            r.eh().set_err(1, text);
            http_.set_err_msg(text);
            return false;
        }
        if (!same_server(r, location))
            return false;
        uri = location;
        redirect = true;
    }
    return true;
}

// ---- simple requests

bool KV_TavoHttp::do_pwd(KV_FileReqPwd& r)
{
    status("PWD");
    const KV_PathMan& pm = opts_.man_path();
    KV_PathDef path;
    bool ok;
    if (!r.def_path().empty()) {
        ok = pm.split_path(r.def_path(), path, true);
    } else if (docs_.size() != 0) {
        const KV_String doc = docs_.at(0).trim();
        ok = pm.split_path(doc, path, true) && (!pm.is_fname(doc) || path.remove_last());
    } else {
        ok = path.append(KV_String(pm.dir_sep()));
    }
    if (ok && !pm.dir_pre().empty())
        ok = path.prepend(pm.dir_pre());
    if (ok)
        informer().send(new (std::nothrow) KV_MsgTreePwd(path));
    return ok;
}

bool KV_TavoHttp::do_mkdir(KV_FileReqMkDir& r)
{
    KV_String text;
    if (!path_text(r.path(), text))
        return false;
    status(KV_String("MKDIR ") + text);
    KV_HttpActMkcol act(text, false);
    if (!http_.exec(r.eh(), &act, &r))
        return false;
    r.set_executed(act.executed());
    return true;
}

bool KV_TavoHttp::do_ren(KV_FileReqRen& r)
{
    KV_String src, dst;
    if (!path_text(r.path_src(), src) || !path_text(r.path_dst(), dst))
        return false;
    status(KV_String("MOVE ") + src + " -> " + dst);
    const KV_String dst_uri = server_uri(dst);
    const auto make = [&](const KV_String& uri) -> KV_HttpActTrans* {
        return new (std::nothrow) KV_HttpActMove(uri, dst_uri, false);
    };
    bool executed = false;
    // The MOVE goes first: WebDAV overwrites an existing destination by
    // default, and deleting it first would lose it when the MOVE then fails.
    if (!follow(r, src, make, nullptr, executed))
        return false;
    if (!executed && r.dst_exists() && http_.code() == 412) {
        // This server refuses to overwrite: only now is the destination
        // deleted, and the MOVE tried once more.
        if (!rm(r, r.path_dst()))
            return false;
        if (!r.executed())
            return true;
        status(KV_String("MOVE ") + src + " -> " + dst);
        if (!follow(r, src, make, nullptr, executed))
            return false;
    }
    r.set_executed(executed);
    return true;
}

bool KV_TavoHttp::do_rm(KV_FileReqRm& r)
{
    return rm(r, r.path());
}

bool KV_TavoHttp::rm(KV_FileReq& r, const KV_PathDef& path)
{
    KV_String text;
    if (!path_text(path, text))
        return false;
    status(KV_String("DEL ") + text);
    bool executed = false;
    if (!follow(
            r, text,
            [](const KV_String& uri) -> KV_HttpActTrans* {
                return new (std::nothrow) KV_HttpActDel(uri);
            },
            nullptr, executed))
        return false;
    r.set_executed(executed);
    if (executed && r.executed()) {
        KV_PathDef parent(path);
        if (parent.remove_last() && !dir_dav(parent))
            doc_ntf(false, text);
    }
    return true;
}

bool KV_TavoHttp::do_uman(KV_FileReqUMan& r)
{
    switch (r.cmd()) {
    case KV_MANAGE_CMD_CONNECT: {
        status("Connecting");
        KV_HttpActConnMan act;
        const bool ok = http_.exec(r.eh(), &act, &r);
        r.set_executed(act.executed());
        return ok;
    }
    case KV_MANAGE_CMD_DISCONNECT:
        http_.close();
        return true;
    default:
        return true;
    }
}

// ---- listings

bool KV_TavoHttp::do_scan(KV_FileReqScan& r)
{
    KV_FileListStore* store = r.store();
    const KV_PathDef& listed = r.path();
    if (store == nullptr)
        informer().send(new (std::nothrow)
                            KV_MsgTreeNtf(listed, KV_TREE_NTF_SCAN_BEGIN, true, KV_String()));
    else
        store->clear();

    if (dir_dav(listed)) {
        KV_String text;
        if (!path_text(listed, text))
            return false;
        status(KV_String("LIST ") + text);
        KV_HttpActPropfindParams params;
        params.pm = &opts_.man_path();
        params.store = store;
        params.informer = &informer();
        params.path = listed;
        KV_HttpActPropfind act(params, false);
        if (!http_.exec(r.eh(), &act, &r))
            return false;
        r.set_executed(act.executed());
        return true;
    }

    // A plain-HTTP folder: its entries are the documents below it.
    const KV_PathMan& pm = opts_.man_path();
    const bool case_sens = r.case_sens();
    KV_MsgTreeScan* msg = nullptr;
    bool ok = true;
    if (store == nullptr || store->wanted() == nullptr) {
        KVTL::KV_ListVal<KV_String> produced;
        for (uint32_t i = 0; ok && r.executed() && i < docs_.size(); ++i) {
            const KV_String& doc = docs_.at(i);
            const bool file_doc = pm.is_fname(doc);
            KV_PathDef d;
            if (!pm.split_path(doc, d, false)) {
                ok = false;
                break;
            }
            KV_String name;
            if (file_doc) {
                name = d.last();
                if (name == "." || name == "..")
                    continue;
                if (!d.remove_last()) {
                    ok = false;
                    break;
                }
            }
            if (!d.adjust(listed, pm.dir_pre())) {
                ok = false;
                break;
            }
            if (!listed.is_parent(d, case_sens, &name) || name.empty() || produced.find(name))
                continue;
            ok = produced.add(name) && head_entry(r, d, name, doc, msg);
        }
    } else {
        const KVTL::KV_ListVal<KV_String>& wanted = *store->wanted();
        for (uint32_t w = 0; ok && r.executed() && w < wanted.size(); ++w) {
            const KV_String& want = wanted.at(w);
            bool found = false;
            for (uint32_t i = 0; ok && !found && i < docs_.size(); ++i) {
                const KV_String& doc = docs_.at(i);
                if (pm.is_fname(doc))
                    continue;
                KV_PathDef d;
                KV_String below;
                if (!pm.split_path(doc, d, false) || !d.adjust(listed, pm.dir_pre()))
                    continue;
                if (d.entries() > listed.entries() && listed.is_parent(d, case_sens, &below) &&
                    below.compare(want, pm.case_sens()) == 0) {
                    found = true;
                    ok = head_entry(r, d, want, doc, msg);
                }
            }
            if (ok && !found) {
                KV_String text;
                ok = pm.build_path(text, listed, want, false, 0) &&
                     head_entry(r, listed, want, text, msg);
            }
        }
    }
    if (msg != nullptr) {
        if (ok && r.executed())
            informer().send(msg);
        else
            delete msg;
    }
    return ok;
}

bool KV_TavoHttp::head_entry(KV_FileReqScan& r, const KV_PathDef& d, const KV_String& name,
                             const KV_String& doc, KV_MsgTreeScan*& msg)
{
    KV_FileListStore* store = r.store();
    const KV_PathDef& listed = r.path();
    if (store == nullptr && msg == nullptr) {
        msg = new (std::nothrow) KV_MsgTreeScan(listed);
        if (msg == nullptr)
            return false;
    }
    KV_FileTreeNode* node = nullptr;
    if (d.entries() > listed.entries()) {
        // A folder on the way to a document: nothing to ask the server.
        node = new (std::nothrow) KV_FileTreeNode(r.case_sens(), KV_FileData(name, true));
        if (node == nullptr)
            return false;
    } else {
        status(KV_String("HEAD ") + doc);
        KV_HttpActListParams params;
        params.path = listed;
        params.name = name;
        bool executed = false;
        const bool ok = follow(
            r, doc,
            [&](const KV_String& uri) -> KV_HttpActTrans* {
                params.uri = uri;
                return new (std::nothrow) KV_HttpActHead(params);
            },
            [&](KV_HttpActTrans& act) {
                KV_FileTreeNode* got = static_cast<KV_HttpActHead&>(act).get_node();
                delete node;
                node = got;
            },
            executed);
        if (!ok) {
            delete node;
            return false;
        }
        if (!executed && http_.last_err() == KV_HTTP_ERR_NOT_FOUND) {
            // The document is gone: no entry, and it leaves the list.
            delete node;
            node = nullptr;
            executed = true;
            doc_ntf(false, doc);
        }
        r.set_executed(executed);
        if (!executed || node == nullptr) {
            delete node;
            return true;
        }
    }
    if (!(store != nullptr ? store->add(node) : msg->nodes.add(node))) {
        delete node;
        return false;
    }
    return true;
}

// ---- transfers

bool KV_TavoHttp::do_copy(KV_FileReqCopy& r)
{
    KV_TransLogCp* log = r.log();
    if (log == nullptr)
        return false;
    KV_FileFrag* frag = r.frag();
    const bool segmented = frag != nullptr && (frag->begin() != 0 || frag->end() != 0);
    KV_String src, dst;
    if (!r.src().build_path(src, false, 0) || src.empty() || !r.dst().build_path(dst, false, 0) ||
        dst.empty())
        return false;

    if (r.trans_type() == KV_FILE_TRANS_TYPE_FETCH) {
        if (!log->tmp_data())
            return true;
        int64_t offset = 0;
        KV_FileMan* fm = http_.file_man();
        if (segmented)
            offset = frag->pos();
        else if (log->flag1() && fm != nullptr && fm->can_resume_get())
            offset = log->size();
        if (!log->set_flags(1, 0))
            return false;
        // Complete only when the size is known: a source of unknown size
        // has nothing to compare with.
        if (offset != 0 && log->fdata().valid_size(false) && offset >= log->fdata().size(false))
            return true;
        KV_String text;
        if (segmented)
            text = KV_String::format_impl("%s %s (%" PRId64 " - %" PRId64 ")", "GET",
                                          log->file_name().data(), frag->pos(), frag->end());
        else if (offset != 0)
            text = KV_String::format_impl("%s %s (%" PRId64 ")", "GET", log->file_name().data(),
                                          offset);
        else
            text = KV_String::format_impl("%s %s", "GET", log->file_name().data());
        status(text);
        bool executed = false;
        if (!follow(
                r, src,
                [&](const KV_String& uri) -> KV_HttpActTrans* {
                    if (segmented)
                        return new (std::nothrow) KV_HttpActGet(uri, dst, frag, log);
                    return new (std::nothrow) KV_HttpActGet(uri, dst, offset, log);
                },
                nullptr, executed))
            return false;
        r.set_executed(executed);
        return true;
    }
    if (r.trans_type() != KV_FILE_TRANS_TYPE_STORE)
        return true;

    if (!log->tmp_data() && r.man_eq()) {
        // Both ends on this server: it copies the resource itself.
        status(KV_String("COPY ") + src + " -> " + dst);
        const KV_String dst_uri = server_uri(dst);
        KV_String from;
        if (!path_text(log->path_src(), from))
            return false;
        bool executed = false;
        if (!follow(
                r, from,
                [&](const KV_String& uri) -> KV_HttpActTrans* {
                    return new (std::nothrow) KV_HttpActCopy(uri, dst_uri, false);
                },
                nullptr, executed))
            return false;
        r.set_executed(executed);
        return true;
    }

    // An upload always starts at byte 0: a PUT replaces the whole resource,
    // and a server that ignores a Range line on a PUT would keep only the
    // tail.
    if (!log->set_flags(2, 0))
        return false;
    status(KV_String::format_impl("%s %s", "PUT", log->file_name().data()));
    KV_HttpActPut act(src, dst, log, 0, false);
    if (!http_.exec(r.eh(), &act, &r))
        return false;
    r.set_executed(act.executed());
    if (act.executed() && r.executed()) {
        KV_PathDef parent(r.dst().path());
        if (parent.entries() > 0 && parent.remove_last() && !dir_dav(parent))
            doc_ntf(true, dst);
    }
    return true;
}
