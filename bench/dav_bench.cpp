// WebDAV through transfer requests against curl, on the same Apache
// (mod_dav) in the same run, with both ends on tmpfs (/dev/shm).
//
// - BM_DavDownFiles / BM_DavUpFiles: a folder of N files of 4 KiB copied
//   down (PROPFIND, then one GET per file) or up (MKCOL, one PUT per file)
//   as one copy request through the transfer manager and the HTTP file
//   manager with one worker (one connection); curl fetches or puts the
//   same URL list from one config file, reusing its connection.
// - BM_DavList: a listing request of a folder of N entries against curl's
//   PROPFIND (Depth 1) of the same folder.
//
// - BM_DavParseList: the reading of a multistatus body of N entries in the
//   layout Apache sends, alone (no network), for the share of the listing
//   that is the client's own work.
//
// The manual time is the engine's; files_s is the engine's files per
// second, curl_files_s curl's, x_curl curl's time over the engine's (1.0:
// as fast as curl, higher is better).
//
// Size (environment): KV_BENCH_DAV_FILES (default 500; 10000 for the full
// figures), e.g.
//   KV_BENCH_DAV_FILES=10000 kv_bench --benchmark_filter=Dav
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "datasources/kv_filemanparamshttp.h"
#include "foundation/kv_file.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_msg.h"
#include "http/kv_filemanhttp.h"
#include "http/kv_httpactdavlist.h"
#include "http/kv_xml.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "support/kv_apache.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filetransman.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

class NoErr : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

// Apache on tmpfs with the folder "files" of N files, started once per run.
struct Peer
{
    std::unique_ptr<kvtest::Apache> apache;
    std::unique_ptr<kvtest::TempDir> local;
    uint64_t files = 0;
    bool ok = false;
    bool xml = false;
    uid_t uid = 0;
    gid_t gid = 0;

    Peer()
    {
        const char* v = std::getenv("KV_BENCH_DAV_FILES");
        files = v && *v ? std::strtoull(v, nullptr, 10) : 500;
        xml = KV_XmlHelperImpl::init();
        kvtest::ApacheOpts o;
        o.base = "/dev/shm";
        // Many requests on one connection.
        o.extra = "KeepAliveTimeout 30\nMaxKeepAliveRequests 0\n";
        apache = std::make_unique<kvtest::Apache>(o);
        local = std::make_unique<kvtest::TempDir>("kvdavbench", "/dev/shm");
        const passwd* pw = ::getpwnam("www-data");
        if (!xml || pw == nullptr || !kvtest::Apache::installed() || !apache->start() ||
            !local->ok())
            return;
        uid = pw->pw_uid;
        gid = pw->pw_gid;
        const std::string block(4096, 'x');
        fs::create_directories(*local / "src/files");
        fs::create_directories(*local / "tmp");
        for (uint64_t i = 0; i < files; ++i)
            std::ofstream(*local / ("src/files/f" + std::to_string(i)), std::ios::binary) << block;
        ok = std::system(("cp -r " + (*local / "src/files") + " " + apache->docroot() +
                          "/ && chown -R www-data:www-data " + apache->docroot())
                             .c_str()) == 0 &&
             KV_File::set_path(KV_PATH_TMP, (*local / "tmp").c_str());
    }
    ~Peer()
    {
        apache.reset();
        if (xml)
            KV_XmlHelperImpl::term();
    }
    std::string host() const { return apache->host(); }
    // A fresh, empty folder below the server's document root.
    bool fresh_dav(const std::string& rel) const
    {
        std::error_code ec;
        fs::remove_all(apache->path(rel), ec);
        return fs::create_directories(apache->path(rel)) &&
               ::chown(apache->path(rel).c_str(), uid, gid) == 0;
    }
    bool fresh_local(const std::string& rel) const
    {
        std::error_code ec;
        fs::remove_all(*local / rel, ec);
        return fs::create_directories(*local / rel);
    }
};

Peer& peer()
{
    static Peer p;
    return p;
}

// The engine's side of one run: the local disk, the web source (one worker)
// and a transfer manager.
struct Engine
{
    KV_FileManParamsStd lp;
    KV_FileManParamsHttp hp;
    KV_FileManStd local{KV_FileManId(KV_DsId(1, "Local", "", ""), 1)};
    std::unique_ptr<KV_FileManHttp> web;
    KV_FileTransMan tm;
    bool ok = false;

