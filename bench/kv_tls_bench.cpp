// Bytes through a TLS session over loopback against OpenSSL's own client.
//
// An `openssl s_server` (its output thrown away) is the sink. The engine's
// session connects to it, starts TLS and sends the data, then closes with a
// close notification; the time runs until the session has ended, that is
// until the server answered the close after reading everything. Then
// `openssl s_client` sends the same bytes (fed through a pipe) to the same
// server; its time runs until it exits after its input ended. Both reported
// in MiB/s; x_s_client is the engine's time over s_client's (below 1: the
// engine is faster).
//
// Two suites: the default one (TLS 1.3, AES-256-GCM) and AES-128-GCM (the
// server allows only TLS_AES_128_GCM_SHA256).
//
// The amount defaults to 64 MiB so that a short run stays short; set
// KV_BENCH_TLS_MIB=1024 for the 1 GiB figures, e.g.
//   KV_BENCH_TLS_MIB=1024 kv_bench --benchmark_filter=Tls
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "kv_benchtools.h"
#include "net/kv_comm.h"
#include "net/kv_session.h"
#include "net/kv_sslctx.h"

namespace {

using kvbench::free_port;
using kvbench::port_open;

using Clock = std::chrono::steady_clock;

uint64_t bench_bytes()
{
    const char* env = std::getenv("KV_BENCH_TLS_MIB");
    const long mib = env ? std::atol(env) : 0;
    return uint64_t(mib > 0 ? mib : 64) << 20;
}

// A self-signed P-256 certificate and its key in one PEM file; the file is
// also the client's CA file.
bool make_cert(const std::string& file)
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* x = X509_new();
    bool ok = key && x;
    if (ok) {
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
        X509_gmtime_adj(X509_getm_notBefore(x), -3600);
        X509_gmtime_adj(X509_getm_notAfter(x), 86400);
        X509_set_pubkey(x, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("bench.test"), -1, -1, 0);
        X509_set_issuer_name(x, X509_get_subject_name(x));
        ok = X509_sign(x, key, EVP_sha256()) != 0;
    }
    FILE* f = ok ? std::fopen(file.c_str(), "w") : nullptr;
    ok = f && PEM_write_X509(f, x) == 1 &&
         PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (f)
        std::fclose(f);
    X509_free(x);
    EVP_PKEY_free(key);
    return ok;
}

// Runs `openssl` with args; stdout and stderr to /dev/null; stdin from the
// pipe whose writing end goes to *feed_fd when `feed` (else /dev/null).
pid_t spawn_openssl(const std::vector<std::string>& args, bool feed, int* feed_fd)
{
    int p[2] = {-1, -1};
    if (feed && ::pipe(p) != 0)
        return -1;
    std::vector<char*> argv;
    static char name[] = "openssl";
    argv.push_back(name);
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(feed ? p[0] : null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (feed) {
            ::close(p[0]);
            ::close(p[1]);
        }
        ::execvp("openssl", argv.data());
        ::_exit(127);
    }
    if (feed) {
        ::close(p[0]);
        *feed_fd = p[1];
    }
    return pid;
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// A session that sends `left` bytes of `data` (repeated) once TLS is up,
// then closes.
class SendSess : public KV_Session
{
public:
    SendSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr,
             const std::vector<uint8_t>& data, uint64_t bytes)
        : KV_Session(comm, sock, addr), data_(data), left_(bytes)
    {
    }

protected:
    bool process_idle(KV_Stream& out) override { return fill(out); }
    bool process_out(KV_Stream& out) override { return fill(out) && KV_Session::process_out(out); }

private:
    bool fill(KV_Stream& out)
    {
        if (!secured)
            return true;
        while (left_ > 0 && out.length() < (4u << 20)) {
            const uint32_t n = uint32_t(std::min<uint64_t>(left_, data_.size()));
            if (!out.append(data_.data(), n))
                return false;
            left_ -= n;
        }
        if (left_ == 0 && out.empty() && !shutdown_req())
            req_shutdown();
        return true;
    }

    const std::vector<uint8_t>& data_;
    uint64_t left_;
};

