#include "ftp/kv_ftpacttrans.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_time.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqs.h"

// `dst` is not used: the data goes to the copy sub-log, without which the
// action fails.
KV_FtpActGet::KV_FtpActGet(const KV_String& src, const KV_String&, KV_FileFrag* frag,
                           KV_TransLogCp* log)
    : sink(log, frag), src(src), mode(KV_TRANS_MODE_BINARY)
{
}

KV_FtpActGet::KV_FtpActGet(KV_TRANS_MODE mode, const KV_String& src, const KV_String&, int64_t rest,
                           KV_TransLogCp* log)
    : sink(KV_TransSink::Dir::get, log, rest), src(src), mode(mode)
{
}

namespace {

// A sub-step (TYPE, REST) of parent, folded into its flags.
bool sub_step(KV_FtpAct& parent, KV_FtpAct& step)
{
    const bool r = step.exec(&parent);
    parent.set_executed(r && step.executed());
    parent.set_timed_out(step.timed_out());
    return parent.executed();
}

// "verb path" with the path in the server's syntax; empty when the dialect
// cannot write it.
KV_String path_cmd(KV_FtpMan& ftp, const char* verb, const KV_String& path)
{
    KV_String p = path;
    if (!ftp.serv || !ftp.serv->path_to_serv(p, true) || p.empty())
        return KV_String();
    return KV_String::format_impl("%s %s", verb, p.data());
}

// Whether an upload to this server may start at an offset above 0 with
// REST.
bool rest_put(KV_FtpMan& ftp)
{
    return ftp.opts().use_rest_put() && ftp.impl_rest();
}

} // namespace

bool KV_FtpActGet::run()
{
    KV_FtpActType type(mode);
    if (!sub_step(*this, type))
        return true;
    if (sink.offset() > 0) {
        if (ftp().opts().use_rest_get()) {
            KV_FtpActRest rest(sink.offset());
            if (!sub_step(*this, rest))
                return true;
        } else if (sink.frag()) {
            // Without REST the server sends from 0: a fragment further on
            // cannot be fetched.
            set_executed(false);
            ftp().set_err_msg("Resuming needs REST, which is turned off.");
            return true;
        } else {
            // Without REST the server sends from 0, so the file is written
            // from 0 again: bytes go to the offset they belong to.
            sink.restart(0);
        }
    }
    return KV_FtpActTrans::run();
}

KV_String KV_FtpActGet::get_cmd()
{
    return path_cmd(ftp(), "RETR", src);
}

bool KV_FtpActGet::init()
{
    return sink.open(ftp().eh());
}

bool KV_FtpActGet::process_in(KV_Stream& in, bool& end)
{
    retry_mode = 3;
    const uint32_t n = in.length();
    if (n == 0)
        return sink.log() != nullptr;
    const unsigned char* data = in;
    bool ok = sink.write(data, n);
    if (!ok)
        ftp().set_err_msg(sink.err());
    // The fragment is complete: the connection is cut, since what the server
    // sends beyond it belongs to another fragment.
    if (sink.full())
        end = true;
    ok = in.remove(n) && ok;
    // Cutting the connection at the fragment's end makes the server report
    // a broken transfer: that report must not fail the fragment.
    if (ok && sink.full())
        set_force_executed();
    return ok;
}

bool KV_FtpActGet::cleanup()
{
    if (!sink.close()) {
        set_executed(false);
        ftp().set_err_msg(sink.err());
    } else if (!sink.complete()) {
        // A server that ended the data before the fragment's end sent a file
        // shorter than the fragment: the fragment is not complete.
        set_executed(false);
        ftp().set_err_msg(short_data_msg);
    }
    return true;
}

// `src` is not used: the data comes from the copy sub-log or the file it
// names, without which the action fails.
KV_FtpActPut::KV_FtpActPut(KV_TRANS_MODE mode, const KV_String&, const KV_String& dst,
                           KV_TransLogCp* log, int64_t rest)
    : sink(KV_TransSink::Dir::put, log, rest), dst(dst), mode(mode)
{
}

