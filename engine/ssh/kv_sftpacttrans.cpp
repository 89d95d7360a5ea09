#include "ssh/kv_sftpacttrans.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_time.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"

namespace {

// W: requests in flight on one handle. 64 blocks of 32 KiB fill the
// channel's window, so that the server always has requests to answer while
// the replies travel.
uint32_t window(const KV_SftpMan* man, bool write)
{
    if (!man)
        return 1;
    const KV_SftpManOpts& o = man->opts_sftp();
    return (write ? o.aggressive_write() : o.aggressive_read()) ? 64 : 1;
}

uint32_t low(int64_t v)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(v));
}

uint32_t high(int64_t v)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32);
}

} // namespace

// ---------------------------------------------------------------------------
// KV_SftpActGet

// `local` is not used: the data goes to the copy sub-log, without which the
// action fails.
KV_SftpActGet::KV_SftpActGet(const KV_String& remote, const KV_String&, int64_t offset,
                             KV_TransLogCp* const log)
    : sink(KV_TransSink::Dir::get, log, offset), remote_(remote), read_off(offset)
{
}

KV_SftpActGet::KV_SftpActGet(const KV_String& remote, const KV_String&, KV_FileFrag* const frag,
                             KV_TransLogCp* const log)
    : sink(log, frag), remote_(remote), read_off(frag ? frag->pos() : 0)
{
}

KV_SftpActGet::~KV_SftpActGet() = default;

bool KV_SftpActGet::init()
{
    end = false;
    if (!KV_SshActTrans::init())
        return false;
    KV_SshMan* m = ssh();
    return sink.open(m ? m->eh() : nullptr);
}

bool KV_SftpActGet::cleanup()
{
    // Bytes the sink still held and could not write leave the file short.
    if (!sink.close()) {
        if (KV_SftpMan* m = sftp())
            m->set_err_msg(sink.err());
        set_executed(false);
    }
    return KV_SshActTrans::cleanup();
}

KV_SftpMsg* KV_SftpActGet::first_msg()
{
    return new (std::nothrow) KV_SftpMsgOpen(sftp_str(remote_), KV_SFTP_PF_READ, KV_SftpFileAttr());
}

void KV_SftpActGet::numbered(const KV_SftpMsgList& out)
{
    for (uint32_t i = 0; i < out.size(); ++i) {
        const KV_SftpMsg* m = out.at(i);
        if (m && m->type() == KV_SFTP_READ) {
            const auto* r = static_cast<const KV_SftpMsgRead*>(m);
            reads[r->id()] = Range{static_cast<int64_t>(r->offset()), r->length()};
        }
    }
}

int64_t KV_SftpActGet::stored_to() const
{
    return sink.offset();
}

int64_t KV_SftpActGet::limit() const
{
    const KV_FileFrag* frag = sink.frag();
    return frag ? std::min(eof_at, frag->end()) : eof_at;
}

bool KV_SftpActGet::window_full(const KV_SftpMsgList& out) const
{
    const KV_SftpMan* man = sftp();
    return !man || out.size() + man->ack_reg_locked() >= window(man, false);
}

bool KV_SftpActGet::store(int64_t off, const unsigned char* p, uint32_t n)
{
    // Bytes at or past the end are no part of the file (a fragment's end,
    // or an end of file seen below them).
    const int64_t lim = limit();
    if (n == 0 || off >= lim)
        return true;
    if (lim - off < n)
        n = static_cast<uint32_t>(lim - off);
    const int64_t s = stored_to();
    if (off + n <= s)
        return true;
    if (off > s) {
        std::string& slot = held[off];
        if (slot.size() < n)
            slot.assign(reinterpret_cast<const char*>(p), n);
        return true;
    }
    const uint32_t skip = static_cast<uint32_t>(s - off);
    if (!sink.write(p + skip, n - skip))
        return false;
    // Answers that came ahead of their turn follow as soon as they touch the
    // prefix.
    while (!held.empty() && held.begin()->first <= stored_to()) {
        const int64_t at = held.begin()->first;
        const std::string bytes = std::move(held.begin()->second);
        held.erase(held.begin());
        if (!store(at, reinterpret_cast<const unsigned char*>(bytes.data()),
                   static_cast<uint32_t>(bytes.size())))
            return false;
    }
    return true;
}

