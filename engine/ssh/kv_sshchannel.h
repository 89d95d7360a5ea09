// SSH connection-layer channels (RFC 4254) and the SFTP channel.
//
// A channel keeps its two flow-control windows and its in and out byte
// queues; the transport session moves the bytes. The client grants the
// server a window of wnd_step bytes and, once half of it is used, tops it up
// to the whole again, so that a busy download has half a window in flight
// while the adjust travels and never stalls on the window. The window bounds
// what a server can queue in the channel's input. What leaves is bounded by
// the server's window and maximum packet.
//
// The SFTP channel cuts SFTP messages out of its input: u32 length L, then
// L bytes, the first of which is the type. L comes from the peer and is
// trusted only within 1 .. max_msg; each message is read from a view bounded
// by its own L, so no kind can read into the next one, and the rest of L
// that a kind leaves unread is dropped. Outgoing messages are framed the
// same way into out.
//
// Threads: every operation runs on the session thread. The SFTP manager's
// handlers called from here take the manager's own lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "ssh/kv_sftpmsg.h"
#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshmsg.h"

class KV_SftpMan;

class KV_SshChannel : public KV_SshChanIf
{
public:
    static constexpr uint32_t wnd_step = 0x200000;
    static constexpr uint32_t max_packet = 0x8000;

    explicit KV_SshChannel(const KV_SshString& name);
    KV_SshChannel(const KV_SshChannel&) = delete;
    KV_SshChannel& operator=(const KV_SshChannel&) = delete;

    // The session has been cleaned up. Base: nothing to do.
    void end() override;
    // Incoming channel data; need_adjust as for recv(). `buf_len` and `buf`
    // are the session's send-buffer size and scratch buffer.
    bool data_in(const KV_Stream& data, bool& need_adjust, uint32_t buf_len,
                 uint8_t* buf) override = 0;
    // Fills out with what is to be sent now.
    bool data_out() override = 0;
    ~KV_SshChannel() override;

    bool is_open() const override { return state_ == 1; }
    uint32_t state() const { return state_; }
    // 0 opening, 1 open, 2 closed.
    void set_state(uint32_t state) override { state_ = state; }
    void confirm(uint32_t remote_id, uint32_t remote_wnd, uint32_t remote_max_packet) override;
    void remote_wnd_add(uint32_t n) override;
    void local_wnd_add(uint32_t n) override;
    uint32_t remote_id() const override { return remote_id_; }
    uint32_t remote_wnd() const { return remote_wnd_; }
    KV_String name() const override { return sftp_text(name_); }
    uint32_t local_wnd() const override { return local_wnd_; }
    uint32_t local_max_packet() const override { return local_max_packet_; }

    // Appends the data to in. False when the channel is not open or the data
    // are more than the window the server was given. need_adjust: half of
    // wnd_step or less of that window is left; the session then sends a
    // window adjust of wnd_refill() and calls local_wnd_add with it.
    bool recv(const KV_Stream& data, bool& need_adjust);
    uint32_t wnd_refill() const override
    {
        return local_wnd_ < wnd_step ? wnd_step - local_wnd_ : 0;
    }
    // Moves as much of out into dest as the server's window and maximum
    // packet allow. True when there was nothing to move.
    bool take_out(KV_Stream& dest) override;

    KV_Stream& in() { return in_; }
    KV_Stream& out() { return out_; }

private:
    uint32_t state_ = 0;
    uint32_t remote_id_ = 0;
    uint32_t remote_wnd_ = 0;
    uint32_t local_wnd_ = wnd_step;
    uint32_t remote_max_packet_ = 0;
    uint32_t local_max_packet_ = max_packet;
    KV_SshString name_;
    KV_Stream in_;
    KV_Stream out_;
};

// The session's channels by local number. Owns them.
class KV_SshChannelMan : public KV_SshChanMapIf
{
public:
    using Map = KVTL::KV_HMapPtr<uint32_t, KV_SshChannel>;

    KV_SshChannelMan() = default;
    KV_SshChannelMan(const KV_SshChannelMan&) = delete;
    KV_SshChannelMan& operator=(const KV_SshChannelMan&) = delete;
    ~KV_SshChannelMan() override;

    KV_SshChanIf* chan(uint32_t number) override { return find(number); }
    bool drop(uint32_t number) override { return remove(number); }
    // In the map's order (bucket by bucket, each in insertion order).
    void numbers(std::vector<uint32_t>& out) const override;

    // The lowest number from 1 up that is free; 0 when none is.
    uint32_t new_id() const;
    // True: the table owns the channel. False: the caller still does (a
    // number in use is refused).
    bool add(uint32_t number, KV_SshChannel* channel);
    KV_SshChannel* find(uint32_t number) const;
    // Deletes the channel; false when the number is not in use.
    bool remove(uint32_t number);
    void clear();
    Map& map() { return map_; }

private:
    Map map_;
};

// Result of cutting one SFTP message off the front of the channel's input.
enum KV_SFTP_CUT : uint8_t {
    KV_SFTP_CUT_MORE = 0, // no whole message yet
    KV_SFTP_CUT_MSG = 1,  // one message taken
    KV_SFTP_CUT_BAD = 2,  // a length out of bounds, an unknown kind or a
                          // message that cannot be read: the stream is lost
};

class KV_SshChannelSftp : public KV_SshChannel
{
public:
    // The largest message accepted: the 256 KiB that servers send at most
    // (a READ answer, a READDIR page) plus room for the headers.
    static constexpr uint32_t max_msg = 256 * 1024 + 1024;

    // The manager is not owned; its informer (when it has one) receives the
    // log lines of the messages. A null manager drops every message.
    explicit KV_SshChannelSftp(KV_SftpMan* man);
    ~KV_SshChannelSftp() override;

    // Tells the manager that the running action ended with the session.
    void end() override;
    bool data_in(const KV_Stream& data, bool& need_adjust, uint32_t buf_len, uint8_t* buf) override;
    bool data_out() override;

    // From 5 buffered bytes on: reads L; with 4 + L bytes there, takes them
    // off `in` and makes the message of the type (VERSION, STATUS, HANDLE,
    // DATA, NAME), read from those bytes only. `msg` is set only with
    // KV_SFTP_CUT_MSG.
    static KV_SFTP_CUT cut_msg(KV_Stream& in, std::unique_ptr<KV_SftpMsg>& msg);
    // Appends the message's length and bytes to out.
    static bool frame_msg(KV_Stream& out, const KV_SftpMsg& msg);

    // Whether the message is to be logged now (only non-empty texts; the
    // bulk kinds only when their text differs from the last one logged in
    // their direction), remembering it as logged. A logged sent message
    // makes the next received one loggable again.
    bool note_log(const KV_SftpMsg& msg, bool in);

private:
    // One whole message off in: hand it to the manager, send its replies.
    bool process_msg(uint32_t buf_len, uint8_t* const buf, KV_SFTP_CUT& cut);
    bool send_msg(const KV_SftpMsg& msg);
    void log_msg(const KV_SftpMsg& msg, bool in);

    KV_String last_in_;
    KV_String last_out_;
    KV_SftpMan* man_;
};
