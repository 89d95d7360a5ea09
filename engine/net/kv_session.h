// A network session: one TCP connection run as a thread of its own.
//
// The session owns the connected socket, an input stream (received bytes a
// hook has not consumed yet) and an output stream (bytes waiting to go out).
// Its loop moves bytes between the socket and the streams and hands the
// streams to the virtual hooks of the protocol sessions (line commands, FTP
// control and data, HTTP, SSH). A session is created and started by its
// connection (KV_CommBase), which is its parent in the stop protocol and
// deletes it; it tells the connection when it starts, ends and fails, and
// sends its log lines and state through the connection's informer.
//
// Each pass of the loop: a pending TLS request, the global allowances, one
// wait on the socket (and on the session's waker, so that a stop, a resume or
// new output from another thread ends the wait at once), the receive, the
// hooks, the send, a requested shutdown of the sending side, and the speeds.
// The wait is 20 ms while the last ten passes were busy, up to 200 ms while
// they were idle; while data flows in a stream of full buffers, most passes
// skip it and go straight to the receive or send. The first pass never
// waits: a new session runs its hooks' start and first output at once. A
// pass whose hooks made output sends it at once, without waiting for the
// socket to report itself writable.
//
// The network moves in large blocks whatever the configured buffer sizes:
// a receive takes up to NET_BLOCK bytes (the block starts at the configured
// size and grows while receives fill it, so a quiet control connection keeps
// a small one), and a hook makes output up to out_block bytes at a time. The
// configured sizes keep their meaning as the least socket buffer sizes.
//
// The class also holds the process-wide bandwidth limits that every session
// obeys, one for receiving and one for sending, with a meter of all sessions
// per direction (see KV_SpeedMeter).
//
// Threads
// - The loop and every hook run on the session's thread. Hooks that get the
//   streams (process_in, process_out, process_idle) and the proxy handshake
//   run with sess_lock held; init, cleanup, postcleanup and init_secured run
//   without it.
// - Other threads call send(), req_shutdown(), stop() and set_paused().
//   sess_lock is not re-entrant: a hook appends to the `out` stream it is
//   given and never calls send() on its own session.
// - The global limits, meters and report are guarded by lock_in and
//   lock_out; where both are needed lock_in is taken first.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "datasources/kv_sessopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_inetaddr.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_thread.h"
#include "foundation/kv_time.h"
#include "net/kv_socket.h"
#include "net/kv_speedmeter.h"
#include "net/kv_sslsess.h"
#include "requests/kv_sessinfo.h"

class KV_CommBase;
class KV_Informer;
class KV_Proxy;

class KV_Session : public KV_Thread
{
public:
    // The largest block one receive takes and the least block a hook makes
    // output in. Bounds the memory of a session: one receive block, one
    // output block and what its streams hold.
    static constexpr uint32_t NET_BLOCK = 256 * 1024;

    // Takes over sock's descriptor (sock is left without one) and copies the
    // peer address. With a connection: its informer, a copy of its session
    // options and the buffer sizes from them (each at least 2). Not started;
    // not self-deleting: the connection deletes it.
    KV_Session(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr);
    // Unregisters from the connection's stop list, destroys a pending proxy
    // handshake, closes the socket. The thread must have ended.
    ~KV_Session() override;

    // Appends to the output stream under sess_lock; the bytes go out in later
    // passes, in order. Any thread except inside this session's hooks. False
    // when memory cannot be had (nothing appended). wake false leaves the
    // loop asleep: for a caller that wakes it itself once the rest of its
    // message can be made.
    bool send(const uint8_t* data, uint32_t len, bool wake = true);
    // Logs "Shutdown requested" and asks the loop to shut down the sending
    // side once every byte of the output stream has gone out. Any thread.
    void req_shutdown();
    bool shutdown_req() const { return shutdown_flag.load(); }
    // Ends the loop's current wait, so that its hooks run now: for work that
    // another thread hands to a hook (a new request whose bytes the hook
    // makes) rather than to send(). Any thread.
    void wake() { waker.wake(); }

    KV_CommBase* comm() const { return comm_; }
    const KV_InetAddr& addr() const { return addr_; }
    // Installs the proxy handshake (owned from now on; null for none). Called
    // by the connection before it starts the session.
    void set_proxy(KV_Proxy* p);

    // What kind of session this is (reports, logs). This class: plain.
    virtual KV_SESS_TYPE type() const;

    // For the TLS handshake, which runs on the session's thread inside a
    // pass: waits up to timeout_ms for the socket to become readable (rd)
    // or writable (wr); a stop, a resume or new output ends the wait early.
    // False when the wait failed or the socket reported an error.
    bool wait_sock(bool rd, bool wr, uint32_t timeout_ms);

    // The global limits in bytes per second. A limit of at most 0.0001 means
    // no limit; both start at 0. Setting a limit restarts that direction's
    // global meter. A limit is a finite number of at least 0: NaN,
    // infinities and negative values are ignored. Any thread.
    static void set_bwt_speed_in(double bytes_per_sec);
    static void set_bwt_speed_out(double bytes_per_sec);
    static double bwt_speed_in();
    static double bwt_speed_out();

protected:
    // The session loop; its result is the session's success.
    bool run() override;

