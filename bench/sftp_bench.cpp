// SFTP transfers through the engine (KV_SftpMan with the download and upload
// actions, aggressive reads and writes) against OpenSSH's sftp client doing
// the same with the same algorithms, both to one sshd of the run's own that
// offers only diffie-hellman-group1-sha1, ssh-rsa, aes128-cbc, hmac-sha1 and
// no compression; and the bound `openssl speed` gives for aes-128-cbc and
// HMAC-SHA1 on this machine (one encryption, one decryption and two MACs
// per byte, as both ends of the connection run here).
//
// Sizes (defaults keep a CI run short; the full figures use the values in
// brackets):
//   KV_BENCH_SFTP_MB     size of the one big file in MiB (16) [1024]
//   KV_BENCH_SFTP_FILES  number of 4 KiB files (100) [10000]
// Reported per benchmark: MB/s (or files/s) of each side, x_sftp (the
// engine's rate over sftp's: above 1 the engine is faster) and, for the big
// file, vs_openssl (the engine's rate over the bound). Needs root,
// openssh-server and openssh-client; skipped otherwise.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_ids.h"
#include "kv_benchsshd.h"
#include "kv_benchtools.h"
#include "requests/kv_fileman.h"
#include "ssh/kv_sftpacttrans.h"
#include "ssh/kv_sftpman.h"
#include "transfers/kv_translogcp.h"

namespace fs = std::filesystem;

namespace {

using kvbench::env_num;
using kvtest::sh;

using Clock = std::chrono::steady_clock;

using kvbench::BenchSshd;

const char* const kUser = BenchSshd::user;
const char* const kPass = BenchSshd::pass;

// The benchmark's sshd; a work folder in the test user's home and a local
// one.
class Server
{
public:
    Server()
    {
        if (!sshd.why().empty()) {
            why = sshd.why();
            return;
        }
        dir = sshd.dir();
        dst = sshd.addr();
        // The server's side on tmpfs as well: on the disk, the server's
        // writes would measure the disk's write-back, not the programs.
        remote = std::string("/dev/shm/kvsftpbench-") + std::to_string(::getpid());
        fs::create_directories(remote);
        sh(std::string("chown ") + kUser + " " + remote);
    }
    ~Server()
    {
        std::error_code ec;
        if (!remote.empty())
            fs::remove_all(remote, ec);
    }

    // OpenSSH's sftp running a batch file; seconds, negative on failure.
    double sftp_batch(const std::string& commands) const
    {
        std::ofstream(dir + "/batch") << commands;
        const std::string cmd = sshd.sftp_cmd() + " -oBatchMode=no -b " + dir + "/batch " +
                                BenchSshd::login() + " >/dev/null 2>&1";
        const auto t0 = Clock::now();
        const bool ok = sh(cmd);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        return ok ? s : -1;
    }

    BenchSshd sshd;
    std::string dir;
    std::string remote;
    std::string dst;
    std::string why;
};

class BenchFileMan : public KV_FileMan
{
public:
    BenchFileMan() : KV_FileMan(KV_FileManId(KV_DsId(4, "bench", kUser, "S"), 1)) {}
    ~BenchFileMan() override { terminate(); }
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_SFTP; }
    KV_Tavo* create_tavo() override { return nullptr; }
};

class QuietErr : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

// A connected SFTP manager.
struct Conn
{
    explicit Conn(const Server& s)
    {
        man.set_file_man(&fm, nullptr);
        man.set_addrs("", s.dst.c_str(), KV_ProxyOptsSsh());
        man.set_ldata(KV_SshLoginData(kUser, kPass));
    }
    bool run(KV_SftpAct& act)
    {
        man.exec(eh, act, nullptr);
        if (!act.executed())
            std::fprintf(stderr, "engine failed: %s\n", man.err_msg().data());
        return act.executed();
    }
    BenchFileMan fm;
    KV_SftpMan man;
    QuietErr eh;
};

// A sub-log that keeps the data (what a download from a server fills), or
// one over a local file (what an upload reads).
std::unique_ptr<KV_TransLogCp> make_log(const std::string& name, int64_t size,
                                        const std::string& data_file)
{
    KV_FileData fd("f", "", size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    auto log =
        std::make_unique<KV_TransLogCp>(nullptr, data_file.c_str(), fd, KV_PathDef(), KV_PathDef());
    log->set_flags_init(data_file.empty(), false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
    QuietErr eh;
    if (!log->set_name(name.c_str()) || !log->create(eh))
        return nullptr;
    return log;
}

double openssl_rate(const std::string& args)
{
    const std::string cmd =
        "openssl speed -mr -elapsed -seconds 2 -bytes 16384 " + args + " 2>/dev/null";
    double rate = 0;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, p)) {
            if (line[0] != '+' || line[1] != 'F')
                continue;
            if (const char* last = std::strrchr(line, ':'))
                rate = std::strtod(last + 1, nullptr);
        }
        pclose(p);
    }
    return rate;
}

double openssl_bound()
{
    static const double bound = [] {
        const double enc = openssl_rate("-evp aes-128-cbc");
        const double dec = openssl_rate("-decrypt -evp aes-128-cbc");
        const double mac = openssl_rate("-hmac sha1");
        return enc > 0 && dec > 0 && mac > 0 ? 1 / (1 / enc + 1 / dec + 2 / mac) : 0;
    }();
    return bound;
}