bool KV_SftpActGet::take_data(const Range& r, const KV_SshString& data)
{
    const uint32_t n = data.length();
    if (n > r.len)
        return false; // more than was asked for: no offset is sure any more
    if (n == 0) {
        // Not an end of file, only no progress: asked again, but a server
        // that keeps answering nothing is given up on.
        if (++empty_answers > 64)
            return false;
        retry.push_back(r);
        return true;
    }
    if (n < r.len)
        retry.push_back(Range{r.off + n, r.len - n});
    if (!store(r.off, data, n)) {
        if (KV_SftpMan* m = sftp())
            m->set_err_msg(sink.err());
        failed = true;
        return false;
    }
    return true;
}

bool KV_SftpActGet::step(KV_SftpMsgList& out)
{
    KV_SftpMan* man = sftp();
    if (!man)
        return false;
    const KV_FileFrag* frag = sink.frag();
    const bool complete = end && stored_to() >= limit();
    if (!failed && !complete && !handle.empty()) {
        while (!window_full(out)) {
            Range r{0, 0};
            if (!retry.empty()) {
                r = retry.back();
                retry.pop_back();
                if (r.off >= limit())
                    continue;
                if (frag && frag->end() - r.off < r.len)
                    r.len = static_cast<uint32_t>(frag->end() - r.off);
            } else if (!end) {
                uint32_t b = block;
                if (frag) {
                    const int64_t rest = frag->end() - read_off;
                    if (rest <= 0) {
                        end = true;
                        break;
                    }
                    if (rest < b)
                        b = static_cast<uint32_t>(rest);
                }
                r = Range{read_off, b};
                read_off += b;
                if (frag && read_off >= frag->end())
                    end = true;
            } else {
                break;
            }
            if (!queue(out,
                       new (std::nothrow) KV_SftpMsgRead(handle, low(r.off), high(r.off), r.len)))
                return false;
        }
        // Nothing in flight, nothing to ask and still a gap: the answers so
        // far cannot complete the file.
        if (out.empty() && man->ack_reg_locked() == 0 && !(end && stored_to() >= limit()))
            failed = true;
    }
    if (!failed && end && stored_to() >= limit() && frag && limit() < frag->end()) {
        // The remote file ends inside the fragment: the fragment can never
        // be complete, which must not pass for success.
        man->set_err_msg("Unexpected end of file.");
        failed = true;
    }
    if (failed)
        set_executed(false);
    if (failed || (end && stored_to() >= limit())) {
        if (!handle.empty())
            return close_handle(handle, out);
        if (out.empty() && man->ack_reg_locked() == 0)
            set_done();
    }
    return true;
}

bool KV_SftpActGet::process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t, uint8_t* const)
{
    if (!out.empty())
        return false;
    bool ok = true;
    switch (msg.type()) {
    case KV_SFTP_STATUS: {
        const auto& st = static_cast<const KV_SftpMsgStatus&>(msg);
        const auto it = reads.find(st.id());
        if (it != reads.end()) {
            const Range r = it->second;
            reads.erase(it);
            if (st.eof()) {
                eof_at = std::min(eof_at, r.off);
                end = true;
            } else {
                status_err(st);
                failed = true;
            }
        } else if (!st.ok()) {
            status_err(st);
            set_executed(st.eof());
            failed = true;
        }
        ok = step(out);
        break;
    }
    case KV_SFTP_HANDLE: {
        const auto& h = static_cast<const KV_SftpMsgHandle&>(msg);
        ok = handle.empty() && !h.handle().empty() && (handle = h.handle()) && step(out);
        break;
    }
    case KV_SFTP_DATA: {
        const auto it = reads.find(msg.id());
        if (it == reads.end() || !sink.log()) {
            ok = false;
            break;
        }
        const Range r = it->second;
        reads.erase(it);
        ok = take_data(r, static_cast<const KV_SftpMsgData&>(msg).data()) && step(out);
        break;
    }
    default:
        close_handle(handle, out);
        ok = false;
        break;
    }
    set_executed(ok);
    return ok;
}

// ---------------------------------------------------------------------------
// KV_SftpActPut

// `local` is not used: the data comes from the copy sub-log or the file it
// names, without which the action fails.
KV_SftpActPut::KV_SftpActPut(const KV_String&, const KV_String& remote, KV_TransLogCp* const log,
                             int64_t offset)
    : sink(KV_TransSink::Dir::put, log, offset), remote_(remote)
{
}

KV_SftpActPut::~KV_SftpActPut() = default;

