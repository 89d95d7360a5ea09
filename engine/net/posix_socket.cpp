// The engine's one place of socket system calls (POSIX, Linux).
#include "net/kv_socket.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A peer that resets a connection must show as a failed call, not kill the
// process: the TLS layer writes through plain write() on the descriptor,
// where MSG_NOSIGNAL cannot be given. A handler the program installed is kept.
void ignore_sigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction old = {};
        if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL &&
            !(old.sa_flags & SA_SIGINFO)) {
            struct sigaction ign = {};
            ign.sa_handler = SIG_IGN;
            sigemptyset(&ign.sa_mask);
            sigaction(SIGPIPE, &ign, nullptr);
        }
    });
}

// Requests and their bodies go out in pieces (a head, then the data; a body
// whose last byte is a write of its own): with Nagle's algorithm each such
// tail waits for the peer's delayed acknowledgment, some 40 ms a request.
// Bulk data still fills whole segments. A failure only costs speed.
void no_delay(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

} // namespace

KV_Waker::KV_Waker() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

KV_Waker::~KV_Waker()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void KV_Waker::wake()
{
    if (fd_ < 0)
        return;
    const uint64_t one = 1;
    // A full counter (EAGAIN) is still readable: the wake is not lost.
    ssize_t r = ::write(fd_, &one, sizeof(one));
    (void)r;
}

void KV_Waker::clear()
{
    if (fd_ < 0)
        return;
    uint64_t count;
    ssize_t r = ::read(fd_, &count, sizeof(count));
    (void)r;
}

KV_Socket::~KV_Socket()
{
    close();
}

void KV_Socket::take(KV_Socket& other)
{
    if (&other == this)
        return;
    close();
    fd_ = other.fd_;
    shut_ = other.shut_;
    err_ = 0;
    other.fd_ = INVALID;
    other.shut_ = 0;
}

bool KV_Socket::fail()
{
    err_ = errno;
    return false;
}

bool KV_Socket::would_block() const
{
    return err_ == EAGAIN || err_ == EWOULDBLOCK;
}

bool KV_Socket::create(int family, int type, int protocol)
{
    ignore_sigpipe();
    close();
    fd_ = ::socket(family, type | SOCK_CLOEXEC, protocol);
    shut_ = 0;
    if (!valid())
        return fail();
    if (type == SOCK_STREAM && (family == AF_INET || family == AF_INET6))
        no_delay(fd_);
    return true;
}

bool KV_Socket::set_nonblocking()
{
    if (!valid())
        return false;
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail();
    return true;
}

bool KV_Socket::bind(const KV_InetAddr& addr)
{
    return valid() && (::bind(fd_, addr, addr.size()) == 0 || fail());
}

bool KV_Socket::connect(const KV_InetAddr& addr)
{
    return valid() && (::connect(fd_, addr, addr.size()) == 0 || fail());
}

bool KV_Socket::listen()
{
    // The system caps the backlog at its own maximum (somaxconn).
    return valid() && (::listen(fd_, INT_MAX) == 0 || fail());
}

bool KV_Socket::accept(KV_Socket& out, KV_InetAddr& peer)
{
    out.close();
    if (!valid())
        return false;
    sockaddr_storage sa{};
    socklen_t len = sizeof(sa);
    const int fd =
        ::accept4(fd_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        fail();
        return true;
    }
    out.fd_ = fd;
    out.shut_ = 0;
    no_delay(fd);
    peer.set_sockaddr(reinterpret_cast<const sockaddr*>(&sa), len);
    return true;
}

bool KV_Socket::local_name(KV_InetAddr& addr)
{
    if (!valid())
        return false;
    sockaddr_storage sa{};
    socklen_t len = sizeof(sa);
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return fail();
    return addr.set_sockaddr(reinterpret_cast<const sockaddr*>(&sa), len);
}

int KV_Socket::pending_error()
{
    int e = 0;
    socklen_t len = sizeof(e);
    if (!valid())
        return EBADF;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &e, &len) != 0)
        return errno ? errno : EINVAL;
    return e;
}

