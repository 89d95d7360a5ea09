// Socket buffer sizes of a network session, the common part of every
// protocol's options (FTP, HTTP, SSH). A session takes a copy of them when it
// is created and sizes its receive and send buffers and the socket's
// SO_RCVBUF / SO_SNDBUF from them.
//
// Threads: a plain value; one thread at a time per object.
#pragma once

#include <cstdint>

class KV_SessOpts
{
public:
    // Both sizes 4096 bytes.
    KV_SessOpts();
    KV_SessOpts(const KV_SessOpts& other) = default;
    KV_SessOpts& operator=(const KV_SessOpts& other) = default;
    // Virtual so that the protocol options can be held through this base.
    virtual ~KV_SessOpts();

    // Bytes. Any value is stored; the session raises 0 to 2 to itself.
    uint32_t buff_recv() const { return buff_recv_; }
    void set_buff_recv(uint32_t bytes) { buff_recv_ = bytes; }
    uint32_t buff_send() const { return buff_send_; }
    void set_buff_send(uint32_t bytes) { buff_send_ = bytes; }

private:
    uint32_t buff_recv_ = 4096;
    uint32_t buff_send_ = 4096;
};
