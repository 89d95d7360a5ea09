#include "net/kv_httphdr.h"

#include <cinttypes>
#include <new>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_uriman.h"
#include "net/kv_comm.h"
#include "requests/kv_sessinfo.h"

namespace {

// "<name>: Basic " and the Base64 form of user ":" pass.
KV_String basic_auth(const char* name, const KV_String& user, const KV_String& pass)
{
    const KV_String cred = (user + ":" + pass).encrypt_base64();
    return KV_String::format_impl("%s: Basic %s", name, cred.data());
}

// The session log is kept on disk and shown to whoever looks at the screen:
// Base64 hides nothing, so the credential is masked as FTP's PASS is.
KV_String basic_auth_masked(const char* name)
{
    return KV_String::format_impl("%s: Basic ******", name);
}

bool has_line_end(const KV_String& text)
{
    return text.contains('\r') || text.contains('\n');
}

} // namespace

// ---------------------------------------------------------------------------
// KV_HttpHdrElem

KV_HttpHdrElem::~KV_HttpHdrElem() = default;

KV_HTTP_HDR_SRT KV_HttpHdrElem::srt() const
{
    return KV_HTTP_HDR_SRT_OTHER;
}

KV_String KV_HttpHdrElem::log_str() const
{
    return as_str();
}

bool KV_HttpHdrElem::operator==(const KV_HttpHdrElem* other) const
{
    return other && srt() == other->srt();
}

bool KV_HttpHdrElem::operator<(const KV_HttpHdrElem* other) const
{
    return other && srt() < other->srt();
}

// ---------------------------------------------------------------------------
// The lines

KV_HttpHdrMethod::KV_HttpHdrMethod(const KV_String& method, const KV_String& uri,
                                   const KV_HttpVer& ver)
    : method_(method), uri_(uri), ver_(ver)
{
}

KV_HTTP_HDR_SRT KV_HttpHdrMethod::srt() const
{
    return KV_HTTP_HDR_SRT_METHOD;
}

KV_String KV_HttpHdrMethod::as_str() const
{
    KV_String line = method_;
    if (!uri_.empty()) {
        line += " ";
        line += KV_UriMan::conv_to_hex(uri_);
    }
    if (ver_.valid()) {
        line += " HTTP/";
        line += KV_String(ver_);
    }
    return line;
}

KV_HttpHdrHost::KV_HttpHdrHost(const KV_String& host) : host_(host) {}

KV_HTTP_HDR_SRT KV_HttpHdrHost::srt() const
{
    return KV_HTTP_HDR_SRT_HOST;
}

KV_String KV_HttpHdrHost::as_str() const
{
    return KV_String("Host: ") + host_;
}

KV_HttpHdrDest::KV_HttpHdrDest(const KV_String& uri) : uri_(uri) {}

KV_HTTP_HDR_SRT KV_HttpHdrDest::srt() const
{
    return KV_HTTP_HDR_SRT_DEST;
}

KV_String KV_HttpHdrDest::as_str() const
{
    return KV_String("Destination: ") + uri_;
}

KV_HttpHdrRange::KV_HttpHdrRange(int64_t from, int64_t to) : from_(from), to_(to) {}

KV_String KV_HttpHdrRange::as_str() const
{
    if (to_ == 0)
        return KV_String::format_impl("Range: bytes=%" PRId64 "-", from_);
    return KV_String::format_impl("Range: bytes=%" PRId64 "-%" PRId64, from_, to_);
}

KV_HttpHdrCLength::KV_HttpHdrCLength(int64_t length) : length_(length) {}

KV_String KV_HttpHdrCLength::as_str() const
{
    return KV_String::format_impl("Content-Length: %" PRId64, length_);
}

KV_HttpHdrAuth::KV_HttpHdrAuth(const KV_String& user, const KV_String& pass)
    : user_(user), pass_(pass)
{
}

KV_String KV_HttpHdrAuth::as_str() const
{
    return basic_auth("Authorization", user_, pass_);
}

KV_String KV_HttpHdrAuth::log_str() const
{
    return basic_auth_masked("Authorization");
}

KV_HttpHdrProxyAuth::KV_HttpHdrProxyAuth(const KV_String& user, const KV_String& pass)
    : user_(user), pass_(pass)
{
}

KV_String KV_HttpHdrProxyAuth::as_str() const
{
    return basic_auth("Proxy-Authorization", user_, pass_);
}

KV_String KV_HttpHdrProxyAuth::log_str() const
{
    return basic_auth_masked("Proxy-Authorization");
}

KV_String KV_HttpHdrText::as_str() const
{
    return KV_String(name_) + ": " + value_;
}

// ---------------------------------------------------------------------------
// KV_HttpHdr

KV_HttpHdr::~KV_HttpHdr()
{
    cleanup();
}

bool KV_HttpHdr::add(KV_HttpHdrElem* line)
{
    if (!line)
        return false;
    if (!lines_.add(line)) {
        delete line;
        return false;
    }
    return true;
}

KV_String KV_HttpHdr::as_str(KV_CommBase* comm) const
{
    const uint32_t n = lines_.size();
    KVTL::KV_ListVal<KV_String> texts;
    for (uint32_t i = 0; i < n; ++i) {
        KV_String t = lines_.at(i)->as_str();
        if (has_line_end(t) || !texts.add(t))
            return KV_String();
    }
    KV_String head;
    for (uint32_t i = 0; i < n; ++i) {
        if (!head.append(texts.at(i).data(), texts.at(i).length()) || !head.append("\r\n", 2))
            return KV_String();
    }
    if (!head.append("\r\n", 2))
        return KV_String();
    KV_Informer* informer = comm ? comm->informer() : nullptr;
    if (informer) {
        for (uint32_t i = 0; i < n; ++i)
            informer->send(new (std::nothrow) KV_MsgSessLog(
                comm->tavo_id(), KV_SessLogInfo(KV_SESS_LOG_SENT, lines_.at(i)->log_str(), false)));
    }
    return head;
}

void KV_HttpHdr::cleanup()
{
    for (uint32_t i = 0; i < lines_.size(); ++i)
        delete lines_.at(i);
    lines_.clear();
}

bool KV_HttpHdr::add_connect(const KV_String& dst, const KV_HttpVer& ver)
{
    if (!add(new (std::nothrow) KV_HttpHdrMethod("CONNECT", dst, ver)))
        return false;
    if (ver >= KV_HttpVer(1, 1))
        return add(new (std::nothrow) KV_HttpHdrHost(dst));
    return true;
}
