// Compression of the SSH-2 packet payloads: "none" and "zlib" (RFC 4253
// section 6.2).
//
// A direction's compressor runs one zlib stream for the life of the keys:
// each payload continues it and ends at a partial flush, so the peer can
// decompress every packet as soon as it arrives. The packet layer calls
// process() only when active() is true, so "none" never sees data.
//
// Threads: an object belongs to its session's thread.
#pragma once

#include <cstdint>
#include <memory>

#include <zlib.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_SshComp : public KV_SafeObj
{
public:
    // "zlib,none" when compress, else "none,zlib".
    static KV_String list(bool compress);
    // A new compressor for "none" or "zlib"; null for any other name.
    static std::unique_ptr<KV_SshComp> create(const KV_String& name);

    KV_SshComp() = default;
    virtual ~KV_SshComp();
    KV_SshComp(const KV_SshComp&) = delete;
    KV_SshComp& operator=(const KV_SshComp&) = delete;

    // Whether payloads go through process(). Base: false.
    virtual bool active() const;
    // Readies the compressor for compressing (true) or decompressing. Base:
    // true, nothing done.
    virtual bool init(bool compress);
    // Appends the (de)compressed form of in to out. Base: true, nothing done.
    virtual bool process(const KV_Stream& in, KV_Stream& out);
};

class KV_SshCompNone : public KV_SshComp
{
public:
    ~KV_SshCompNone() override;
};

class KV_SshCompZlib : public KV_SshComp
{
public:
    // The largest payload one packet may inflate to. A packet is at most
    // 0x40000 bytes on the wire, and its payload uncompressed is no larger:
    // a few hundred bytes that would inflate to more are a decompression
    // bomb, refused instead of filling memory.
    static constexpr uint32_t max_inflated = 0x40000;

    KV_SshCompZlib() = default;
    ~KV_SshCompZlib() override;

    bool active() const override;
    // Ends any running stream, then starts a new one: deflate at level 9, or
    // inflate. False when zlib refuses (the compressor is then unusable).
    bool init(bool compress) override;
    // One payload: the whole of in through the stream, up to a partial
    // flush. False when the stream was not started, zlib reports an error or
    // the stream's end, or (decompressing) the result would pass
    // max_inflated; out may then hold part of the result.
    bool process(const KV_Stream& in, KV_Stream& out) override;

private:
    void end();

    bool cleared_ = true; // no live stream
    bool compress_ = true;
    int32_t level_ = 9;
    z_stream strm_{};
};
