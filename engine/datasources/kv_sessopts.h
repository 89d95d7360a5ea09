// Socket buffer sizes of a network session and the time a connection attempt
// may take, the common part of every protocol's options (FTP, HTTP, SSH). A
// session takes a copy of them when it is created and sizes its receive and
// send buffers from them; a connector bounds its connection attempt by the
// time-out. The time-out is not stored in the data-source file: every data
// source uses the default.
//
// Threads: a plain value; one thread at a time per object.
#pragma once

#include <cstdint>

class KV_SessOpts
{
public:
    // Both sizes 4096 bytes; connection time-out 30 s.
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

    // How long a connection attempt may take: milliseconds out, seconds in,
    // as the protocol options' time-outs; 0 waits without limit (only a stop
    // ends the attempt). A value above UINT32_MAX / 1000 seconds is ignored.
    uint32_t tmout_connect() const { return tmout_connect_ * 1000; }
    void set_tmout_connect(uint32_t seconds);

private:
    uint32_t buff_recv_ = 4096;
    uint32_t buff_send_ = 4096;
    uint32_t tmout_connect_ = 30;
};
