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
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "datasources/kv_manopts.h"
#include "foundation/kv_file.h"
#include "foundation/kv_ids.h"
#include "kv_benchsshd.h"
#include "kv_benchtools.h"
#include "requests/kv_fileman.h"
#include "ssh/kv_sshact.h"
#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshman.h"

namespace {

using kvtest::sh;

using Clock = std::chrono::steady_clock;

using kvbench::BenchSshd;

const char* const kUser = BenchSshd::user;
const char* const kPass = BenchSshd::pass;

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
    uint32_t wnd_refill() const override { return 0; }
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
    if (!sshd.why().empty()) {
        state.SkipWithError(sshd.why().c_str());
        return;
    }
    const std::string dst = sshd.addr();
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
            "echo quit | " + sshd.sftp_cmd() + " " + BenchSshd::login() + " >/dev/null 2>&1";
        const auto t1 = Clock::now();
        for (uint32_t i = 0; i < n; ++i)
            failed += !sh(cmd);
        const double s = std::chrono::duration<double>(Clock::now() - t1).count();
        engine_s += e;
        sftp_s += s;
        state.SetIterationTime(e);
    }
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