class SendConn : public KV_Connector
{
public:
    SendConn(const std::vector<uint8_t>& data, uint64_t bytes) : data_(data), bytes_(bytes)
    {
        opts_.set_buff_recv(256 * 1024);
        opts_.set_buff_send(256 * 1024);
    }
    ~SendConn() override { close_sessions(); }
    const KV_String& dst_addr() const override { return dst_; }
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override
    {
        return new SendSess(this, sock, addr, data_, bytes_);
    }
    const KV_SessOpts& sess_params() const override { return opts_; }

private:
    const std::vector<uint8_t>& data_;
    uint64_t bytes_;
    KV_SessOpts opts_;
    KV_String dst_{"bench.test"};
};

void BM_TlsSend(benchmark::State& state, bool aes128)
{
    const uint64_t bytes = bench_bytes();
    std::vector<uint8_t> data(1u << 20);
    uint32_t x = 12345;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    char tmpl[] = "/tmp/kvtlsbench.XXXXXX";
    if (!::mkdtemp(tmpl)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = tmpl;
    const std::string pem = dir + "/bench.pem";
    if (!make_cert(pem)) {
        state.SkipWithError("no certificate");
        std::filesystem::remove_all(dir);
        return;
    }
    const uint16_t port = free_port();
    std::vector<std::string> args = {"s_server", "-accept", "127.0.0.1:" + std::to_string(port),
                                     "-cert",    pem,       "-quiet"};
    if (aes128) {
        args.push_back("-ciphersuites");
        args.push_back("TLS_AES_128_GCM_SHA256");
    }
    // s_server ends a connection when its own input ends: it gets a pipe
    // that stays open until the server is stopped.
    int server_in = -1;
    const pid_t server = spawn_openssl(args, true, &server_in);
    const auto up = Clock::now() + std::chrono::seconds(10);
    while (!port_open(port) && Clock::now() < up)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    KV_SSLCtx ctx;
    KV_String err;
    if (server <= 0 || !port_open(port) || !ctx.init("", "", pem.c_str(), "", &err)) {
        state.SkipWithError("openssl s_server did not start (package openssl)");
        stop(server);
        ::close(server_in);
        std::filesystem::remove_all(dir);
        return;
    }

    double engine_s = 0, client_s = 0;
    bool failed = false;
    for (auto _ : state) {
        // The engine's session.
        {
            SendConn conn(data, bytes);
            conn.set_file_man(nullptr, &ctx);
            KV_InetAddr local;
            const auto t0 = Clock::now();
            bool ok = conn.connect(local, KV_InetAddr("127.0.0.1", KV_Port(port)), nullptr);
            if (ok) {
                conn.wait_open();
                conn.req_secure();
                ok = conn.secure_res(true);
            }
            while (ok && conn.connected())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            failed |= !ok || conn.conn_failed();
            engine_s += s;
            state.SetIterationTime(s);
        }
        // openssl s_client, fed the same bytes through a pipe.
        {
            int feed = -1;
            const auto t0 = Clock::now();
            const pid_t client =
                spawn_openssl({"s_client", "-connect", "127.0.0.1:" + std::to_string(port),
                               "-quiet", "-no_ign_eof", "-nocommands"},
                              true, &feed);
            uint64_t left = bytes;
            while (client > 0 && left > 0) {
                const size_t n = size_t(std::min<uint64_t>(left, data.size()));
                size_t done = 0;
                while (done < n) {
                    const ssize_t w = ::write(feed, data.data() + done, n - done);
                    if (w <= 0)
                        break;
                    done += size_t(w);
                }
                if (done < n) {
                    failed = true;
                    break;
                }
                left -= n;
            }
            ::close(feed);
            int status = 0;
            ::waitpid(client, &status, 0);
            client_s += std::chrono::duration<double>(Clock::now() - t0).count();
            failed |= client <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
        }
    }
    stop(server);
    ::close(server_in);
    std::filesystem::remove_all(dir);
    if (failed) {
        state.SkipWithError("a transfer failed");
        return;
    }
    const double mib = double(bytes) / (1 << 20) * double(state.iterations());
    state.counters["engine_MiB/s"] = mib / engine_s;
    state.counters["s_client_MiB/s"] = mib / client_s;
    state.counters["x_s_client"] = engine_s / client_s;
    state.SetBytesProcessed(int64_t(bytes) * int64_t(state.iterations()));
    state.SetLabel(std::to_string(bytes >> 20) + " MiB");
}

} // namespace

BENCHMARK_CAPTURE(BM_TlsSend, default_suite, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TlsSend, aes128_gcm, true)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
