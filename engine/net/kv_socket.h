// A stream socket and the wake-up descriptor that lets another thread cut a
// socket wait short.
//
// KV_Socket is a POSIX descriptor with the operations the session and
// connection threads use. The engine switches every socket it connects or
// accepts to non-blocking mode and waits with poll() (never select(), whose
// fd_set cannot hold descriptors above 1023), so a process with thousands of
// open files still works. Sends carry MSG_NOSIGNAL and the first socket the
// library creates makes the process ignore SIGPIPE (unless the program has a
// handler of its own), so a peer that vanishes is a failed call, never a
// signal.
//
// Threads: a KV_Socket is used by one thread at a time: the connection
// thread until a session takes it over, then only the session's thread.
// KV_Waker::wake may be called from any thread.
#pragma once

#include <cstdint>

#include "foundation/kv_inetaddr.h"

// An eventfd: a descriptor that becomes readable when some thread calls
// wake() and stays so until the waiting thread clears it. Placed beside a
// socket in one poll(), it lets a stop, a resume or new output end the wait
// at once instead of after the wait's time-out.
class KV_Waker
{
public:
    // Non-blocking, closed on exec. valid() tells whether the system gave one;
    // without it waits simply run to their time-out.
    KV_Waker();
    ~KV_Waker();
    KV_Waker(const KV_Waker&) = delete;
    KV_Waker& operator=(const KV_Waker&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Any thread; never blocks.
    void wake();
    // The waiting thread: makes the descriptor unreadable again.
    void clear();

private:
    int fd_;
};

class KV_Socket
{
public:
    static constexpr int INVALID = -1;

    // No descriptor, nothing shut.
    KV_Socket() = default;
    // close().
    virtual ~KV_Socket();
    KV_Socket(const KV_Socket&) = delete;
    KV_Socket& operator=(const KV_Socket&) = delete;

    bool valid() const { return fd_ != INVALID; }
    int handle() const { return fd_; }
    // Moves the descriptor and the shut bits from other, which is left
    // without a descriptor; a descriptor this socket held is closed first.
    void take(KV_Socket& other);

    // socket(); closed on exec. The engine asks for AF_INET, SOCK_STREAM, 0.
    bool create(int family, int type, int protocol);
    bool set_nonblocking();
    bool bind(const KV_InetAddr& addr);
    // On a non-blocking socket this is normally false with last_err()
    // EINPROGRESS: the connection is pending (see pending_error).
    bool connect(const KV_InetAddr& addr);
    bool listen();
    // The accepted connection goes into out (non-blocking, or without a
    // descriptor on failure) and its remote address into peer. The result is
    // whether this socket is still valid: the caller checks out.valid().
    bool accept(KV_Socket& out, KV_InetAddr& peer);
    bool local_name(KV_InetAddr& addr);
    // SO_ERROR: 0 once a pending connect has succeeded, else its errno (also
    // when the option cannot be read).
    int pending_error();

    // Waits up to timeout_us microseconds for what is asked: rd readable, wr
    // writable, err an error condition. Each flag comes back true only when
    // it was asked for and came true. False, with the flags unchanged, when
    // the wait itself failed. A peer that hung up both directions counts as
    // readable when rd is asked (the receive then tells), else as an error.
    bool select(bool& rd, bool& wr, bool& err, uint32_t timeout_us);
    // The same, in milliseconds, ending early when waker (may be null) is
    // woken; woken then comes back true and the waker is cleared.
    bool wait(bool& rd, bool& wr, bool& err, uint32_t timeout_ms, KV_Waker* waker, bool& woken);

    // n in: bytes offered or room; n out: bytes moved (0 on failure). A
    // successful receive of 0 bytes means the peer closed its side. A failure
    // with would_block() true is no error: try again after a wait.
    bool send(const uint8_t* buf, uint32_t& n, int flags);
    bool recv(uint8_t* buf, uint32_t& n, int flags);
    bool set_opt(int level, int name, const void* value, int len);
    bool get_opt(int level, int name, void* value, int& len);
    bool ioctl(uint32_t command, void* argument);

    // Whether any of the given direction bits (1 sending, 2 receiving) is
    // already shut.
    bool is_shut(uint8_t dirs) const { return (shut_ & dirs) != 0; }
    // Shuts down the directions not yet shut; true when none is left to do.
    bool shutdown(uint8_t dirs);
    // Shuts down both directions where that still applies and always
    // releases the descriptor, whether or not the shutdown worked (a
    // listening socket or a reset connection cannot be shut down, and must
    // not leak). True when the socket is without a descriptor afterwards.
    bool close();

    // errno of the last failed call on this socket.
    int last_err() const { return err_; }
    // The last call failed only because it would have blocked.
    bool would_block() const;

private:
    bool fail();

    int fd_ = INVALID;
    uint8_t shut_ = 0;
    int err_ = 0;
};