    Engine()
    {
        lp.set_name("Local");
        lp.opts_std().set_ntavos(1);
        hp.set_name("web");
        hp.set_dst_addr(peer().host().c_str());
        hp.opts_http().set_ntavos(1);
        web = std::make_unique<KV_FileManHttp>(
            KV_FileManId(KV_DsId(4, "web", peer().host().c_str(), ""), 1));
        KV_FileTransManOpts o;
        o.set_auto_rm_req(0);
        o.set_auto_rm_req_st(0);
        tm.set_opts(o);
        ok = local.init(&lp) && local.start() && web->init(&hp) && web->start() && tm.init() &&
             tm.start();
    }
    ~Engine()
    {
        tm.terminate();
        web.reset();
    }
    KV_PathDef local_path(const std::string& abs) const
    {
        KV_PathDef p;
        lp.opts().man_path().split_path(abs.c_str(), p, true);
        p.prepend("Local");
        return p;
    }
    KV_PathDef web_path(const std::string& text) const
    {
        KV_PathDef p;
        web->man_path().split_path(text.c_str(), p, true);
        p.prepend("web");
        return p;
    }
    // Copies the folder "files" from `src` to `dst`; seconds, negative on
    // failure.
    double copy(KV_FileMan* from, KV_FileMan* to, const KV_PathDef& src, const KV_PathDef& dst)
    {
        KVTL::KV_ListVal<KV_String> names;
        names.add("files");
        const KVTL::KV_ListVal<KV_String> none;
        KV_FileReqTransParamsCp p;
        p.set_forced_exec(KV_FEXEC_FORCED);
        auto* r = new KV_FileReqTransCp(from, to, src, dst, names, none, p);
        const auto t = Clock::now();
        if (!tm.add_req(r))
            return -1;
        for (;;) {
            const KV_REQ_STAT st = r->status();
            if (st == KV_REQ_STAT_COMPLETED)
                return seconds_since(t);
            if (st == KV_REQ_STAT_ERROR || st == KV_REQ_STAT_CANCELLED || seconds_since(t) > 3600)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

// curl with a config file; seconds, negative on failure.
double run_curl(const std::string& args)
{
    const auto t = Clock::now();
    const int rc = std::system(("curl -s -f " + args + " > /dev/null").c_str());
    return rc == 0 ? seconds_since(t) : -1;
}

std::string curl_config(bool up, const std::string& dir)
{
    const Peer& p = peer();
    const std::string cfg = *p.local / (up ? "up.cfg" : "down.cfg");
    std::ofstream out(cfg);
    for (uint64_t i = 0; i < p.files; ++i) {
        const std::string f = "f" + std::to_string(i);
        if (up)
            out << "upload-file = \"" << (*p.local / ("src/files/" + f)) << "\"\nurl = \"http://"
                << p.host() << "/" << dir << "/" << f << "\"\n";
        else
            out << "url = \"http://" << p.host() << "/files/" << f << "\"\noutput = \""
                << (*p.local / (dir + "/" + f)) << "\"\n";
    }
    return cfg;
}

void report(benchmark::State& state, double eng, double curl)
{
    const double n = static_cast<double>(peer().files) * static_cast<double>(state.iterations());
    state.counters["files_s"] = eng > 0 ? n / eng : 0;
    state.counters["curl_files_s"] = curl > 0 ? n / curl : 0;
    state.counters["x_curl"] = eng > 0 ? curl / eng : 0;
    state.SetLabel(std::to_string(peer().files) + " files vs curl");
}

void BM_DavDownFiles(benchmark::State& state)
{
    Peer& p = peer();
    if (!p.ok) {
        state.SkipWithError("no Apache peer (apache2) or no tmpfs");
        return;
    }
    const std::string cfg = curl_config(false, "curl_down");
    double eng = 0, curl = 0;
    for (auto _ : state) {
        if (!p.fresh_local("curl_down") || !p.fresh_local("down")) {
            state.SkipWithError("no local folder");
            return;
        }
        const double c = run_curl("-K " + cfg);
        Engine e;
        const double t =
            e.ok ? e.copy(e.web.get(), &e.local, e.web_path("/"), e.local_path(*p.local / "down"))
                 : -1;
        if (c < 0 || t < 0) {
            state.SkipWithError("a download failed");
            return;
        }
        curl += c;
        eng += t;
        state.SetIterationTime(t);
    }
    report(state, eng, curl);
}

void BM_DavUpFiles(benchmark::State& state)
{
    Peer& p = peer();
    if (!p.ok) {
        state.SkipWithError("no Apache peer (apache2) or no tmpfs");
        return;
    }
    const std::string cfg = curl_config(true, "curl_up");
    double eng = 0, curl = 0;
    for (auto _ : state) {
        if (!p.fresh_dav("curl_up") || !p.fresh_dav("up")) {
            state.SkipWithError("no server folder");
            return;
        }
        const double c = run_curl("-K " + cfg);
        Engine e;
        const double t =
            e.ok ? e.copy(&e.local, e.web.get(), e.local_path(*p.local / "src"), e.web_path("/up"))
                 : -1;
        if (c < 0 || t < 0 || !fs::exists(p.apache->path("up/files/f0"))) {
            state.SkipWithError("an upload failed");
            return;
        }
        curl += c;
        eng += t;
        state.SetIterationTime(t);
    }
    report(state, eng, curl);
}

void BM_DavList(benchmark::State& state)
{
    Peer& p = peer();
    if (!p.ok) {
        state.SkipWithError("no Apache peer (apache2) or no tmpfs");
        return;
    }
    const std::string body = *p.local / "propfind.xml";
    std::ofstream(body) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<propfind xmlns=\"DAV:\"><prop><getlastmodified/><getcontentlength/>"
                           "<resourcetype/></prop></propfind>\n";
    Engine e;
    if (!e.ok) {
        state.SkipWithError("the engine did not start");
        return;
    }
    double eng = 0, curl = 0;
    for (auto _ : state) {
        const double c = run_curl("-X PROPFIND -H 'Depth: 1' -H 'Content-Type: text/xml' "
                                  "--data-binary @" +
                                  body + " http://" + p.host() + "/files/");
        NoErr eh;
        KV_FileListStore store(true, nullptr);
        KV_FileReqObs obs;
        const auto t0 = Clock::now();
        const bool added =
            e.web->add_req(new KV_FileReqScan(eh, e.web_path("/files"), &store, false, false),
                           nullptr, &obs, KV_REQ_STAT_QUEUED);
        const bool ended = added && !obs.wait(3600000);
        const double t = seconds_since(t0);
        if (c < 0 || !ended || obs.status() != KV_REQ_STAT_COMPLETED ||
            store.entries().size() != p.files) {
            state.SkipWithError("a listing failed");
            return;
        }
        curl += c;
        eng += t;
        state.SetIterationTime(t);
    }
    report(state, eng, curl);
}

void BM_DavParseList(benchmark::State& state)
{
    const char* v = std::getenv("KV_BENCH_DAV_FILES");
    const uint64_t n = v && *v ? std::strtoull(v, nullptr, 10) : 500;
    if (!KV_XmlHelperImpl::init()) {
        state.SkipWithError("no XML library");
        return;
    }
    std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<D:multistatus xmlns:D=\"DAV:\" xmlns:ns0=\"DAV:\">\n";
    for (uint64_t i = 0; i < n; ++i)
        body += "<D:response xmlns:lp1=\"DAV:\">\n<D:href>/files/f" + std::to_string(i) +
                "</D:href>\n<D:propstat>\n<D:prop>\n<lp1:resourcetype/>\n"
                "<lp1:getcontentlength>4096</lp1:getcontentlength>\n"
                "<lp1:getlastmodified>Fri, 11 Dec 2026 01:00:00 GMT</lp1:getlastmodified>\n"
                "</D:prop>\n<D:status>HTTP/1.1 200 OK</D:status>\n</D:propstat>\n"
                "</D:response>\n";
    body += "</D:multistatus>\n";
    KV_PathMan pm = KV_FileManHttpOpts().man_path();
    pm.set_dir_pre("web");
    KV_HttpActPropfindParams params;
    params.pm = &pm;
    pm.split_path("/files", params.path, true);
    params.path.prepend("web");
    for (auto _ : state) {
        KV_MsgTreeScan msg(params.path);
        const bool ok = kv_dav_parse_list(reinterpret_cast<const uint8_t*>(body.data()),
                                          static_cast<uint32_t>(body.size()), params, true, &msg);
        if (!ok || msg.nodes.size() != n) {
            state.SkipWithError("the listing was not read");
            break;
        }
    }
    state.counters["entries_s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<int64_t>(body.size()) * state.iterations());
    KV_XmlHelperImpl::term();
}

BENCHMARK(BM_DavDownFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DavUpFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DavList)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DavParseList)->Unit(benchmark::kMillisecond);

} // namespace