bool KV_FtpActPut::run()
{
    KV_FtpActType type(mode);
    if (!sub_step(*this, type))
        return true;
    if (sink.offset() > 0) {
        if (rest_put(ftp())) {
            KV_FtpActRest rest(sink.offset());
            if (!sub_step(*this, rest))
                return true;
        } else if (!ftp().opts().use_append()) {
            // Neither REST nor APPE: STOR writes the server's file from 0,
            // so the whole file goes.
            sink.restart(0);
        }
    }
    return KV_FtpActTrans::run();
}

KV_String KV_FtpActPut::get_cmd()
{
    return path_cmd(ftp(), sink.offset() > 0 && ftp().opts().use_append() ? "APPE" : "STOR", dst);
}

bool KV_FtpActPut::init()
{
    return sink.open(ftp().eh());
}

bool KV_FtpActPut::process_out(KV_Stream& out, bool& end, uint32_t size, uint8_t* buff)
{
    retry_mode = 3;
    uint32_t n = 0;
    switch (sink.read(buff, size, n)) {
    case KV_TransSink::Read::data:
        if (!out.append(buff, n))
            return false;
        end = sink.done();
        return true;
    case KV_TransSink::Read::end:
        end = true;
        return true;
    case KV_TransSink::Read::fail:
        break;
    }
    if (!sink.err().empty())
        ftp().set_err_msg(sink.err());
    return false;
}

bool KV_FtpActPut::cleanup()
{
    sink.close();
    return true;
}

bool KV_FtpActGetDirect::run()
{
    if (from > 0) {
        KV_FtpActRest rest(from);
        if (!sub_step(*this, rest))
            return true;
    }
    // Still passive from the pair's set-up: no new PASV, no local data
    // connection.
    return KV_FtpActTrans::run(KV_FTP_CONN_PASSIVE);
}

KV_String KV_FtpActGetDirect::get_cmd()
{
    return path_cmd(ftp(), "RETR", path);
}

KV_FtpActPutDirect::KV_FtpActPutDirect(const KV_InetAddr& peer, const KV_String& src,
                                       const KV_String& dst, KV_FileReq* stop_resp,
                                       KV_FileReqMan& man_src, KV_ErrHandler& eh, uint32_t tavo_id,
                                       int64_t rest)
    : peer(peer), src(src), dst(dst), stop_resp(stop_resp), man_src(man_src), eh(eh),
      tavo_id(tavo_id), rest(rest)
{
}

bool KV_FtpActPutDirect::run()
{
    KV_FtpActType type(KV_TRANS_MODE_BINARY);
    if (!sub_step(*this, type))
        return true;
    if (rest > 0) {
        if (rest_put(ftp())) {
            KV_FtpActRest r(rest);
            if (!sub_step(*this, r))
                return true;
        } else if (!ftp().opts().use_append()) {
            // STOR from 0 here: the source sends from 0 as well.
            rest = 0;
        }
    }
    return KV_FtpActTrans::run(KV_FTP_CONN_ACTIVE);
}

KV_String KV_FtpActPutDirect::get_cmd()
{
    return path_cmd(ftp(), rest > 0 && ftp().opts().use_append() ? "APPE" : "STOR", dst);
}

bool KV_FtpActPutDirect::dtrans(KV_InetAddr& addr)
{
    addr = peer;
    return true;
}

bool KV_FtpActPutDirect::trans_cmd_sent()
{
    auto* r = new (std::nothrow) KV_FileReqDTrans(eh, tavo_id, src, rest);
    return r && man_src.add_req(r, stop_resp, nullptr, KV_REQ_STAT_QUEUED);
}

KV_FtpActList::~KV_FtpActList() = default;

KV_String KV_FtpActList::get_cmd()
{
    KV_String c = "LIST";
    if (ftp().serv && ftp().serv->list_opts()) {
        const uint8_t f = ftp().opts().list_flags();
        KV_String letters;
        if (f & 0x01)
            letters += "a";
        if (f & 0x02)
            letters += "L";
        if (!letters.empty()) {
            c += " -";
            c += letters;
        }
    }
    return c;
}

