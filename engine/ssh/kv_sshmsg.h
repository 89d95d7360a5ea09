// SSH-2 wire strings and the transport-layer messages the client sends.
//
// KV_SshString is the protocol's "string" (RFC 4251 section 5): a u32
// big-endian length and that many bytes. It carries every string field, the
// identification lines and payload copies kept for the exchange hash, and
// channel data. Its length field comes from the peer: reading never reserves
// memory for bytes that have not arrived.
//
// A KV_SshTlMsg knows its message number and writes its fields in wire
// encoding (RFC 4251 section 5: byte, boolean as one byte 0 or 1, u32
// big-endian, string) after that number. send() frames the message as one
// binary packet under a direction's parameters. Incoming messages are mostly
// read field by field by their handlers; IGNORE and KEXINIT can read
// themselves.
//
// Threads: plain values; one thread at a time per object.
#pragma once

#include <cstdint>

#include <openssl/types.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_SshDirParams;

// Reads exactly n bytes, in as many reads as the storage needs; false when
// it ends first.
bool ssh_read_all(KV_Storage& st, void* dst, uint32_t n);
// A u32 in network order; true when all 4 bytes moved.
bool ssh_write_u32(KV_Storage& st, uint32_t v);
bool ssh_read_u32(KV_Storage& st, uint32_t& v);

class KV_SshString : public KV_Stream
{
public:
    KV_SshString() = default;
    // The text's bytes without the terminator; null gives the empty string.
    KV_SshString(const char* text);
    KV_SshString(const KV_SshString& other) = default;
    ~KV_SshString() override;
    // Replace the bytes by a copy of the other's; false when memory cannot
    // be had (then empty).
    bool operator=(const KV_SshString& other);
    bool operator=(const KV_Stream& other);

    using KV_Stream::read;
    using KV_Stream::write;
    // The length (u32 big-endian) and the bytes. False when the storage is
    // not opened or took less.
    bool write(KV_Storage& st) const;
    // Empties the string, then reads a length and that many bytes. False,
    // with the string empty, when the storage is not opened or cannot
    // deliver them all; memory is taken only for bytes that did arrive.
    bool read(KV_Storage& st);
};

class KV_SshTlMsg
{
public:
    KV_SshTlMsg() = default;
    KV_SshTlMsg(const KV_SshTlMsg&) = default;
    KV_SshTlMsg& operator=(const KV_SshTlMsg&) = default;
    virtual ~KV_SshTlMsg();

    // The message number.
    virtual uint8_t type() const = 0;
    // The fields after the number (the caller took the number off). Base:
    // only checks that the storage is opened.
    virtual bool read(KV_Storage& st);
    // The number, then the fields. Base: the number.
    virtual bool write(KV_Storage& st) const;

    // Frames the message as one packet under `dir` and appends it to out.
    // When copy is given it receives the payload as written, before
    // compression (the key exchange hashes it). False, with a text in err
    // where the packet layer gives one, when a step fails; nothing is
    // appended to out then.
    bool send(KV_Stream& out, KV_SshDirParams& dir, KV_String& err,
              KV_SshString* const copy = nullptr) const;
};

// 2: string data.
class KV_SshTlMsgIgnore : public KV_SshTlMsg
{
public:
    explicit KV_SshTlMsgIgnore(const KV_SshString& data = KV_SshString());
    uint8_t type() const override { return 2; }
    bool read(KV_Storage& st) override;
    bool write(KV_Storage& st) const override;
    const KV_SshString& data() const { return data_; }

private:
    KV_SshString data_;
};

// 5: string service name.
class KV_SshTlMsgServiceReq : public KV_SshTlMsg
{
public:
    explicit KV_SshTlMsgServiceReq(const KV_SshString& service);
    uint8_t type() const override { return 5; }
    bool write(KV_Storage& st) const override;

private:
    KV_SshString service_;
};

// 21: no fields.
class KV_SshTlMsgNewKeys : public KV_SshTlMsg
{
public:
    uint8_t type() const override { return 21; }
};

// 30: mpint e, this side's Diffie-Hellman public value.
class KV_SshTlMsgKexDhInit : public KV_SshTlMsg
{
public:
    // e is not owned and must outlive the message; writing fails without it.
    explicit KV_SshTlMsgKexDhInit(const BIGNUM* e);
    uint8_t type() const override { return 30; }
    bool write(KV_Storage& st) const override;

private:
    const BIGNUM* e_;
};

// 50: string user, string service, string method.
class KV_SshTlMsgAuthReq : public KV_SshTlMsg
{
public:
    KV_SshTlMsgAuthReq(const KV_SshString& user, const KV_SshString& method,
                       const KV_SshString& service);
    uint8_t type() const override { return 50; }
    bool write(KV_Storage& st) const override;

private:
    KV_SshString user_;
    KV_SshString method_;
    KV_SshString service_;
};

// 50, method "password": the request's fields, boolean FALSE, string
// password.
class KV_SshTlMsgAuthReqPass : public KV_SshTlMsgAuthReq
{
public:
    KV_SshTlMsgAuthReqPass(const KV_SshString& user, const KV_SshString& pass,
                           const KV_SshString& service);
    bool write(KV_Storage& st) const override;

private:
    KV_SshString pass_;
};

// 90: string channel type, u32 sender channel, u32 initial window, u32
// maximum packet size.
class KV_SshTlMsgChannelOpen : public KV_SshTlMsg
{
public:
    KV_SshTlMsgChannelOpen(uint32_t channel, uint32_t window, uint32_t max_packet,
                           const KV_SshString& channel_type);
    uint8_t type() const override { return 90; }
    bool write(KV_Storage& st) const override;

private:
    uint32_t channel_;
    uint32_t window_;
    uint32_t max_packet_;
    KV_SshString channel_type_;
};

// 93: u32 recipient channel, u32 bytes to add.
class KV_SshTlMsgChannelWndAdjust : public KV_SshTlMsg
{
public:
    KV_SshTlMsgChannelWndAdjust(uint32_t channel, uint32_t bytes);
    uint8_t type() const override { return 93; }
    bool write(KV_Storage& st) const override;

private:
    uint32_t channel_;
    uint32_t bytes_;
};

// 94: u32 recipient channel, string data; the sender fills data().
class KV_SshTlMsgChannelData : public KV_SshTlMsg
{
public:
    explicit KV_SshTlMsgChannelData(uint32_t channel);
    uint8_t type() const override { return 94; }
    bool write(KV_Storage& st) const override;
    KV_SshString& data() { return data_; }

private:
    uint32_t channel_;
    KV_SshString data_;
};

// 98: u32 recipient channel, string request type, boolean want reply
// (always FALSE: no reply is awaited).
class KV_SshTlMsgChannelReq : public KV_SshTlMsg
{
public:
    KV_SshTlMsgChannelReq(uint32_t channel, const KV_SshString& request);
    uint8_t type() const override { return 98; }
    bool write(KV_Storage& st) const override;

private:
    uint32_t channel_;
    KV_SshString request_;
};

// 98, request "subsystem": the request's fields, string subsystem name.
class KV_SshTlMsgChannelReqSubsys : public KV_SshTlMsgChannelReq
{
public:
    KV_SshTlMsgChannelReqSubsys(uint32_t channel, const KV_SshString& name);
    bool write(KV_Storage& st) const override;

private:
    KV_SshString name_;
};
