#include "ssh/kv_sshmsg.h"

#include "foundation/kv_le.h"
#include "ssh/kv_sshkey.h"
#include "ssh/kv_sshpacket.h"

bool ssh_read_all(KV_Storage& st, void* dst, uint32_t n)
{
    auto* p = static_cast<unsigned char*>(dst);
    for (uint32_t done = 0; done < n;) {
        const uint32_t got = st.read(p + done, n - done);
        if (got == 0)
            return false;
        done += got;
    }
    return true;
}

bool ssh_write_u32(KV_Storage& st, uint32_t v)
{
    unsigned char b[4];
    kv_put_be(b, v);
    return st.write(b, 4) == 4;
}

bool ssh_read_u32(KV_Storage& st, uint32_t& v)
{
    unsigned char b[4];
    if (!ssh_read_all(st, b, 4))
        return false;
    v = kv_get_be<uint32_t>(b);
    return true;
}

namespace {

bool write_bool(KV_Storage& st, bool b)
{
    const unsigned char v = b ? 1 : 0;
    return st.write(&v, 1) == 1;
}

} // namespace

// ---------------------------------------------------------------------------
// KV_SshString

KV_SshString::KV_SshString(const char* text)
{
    KV_StringStd s(text);
    append(s, s.length());
}

KV_SshString::~KV_SshString() = default;

bool KV_SshString::operator=(const KV_SshString& other)
{
    return KV_Stream::operator=(other);
}

bool KV_SshString::operator=(const KV_Stream& other)
{
    return KV_Stream::operator=(other);
}

bool KV_SshString::write(KV_Storage& st) const
{
    if (!st.opened() || !ssh_write_u32(st, length()))
        return false;
    return empty() || st.write(*this, length()) == length();
}

bool KV_SshString::read(KV_Storage& st)
{
    clear();
    uint32_t left = 0;
    if (!st.opened() || !ssh_read_u32(st, left))
        return false;
    // From a stream the bytes are there or not: one check, one copy.
    if (auto* stream = dynamic_cast<KV_Stream*>(&st)) {
        if (left > stream->length())
            return false;
        if (left && (!append(*stream, left) || !stream->remove(left))) {
            clear();
            return false;
        }
        return true;
    }
    // Any other storage in pieces: memory grows only with bytes that came.
    unsigned char piece[4096];
    while (left > 0) {
        const uint32_t k = left < sizeof piece ? left : sizeof piece;
        if (!ssh_read_all(st, piece, k) || !append(piece, k)) {
            clear();
            return false;
        }
        left -= k;
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_SshTlMsg

KV_SshTlMsg::~KV_SshTlMsg() = default;

bool KV_SshTlMsg::read(KV_Storage& st)
{
    return st.opened();
}

bool KV_SshTlMsg::write(KV_Storage& st) const
{
    const unsigned char t = type();
    return st.opened() && st.write(&t, 1) == 1;
}

bool KV_SshTlMsg::send(KV_Stream& out, KV_SshDirParams& dir, KV_String& err,
                       KV_SshString* const copy) const
{
    KV_SshPacket packet;
    if (!write(packet.payload()))
        return false;
    if (copy && !(*copy = packet.payload()))
        return false;
    return packet.prepare(dir) && packet.write(out, dir, err);
}

KV_SshTlMsgIgnore::KV_SshTlMsgIgnore(const KV_SshString& data) : data_(data) {}

bool KV_SshTlMsgIgnore::read(KV_Storage& st)
{
    return KV_SshTlMsg::read(st) && data_.read(st);
}

bool KV_SshTlMsgIgnore::write(KV_Storage& st) const
{
    return KV_SshTlMsg::write(st) && data_.write(st);
}

KV_SshTlMsgServiceReq::KV_SshTlMsgServiceReq(const KV_SshString& service) : service_(service) {}

bool KV_SshTlMsgServiceReq::write(KV_Storage& st) const
{
    return KV_SshTlMsg::write(st) && service_.write(st);
}

KV_SshTlMsgKexDhInit::KV_SshTlMsgKexDhInit(const BIGNUM* e) : e_(e) {}

bool KV_SshTlMsgKexDhInit::write(KV_Storage& st) const
{
    return e_ && KV_SshTlMsg::write(st) && ssh_write_mpint(st, e_);
}

KV_SshTlMsgAuthReq::KV_SshTlMsgAuthReq(const KV_SshString& user, const KV_SshString& method,
                                       const KV_SshString& service)
    : user_(user), method_(method), service_(service)
{
}

bool KV_SshTlMsgAuthReq::write(KV_Storage& st) const
{
    return KV_SshTlMsg::write(st) && user_.write(st) && service_.write(st) && method_.write(st);
}

KV_SshTlMsgAuthReqPass::KV_SshTlMsgAuthReqPass(const KV_SshString& user, const KV_SshString& pass,
                                               const KV_SshString& service)
    : KV_SshTlMsgAuthReq(user, "password", service), pass_(pass)
{
}

bool KV_SshTlMsgAuthReqPass::write(KV_Storage& st) const
{
    return KV_SshTlMsgAuthReq::write(st) && write_bool(st, false) && pass_.write(st);
}

KV_SshTlMsgChannelOpen::KV_SshTlMsgChannelOpen(uint32_t channel, uint32_t window,
                                               uint32_t max_packet,
                                               const KV_SshString& channel_type)
    : channel_(channel), window_(window), max_packet_(max_packet), channel_type_(channel_type)
{
}

bool KV_SshTlMsgChannelOpen::write(KV_Storage& st) const
{
    return KV_SshTlMsg::write(st) && channel_type_.write(st) && ssh_write_u32(st, channel_) &&
           ssh_write_u32(st, window_) && ssh_write_u32(st, max_packet_);
}

KV_SshTlMsgChannelWndAdjust::KV_SshTlMsgChannelWndAdjust(uint32_t channel, uint32_t bytes)
    : channel_(channel), bytes_(bytes)
{
}

bool KV_SshTlMsgChannelWndAdjust::write(KV_Storage& st) const
{
    return KV_SshTlMsg::write(st) && ssh_write_u32(st, channel_) && ssh_write_u32(st, bytes_);
}

KV_SshTlMsgChannelData::KV_SshTlMsgChannelData(uint32_t channel) : channel_(channel) {}

bool KV_SshTlMsgChannelData::write(KV_Storage& st) const
{
    return KV_SshTlMsg::write(st) && ssh_write_u32(st, channel_) && data_.write(st);
}

KV_SshTlMsgChannelReq::KV_SshTlMsgChannelReq(uint32_t channel, const KV_SshString& request)
    : channel_(channel), request_(request)
{
}

bool KV_SshTlMsgChannelReq::write(KV_Storage& st) const
{
    return KV_SshTlMsg::write(st) && ssh_write_u32(st, channel_) && request_.write(st) &&
           write_bool(st, false);
}

KV_SshTlMsgChannelReqSubsys::KV_SshTlMsgChannelReqSubsys(uint32_t channel, const KV_SshString& name)
    : KV_SshTlMsgChannelReq(channel, "subsystem"), name_(name)
{
}

bool KV_SshTlMsgChannelReqSubsys::write(KV_Storage& st) const
{
    return KV_SshTlMsgChannelReq::write(st) && name_.write(st);
}
