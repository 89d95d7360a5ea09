#include "ssh/kv_sshcomp.h"

#include <new>

KV_String KV_SshComp::list(bool compress)
{
    return compress ? "zlib,none" : "none,zlib";
}

std::unique_ptr<KV_SshComp> KV_SshComp::create(const KV_String& name)
{
    if (name == "none")
        return std::unique_ptr<KV_SshComp>(new (std::nothrow) KV_SshCompNone);
    if (name == "zlib")
        return std::unique_ptr<KV_SshComp>(new (std::nothrow) KV_SshCompZlib);
    return nullptr;
}

KV_SshComp::~KV_SshComp() = default;

bool KV_SshComp::active() const
{
    return false;
}

bool KV_SshComp::init(bool)
{
    return true;
}

bool KV_SshComp::process(const KV_Stream&, KV_Stream&)
{
    return true;
}

KV_SshCompNone::~KV_SshCompNone() = default;

// ---------------------------------------------------------------------------
// KV_SshCompZlib

KV_SshCompZlib::~KV_SshCompZlib()
{
    end();
}

bool KV_SshCompZlib::active() const
{
    return true;
}

void KV_SshCompZlib::end()
{
    if (cleared_)
        return;
    if (compress_)
        deflateEnd(&strm_);
    else
        inflateEnd(&strm_);
    cleared_ = true;
}

bool KV_SshCompZlib::init(bool compress)
{
    end();
    compress_ = compress;
    strm_ = z_stream{};
    // The macros pass zlib the version and stream size this code was built
    // with, so a mismatched library refuses instead of running on a stream
    // laid out differently.
    const int rc = compress ? deflateInit(&strm_, level_) : inflateInit(&strm_);
    cleared_ = rc != Z_OK;
    return rc == Z_OK;
}

bool KV_SshCompZlib::process(const KV_Stream& in, KV_Stream& out)
{
    if (cleared_)
        return false;
    if (in.empty())
        return true;
    // zlib does not write through next_in; its type only lacks the const.
    strm_.next_in = const_cast<Bytef*>(static_cast<const unsigned char*>(in));
    strm_.avail_in = in.length();
    uint32_t inflated = 0;
    unsigned char buf[4096];
    for (;;) {
        strm_.next_out = buf;
        strm_.avail_out = sizeof buf;
        const int rc =
            compress_ ? deflate(&strm_, Z_PARTIAL_FLUSH) : inflate(&strm_, Z_PARTIAL_FLUSH);
        const uint32_t made = sizeof buf - strm_.avail_out;
        if (rc == Z_BUF_ERROR && !compress_)
            return true; // all input used and all output given
        if (rc != Z_OK)
            return false;
        if (!compress_) {
            inflated += made;
            if (inflated > max_inflated)
                return false;
        }
        if (made && !out.append(buf, made))
            return false;
        if (compress_ && strm_.avail_out != 0)
            return true;
    }
}