void write_file(const std::string& path, size_t n, unsigned seed)
{
    std::ofstream f(path, std::ios::binary);
    std::vector<char> buf(1 << 20);
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    for (size_t done = 0; done < n;) {
        const size_t k = std::min(buf.size(), n - done);
        f.write(buf.data(), static_cast<std::streamsize>(k));
        done += k;
    }
}

// The big file each way: state.range(0) 0 download, 1 upload.
void BM_SftpBigFile(benchmark::State& state)
{
    const bool up = state.range(0) == 1;
    state.SetLabel(up ? "upload" : "download");
    Server s;
    if (!s.why.empty()) {
        state.SkipWithError(s.why.c_str());
        return;
    }
    const size_t size = static_cast<size_t>(env_num("KV_BENCH_SFTP_MB", 16)) << 20;
    const std::string rfile = s.remote + "/big";
    const std::string lfile = s.dir + "/big";
    if (up)
        write_file(lfile, size, 1);
    else {
        write_file(rfile, size, 1);
        sh(std::string("chown ") + kUser + " " + rfile);
    }
    double engine_s = 0, sftp_s = 0;
    bool failed = false;
    for (auto _ : state) {
        Conn c(s);
        KV_SftpActConnMan connect;
        failed |= !c.run(connect);
        const std::string logname = s.dir + "/log";
        auto log = make_log(logname, static_cast<int64_t>(size), up ? lfile : "");
        if (!log) {
            failed = true;
            break;
        }
        const auto t0 = Clock::now();
        if (up) {
            KV_SftpActPut put(lfile.c_str(), rfile.c_str(), log.get(), 0);
            failed |= !c.run(put);
        } else {
            KV_SftpActGet get(rfile.c_str(), "", int64_t{0}, log.get());
            failed |= !c.run(get);
        }
        const double e = std::chrono::duration<double>(Clock::now() - t0).count();
        log.reset();
        std::remove(logname.c_str());
        const double t = s.sftp_batch(up ? "put " + lfile + " " + rfile + ".sftp\n"
                                         : "get " + rfile + " " + lfile + ".sftp\n");
        if (t < 0)
            std::fprintf(stderr, "sftp failed\n");
        failed |= t < 0;
        engine_s += e;
        sftp_s += t;
        state.SetIterationTime(e);
    }
    if (failed) {
        state.SkipWithError("a transfer failed");
        return;
    }
    const double bytes = double(size) * double(state.iterations());
    const double bound = openssl_bound();
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MiB"] = double(size >> 20);
    state.counters["engine_MBps"] = bytes / engine_s / 1e6;
    state.counters["sftp_MBps"] = bytes / sftp_s / 1e6;
    state.counters["x_sftp"] = sftp_s / engine_s;
    state.counters["openssl_MBps"] = bound / 1e6;
    if (bound > 0)
        state.counters["vs_openssl"] = bytes / engine_s / bound;
}

// Many 4 KiB files each way on one connection: state.range(0) 0 download,
// 1 upload. sftp runs "get -r" / "put -r" of the folder.
void BM_SftpManyFiles(benchmark::State& state)
{
    const bool up = state.range(0) == 1;
    state.SetLabel(up ? "upload" : "download");
    Server s;
    if (!s.why.empty()) {
        state.SkipWithError(s.why.c_str());
        return;
    }
    const long n = env_num("KV_BENCH_SFTP_FILES", 100);
    const std::string rdir = s.remote + "/many";
    const std::string ldir = s.dir + "/many";
    fs::create_directories(rdir);
    fs::create_directories(ldir);
    fs::create_directories(ldir + "-out");
    const std::string& src = up ? ldir : rdir;
    for (long i = 0; i < n; ++i)
        write_file(src + "/f" + std::to_string(i), 4096, static_cast<unsigned>(i));
    sh(std::string("chown -R ") + kUser + " " + s.remote);
    double engine_s = 0, sftp_s = 0;
    bool failed = false;
    for (auto _ : state) {
        Conn c(s);
        KV_SftpActConnMan connect;
        failed |= !c.run(connect);
        const auto t0 = Clock::now();
        for (long i = 0; i < n && !failed; ++i) {
            const std::string name = "/f" + std::to_string(i);
            const std::string logname = s.dir + "/log";
            auto log = make_log(logname, 4096, up ? ldir + name : "");
            if (!log) {
                failed = true;
                break;
            }
            if (up) {
                KV_SftpActPut put((ldir + name).c_str(), (rdir + name + ".up").c_str(), log.get(),
                                  0);
                failed |= !c.run(put);
            } else {
                KV_SftpActGet get((rdir + name).c_str(), "", int64_t{0}, log.get());
                failed |= !c.run(get);
            }
            log.reset();
            std::remove(logname.c_str());
        }
        const double e = std::chrono::duration<double>(Clock::now() - t0).count();
        const double t = s.sftp_batch(up ? "put -r " + ldir + " " + s.remote + "/many-sftp\n"
                                         : "get -r " + rdir + " " + ldir + "-out\n");
        failed |= t < 0;
        engine_s += e;
        sftp_s += t;
        state.SetIterationTime(e);
    }
    if (failed) {
        state.SkipWithError("a transfer failed");
        return;
    }
    const double files = double(n) * double(state.iterations());
    state.counters["files"] = double(n);
    state.counters["engine_files/s"] = files / engine_s;
    state.counters["sftp_files/s"] = files / sftp_s;
    state.counters["x_sftp"] = sftp_s / engine_s;
}

BENCHMARK(BM_SftpBigFile)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SftpManyFiles)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
