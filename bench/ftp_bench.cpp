// FTP transfers through the engine against lftp and curl, on one vsftpd on
// loopback and the same data in the same run.
//
// Each iteration times the peer programs and then the same transfer as one
// copy request of the engine (FTP data source, local disk and transfer
// manager made afresh, so that logging in is part of every figure, as it is
// for the programs). The manual time is the engine's; x_lftp and x_curl are
// the peer's time over the engine's (1.0: as fast, higher is better);
// cpu_s_GiB is the engine's process CPU seconds per GiB moved, lftp_cpu_GiB
// lftp's.
//
// - Get and Put: one large file, one stream; Get also in 4 fragments
//   against lftp pget -n 4 and four ranged curl runs at once.
// - TreeGet and TreePut: a tree of 4 KiB files against lftp mirror and
//   mirror -R with the same number of connections (4).
// - GetTls and PutTls: the large file over explicit FTPS (control and data
//   protected), one stream, against lftp and curl with FTPS forced.
//
// Needs vsftpd, lftp and curl, and root (vsftpd drops to the "ftp" user).
// Sizes (environment): KV_FTPBENCH_BIG_MIB (default 64; 1024 for the 1 GiB
// figures), KV_FTPBENCH_FILES (default 1000; 10000 for the full tree).
// KV_FTPBENCH_BUFF_KIB sets the FTP connections' session buffer sizes (the
// block each data read and write moves); unset, the options' default.
#include <benchmark/benchmark.h>

