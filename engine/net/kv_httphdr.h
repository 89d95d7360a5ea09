// The head of an HTTP request, built from typed header lines.
//
// An action fills a KV_HttpHdr with line objects; the head keeps them sorted
// by their sort key so that the request line comes first and the host line
// second whatever order they were added in (lines of equal key keep the
// order of their addition), then joins them with CR LF and logs each line in
// the connection's session log as it is rendered.
//
// Threads: plain values; one thread at a time per object.
#pragma once

#include <cstdint>

#include "datasources/kv_httpver.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_CommBase;

// Sort keys of the header lines.
enum KV_HTTP_HDR_SRT : int32_t {
    KV_HTTP_HDR_SRT_METHOD = 1, // the request line
    KV_HTTP_HDR_SRT_HOST = 2,
    KV_HTTP_HDR_SRT_DEST = 3,
    KV_HTTP_HDR_SRT_OTHER = 4, // every other line
};

// One header line.
class KV_HttpHdrElem
{
public:
    KV_HttpHdrElem() = default;
    KV_HttpHdrElem(const KV_HttpHdrElem&) = default;
    KV_HttpHdrElem& operator=(const KV_HttpHdrElem&) = default;
    virtual ~KV_HttpHdrElem();

    // The sort key; KV_HTTP_HDR_SRT_OTHER unless a line says otherwise.
    virtual KV_HTTP_HDR_SRT srt() const;
    // The line's text without its line end.
    virtual KV_String as_str() const = 0;
    // The line as the session log shows it: as_str(), except that a line
    // carrying a credential shows a mask in its place.
    virtual KV_String log_str() const;

    // Compare the sort keys; false against a null line.
    bool operator==(const KV_HttpHdrElem* other) const;
    bool operator<(const KV_HttpHdrElem* other) const;
};

// The request line: the method; a blank and the URI escaped with
// KV_UriMan::conv_to_hex when the URI is not empty; a blank, "HTTP/" and the
// version when the version is valid.
class KV_HttpHdrMethod : public KV_HttpHdrElem
{
public:
    KV_HttpHdrMethod(const KV_String& method, const KV_String& uri, const KV_HttpVer& ver);
    KV_HTTP_HDR_SRT srt() const override;
    KV_String as_str() const override;

private:
    KV_String method_;
    KV_String uri_;
    KV_HttpVer ver_;
};

// "Host: " and the host text.
class KV_HttpHdrHost : public KV_HttpHdrElem
{
public:
    explicit KV_HttpHdrHost(const KV_String& host);
    KV_HTTP_HDR_SRT srt() const override;
    KV_String as_str() const override;

private:
    KV_String host_;
};

// "Destination: " and the URI text (WebDAV COPY and MOVE); sorted right
// after "Host".
class KV_HttpHdrDest : public KV_HttpHdrElem
{
public:
    explicit KV_HttpHdrDest(const KV_String& uri);
    KV_HTTP_HDR_SRT srt() const override;
    KV_String as_str() const override;

private:
    KV_String uri_;
};

// "Range: bytes=<from>-" when to is 0, else "Range: bytes=<from>-<to>" (to is
// the last byte wanted, inclusive).
class KV_HttpHdrRange : public KV_HttpHdrElem
{
public:
    KV_HttpHdrRange(int64_t from, int64_t to);
    KV_String as_str() const override;

private:
    int64_t from_;
    int64_t to_;
};

// "Content-Length: " and the decimal length.
class KV_HttpHdrCLength : public KV_HttpHdrElem
{
public:
    explicit KV_HttpHdrCLength(int64_t length);
    KV_String as_str() const override;

private:
    int64_t length_;
};

// "Authorization: Basic " and the Base64 form of user ":" password; logged
// as "Authorization: Basic ******".
class KV_HttpHdrAuth : public KV_HttpHdrElem
{
public:
    KV_HttpHdrAuth(const KV_String& user, const KV_String& pass);
    KV_String as_str() const override;
    KV_String log_str() const override;

private:
    KV_String user_;
    KV_String pass_;
};

// "Proxy-Authorization: Basic " and the Base64 form of user ":" password;
// logged as "Proxy-Authorization: Basic ******".
class KV_HttpHdrProxyAuth : public KV_HttpHdrElem
{
public:
    KV_HttpHdrProxyAuth(const KV_String& user, const KV_String& pass);
    KV_String as_str() const override;
    KV_String log_str() const override;

private:
    KV_String user_;
    KV_String pass_;
};

// The lines whose text is a fixed name, ": " and the value given.
class KV_HttpHdrText : public KV_HttpHdrElem
{
public:
    KV_String as_str() const override;

protected:
    KV_HttpHdrText(const char* name, const KV_String& value) : name_(name), value_(value) {}

private:
    const char* name_;
    KV_String value_;
};

// "Content-Type: <media type>"
class KV_HttpHdrCType : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrCType(const KV_String& type) : KV_HttpHdrText("Content-Type", type) {}
};

// "Transfer-encoding: <coding>" (the lower-case e is what servers have
// always been sent).
class KV_HttpHdrTEnc : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrTEnc(const KV_String& coding) : KV_HttpHdrText("Transfer-encoding", coding)
    {
    }
};

// "Accept: <text>"
class KV_HttpHdrAccept : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrAccept(const KV_String& text) : KV_HttpHdrText("Accept", text) {}
};

// "Cache-Control: <text>"
class KV_HttpHdrCacheCtrl : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrCacheCtrl(const KV_String& text) : KV_HttpHdrText("Cache-Control", text) {}
};

// "Pragma: <text>"
class KV_HttpHdrPragma : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrPragma(const KV_String& text) : KV_HttpHdrText("Pragma", text) {}
};

// "Connection: <text>"
class KV_HttpHdrConn : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrConn(const KV_String& text) : KV_HttpHdrText("Connection", text) {}
};

// "User-Agent: <text>"
class KV_HttpHdrUAgent : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrUAgent(const KV_String& text) : KV_HttpHdrText("User-Agent", text) {}
};

// "Depth: <text>" (WebDAV)
class KV_HttpHdrDepth : public KV_HttpHdrText
{
public:
    explicit KV_HttpHdrDepth(const KV_String& text) : KV_HttpHdrText("Depth", text) {}
};

class KV_HttpHdr
{
public:
    KV_HttpHdr() = default;
    // cleanup().
    virtual ~KV_HttpHdr();
    KV_HttpHdr(const KV_HttpHdr&) = delete;
    KV_HttpHdr& operator=(const KV_HttpHdr&) = delete;

    // Takes the line over and places it after every line whose sort key is
    // not greater than its own. False for a null line and when it cannot be
    // listed; the line is deleted then.
    bool add(KV_HttpHdrElem* line);
    // Adds the request line "CONNECT <dst> HTTP/<ver>" and, for version 1.1
    // or later, a "Host" line with `dst`: the head with which a proxy or an
    // HTTP tunnel is asked for a connection. False when a line cannot be
    // added.
    bool add_connect(const KV_String& dst, const KV_HttpVer& ver);
    // Every line followed by CR LF, then one more CR LF. With a connection
    // that has an informer, each line is logged (its log_str()) as a sent
    // line. Empty when
    // a line's text holds a CR or LF of its own: such a head would carry
    // lines nobody added (nothing is logged then).
    KV_String as_str(KV_CommBase* comm) const;
    const KVTL::KV_ListPtrSrt<KV_HttpHdrElem>& list() const { return lines_; }
    // Deletes every line.
    void cleanup();

private:
    KVTL::KV_ListPtrSrt<KV_HttpHdrElem> lines_;
};