bool KV_SftpActPut::init()
{
    end = false;
    if (!KV_SshActTrans::init())
        return false;
    KV_SshMan* m = ssh();
    return sink.open(m ? m->eh() : nullptr);
}

bool KV_SftpActPut::cleanup()
{
    sink.close();
    return KV_SshActTrans::cleanup();
}

KV_SftpMsg* KV_SftpActPut::first_msg()
{
    const uint32_t pflags = sink.offset() == 0
                                ? KV_SFTP_PF_WRITE | KV_SFTP_PF_CREAT | KV_SFTP_PF_TRUNC
                                : KV_SFTP_PF_WRITE | KV_SFTP_PF_APPEND;
    return new (std::nothrow) KV_SftpMsgOpen(sftp_str(remote_), pflags, KV_SftpFileAttr());
}

bool KV_SftpActPut::trans_end() const
{
    const KV_SftpMan* man = sftp();
    return end && man && man->ack_reg_locked() == 0;
}

bool KV_SftpActPut::window_full(const KV_SftpMsgList& out) const
{
    const KV_SftpMan* man = sftp();
    return !man || out.size() + man->ack_reg_locked() >= window(man, true);
}

bool KV_SftpActPut::write(KV_SftpMsgList& out, uint32_t buf_len, uint8_t* const buf)
{
    bool ok = sftp() != nullptr;
    while (ok && !end && !window_full(out)) {
        const int64_t at = sink.offset();
        uint32_t n = 0;
        // A WRITE carries at most a block: servers take messages of a few
        // hundred KiB at most, whatever the session's buffer holds.
        switch (sink.read(buf, std::min(buf_len, block), n)) {
        case KV_TransSink::Read::data:
            ok = queue(out, new (std::nothrow) KV_SftpMsgWrite(handle, buf, n, low(at), high(at)));
            end = sink.done();
            break;
        case KV_TransSink::Read::end:
            end = true;
            break;
        case KV_TransSink::Read::fail:
            if (KV_SftpMan* m = sftp(); m && !sink.err().empty())
                m->set_err_msg(sink.err());
            ok = false;
            break;
        }
    }
    if (ok && end)
        ok = close_handle(handle, out);
    return ok;
}

bool KV_SftpActPut::process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t buf_len,
                               uint8_t* const buf)
{
    if (!out.empty())
        return false;
    bool ok = true;
    switch (msg.type()) {
    case KV_SFTP_STATUS: {
        const auto& st = static_cast<const KV_SftpMsgStatus&>(msg);
        status_err(st);
        set_executed(st.ok());
        if (!end)
            end = !executed();
        if (trans_end()) {
            if (!handle.empty())
                ok = close_handle(handle, out);
            else
                set_done();
        } else {
            ok = write(out, buf_len, buf);
        }
        break;
    }
    case KV_SFTP_HANDLE: {
        const auto& h = static_cast<const KV_SftpMsgHandle&>(msg);
        ok = handle.empty() && !h.handle().empty() && (handle = h.handle()) &&
             write(out, buf_len, buf);
        break;
    }
    default:
        close_handle(handle, out);
        ok = false;
        break;
    }
    set_executed(ok);
    return ok;
}

// ---------------------------------------------------------------------------
// KV_SftpActList

KV_SftpActList::KV_SftpActList(const KV_SftpActListParams& params) : params(&params) {}

KV_SftpActList::~KV_SftpActList() = default;

bool KV_SftpActList::init()
{
    end = false;
    if (!KV_SshActTrans::init() || !params->path_man)
        return false;
    KV_String text;
    if (!params->path_man->build_path(text, params->path, false, 0) || text.empty())
        return false;
    dir = params->path_man->compl_dir(text);
    return !dir.empty();
}

KV_SftpMsg* KV_SftpActList::first_msg()
{
    return dir.empty() ? nullptr : new (std::nothrow) KV_SftpMsgOpenDir(sftp_str(dir));
}

bool KV_SftpActList::trans_end() const
{
    const KV_SftpMan* man = sftp();
    return end && man && man->ack_reg_locked() == 0;
}

bool KV_SftpActList::window_full(const KV_SftpMsgList& out) const
{
    const KV_SftpMan* man = sftp();
    return !man || out.size() + man->ack_reg_locked() >= window(man, false);
}

