#include "ssh/kv_sshchannel.h"

#include <cstring>
#include <new>

#include "foundation/kv_informer.h"
#include "foundation/kv_le.h"
#include "foundation/kv_msg.h"
#include "requests/kv_sessinfo.h"
#include "ssh/kv_sftpman.h"

// ---------------------------------------------------------------------------
// KV_SshChannel

KV_SshChannel::KV_SshChannel(const KV_SshString& name) : name_(name), in_(1024), out_(1024) {}

KV_SshChannel::~KV_SshChannel() = default;

void KV_SshChannel::end() {}

void KV_SshChannel::confirm(uint32_t remote_id, uint32_t remote_wnd, uint32_t remote_max_packet)
{
    remote_id_ = remote_id;
    remote_wnd_ = remote_wnd;
    remote_max_packet_ = remote_max_packet;
}

void KV_SshChannel::remote_wnd_add(uint32_t n)
{
    // RFC 4254 caps a window at 2^32 - 1; a server that adds beyond it gets
    // the cap rather than a wrapped, tiny window.
    remote_wnd_ = n > UINT32_MAX - remote_wnd_ ? UINT32_MAX : remote_wnd_ + n;
}

void KV_SshChannel::local_wnd_add(uint32_t n)
{
    local_wnd_ = n > UINT32_MAX - local_wnd_ ? UINT32_MAX : local_wnd_ + n;
}

bool KV_SshChannel::recv(const KV_Stream& data, bool& need_adjust)
{
    need_adjust = false;
    if (!is_open() || data.length() > local_wnd_)
        return false;
    if (!data.empty() && !in_.append(data))
        return false;
    local_wnd_ -= data.length();
    need_adjust = local_wnd_ <= wnd_step / 2;
    return true;
}

bool KV_SshChannel::take_out(KV_Stream& dest)
{
    if (!is_open() || remote_wnd_ == 0 || out_.empty())
        return true;
    uint32_t n = remote_wnd_;
    if (remote_max_packet_ != 0 && remote_max_packet_ < n)
        n = remote_max_packet_;
    if (out_.length() < n)
        n = out_.length();
    if (!dest.append(out_, n) || !out_.remove(n))
        return false;
    remote_wnd_ -= n;
    return true;
}

// ---------------------------------------------------------------------------
// KV_SshChannelMan

KV_SshChannelMan::~KV_SshChannelMan()
{
    map_.delete_all();
    map_.clear();
}

uint32_t KV_SshChannelMan::new_id() const
{
    for (uint32_t id = 1; id != 0; ++id)
        if (!map_.contains(id))
            return id;
    return 0;
}

bool KV_SshChannelMan::add(uint32_t number, KV_SshChannel* channel)
{
    if (!channel || map_.contains(number))
        return false;
    return map_.add(number, channel);
}

KV_SshChannel* KV_SshChannelMan::find(uint32_t number) const
{
    return map_.find(number);
}

bool KV_SshChannelMan::remove(uint32_t number)
{
    return map_.remove(number);
}

void KV_SshChannelMan::numbers(std::vector<uint32_t>& out) const
{
    out.clear();
    KVTL::KV_HMapPtrIterator<uint32_t, KV_SshChannel> it(map_);
    for (it.first(); !it.end(); it.next())
        out.push_back(it.key());
}

void KV_SshChannelMan::clear()
{
    map_.delete_all();
}

// ---------------------------------------------------------------------------
// SFTP framing

namespace {

// Read-only storage over the bytes of one message: reads end at its end.
class MsgView : public KV_Storage
{
public:
    MsgView(const unsigned char* p, uint32_t n) : p_(p), n_(n) {}
    uint32_t read(void* dst, uint32_t n) override
    {
        const uint32_t k = n < n_ - pos_ ? n : n_ - pos_;
        if (k)
            std::memcpy(dst, p_ + pos_, k);
        pos_ += k;
        return k;
    }
    uint32_t write(const unsigned char*, uint32_t) override { return 0; }

private:
    const unsigned char* p_;
    uint32_t n_;
    uint32_t pos_ = 0;
};

KV_SftpMsg* new_reply(uint8_t type)
{
    switch (type) {
    case KV_SFTP_VERSION:
        return new (std::nothrow) KV_SftpMsgVersion;
    case KV_SFTP_STATUS:
        return new (std::nothrow) KV_SftpMsgStatus;
    case KV_SFTP_HANDLE:
        return new (std::nothrow) KV_SftpMsgHandle;
    case KV_SFTP_DATA:
        return new (std::nothrow) KV_SftpMsgData;
    case KV_SFTP_NAME:
        return new (std::nothrow) KV_SftpMsgName;
    default:
        return nullptr;
    }
}

} // namespace

