// Time to an open channel: TCP connection, key exchange, password login and
// the "session" channel with its subsystem, against OpenSSH's sftp client
// connecting and quitting, both to one sshd of the run's own that offers
// only diffie-hellman-group1-sha1, ssh-rsa, aes128-cbc, hmac-sha1 and no
// compression (so both clients use the same algorithms).
//
// Each side makes KV_BENCH_SSH_CONNS connections one after the other
// (default 10 so that a short run stays short; 100 for the full figures):
//   KV_BENCH_SSH_CONNS=100 kv_bench --benchmark_filter=SshOpen
// Reported: milliseconds per connection of each, and x_sftp, the engine's
// time over sftp's (below 1: the engine is faster). The sftp client reads
// the password through SSH_ASKPASS. Needs root and openssh-server and
// openssh-client; skipped otherwise.
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>

#include "datasources/kv_manopts.h"
#include "foundation/kv_file.h"
#include "foundation/kv_ids.h"
#include "kv_benchtools.h"
#include "requests/kv_fileman.h"
#include "ssh/kv_sshact.h"
#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshman.h"
#include "ssh/kv_sshsess.h"

namespace {

using kvbench::free_port;
using kvbench::port_open;
using kvbench::sh;

using Clock = std::chrono::steady_clock;

const char* const kUser = "kvsshtest";
const char* const kPass = "kv-S3cret.pw";

// One sshd in a temporary folder, with an RSA host key made for the run.
class BenchSshd
{
public:
    BenchSshd()
    {
        char templ[] = "/tmp/kvsshbench.XXXXXX";
        if (::geteuid() != 0 || !::mkdtemp(templ)) {
            why = "needs root";
            return;
        }
        dir = templ;
        ::chmod(dir.c_str(), 0755);
        ::mkdir("/run/sshd", 0755);
        if ((!sh(std::string("id -u ") + kUser + " >/dev/null 2>&1") &&
             !sh(std::string("useradd -m -s /bin/sh ") + kUser + " >/dev/null 2>&1")) ||
            !sh(std::string("echo '") + kUser + ":" + kPass + "' | chpasswd") ||
            !sh("ssh-keygen -q -t rsa -b 2048 -N '' -f " + dir + "/rsa_key")) {
            why = "no test user or host key";
            return;
        }
        port = free_port();
        std::ofstream(dir + "/sshd_config")
            << "ListenAddress 127.0.0.1\nPort " << port << "\nHostKey " << dir
            << "/rsa_key\nPidFile " << dir
            << "/sshd.pid\nKexAlgorithms diffie-hellman-group1-sha1\nHostKeyAlgorithms "
               "ssh-rsa\nCiphers aes128-cbc\nMACs hmac-sha1\nCompression no\n"
               "PasswordAuthentication yes\nKbdInteractiveAuthentication no\nUsePAM yes\n"
               "StrictModes no\nMaxStartups 200\nAllowUsers "
            << kUser << "\nSubsystem sftp internal-sftp\n";
        std::ofstream(dir + "/askpass") << "#!/bin/sh\necho '" << kPass << "'\n";
        ::chmod((dir + "/askpass").c_str(), 0755);
        pid = ::fork();
        if (pid == 0) {
            const int out = ::open((dir + "/sshd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f",
                    (dir + "/sshd_config").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !port_open(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!port_open(port))
            why = "sshd did not start";
    }
    ~BenchSshd()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (!dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
    // The host key as the client sees it.
    bool host_key(KV_SshKey& key) const
    {
        std::ifstream f(dir + "/rsa_key.pub");
        std::string type, b64;
        f >> type >> b64;
        std::vector<unsigned char> raw(b64.size());
        const int n =
            EVP_DecodeBlock(raw.data(), reinterpret_cast<const unsigned char*>(b64.data()),
                            static_cast<int>(b64.size()));
        if (n <= 0)
            return false;
        const uint32_t len = static_cast<uint32_t>(n);
        // EVP_DecodeBlock counts the padding bytes as zeros; the blob's own
        // lengths tell where it ends, and a parse that stops there is enough.
        KV_Stream st;
        return st.append(raw.data(), len) && key.read(st);
    }

    std::string dir;
    std::string why;
    uint16_t port = 0;
    pid_t pid = -1;
};

class BenchFileMan : public KV_FileMan
{
public:
    BenchFileMan() : KV_FileMan(KV_FileManId(KV_DsId(4, "bench", kUser, "S"), 1)) {}
    ~BenchFileMan() override { terminate(); }
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_FTP; }
    KV_Tavo* create_tavo() override { return nullptr; }
};

// One channel with the "sftp" subsystem; nothing is sent over it.
class BenchChan : public KV_SshChanIf
{
public:
    bool is_open() const override { return state == 1; }
    void set_state(uint32_t s) override { state = s; }
    void confirm(uint32_t id, uint32_t, uint32_t) override { rid = id; }
    void remote_wnd_add(uint32_t) override {}
    void local_wnd_add(uint32_t) override {}
    uint32_t remote_id() const override { return rid; }
    KV_String name() const override { return "sftp"; }
    uint32_t local_wnd() const override { return 0x20000; }
    uint32_t local_max_packet() const override { return 0x6000; }
    bool data_in(const KV_Stream&, bool& adj, uint32_t, uint8_t*) override
    {
        adj = false;
        return true;
    }
    bool data_out() override { return true; }
    bool take_out(KV_Stream&) override { return true; }
    void end() override {}
    uint32_t state = 0;
    uint32_t rid = 0;
};

class BenchChanMap : public KV_SshChanMapIf
{
public:
    KV_SshChanIf* chan(uint32_t n) override { return n == 1 ? &c : nullptr; }
    bool drop(uint32_t) override { return false; }
    void numbers(std::vector<uint32_t>& out) const override { out.assign(1, 1); }
    BenchChan c;
};

class BenchMan : public KV_SshMan
{
public:
    ~BenchMan() override { close(); }
    std::unique_ptr<KV_SshChanMapIf> init_channels() override
    {
        return std::make_unique<BenchChanMap>();
    }
    KV_SSH_MAN_TYPE type_ssh() const override { return KV_SSH_MAN_SFTP; }
    const KV_SshManOpts& opts() const override { return opts_; }
    KV_SshManOpts opts_;
};

class NoAct : public KV_SshAct
{
public:
    bool run() override { return true; }
};

class QuietErr : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

uint32_t conns()
{
    const char* v = std::getenv("KV_BENCH_SSH_CONNS");
    const long n = v ? std::atol(v) : 10;
    return n > 0 ? static_cast<uint32_t>(n) : 10;
}

void BM_SshOpen(benchmark::State& state)
{
    BenchSshd sshd;
    if (!sshd.why.empty()) {
        state.SkipWithError(sshd.why.c_str());
        return;
    }
    const std::string store = sshd.dir + "/trusted-pks.bin";
    KV_File::set_path(KV_PATH_HOST_KEYS, store.c_str());
    const std::string dst = "127.0.0.1:" + std::to_string(sshd.port);
    KV_SshKey key;
    KV_SshSess::man_key().clear();
    if (!sshd.host_key(key) || !KV_SshSess::man_key().add(key, dst.c_str(), "bench")) {
        state.SkipWithError("host key not readable");
        return;
    }
    BenchFileMan fm;
    const uint32_t n = conns();
    double engine_s = 0, sftp_s = 0;
    uint32_t failed = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (uint32_t i = 0; i < n; ++i) {
            BenchMan man;
            man.set_file_man(&fm, nullptr);
            man.set_addrs("", dst.c_str(), KV_ProxyOptsSsh());
            man.set_ldata(KV_SshLoginData(kUser, kPass));
            QuietErr eh;
            NoAct act;
            man.exec(eh, act, nullptr);
            failed += !act.executed();
        }
        const double e = std::chrono::duration<double>(Clock::now() - t0).count();
        const std::string cmd =
            "echo quit | SSH_ASKPASS=" + sshd.dir + "/askpass SSH_ASKPASS_REQUIRE=force " +
            "setsid -w sftp -q -P " + std::to_string(sshd.port) +
            " -oKexAlgorithms=diffie-hellman-group1-sha1 -oHostKeyAlgorithms=ssh-rsa"
            " -oCiphers=aes128-cbc -oMACs=hmac-sha1 -oCompression=no"
            " -oStrictHostKeyChecking=no -oUserKnownHostsFile=/dev/null"
            " -oPubkeyAuthentication=no -oPreferredAuthentications=password " +
            kUser + "@127.0.0.1 >/dev/null 2>&1";
        const auto t1 = Clock::now();
        for (uint32_t i = 0; i < n; ++i)
            failed += !sh(cmd);
        const double s = std::chrono::duration<double>(Clock::now() - t1).count();
        engine_s += e;
        sftp_s += s;
        state.SetIterationTime(e);
    }
    KV_SshSess::man_key().clear();
    KV_File::set_path(KV_PATH_HOST_KEYS, "");
    if (failed) {
        state.SkipWithError("a connection failed");
        return;
    }
    const double total = double(n) * double(state.iterations());
    state.counters["conns"] = n;
    state.counters["engine_ms/conn"] = engine_s * 1000 / total;
    state.counters["sftp_ms/conn"] = sftp_s * 1000 / total;
    state.counters["x_sftp"] = engine_s / sftp_s;
}

BENCHMARK(BM_SshOpen)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
