#include "http/kv_httpactdav.h"

#include <cinttypes>
#include <new>

#include <xercesc/dom/DOM.hpp>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_uriman.h"
#include "http/kv_xml.h"
#include "net/kv_httphdr.h"

// ---------------------------------------------------------------------------
// KV_HttpActDav

bool KV_HttpActDav::Body::add(const uint8_t* data, uint32_t n)
{
    if (n > UINT32_MAX - length())
        return false;
    const uint32_t need = length() + n;
    if (need > capacity()) {
        uint32_t cap = capacity() > UINT32_MAX / 2 ? UINT32_MAX : capacity() * 2;
        if (cap < need)
            cap = need;
        if (!realloc(cap))
            return false;
    }
    return append(data, n);
}

KV_HttpActDav::KV_HttpActDav(bool chunked) : chunked_(chunked) {}

KV_HttpActDav::~KV_HttpActDav() = default;

bool KV_HttpActDav::hdr_wait() const
{
    // The run does not wait for the request body to be out: a WebDAV body
    // is a few hundred bytes that leave with the first pass after the head,
    // and a server that answers an error before the client got to send it
    // (a refused MOVE, a 404 to PROPFIND) stops the session asking for it,
    // so "request sent" would never come.
    return true;
}

bool KV_HttpActDav::get_hdr(KV_HttpHdr& hdr)
{
    const bool ok =
        chunked_ ? hdr.add(new (std::nothrow) KV_HttpHdrTEnc("chunked"))
                 : hdr.add(new (std::nothrow) KV_HttpHdrCLength(int64_t{body_out_.length()}));
    if (!ok)
        return false;
    return body_out_.empty() || hdr.add(new (std::nothrow) KV_HttpHdrCType("text/xml"));
}

bool KV_HttpActDav::send(KV_Stream& stream, uint32_t n, const uint8_t* data)
{
    if (!chunked_)
        return n == 0 || stream.append(data, n);
    if (n == 0) {
        // The last chunk, an empty trailer and one more line end, as the
        // client has always sent it.
        static const char end[] = "0\r\n\r\n\r\n";
        return stream.append(reinterpret_cast<const uint8_t*>(end), sizeof end - 1);
    }
    const KV_String size = KV_String::format_impl("%" PRIx64 "\r\n", uint64_t{n});
    return stream.append(reinterpret_cast<const uint8_t*>(size.data()), size.length()) &&
           stream.append(data, n) && stream.append(reinterpret_cast<const uint8_t*>("\r\n"), 2);
}

bool KV_HttpActDav::process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                                uint8_t* buffer)
{
    if (buffer == nullptr || size < 2)
        return false;
    if (!body_out_.empty()) {
        if (!send(stream, body_out_.length(), body_out_))
            return false;
        body_out_.clear();
        return true;
    }
    in = KV_HTTP_SESS_IN_SENT;
    return send(stream, 0, nullptr);
}

bool KV_HttpActDav::store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN&)
{
    if (n > stream.length())
        return false;
    if (n > max_body - body_in_.length() || body_in_.length() > max_body) {
        if (http() != nullptr)
            http()->set_err_msg("The server's answer is too long.");
        return false;
    }
    return body_in_.add(stream, n);
}

// ---------------------------------------------------------------------------
// KV_HttpActMkcol

KV_HttpActMkcol::KV_HttpActMkcol(const KV_String& uri, bool chunked)
    : KV_HttpActDav(chunked), uri_(uri)
{
}

KV_HttpActMkcol::~KV_HttpActMkcol() = default;

uint16_t KV_HttpActMkcol::auth_cmds() const
{
    return 0x20;
}

bool KV_HttpActMkcol::get_hdr(KV_HttpHdr& hdr)
{
    return ins_method(hdr, "MKCOL", uri_) && KV_HttpActDav::get_hdr(hdr);
}

// ---------------------------------------------------------------------------
// KV_HttpActCopy, KV_HttpActMove

KV_HttpActCopy::KV_HttpActCopy(const KV_String& src, const KV_String& dst, bool chunked)
    : KV_HttpActDav(chunked), src_(src), dst_(dst)
{
}