KV_SFTP_CUT KV_SshChannelSftp::cut_msg(KV_Stream& in, std::unique_ptr<KV_SftpMsg>& msg)
{
    msg.reset();
    // Four bytes alone are never taken for a message, whatever they say.
    if (in.length() < 5)
        return KV_SFTP_CUT_MORE;
    const unsigned char* p = in;
    const uint32_t len = kv_get_be<uint32_t>(p);
    // L = 0 has no type byte; a huge L would buffer without bound and 4 + L
    // would wrap in 32 bits.
    if (len == 0 || len > max_msg)
        return KV_SFTP_CUT_BAD;
    if (static_cast<uint64_t>(in.length()) < 4 + static_cast<uint64_t>(len))
        return KV_SFTP_CUT_MORE;
    std::unique_ptr<KV_SftpMsg> m(new_reply(p[4]));
    if (!m)
        return KV_SFTP_CUT_BAD;
    MsgView view(p + 5, len - 1);
    if (!m->read(view) || !in.remove(4 + len))
        return KV_SFTP_CUT_BAD;
    msg = std::move(m);
    return KV_SFTP_CUT_MSG;
}

bool KV_SshChannelSftp::frame_msg(KV_Stream& out, const KV_SftpMsg& msg)
{
    KV_Stream body(256);
    if (!msg.write(body))
        return false;
    unsigned char len[4];
    kv_put_be(len, body.length());
    const uint32_t before = out.length();
    if (out.append(len, 4) && out.append(body))
        return true;
    // Never leave half a frame behind: the peer would lose the stream.
    if (out.length() > before) {
        KV_Stream keep(1024);
        if (before)
            keep.append(out, before);
        out = keep;
    }
    return false;
}

bool KV_SshChannelSftp::note_log(const KV_SftpMsg& msg, bool in)
{
    const KV_String text = msg.describe();
    if (text.empty())
        return false;
    KV_String& last = in ? last_in_ : last_out_;
    if (!msg.always_log() && text == last)
        return false;
    last = text;
    if (!in)
        last_in_.clear();
    return true;
}

// ---------------------------------------------------------------------------
// KV_SshChannelSftp

KV_SshChannelSftp::KV_SshChannelSftp(KV_SftpMan* man)
    : KV_SshChannel(KV_SshString("sftp")), man_(man)
{
}

KV_SshChannelSftp::~KV_SshChannelSftp() = default;

void KV_SshChannelSftp::end()
{
    if (man_)
        man_->act_end(true);
}

bool KV_SshChannelSftp::data_in(const KV_Stream& data, bool& need_adjust, uint32_t buf_len,
                                uint8_t* buf)
{
    if (!recv(data, need_adjust))
        return false;
    for (;;) {
        KV_SFTP_CUT cut = KV_SFTP_CUT_MORE;
        const bool ok = process_msg(buf_len, buf, cut);
        if (!ok || cut != KV_SFTP_CUT_MSG)
            return ok;
    }
}

bool KV_SshChannelSftp::process_msg(uint32_t buf_len, uint8_t* const buf, KV_SFTP_CUT& cut)
{
    std::unique_ptr<KV_SftpMsg> msg;
    cut = cut_msg(in(), msg);
    if (cut == KV_SFTP_CUT_MORE)
        return true;
    if (cut == KV_SFTP_CUT_BAD)
        return false;
    log_msg(*msg, true);
    if (!man_)
        return true;
    KV_SftpMsgList replies;
    replies.set_grow(256);
    bool ok = man_->act_process_in(*msg, replies, buf_len, buf);
    for (uint32_t i = 0; ok && i < replies.size(); ++i)
        ok = send_msg(*replies.at(i));
    for (uint32_t i = 0; i < replies.size(); ++i)
        delete replies.at(i);
    replies.clear();
    return ok;
}

bool KV_SshChannelSftp::data_out()
{
    if (!man_)
        return true;
    KV_SftpMsgList msgs;
    msgs.set_grow(256);
    bool ok = man_->act_process_out(msgs);
    for (uint32_t i = 0; ok && i < msgs.size(); ++i)
        ok = send_msg(*msgs.at(i));
    for (uint32_t i = 0; i < msgs.size(); ++i)
        delete msgs.at(i);
    msgs.clear();
    return ok;
}

bool KV_SshChannelSftp::send_msg(const KV_SftpMsg& msg)
{
    if (!frame_msg(out(), msg))
        return false;
    log_msg(msg, false);
    return true;
}

void KV_SshChannelSftp::log_msg(const KV_SftpMsg& msg, bool in)
{
    KV_Informer* informer = man_ ? man_->informer() : nullptr;
    if (!informer || !note_log(msg, in))
        return;
    informer->send(new (std::nothrow) KV_MsgSessLog(
        man_->tavo_id(),
        KV_SessLogInfo(in ? KV_SESS_LOG_RECV : KV_SESS_LOG_SENT, msg.describe(), false)));
}