bool KV_FtpActList::init()
{
    if (!ftp().serv)
        return false;
    ftp().serv->reset();
    buf.clear();
    scanned = 0;
    too_long = false;
    if (params.store)
        params.store->clear();
    return true;
}

bool KV_FtpActList::process_in(KV_Stream& in, bool&)
{
    retry_mode = 3;
    if (too_long)
        return false;
    if (in.empty())
        return true;
    const unsigned char* data = in;
    const uint32_t n = in.length();
    bool ok = buf.append(data, n);
    ok = in.remove(n) && ok;
    return ok && inform();
}

bool KV_FtpActList::cleanup()
{
    if (too_long)
        return false;
    // A last line without a line end is still an entry.
    buf += '\n';
    return inform();
}

bool KV_FtpActList::inform()
{
    KV_MsgTreeScan* msg = nullptr;
    bool ok = true;
    const char* p = buf.data();
    const uint32_t len = buf.length();
    uint32_t start = 0;
    // What an earlier call scanned holds no line end: a line that arrives a
    // byte at a time is scanned once, not once per byte.
    uint32_t i = scanned;
    while (ok) {
        // The line ends at the first CR or LF: a CR LF pair leaves an empty
        // line, which is skipped.
        while (i < len && p[i] != '\r' && p[i] != '\n')
            ++i;
        if (i >= len)
            break;
        if (i - start > max_line) {
            too_long = true;
            break;
        }
        if (!params.store && !msg) {
            msg = new (std::nothrow) KV_MsgTreeScan(params.path);
            ok = msg != nullptr;
        }
        if (ok)
            ok = add_entry(buf.part(start, i), msg);
        start = i + 1;
        i = start;
    }
    if (ok && len - start > max_line)
        too_long = true;
    if (too_long) {
        ok = false;
        buf.clear();
        ftp().set_err_msg(too_long_msg);
    } else if (start > 0) {
        buf = buf.part(start, len);
    }
    scanned = ok ? buf.length() : 0;
    if (msg) {
        if (ok && params.informer)
            params.informer->send(msg);
        else
            delete msg;
    }
    return ok;
}

bool KV_FtpActList::add_entry(const KV_String& line, KV_MsgTreeScan* msg)
{
    KV_FtpServer* serv = ftp().serv;
    if (!serv)
        return false;
    if (line.empty())
        return true;
    // The dialects read the name up to a NUL and trim it off the end: what
    // is left could name another file, so such a line is no entry at all.
    if (std::memchr(line.data(), 0, line.length()) != nullptr)
        return true;
    KV_String name, attr, user, group, date;
    int64_t size = 0;
    uint8_t flags = 0;
    if (!serv->parse_line(line, name, attr, user, group, date, size, flags))
        return true;
    // Whatever the server lists must stay one entry of the listed folder.
    if (!KV_PathDef::is_entry_name(name))
        return true;
    if (params.store && !params.store->is_wanted(name))
        return true;
    KV_Time tm;
    tm.from_str(date, static_cast<KV_STR_TM_CONV>(serv->date_form()));
    KV_FileTreeNode* node = nullptr;
    const bool cs = ftp().case_sens();
    if (params.store)
        node = new (std::nothrow) KV_FileTreeNode(cs, KV_FileData(name, date, size, tm));
    else
        node = new (std::nothrow)
            KV_FileTreeNode(cs, KV_FileDataExt(name, date, size, attr, user, group, tm));
    if (!node)
        return false;
    if (ftp().opts().sz_unrel() && (flags & KV_FD_SIZE) != 0)
        flags = static_cast<uint8_t>((flags & ~KV_FD_SIZE) | KV_FD_SIZE_ONREQ);
    node->set_fd_flags(flags, 0);
    bool ok;
    if (params.store)
        ok = params.store->add(node);
    else
        ok = msg && msg->nodes.add(node);
    if (!ok)
        delete node;
    return ok;
}
