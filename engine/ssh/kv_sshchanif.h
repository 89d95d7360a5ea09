// What the SSH transport session needs of its channels, and nothing more.
//
// The session carries channel messages (open, confirmation, data, window
// adjust, close) between the server and the channels; what a channel does
// with its bytes (SFTP framing, its manager's actions) is the channel's
// business. The concrete channel and channel table classes implement these
// two interfaces; the connection manager hands the session a filled table
// once the login succeeded (KV_SshMan::init_channels).
//
// Threads: every operation runs on the session's thread.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_SshChanIf
{
public:
    virtual ~KV_SshChanIf();

    // State 1: confirmed by the server, data may flow.
    virtual bool is_open() const = 0;
    // 0 opening, 1 open, 2 closed by the server.
    virtual void set_state(uint32_t state) = 0;
    // The server's CHANNEL_OPEN_CONFIRMATION: its channel number, send
    // window and maximum packet size.
    virtual void confirm(uint32_t remote_id, uint32_t remote_wnd, uint32_t remote_max_packet) = 0;
    virtual void remote_wnd_add(uint32_t bytes) = 0;
    virtual void local_wnd_add(uint32_t bytes) = 0;
    virtual uint32_t remote_id() const = 0;
    // The subsystem requested once the channel is confirmed; empty for none.
    virtual KV_String name() const = 0;
    virtual uint32_t local_wnd() const = 0;
    virtual uint32_t local_max_packet() const = 0;

    // Incoming channel data; need_adjust asks the session for a window
    // adjust of wnd_refill() bytes. work_size and work are the session's
    // scratch buffer.
    virtual bool data_in(const KV_Stream& data, bool& need_adjust, uint32_t work_size,
                         uint8_t* work) = 0;
    // The bytes a window adjust gives back now: what brings the window the
    // server may still fill up to the whole window the channel grants.
    virtual uint32_t wnd_refill() const = 0;
    // Lets the channel queue what it wants to send now.
    virtual bool data_out() = 0;
    // Moves at most one message's worth of queued bytes (send window,
    // remote maximum packet) into dest.
    virtual bool take_out(KV_Stream& dest) = 0;
    // The session has ended.
    virtual void end() = 0;
};

class KV_SshChanMapIf
{
public:
    virtual ~KV_SshChanMapIf();

    // The channel of a local number, or null.
    virtual KV_SshChanIf* chan(uint32_t number) = 0;
    // Removes and deletes the channel; false when the number is unknown.
    virtual bool drop(uint32_t number) = 0;
    // The local numbers, in the order channels are served.
    virtual void numbers(std::vector<uint32_t>& out) const = 0;
};