bool KV_Socket::select(bool& rd, bool& wr, bool& err, uint32_t timeout_us)
{
    bool woken = false;
    return wait(rd, wr, err, (timeout_us + 999) / 1000, nullptr, woken);
}

bool KV_Socket::wait(bool& rd, bool& wr, bool& err, uint32_t timeout_ms, KV_Waker* waker,
                     bool& woken)
{
    woken = false;
    pollfd fds[2] = {};
    nfds_t n = 0;
    if (valid() && (rd || wr || err)) {
        // Readability is only watched when it is wanted: a session that may
        // not receive this pass (paused, or over its limit) would otherwise
        // be woken again and again by data it must leave alone.
        fds[n].fd = fd_;
        fds[n].events = static_cast<short>((rd ? POLLIN : 0) | (wr ? POLLOUT : 0));
        ++n;
    }
    const nfds_t sock_at = 0;
    const bool has_sock = n == 1;
    if (waker && waker->valid()) {
        fds[n].fd = waker->fd();
        fds[n].events = POLLIN;
        ++n;
    }
    const int timeout = timeout_ms > INT_MAX ? INT_MAX : static_cast<int>(timeout_ms);
    const int r = ::poll(fds, n, timeout);
    if (r < 0) {
        if (errno == EINTR) {
            rd = wr = err = false;
            return true;
        }
        return fail();
    }
    bool r_rd = false, r_wr = false, r_err = false;
    if (has_sock) {
        const short ev = fds[sock_at].revents;
        r_rd = rd && (ev & POLLIN);
        r_wr = wr && (ev & POLLOUT);
        r_err = err && (ev & (POLLERR | POLLNVAL));
        if (ev & POLLHUP) {
            if (rd)
                r_rd = true;
            else if (err)
                r_err = true;
        }
    }
    if (waker && waker->valid() && (fds[n - 1].revents & POLLIN)) {
        waker->clear();
        woken = true;
    }
    rd = r_rd;
    wr = r_wr;
    err = r_err;
    return true;
}

bool KV_Socket::send(const uint8_t* buf, uint32_t& n, int flags)
{
    const size_t want = n;
    n = 0;
    if (!valid())
        return false;
    const ssize_t r = ::send(fd_, buf, want, flags | MSG_NOSIGNAL);
    if (r < 0)
        return fail();
    n = static_cast<uint32_t>(r);
    return true;
}

bool KV_Socket::recv(uint8_t* buf, uint32_t& n, int flags)
{
    const size_t want = n;
    n = 0;
    if (!valid())
        return false;
    ssize_t r;
    do {
        r = ::recv(fd_, buf, want, flags);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return fail();
    n = static_cast<uint32_t>(r);
    return true;
}

bool KV_Socket::set_opt(int level, int name, const void* value, int len)
{
    return valid() && len >= 0 &&
           (setsockopt(fd_, level, name, value, static_cast<socklen_t>(len)) == 0 || fail());
}

bool KV_Socket::get_opt(int level, int name, void* value, int& len)
{
    if (!valid() || len < 0)
        return false;
    socklen_t l = static_cast<socklen_t>(len);
    if (getsockopt(fd_, level, name, value, &l) != 0)
        return fail();
    len = static_cast<int>(l);
    return true;
}

bool KV_Socket::ioctl(uint32_t command, void* argument)
{
    return valid() && (::ioctl(fd_, command, argument) == 0 || fail());
}

bool KV_Socket::shutdown(uint8_t dirs)
{
    dirs = static_cast<uint8_t>(dirs & 3 & ~shut_);
    if (dirs == 0)
        return true;
    if (!valid())
        return false;
    const int how = dirs == 3 ? SHUT_RDWR : dirs == 1 ? SHUT_WR : SHUT_RD;
    if (::shutdown(fd_, how) != 0)
        return fail();
    shut_ = static_cast<uint8_t>(shut_ | dirs);
    return true;
}

bool KV_Socket::close()
{
    if (!valid())
        return true;
    shutdown(3);
    // Linux releases the descriptor even when close() reports an error
    // (EINTR, EIO): retrying could close a descriptor another thread just got.
    ::close(fd_);
    fd_ = INVALID;
    shut_ = 0;
    return true;
}