    // Starts TLS on the socket (client or server role as the connection
    // says). Protocol sessions that override it call this one. False without
    // a connection or without a TLS context: a session is never marked
    // secure without a TLS session behind it.
    virtual bool init_secured();
    // Consumes bytes from the front of in and may append to out. Runs in
    // every pass in which in holds bytes. This class: true.
    virtual bool process_in(KV_Stream& in, KV_Stream& out);
    // Runs in every pass in which the socket is writable, except while a TLS
    // request waits for the next pass. This class: sends from the front of
    // out, within the send limit (the send step).
    virtual bool process_out(KV_Stream& out);
    // Runs in every pass in which the socket was not readable: keep-alives,
    // end-of-data checks. This class: true.
    virtual bool process_idle(KV_Stream& out);
    // Once, before the first processing pass (after a proxy handshake).
    virtual bool init();
    // After the loop, with its result, before the socket is closed.
    virtual bool cleanup(bool ok);
    // After the socket is closed and the connection was told.
    virtual bool postcleanup(bool ok);

    // Wakes the loop so that it sees the stop (or the resume) at once.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;
    void pause_done(bool paused) override;

    // The socket waits the loop has run so far (the session's thread).
    uint32_t waits() const { return waits_; }

    // Allocates buff_out (out_block bytes) on first use; true when it exists
    // and holds more than one byte.
    bool check_buff();

    // A line of the session log (nothing without an informer).
    void log(KV_SESS_LOG kind, const KV_String& text, bool err);

    // Guards in_stream and out_stream while a hook runs and while another
    // thread appends output.
    KV_Lock sess_lock;
    KV_Socket sock;
    KV_Stream in_stream{1024};
    KV_Stream out_stream{1024};
    KV_SpeedMeter meter_in;
    KV_SpeedMeter meter_out;
    bool initialized = false;
    bool secured = false;
    // Bytes this pass may receive and send; 0xFFFFFFFF without a limit.
    uint32_t allow_in = 0xFFFFFFFF;
    uint32_t allow_out = 0xFFFFFFFF;
    uint32_t buff_in_size = 4096;
    uint32_t buff_out_size = 4096;
    // The block in which hooks make output: buff_out's size, at least
    // NET_BLOCK whatever buff_out_size says.
    uint32_t out_block = NET_BLOCK;
    std::unique_ptr<uint8_t[]> buff_out;
    KV_SessInfo info;
    KV_SessOpts opts;
    KV_SSLSess ssl;
    // Bit 0: report the running state; bit 1: report the speeds. Protocol
    // sessions set it in their constructors.
    uint8_t info_mask = 0;

private:
    enum class Report { Idle, Count, Final };

    // One pass of the loop; false ends the session on a failure.
    bool pass(uint32_t& act_count, uint32_t& act_hist);
    bool receive();
    bool send_step(KV_Stream& out);
    bool shutdown_step();
    void fin_step();
    void report();
    void update_speeds();

    // limit is read under lock, when `on` says there is one.
    static uint32_t global_allow(KV_Lock& lock, const std::atomic<bool>& on, const double& limit,
                                 KV_SpeedMeter& meter);
    static void count_in(uint64_t n);
    static void count_out(uint64_t n);
    // Caller holds lock_in and lock_out.
    static void global_report(Report form);

    std::atomic<bool> shutdown_flag{false};
    std::unique_ptr<uint8_t[]> buff_in;
    // buff_in's size; grows from buff_in_size up to the larger of it and
    // NET_BLOCK while receives fill it.
    uint32_t in_block = 0;
    // The last receive filled buff_in (session's thread only).
    bool rd_full = false;
    KV_CommBase* const comm_;
    KV_Informer* informer = nullptr;
    std::unique_ptr<KV_Proxy> proxy;
    KV_InetAddr addr_;
    KV_SessInfo info_last;
    KV_Waker waker;
    // Touched by the session's thread only: the last receive filled its
    // buffer, the last send went out whole; a pass that wants only what is
    // hot skips the wait.
    bool hot_rd = false;
    bool hot_wr = false;
    // Passes since the last wait.
    uint32_t hot_passes = 0;
    uint32_t waits_ = 0;

    static KV_Lock lock_in;
    static KV_Lock lock_out;
    static double bwt_in;
    static double bwt_out;
    // Whether bwt_in / bwt_out is a limit (above 0.0001); written under
    // the direction's lock, read without it.
    static std::atomic<bool> limit_in_on;
    static std::atomic<bool> limit_out_on;
    static KV_SpeedMeter gmeter_in;
    static KV_SpeedMeter gmeter_out;
    static uint32_t sess_cnt;
    static KV_SessInfo ginfo_last;
    static KV_TimeInt ginfo_time;
};