KV_HttpActCopy::~KV_HttpActCopy() = default;

uint16_t KV_HttpActCopy::auth_cmds() const
{
    return 0x80;
}

const char* KV_HttpActCopy::method() const
{
    return "COPY";
}

bool KV_HttpActCopy::get_hdr(KV_HttpHdr& hdr)
{
    return ins_method(hdr, method(), src_) &&
           hdr.add(new (std::nothrow) KV_HttpHdrDest(KV_UriMan::conv_to_hex(dst_))) &&
           hdr.add(new (std::nothrow) KV_HttpHdrDepth("infinity")) && KV_HttpActDav::get_hdr(hdr);
}

KV_HttpActMove::KV_HttpActMove(const KV_String& src, const KV_String& dst, bool chunked)
    : KV_HttpActCopy(src, dst, chunked)
{
}

KV_HttpActMove::~KV_HttpActMove() = default;

uint16_t KV_HttpActMove::auth_cmds() const
{
    return 0x40;
}

const char* KV_HttpActMove::method() const
{
    return "MOVE";
}

// ---------------------------------------------------------------------------
// KV_HttpActPropfind

KV_HttpActPropfind::KV_HttpActPropfind(const KV_HttpActPropfindParams& params, bool chunked)
    : KV_HttpActDav(chunked), params_(params)
{
}

KV_HttpActPropfind::~KV_HttpActPropfind() = default;

uint16_t KV_HttpActPropfind::auth_cmds() const
{
    return 0x10;
}

bool KV_HttpActPropfind::get_hdr(KV_HttpHdr& hdr)
{
    if (params_.pm == nullptr)
        return false;
    KV_String text;
    if (!params_.pm->build_path(text, params_.path, false, 0))
        return false;
    text = params_.pm->compl_dir(text);
    if (text.empty())
        return false;
    return ins_method(hdr, "PROPFIND", text) && hdr.add(new (std::nothrow) KV_HttpHdrDepth("1")) &&
           KV_HttpActDav::get_hdr(hdr);
}

bool KV_HttpActPropfind::make_body(KV_Stream& out)
{
    using XERCES_CPP_NAMESPACE::DOMDocument;
    using XERCES_CPP_NAMESPACE::DOMElement;
    DOMDocument* doc = KV_XmlHelperImpl::new_doc("DAV:", "range", "propfind");
    if (doc == nullptr)
        return false;
    bool ok = false;
    try {
        DOMElement* prop = KV_XmlHelperImpl::new_element(doc, "prop");
        ok = prop != nullptr;
        for (const char* name : {"getlastmodified", "getcontentlength", "resourcetype"}) {
            DOMElement* e = ok ? KV_XmlHelperImpl::new_element(doc, name) : nullptr;
            ok = e != nullptr && prop->appendChild(e) != nullptr;
        }
        ok = ok && KV_XmlHelperImpl::get_root(doc)->appendChild(prop) != nullptr &&
             KV_XmlHelperImpl::serialize(doc, out);
    } catch (...) {
        ok = false;
    }
    doc->release();
    return ok;
}

bool KV_HttpActPropfind::init()
{
    body_out_.clear();
    body_in_.clear();
    return KV_HttpActDav::init() && make_body(body_out_);
}

bool KV_HttpActPropfind::cleanup()
{
    if (!KV_HttpActDav::cleanup() || !executed())
        return false;
    KV_MsgTreeScan* msg = nullptr;
    if (params_.store == nullptr) {
        msg = new (std::nothrow) KV_MsgTreeScan(params_.path);
        if (msg == nullptr) {
            set_executed(false);
            return false;
        }
    }
    const bool case_sens = http() != nullptr && http()->case_sens();
    const bool ok = kv_dav_parse_list(body_in_, body_in_.length(), params_, case_sens, msg);
    if (!ok) {
        if (http() != nullptr)
            http()->set_err_msg("The server's folder listing cannot be read.");
        set_executed(false);
    }
    if (msg != nullptr) {
        if (ok && params_.informer != nullptr)
            params_.informer->send(msg);
        else
            delete msg;
    }
    return ok;
}