#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "datasources/kv_filemanparamsftp.h"
#include "foundation/kv_file.h"
#include "ftp/kv_filemanftp.h"
#include "ftp/kv_ftpman.h"
#include "kv_benchtools.h"
#include "local/kv_filemanstd.h"
#include "net/kv_sslctx.h"
#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"
#include "support/kv_vsftpd.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filetransman.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using kvbench::env_num;

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double cpu_seconds(int who)
{
    rusage ru{};
    ::getrusage(who, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void chown_ftp(const std::string& path)
{
    if (const passwd* pw = ::getpwnam("ftp"))
        (void)::chown(path.c_str(), pw->pw_uid, pw->pw_gid);
}

void fresh(const std::string& path, bool ftp_owned)
{
    std::error_code ec;
    fs::remove_all(path, ec);
    fs::create_directories(path);
    if (ftp_owned)
        chown_ftp(path);
}

// vsftpd over an anonymous root with a writable "pub", and the data: a
// large random file and a tree of 4 KiB files, on the server and locally.
struct Bench
{
    kvtest::TempDir tmp{"kvftpbench"};
    std::string root = tmp.path();
    uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> proc;
    uint64_t big = 0;
    uint64_t files = 0;
    std::string error;
    // FTPS: the server's certificate, signed by a CA of the run's own that
    // the engine trusts.
    bool tls = false;
    KV_SSLCtx ctx;

    Bench()
    {
        if (!kvtest::vsftpd_usable()) {
            error = "needs root and vsftpd";
            return;
        }
        if (!tmp.ok()) {
            error = "no temporary folder";
            return;
        }
        big = env_num("KV_FTPBENCH_BIG_MIB", 64) << 20;
        files = env_num("KV_FTPBENCH_FILES", 1000);
        fresh(srv(), false);
        fresh(srv() + "/pub", true);
        fresh(root + "/local", false);
        fresh(root + "/tmp", false);
        std::mt19937_64 rng(42);
        std::vector<uint64_t> buf(1 << 17);
        for (const std::string& path : {srv() + "/pub/big.bin", root + "/local/big.bin"}) {
            std::ofstream out(path, std::ios::binary);
            for (uint64_t left = big; left > 0;) {
                for (auto& w : buf)
                    w = rng();
                const uint64_t n = std::min<uint64_t>(left, buf.size() * 8);
                out.write(reinterpret_cast<const char*>(buf.data()),
                          static_cast<std::streamsize>(n));
                left -= n;
            }
        }
        const std::string block(4096, 'x');
        for (const std::string& base : {srv() + "/pub/tree", root + "/local/tree"}) {
            for (uint64_t i = 0; i < files; ++i) {
                const std::string d = base + "/d" + std::to_string(i / 100);
                if (i % 100 == 0)
                    fs::create_directories(d);
                std::ofstream(d + "/f" + std::to_string(i % 100), std::ios::binary) << block;
            }
        }
        const kvtest::CertKey ca =
            kvtest::make_cert(tmp, "ca", {"kvftpbench CA", "", -3600, 86400, true});
        const kvtest::CertKey cert =
            kvtest::make_cert(tmp, "server", {"127.0.0.1", "IP:127.0.0.1"}, &ca);
        tls = !cert.cert_file.empty() && ctx.init("", "", ca.cert_file.c_str(), "", nullptr) &&
              KV_File::set_path(KV_PATH_SRV_CERTS, (root + "/trusted-certs.bin").c_str());
        KV_FtpMan::set_trexpl(false);
        proc = kvtest::start_vsftpd(
            root, srv(), port,
            "max_clients=200\n" +
                (tls ? "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=NO\n"
                       "force_anon_data_ssl=NO\nrequire_ssl_reuse=NO\nssl_ciphers=HIGH\n"
                       "rsa_cert_file=" +
                           cert.cert_file + "\nrsa_private_key_file=" + cert.key_file + "\n"
                     : std::string()));
        if (!proc || !proc->wait_port(port))
            error = "vsftpd did not start: " + (proc ? proc->log() : std::string());
    }
    std::string srv() const { return root + "/srv"; }
    std::string url() const { return "ftp://127.0.0.1:" + std::to_string(port); }
    std::string lftp(const std::string& cmds, bool secure = false) const
    {
        return "lftp -c 'set cmd:fail-exit yes; set net:max-retries 1; set ftp:passive-mode on; "
               "set xfer:clobber on; " +
               std::string(secure ? "set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                                    "set ssl:verify-certificate no; "
                                  : "set ftp:ssl-allow false; ") +
               "open -u anonymous,x " + url() + "; " + cmds + "' >/dev/null 2>&1";
    }
};

Bench& bench()
{
    static Bench b;
    return b;
}

// One engine copy request; seconds, negative on failure. `workers` FTP
// connections; `frags` splits a download into that many fragments (1: one
// stream).
double engine_copy(bool down, const std::string& name, uint32_t workers, uint32_t frags,
                   bool secure)
{
    Bench& b = bench();
    fresh(b.root + "/tmp", false);
    if (!KV_File::set_path(KV_PATH_TMP, (b.root + "/tmp").c_str()))
        return -1;
    KV_FileManParamsStd lp;
    lp.set_name("Local");
    lp.opts_std().set_ntavos(workers);
    lp.opts_std().set_recycle(false);
    KV_FileManStd local(KV_FileManId(KV_DsId(1, "Local", "", ""), 1));
    if (!local.init(&lp) || !local.start())
        return -1;
    KV_FileManParamsFtp fp;
    fp.set_name("Ftp");
    fp.set_dst_addr(("127.0.0.1:" + std::to_string(b.port)).c_str());
    fp.set_ldata(KV_FtpLoginData("anonymous", "x", ""));
    fp.set_security(secure ? KV_FTP_SECURE_EXPLICIT : KV_FTP_SECURE_NONE);
    fp.opts_ftp().set_ntavos(workers);
    fp.opts_ftp().set_ntavos_conn(0);
    fp.opts_ftp().ftp().set_conn_mode(KV_FTP_CONN_PASSIVE);
    if (const uint64_t kb = env_num("KV_FTPBENCH_BUFF_KIB", 0)) {
        fp.opts_ftp().ftp().set_buff_recv(static_cast<uint32_t>(kb * 1024));
        fp.opts_ftp().ftp().set_buff_send(static_cast<uint32_t>(kb * 1024));
    }
    // Fragments of exactly a quarter (or the whole file for one stream).
    fp.opts_ftp().set_min_frag_size(
        frags <= 1 ? 0 : static_cast<uint32_t>((b.big / frags + 1023) / 1024));
    auto ftp = std::make_unique<KV_FileManFtp>(
        KV_FileManId(KV_DsId(2, "Ftp", "anonymous", "127.0.0.1"), 1));
    ftp->set_ssl_ctx(&b.ctx);
    if (!ftp->init(&fp) || !ftp->start())
        return -1;
    KV_FileTransMan tm;
    KV_FileTransManOpts o;
    o.set_auto_rm_req(0);
    o.set_auto_rm_req_st(0);
    tm.set_opts(o);
    if (!tm.init() || !tm.start())
        return -1;
    KV_PathDef ldir;
    lp.opts().man_path().split_path((b.root + "/local").c_str(), ldir, true);
    ldir.prepend("Local");
    KV_PathDef rdir;
    fp.opts().man_path().split_path("/pub", rdir, true);
    rdir.prepend("Ftp");
    KVTL::KV_ListVal<KV_String> names;
    names.add(name.c_str());
    const KVTL::KV_ListVal<KV_String> none;
    KV_FileReqTransParamsCp p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    auto* r = down ? new KV_FileReqTransCp(ftp.get(), &local, rdir, ldir, names, none, p)
                   : new KV_FileReqTransCp(&local, ftp.get(), ldir, rdir, names, none, p);
    const auto t = Clock::now();
    if (!tm.add_req(r))
        return -1;
    double result = -1;
    for (;;) {
        const KV_REQ_STAT st = r->status();
        if (st == KV_REQ_STAT_COMPLETED) {
            result = seconds_since(t);
            break;
        }
        if (st == KV_REQ_STAT_ERROR || st == KV_REQ_STAT_CANCELLED || seconds_since(t) > 3600)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The request holds the managers: it goes with the transfer manager
    // before them.
    tm.terminate();
    return result;
}

// A shell command; seconds, negative on failure.
double timed(const std::string& cmd)
{
    const auto t = Clock::now();
    if (std::system(cmd.c_str()) != 0)
        return -1;
    return seconds_since(t);
}

// Clears what a run leaves: the download target or the uploaded copy.
void clear_target(bool down, const std::string& name)
{
    Bench& b = bench();
    std::error_code ec;
    if (down) {
        fs::remove_all(b.root + "/dl", ec);
        fs::create_directories(b.root + "/dl");
        fs::remove_all(b.root + "/local/" + name + ".dl", ec);
    } else {
        fs::remove_all(b.srv() + "/pub/up", ec);
        fs::create_directories(b.srv() + "/pub/up");
        chown_ftp(b.srv() + "/pub/up");
    }
}

struct Peer
{
    const char* name;
    std::string cmd;
};

// Times each peer and the engine on the same transfer. Downloads by the
// engine replace the local source of the uploads: they go to a moved
// folder and are put back.
void run(benchmark::State& state, bool down, const std::string& name, uint64_t bytes,
         uint32_t workers, uint32_t frags, const std::vector<Peer>& peers, bool secure = false)
{
    Bench& b = bench();
    if (!b.error.empty() || (secure && !b.tls)) {
        state.SkipWithError(b.error.empty() ? "no certificate for FTPS" : b.error.c_str());
        return;
    }
    std::vector<double> peer_total(peers.size(), 0);
    double lftp_cpu = 0;
    double eng_total = 0;
    double eng_cpu = 0;
    const std::string local = b.root + "/local";
    const std::string keep = b.root + "/local.keep";
    for (auto _ : state) {
        for (size_t i = 0; i < peers.size(); ++i) {
            clear_target(down, name);
            const double c0 = cpu_seconds(RUSAGE_CHILDREN);
            const double s = timed(peers[i].cmd);
            if (s < 0) {
                state.SkipWithError((std::string(peers[i].name) + " failed").c_str());
                return;
            }
            if (std::string(peers[i].name) == "lftp")
                lftp_cpu += cpu_seconds(RUSAGE_CHILDREN) - c0;
            peer_total[i] += s;
        }
        clear_target(down, name);
        if (down) {
            fs::rename(local, keep);
            fs::create_directories(local);
        } else {
            // The engine uploads into pub itself: the peers' copies go.
            std::error_code ec;
            fs::remove_all(b.srv() + "/pub/up", ec);
            fs::rename(b.srv() + "/pub/" + name, b.srv() + "/pub/" + name + ".keep");
        }
        const double c0 = cpu_seconds(RUSAGE_SELF);
        const double e = engine_copy(down, name, workers, frags, secure);
        eng_cpu += cpu_seconds(RUSAGE_SELF) - c0;
        std::error_code ec;
        if (down) {
            fs::remove_all(local, ec);
            fs::rename(keep, local);
        } else {
            fs::remove_all(b.srv() + "/pub/" + name, ec);
            fs::rename(b.srv() + "/pub/" + name + ".keep", b.srv() + "/pub/" + name);
        }
        if (e < 0) {
            state.SkipWithError("the engine's copy failed");
            return;
        }
        eng_total += e;
        state.SetIterationTime(e);
    }
    const double gib = static_cast<double>(state.iterations() * bytes) / (1 << 30);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    for (size_t i = 0; i < peers.size(); ++i)
        state.counters[std::string("x_") + peers[i].name] =
            eng_total > 0 ? peer_total[i] / eng_total : 0;
    state.counters["cpu_s_GiB"] = gib > 0 ? eng_cpu / gib : 0;
    state.counters["lftp_cpu_GiB"] = gib > 0 ? lftp_cpu / gib : 0;
}

void BM_FtpGet(benchmark::State& state)
{
    Bench& b = bench();
    const auto streams = static_cast<uint32_t>(state.range(0));
    const std::string dl = b.root + "/dl/big.bin";
    std::vector<Peer> peers;
    if (streams == 1) {
        peers.push_back({"lftp", b.lftp("get /pub/big.bin -o " + dl)});
        peers.push_back({"curl", "curl -s -o " + dl + " " + b.url() + "/pub/big.bin"});
    } else {
        peers.push_back(
            {"lftp", b.lftp("pget -n " + std::to_string(streams) + " /pub/big.bin -o " + dl)});
        // The same ranges as the engine's fragments, fetched at once.
        std::string cmd = "(";
        const uint64_t part = b.big / streams;
        for (uint32_t i = 0; i < streams; ++i) {
            const uint64_t from = i * part;
            const std::string to = i + 1 == streams ? "" : std::to_string(from + part - 1);
            cmd += "curl -s -r " + std::to_string(from) + "-" + to + " -o " + dl + "." +
                   std::to_string(i) + " " + b.url() + "/pub/big.bin & ";
        }
        cmd += "wait)";
        peers.push_back({"curl", cmd});
    }
    run(state, true, "big.bin", b.big, streams, streams, peers);
    state.SetLabel(std::to_string(b.big >> 20) + " MiB, " + std::to_string(streams) + " stream(s)");
}

void BM_FtpPut(benchmark::State& state)
{
    Bench& b = bench();
    const std::string src = b.root + "/local/big.bin";
    run(state, false, "big.bin", b.big, 1, 1,
        {{"lftp", b.lftp("put " + src + " -o /pub/up/big.bin")},
         {"curl", "curl -s -T " + src + " " + b.url() + "/pub/up/big.bin"}});
    state.SetLabel(std::to_string(b.big >> 20) + " MiB, 1 stream");
}

void BM_FtpTreeGet(benchmark::State& state)
{
    Bench& b = bench();
    run(state, true, "tree", b.files * 4096, 4, 1,
        {{"lftp", b.lftp("mirror --parallel=4 /pub/tree " + b.root + "/dl/tree")}});
    state.SetLabel(std::to_string(b.files) + " files of 4 KiB, 4 connections vs lftp mirror");
}

void BM_FtpTreePut(benchmark::State& state)
{
    Bench& b = bench();
    run(state, false, "tree", b.files * 4096, 4, 1,
        {{"lftp", b.lftp("mirror -R --parallel=4 " + b.root + "/local/tree /pub/up/tree")}});
    state.SetLabel(std::to_string(b.files) + " files of 4 KiB, 4 connections vs lftp mirror -R");
}

void BM_FtpGetTls(benchmark::State& state)
{
    Bench& b = bench();
    const std::string dl = b.root + "/dl/big.bin";
    run(state, true, "big.bin", b.big, 1, 1,
        {{"lftp", b.lftp("get /pub/big.bin -o " + dl, true)},
         {"curl", "curl -s -k --ssl-reqd -o " + dl + " " + b.url() + "/pub/big.bin"}},
        true);
    state.SetLabel(std::to_string(b.big >> 20) + " MiB, 1 stream, FTPS");
}

void BM_FtpPutTls(benchmark::State& state)
{
    Bench& b = bench();
    const std::string src = b.root + "/local/big.bin";
    run(state, false, "big.bin", b.big, 1, 1,
        {{"lftp", b.lftp("put " + src + " -o /pub/up/big.bin", true)},
         {"curl", "curl -s -k --ssl-reqd -T " + src + " " + b.url() + "/pub/up/big.bin"}},
        true);
    state.SetLabel(std::to_string(b.big >> 20) + " MiB, 1 stream, FTPS");
}

BENCHMARK(BM_FtpGet)->ArgName("streams")->Arg(1)->Arg(4)->UseManualTime()->Iterations(2)->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_FtpPut)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FtpGetTls)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FtpPutTls)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FtpTreeGet)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FtpTreePut)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