KV_String KV_SftpActList::rights(uint32_t perm)
{
    static const uint32_t bits[9] = {0x100, 0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
    static const char letters[] = "rwxrwxrwx";
    char text[11];
    text[0] = (perm & 0xF000) == 0x4000 ? 'd' : '-';
    for (int i = 0; i < 9; ++i)
        text[i + 1] = (perm & bits[i]) ? letters[i] : '-';
    text[10] = 0;
    return KV_String(text);
}

bool KV_SftpActList::read(KV_SftpMsgList& out, const KV_SftpMsgName* name)
{
    KV_SftpMan* man = sftp();
    bool ok = man != nullptr;
    if (ok && name) {
        KV_FileListStore* store = params->store;
        KV_MsgTreeScan* msg = nullptr;
        if (!store) {
            msg = new (std::nothrow) KV_MsgTreeScan(params->path);
            ok = msg != nullptr;
        }
        const KV_SftpNameList& entries = name->entries();
        for (uint32_t i = 0; ok && i < entries.size(); ++i) {
            const KV_SftpMsgNameElem& e = entries.at(i);
            // A name that is no single entry of this folder would put a
            // download outside its target.
            if (!KV_PathDef::is_entry_name(e.filename, e.filename.length()))
                continue;
            const KV_String fname = sftp_text(e.filename);
            if (store && !store->is_wanted(fname))
                continue;
            const KV_SftpFileAttr& a = e.attrs;
            uint8_t flags = 0;
            int64_t size = 0;
            KV_String accf, user, group, ttext;
            KV_Time tm;
            if (a.flags() & KV_SftpFileAttr::perm_flag) {
                const uint32_t type = a.permissions() & 0xF000;
                if (type == 0x4000)
                    flags |= 0x01;
                else if (type == 0xA000)
                    flags |= 0x02;
                accf = rights(a.permissions());
                flags |= 0x08;
            }
            if ((a.flags() & KV_SftpFileAttr::size_flag) && !(flags & 0x01)) {
                size = static_cast<int64_t>(std::min<uint64_t>(a.size(), INT64_MAX));
                flags |= 0x04 | 0x10;
            }
            if (a.flags() & KV_SftpFileAttr::acmodtime_flag) {
                tm = KV_Time(static_cast<long>(a.mtime()));
                ttext = tm.as_str("%c");
                flags |= 0x20;
            }
            if (a.flags() & KV_SftpFileAttr::uidgid_flag) {
                user = KV_String::format_impl("%u", a.uid());
                group = KV_String::format_impl("%u", a.gid());
            }
            KV_FileTreeNode* node;
            if (store)
                node = new (std::nothrow)
                    KV_FileTreeNode(man->case_sens(), KV_FileData(fname, ttext, size, tm));
            else
                node = new (std::nothrow) KV_FileTreeNode(
                    man->case_sens(), KV_FileDataExt(fname, ttext, size, accf, user, group, tm));
            if (!node) {
                ok = false;
                break;
            }
            node->set_fd_flags(flags, 0);
            if (!(store ? store->add(node) : msg->nodes.add(node))) {
                delete node;
                ok = false;
            }
        }
        if (msg) {
            if (ok && params->informer)
                params->informer->send(msg);
            else
                delete msg;
        }
    }
    while (ok && !end && !handle.empty() && !window_full(out))
        ok = queue(out, new (std::nothrow) KV_SftpMsgReadDir(handle));
    if (ok && end)
        ok = close_handle(handle, out);
    return ok;
}

bool KV_SftpActList::process_in(const KV_SftpMsg& msg, KV_SftpMsgList& out, uint32_t,
                                uint8_t* const)
{
    if (!out.empty())
        return false;
    bool ok = true;
    switch (msg.type()) {
    case KV_SFTP_STATUS: {
        const auto& st = static_cast<const KV_SftpMsgStatus&>(msg);
        status_err(st);
        set_executed(st.ok() || st.eof());
        if (!end)
            end = st.eof() || !executed();
        if (trans_end()) {
            if (!handle.empty())
                ok = close_handle(handle, out);
            else
                set_done();
        }
        break;
    }
    case KV_SFTP_HANDLE: {
        const auto& h = static_cast<const KV_SftpMsgHandle&>(msg);
        ok = handle.empty() && !h.handle().empty() && (handle = h.handle()) && read(out, nullptr);
        break;
    }
    case KV_SFTP_NAME:
        ok = read(out, static_cast<const KV_SftpMsgName*>(&msg));
        break;
    default:
        close_handle(handle, out);
        ok = false;
        break;
    }
    set_executed(ok);
    return ok;
}
