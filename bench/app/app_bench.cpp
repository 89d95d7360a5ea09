// Whether the program stays responsive while it works: each benchmark starts
// the program as main() does (start-up, control window, engine), in a child
// process of this one over temporary XDG folders on the offscreen platform,
// drives it as a person would, and reads its figures back.
//
// A probe timer on the user-interface thread ticks every 5 ms; a gap between
// two ticks is time in which the program could not have answered a click.
// Measured:
//   LISTING   a browse pane opens a local folder of many entries
//   COPY      many small files copy between two local panes
//   DOWNLOAD  a large file downloads from vsftpd on loopback at full speed;
//             also how often the transfer list and the speed pane change and
//             the user-interface thread's share of one core
//   STARTUP   start-up to the painted control window over many data sources
//             and saved requests (the splash's own pause set to 0)
//
// Sizes come from the environment; the defaults are small for CI. A full
// measurement:
//   KV_BENCH_APP_LIST=100000 KV_BENCH_APP_COPY=10000 KV_BENCH_APP_DOWN_MIB=1024
//   KV_BENCH_APP_DS=10000 KV_BENCH_APP_REQS=1000
// The download needs root and vsftpd (tests/support/kv_vsftpd.h).
#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "monitor/translistview.h"
#include "requests/kv_filereqinfoman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/starthooks.h"
#include "views/filelistview.h"

#include "kv_benchtools.h"
#include "support/kv_nettest.h"
#include "support/kv_testtools.h"
#include "support/kv_vsftpd.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QWidget>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char kRunVar[] = "KV_APPBENCH_RUN";
const char kDirVar[] = "KV_APPBENCH_DIR";
const char kT0Var[] = "KV_APPBENCH_T0";
const char kServerName[] = "Bench server";

int64_t MonoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double ThreadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

uint64_t EnvNum(const char* name)
{
    return kvbench::env_num(name, 0);
}

// Read once before the program starts: later threads may change the
// environment while it is read.
std::string& Dir()
{
    static std::string dir = [] {
        const char* d = std::getenv(kDirVar);
        return std::string(d != nullptr ? d : "");
    }();
    return dir;
}

// ---- the child: the program itself

// Time this thread was runnable but waited for a core (the scheduler's
// run-queue delay): a gap that is mostly this is the machine's load, not
// the program's work.
double RunQueueMs()
{
    std::ifstream in("/proc/thread-self/schedstat");
    uint64_t run_ns = 0;
    uint64_t wait_ns = 0;
    in >> run_ns >> wait_ns;
    return static_cast<double>(wait_ns) / 1e6;
}

void Emit(const char* key, double value)
{
    std::printf("KVRESULT %s %.3f\n", key, value);
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why)
{
    std::printf("KVFAIL %s\n", why.c_str());
    std::fflush(stdout);
    std::_Exit(2);
}

// Ticks every 5 ms on the user-interface thread and keeps the gaps between
// the ticks; `on_tick` samples what the window shows meanwhile.
class Probe
{
public:
    std::function<void()> on_tick;

    Probe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const int64_t now = clock.nsecsElapsed();
            gaps.push_back(static_cast<double>(now - last) / 1e6);
            last = now;
            if (on_tick) {
                on_tick();
            }
        });
    }
    void Start()
    {
        runq_start = RunQueueMs();
        gaps.clear();
        clock.start();
        last = 0;
        timer.start();
    }
    void Stop()
    {
        timer.stop();
        runq = RunQueueMs() - runq_start;
    }
    void Emit(const char* what) const
    {
        std::vector<double> sorted = gaps;
        std::sort(sorted.begin(), sorted.end());
        const double longest = sorted.empty() ? 0 : sorted.back();
        const double p99 = sorted.empty() ? 0 : sorted[(sorted.size() - 1) * 99 / 100];
        ::Emit((std::string(what) + "_longest_ms").c_str(), longest);
        ::Emit((std::string(what) + "_p99_ms").c_str(), p99);
        ::Emit((std::string(what) + "_ticks").c_str(), static_cast<double>(sorted.size()));
        ::Emit((std::string(what) + "_runq_ms").c_str(), runq);
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    int64_t last = 0;
    std::vector<double> gaps;
    double runq_start = 0;
    double runq = 0;
};

// Runs the event loop until `done` (checked every 10 ms); false when `ms`
// passed first.
bool WaitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    bool ok = done();
    if (ok) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        ok = done();
        if (ok || clock.elapsed() > ms) {
            loop.quit();
        }
    });
    poll.start();
    loop.exec();
    return ok;
}

void Settle(int ms)
{
    WaitFor([] { return false; }, ms);
}

CKivrelApp& StartProgram()
{
    CKivrelApp& app = *CKivrelApp::Instance();
    // As KivrelMain: closing the last other window does not end the program.
    app.setQuitOnLastWindowClosed(false);
    StartHooks().error = [](const QString& text) { Fail("error box: " + text.toStdString()); };
    StartHooks().last_picture_ms = 0;
    StartHooks().ask_resume = [](DlgReqAsk&) { return true; };
    if (!app.InitInstance()) {
        Fail("the start-up failed");
    }
    return app;
}

void QuitProgram(CKivrelApp& app)
{
    QTimer::singleShot(0, &app, [&app] { app.PrepareQuit(); });
    app.exec();
    app.ExitInstance();
}

CBrowseSplt* BrowseWnd()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<CBrowseSplt*>(w)) {
            return b;
        }
    }
    return nullptr;
}

CBrowseSplt* OpenBrowse(CKivrelApp& app, const KV_FileManId& left, const KV_FileManId& right,
                        uint16_t flags)
{
    if (!app.OpenBrowseWnd(left, right, flags, true) || BrowseWnd() == nullptr) {
        Fail("no browse window");
    }
    CBrowseSplt* wnd = BrowseWnd();
    wnd->setGeometry(20, 20, 1000, 700);
    return wnd;
}

CFileManData* Bound(CBrowseSplt* wnd, uint32_t side)
{
    CFileManData* data = nullptr;
    if (!WaitFor(
            [&] {
                CBrowseFrm* pane = wnd->GetPane(side);
                data = pane != nullptr ? pane->GetData() : nullptr;
                return data != nullptr && data->GetFileMan() != nullptr &&
                       data->GetFileMan()->pwd_done() && data->GetFileTree() != nullptr &&
                       data->GetFileTree()->root() != nullptr;
            },
            60000)) {
        Fail("a browse pane did not bind");
    }
    return data;
}

CFileListView* ListOf(CBrowseSplt* wnd, uint32_t side)
{
    auto* list = wnd->GetPane(side)->findChild<CFileListView*>();
    if (list == nullptr) {
        Fail("no file list");
    }
    return list;
}

std::string Shown(CFileManData* data)
{
    KV_String text;
    if (!data->GetPathText(text, data->GetPath(), false, 0)) {
        return "";
    }
    return std::string(text.data(), text.length());
}

// Shows the local folder `path` in the pane and waits until it is the pane's.
void ShowLocal(CFileManData* data, const std::string& path)
{
    if (!data->SetPathText(KV_String(path.c_str()), false)) {
        Fail("the pane refused " + path);
    }
    if (!WaitFor([&] { return Shown(data) == path || Shown(data) == path + "/"; }, 60000)) {
        Fail("the pane did not open " + path + " (shows " + Shown(data) + ", " +
             std::to_string(data->GetPath().entries()) + " parts)");
    }
}

// The first request that ended, or null.
const KV_FileReqInfo* EndedRequest(KV_FileManPool& pool)
{
    KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(pool.man_trans().man_info().map());
    for (it.first(); !it.end(); it.next()) {
        if (it.value()->status() >= KV_REQ_STAT_COMPLETED) {
            return it.value();
        }
    }
    return nullptr;
}

void WaitCompleted(KV_FileManPool& pool, int ms)
{
    if (!WaitFor([&] { return EndedRequest(pool) != nullptr; }, ms)) {
        Fail("the request did not end");
    }
    const KV_FileReqInfo* info = EndedRequest(pool);
    if (info->status() != KV_REQ_STAT_COMPLETED) {
        Fail(std::string("the request ended ") + info->status_str() + ": " +
             info->last_err().data());
    }
}

const KV_DsTreeNode* LocalNode(CKivrelApp& app)
{
    const KV_DsTreeNode* local = app.GetPool()->tree().find(KV_DS_NODE_STD, false);
    if (local == nullptr) {
        Fail("no local data source");
    }
    return local;
}

void RunListing()
{
    const int n = static_cast<int>(EnvNum("KV_BENCH_APP_LIST"));
    CKivrelApp& app = StartProgram();
    const KV_FileManId local(LocalNode(app)->id(), 0);
    CBrowseSplt* wnd =
        OpenBrowse(app, local, KV_FileManId(), CBrowseSplt::kTree | CBrowseSplt::kList);
    CFileManData* data = Bound(wnd, CBrowseSplt::kLeft);
    CFileListView* list = ListOf(wnd, CBrowseSplt::kLeft);
    Settle(200);

    Probe probe;
    probe.Start();
    QElapsedTimer clock;
    clock.start();
    ShowLocal(data, Dir() + "/work/many");
    if (!WaitFor([&] { return list->GetModel()->rowCount() >= n; }, 600000)) {
        Fail("the list shows " + std::to_string(list->GetModel()->rowCount()) + " rows");
    }
    Emit("listing_ms", static_cast<double>(clock.elapsed()));
    // What follows the last row (sorting, sizing) counts too.
    Settle(250);
    probe.Stop();
    probe.Emit("listing");
    QuitProgram(app);
}

void RunCopy()
{
    const int n = static_cast<int>(EnvNum("KV_BENCH_APP_COPY"));
    CKivrelApp& app = StartProgram();
    const KV_FileManId local(LocalNode(app)->id(), 0);
    CBrowseSplt* wnd = OpenBrowse(app, local, local, CBrowseSplt::kList | CBrowseSplt::kList << 8);
    CFileManData* src = Bound(wnd, CBrowseSplt::kLeft);
    CFileManData* dst = Bound(wnd, CBrowseSplt::kRight);
    ShowLocal(src, Dir() + "/work/many");
    ShowLocal(dst, Dir() + "/work/copy");
    CFileListView* src_list = ListOf(wnd, CBrowseSplt::kLeft);
    CFileListView* dst_list = ListOf(wnd, CBrowseSplt::kRight);
    if (!WaitFor([&] { return src_list->GetModel()->rowCount() >= n; }, 600000)) {
        Fail("the source list is not complete");
    }
    Settle(200);

    // Every file, as a selection dragged from one list to the other.
    KVTL::KV_ListVal<KV_String> names;
    for (int i = 0; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%06d.txt", i);
        names.add(KV_String(name));
    }
    Probe probe;
    probe.Start();
    QElapsedTimer clock;
    clock.start();
    if (!dst->Receive(src->GetManId(), src->GetPath(), dst->GetPath(), names, false, false,
                      nullptr)) {
        Fail("the copy was refused");
    }
    WaitCompleted(*app.GetPool(), 1200000);
    if (!WaitFor([&] { return dst_list->GetModel()->rowCount() >= n; }, 600000)) {
        Fail("the target list shows " + std::to_string(dst_list->GetModel()->rowCount()));
    }
    Emit("copy_ms", static_cast<double>(clock.elapsed()));
    Settle(250);
    probe.Stop();
    probe.Emit("copy");
    QuitProgram(app);
}

void RunDownload()
{
    const uint64_t bytes = EnvNum("KV_BENCH_APP_DOWN_MIB") << 20;
    CKivrelApp& app = StartProgram();
    KV_FileManPool& pool = *app.GetPool();
    const KV_DsTreeNode* ftp = pool.tree().find(KV_String(kServerName));
    if (ftp == nullptr) {
        Fail("no FTP data source");
    }
    const KV_FileManId local(LocalNode(app)->id(), 0);
    CBrowseSplt* wnd =
        OpenBrowse(app, local, KV_FileManId(ftp->id(), 0),
                   CBrowseSplt::kList | (CBrowseSplt::kList | CBrowseSplt::kDetails) << 8);
    CFileManData* to = Bound(wnd, CBrowseSplt::kLeft);
    CFileManData* from = Bound(wnd, CBrowseSplt::kRight);
    ShowLocal(to, Dir() + "/work/down");
    CFileListView* server_list = ListOf(wnd, CBrowseSplt::kRight);
    if (!WaitFor([&] { return Shown(from) == "/pub" && server_list->GetModel()->rowCount() >= 1; },
                 60000)) {
        Fail("the server's folder is not listed (" + Shown(from) + ")");
    }
    auto* translist = app.GetMainFrm()->findChild<CTransListView*>();
    if (translist == nullptr) {
        Fail("no transfer list");
    }
    Settle(200);

    // What a person sees change: the request's row and the incoming speed.
    QString row;
    QString speed;
    int row_changes = 0;
    int speed_changes = 0;
    Probe probe;
    probe.on_tick = [&] {
        QString now;
        if (QTreeWidgetItem* item = translist->topLevelItem(0)) {
            for (int c = 0; c < item->columnCount(); ++c) {
                now += item->text(c) + QLatin1Char('|');
            }
        }
        if (now != row) {
            row = now;
            ++row_changes;
        }
        if (app.GetMainFrm()->SpeedText(0) != speed) {
            speed = app.GetMainFrm()->SpeedText(0);
            ++speed_changes;
        }
    };
    // What the probe and its sampling cost by themselves, idle.
    probe.Start();
    const double idle_cpu0 = ThreadCpuMs();
    QElapsedTimer idle;
    idle.start();
    Settle(1000);
    const double probe_pct =
        100 * (ThreadCpuMs() - idle_cpu0) / static_cast<double>(idle.elapsed());
    probe.Stop();
    row_changes = 0;
    speed_changes = 0;

    KVTL::KV_ListVal<KV_String> names;
    names.add(KV_String("big.bin"));
    probe.Start();
    const double cpu0 = ThreadCpuMs();
    QElapsedTimer clock;
    clock.start();
    if (!to->Receive(from->GetManId(), from->GetPath(), to->GetPath(), names, false, false,
                     nullptr)) {
        Fail("the download was refused");
    }
    WaitCompleted(pool, 1200000);
    const double ms = static_cast<double>(clock.elapsed());
    const double cpu = ThreadCpuMs() - cpu0;
    probe.Stop();
    std::error_code ec;
    if (fs::file_size(Dir() + "/work/down/big.bin", ec) != bytes) {
        Fail("the downloaded file has the wrong size");
    }
    probe.Emit("download");
    Emit("download_ms", ms);
    Emit("download_mib_s", static_cast<double>(bytes >> 20) / (ms / 1000));
    Emit("list_updates_s", row_changes / (ms / 1000));
    Emit("speed_updates_s", speed_changes / (ms / 1000));
    Emit("ui_cpu_pct", 100 * cpu / ms);
    Emit("probe_cpu_pct", probe_pct);
    QuitProgram(app);
}

// Notes the first paint of the control window.
class PaintWatch : public QObject
{
public:
    int64_t painted_ns = 0;

protected:
    bool eventFilter(QObject* obj, QEvent* event) override
    {
        if (painted_ns == 0 && event->type() == QEvent::Paint && obj->isWidgetType()) {
            CMainFrm* frm = CKivrelApp::Instance()->GetMainFrm();
            if (frm != nullptr && static_cast<QWidget*>(obj)->window() == frm) {
                painted_ns = MonoNs();
            }
        }
        return false;
    }
};

void RunStartup(int64_t main_ns)
{
    const uint64_t sources = EnvNum("KV_BENCH_APP_DS");
    PaintWatch watch;
    CKivrelApp::Instance()->installEventFilter(&watch);
    CKivrelApp& app = StartProgram();
    if (!WaitFor([&] { return watch.painted_ns != 0; }, 60000)) {
        Fail("the control window was not painted");
    }
    const char* t0 = std::getenv(kT0Var);
    const int64_t spawn_ns = t0 != nullptr ? std::strtoll(t0, nullptr, 10) : main_ns;
    Emit("startup_ms", static_cast<double>(watch.painted_ns - spawn_ns) / 1e6);
    Emit("startup_main_ms", static_cast<double>(watch.painted_ns - main_ns) / 1e6);
    auto* translist = app.GetMainFrm()->findChild<CTransListView*>();
    Emit("startup_requests", translist != nullptr ? translist->topLevelItemCount() : -1);
    // The data-source file was read whole: its last source is there.
    if (sources != 0 && app.GetPool()->tree().find(KV_String(
                            ("Server " + std::to_string(sources - 1)).c_str())) == nullptr) {
        Fail("the data sources did not load");
    }
    CKivrelApp::Instance()->removeEventFilter(&watch);
    QuitProgram(app);
}

// Writes the data-source file and the saved requests through the engine's
// own saving, in the folders a start of the program uses.
void RunPrepare()
{
    const uint64_t sources = EnvNum("KV_BENCH_APP_PREP_DS");
    const uint64_t requests = EnvNum("KV_BENCH_APP_PREP_REQS");
    const uint64_t port = EnvNum("KV_BENCH_APP_PREP_PORT");
    CKivrelApp& app = *CKivrelApp::Instance();
    if (!InitSettings([](const QString& text) { Fail("settings: " + text.toStdString()); }) ||
        !app.CreatePool()) {
        Fail("no engine root");
    }
    KV_FileManPool& pool = *app.GetPool();
    if (!pool.load_ds()) {
        Fail("the data-source file does not load");
    }
    KV_DsTreeNode* group = pool.tree().find(KV_DS_NODE_FTP, true);
    for (uint64_t i = 0; i < sources; ++i) {
        KV_DsTreeNodeFtp n;
        n.set_name(KV_String(("Server " + std::to_string(i)).c_str()));
        n.set_inh_params(false);
        n.params_ftp().set_dst_addr(KV_String(("host" + std::to_string(i) + ".invalid").c_str()));
        if (pool.tree().create(group, &n, 0, false) == nullptr) {
            Fail("data source " + std::to_string(i) + " was refused");
        }
    }
    if (port != 0) {
        KV_DsTreeNodeFtp n;
        n.set_name(kServerName);
        n.set_inh_params(false);
        n.params_ftp().set_dst_addr(KV_String(("127.0.0.1:" + std::to_string(port)).c_str()));
        n.params_ftp().set_anonymous(true);
        n.params_ftp().set_def_path(KV_String("/pub"), false);
        if (pool.tree().create(group, &n, 0, true) == nullptr) {
            Fail("the server's data source was refused");
        }
    }
    if (!pool.save()) {
        Fail("the data-source file was not saved");
    }
    // The engine's own share of a start: reading the file back.
    {
        app.DeletePool();
        if (!app.CreatePool()) {
            Fail("no engine root");
        }
        QElapsedTimer load;
        load.start();
        if (!app.GetPool()->load_ds()) {
            Fail("the data-source file does not load back");
        }
        Emit("load_ds_ms", static_cast<double>(load.elapsed()));
    }
    KV_FileManPool& pool2 = *app.GetPool();
    // Requests queued and not run: their logs stay for the next start.
    if (requests != 0) {
        // As the start-up: the transfer manager reads its folder first.
        if (!pool2.load_req()) {
            Fail("the saved requests do not load");
        }
        KV_FileMan* man =
            pool2.reg(KV_FileManId(pool2.tree().find(KV_DS_NODE_STD, false)->id(), 0));
        const KV_FileManId local = man != nullptr ? man->id() : KV_FileManId();
        KV_PathDef from;
        KV_PathDef to;
        const std::string src = Dir() + "/work/reqsrc";
        const std::string dst = Dir() + "/work/reqdst";
        if (man == nullptr || !man->man_path().split_path(KV_String(src.c_str()), from, true) ||
            !from.prepend(man->man_path().dir_pre()) ||
            !man->man_path().split_path(KV_String(dst.c_str()), to, true) ||
            !to.prepend(man->man_path().dir_pre())) {
            Fail("no local paths");
        }
        // Suspended until a year from now: the manager writes their logs and
        // runs none of them.
        KV_FileReqTransParamsCp params = pool2.tree().params_cp(local, local);
        params.set_tm_start(KV_Time(static_cast<long>(std::time(nullptr) + 365 * 86400)));
        if (!pool2.man_trans().start()) {
            Fail("the transfer manager did not start");
        }
        for (uint64_t i = 0; i < requests; ++i) {
            KVTL::KV_ListVal<KV_String> names;
            names.add(KV_String(("r" + std::to_string(i) + ".txt").c_str()));
            if (!pool2.copy(local, local, from, to, names, KVTL::KV_ListVal<KV_String>(), params)) {
                Fail("request " + std::to_string(i) + " was refused");
            }
        }
        const fs::path logs = Dir() + "/data/kivrel/requests";
        const auto saved = [&] {
            std::error_code ec;
            uint64_t n = 0;
            for (fs::directory_iterator it(logs, ec), end; !ec && it != end; it.increment(ec)) {
                ++n;
            }
            return n;
        };
        QElapsedTimer clock;
        clock.start();
        while (saved() < requests && clock.elapsed() < 120000) {
            while (KV_Msg* m = pool2.informer().pop()) {
                pool2.process_ntf(m);
                KV_Informer::destroy(m);
            }
            Settle(20);
        }
        Emit("saved_requests", static_cast<double>(saved()));
        while (!pool2.term() && clock.elapsed() < 240000) {
            while (KV_Msg* m = pool2.informer().pop()) {
                pool2.process_ntf(m);
                KV_Informer::destroy(m);
            }
            Settle(20);
        }
    }
    app.DeletePool();
}

int RunChild(const std::string& which, int argc, char** argv)
{
    const int64_t main_ns = MonoNs();
    Dir();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    CKivrelApp app(argc, argv);
    // A question nobody answers would hold the run for ever.
    QTimer::singleShot(30 * 60 * 1000, &app, [] { Fail("timed out"); });
    if (which == "prepare") {
        RunPrepare();
    } else if (which == "listing") {
        RunListing();
    } else if (which == "copy") {
        RunCopy();
    } else if (which == "download") {
        RunDownload();
    } else if (which == "startup") {
        RunStartup(main_ns);
    } else {
        Fail("unknown run " + which);
    }
    std::printf("KVDONE\n");
    return 0;
}

// ---- the parent: folders, server, children, figures

// The temporary folder of the run: each measurement points TMPDIR into its
// own folder, which goes with it.
const std::string& TmpBase()
{
    static const std::string base = [] {
        const char* t = std::getenv("TMPDIR");
        return std::string(t != nullptr && *t != '\0' ? t : "/tmp");
    }();
    return base;
}

struct Figures
{
    std::map<std::string, double> values;
    std::string output;
    bool ok = false;

    double operator[](const std::string& key) const
    {
        const auto it = values.find(key);
        return it != values.end() ? it->second : -1;
    }
};

// The program's folders below `dir`: XDG folders, machine-wide and user
// settings (not the first start: no wizards, no tips) and an empty
// data-source file; the environment of the children names them.
void MakeHome(const kvtest::TempDir& dir)
{
    for (const char* sub :
         {"run", "etc/kivrel", "config/kivrel", "data/kivrel", "cache", "tmp", "work"}) {
        fs::create_directories(dir / sub);
    }
    fs::permissions(dir / "run", fs::perms::owner_all);
    std::ofstream(dir / "etc/kivrel/kivrel.conf")
        << "[Init]\nMainExe=\"" KV_APP_BUILD_DIR "/kivrel\"\nData=\"" KV_APP_BUILD_DIR "/data\"\n";
    std::ofstream(dir / "config/kivrel/kivrel.conf")
        << "[Init]\nData=\"" << (dir / "data/kivrel") << "\"\n[UI]\nStartTips=0\nInfoReqAdd=0\n";
    std::ofstream(dir / "data/kivrel/kivrel.ds");
    setenv(kDirVar, dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (dir / "etc").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    setenv("HOME", dir.c_str(), 1);
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

// Files f000000.txt ... of `size` bytes in `folder`.
void MakeFiles(const std::string& folder, uint64_t count, size_t size, const char* pattern)
{
    fs::create_directories(folder);
    const std::string body(size, 'x');
    for (uint64_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, pattern, static_cast<unsigned long long>(i));
        std::ofstream(folder + "/" + name, std::ios::binary) << body;
    }
}

// Runs this program again as the child `which`; its figures.
Figures RunAs(const char* which)
{
    Figures f;
    setenv(kRunVar, which, 1);
    setenv(kT0Var, std::to_string(MonoNs()).c_str(), 1);
    // The shell popen runs is /proc/self/exe of its own.
    std::error_code ec;
    const std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    FILE* pipe = ::popen(("'" + self + "' 2>&1").c_str(), "r");
    unsetenv(kRunVar);
    unsetenv(kT0Var);
    if (pipe == nullptr) {
        f.output = "cannot start the child";
        return f;
    }
    char line[4096];
    bool done = false;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char key[256];
        double value = 0;
        if (std::sscanf(line, "KVRESULT %255s %lf", key, &value) == 2) {
            f.values[key] = value;
        } else if (std::string(line) == "KVDONE\n") {
            done = true;
        } else {
            f.output += line;
        }
    }
    const int status = ::pclose(pipe);
    f.ok = done && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return f;
}

bool Prepare(benchmark::State& st, uint64_t sources, uint64_t requests, uint16_t port)
{
    setenv("KV_BENCH_APP_PREP_DS", std::to_string(sources).c_str(), 1);
    setenv("KV_BENCH_APP_PREP_REQS", std::to_string(requests).c_str(), 1);
    setenv("KV_BENCH_APP_PREP_PORT", std::to_string(port).c_str(), 1);
    const Figures f = RunAs("prepare");
    if (!f.ok) {
        st.SkipWithError(("preparing failed: " + f.output).c_str());
    }
    if (requests != 0) {
        std::printf("%.0f request logs saved\n", f["saved_requests"]);
    }
    if (sources != 0) {
        std::printf("reading %llu data sources back takes the engine %.0f ms\n",
                    static_cast<unsigned long long>(sources), f["load_ds_ms"]);
    }
    return f.ok;
}

// One measured child; false (and the benchmark skipped with its output)
// when it failed.
bool Measure(benchmark::State& st, const char* which, Figures& f)
{
    f = RunAs(which);
    if (!f.ok) {
        std::fprintf(stderr, "%s", f.output.c_str());
        st.SkipWithError((std::string(which) + " failed").c_str());
    }
    return f.ok;
}

void Report(benchmark::State& st, const Figures& f, const std::string& key, const char* title,
            const std::string& extra)
{
    const double longest = f[key + "_longest_ms"];
    const double p99 = f[key + "_p99_ms"];
    st.counters["longest_ms"] = longest;
    st.counters["p99_ms"] = p99;
    st.counters["runq_ms"] = f[key + "_runq_ms"];
    std::printf("responsive %s: longest %.1f ms, p99 %.1f ms (%s; waited %.0f ms for a core)\n",
                title, longest, p99, extra.c_str(), f[key + "_runq_ms"]);
}

void BM_Listing(benchmark::State& st)
{
    const uint64_t n = kvbench::env_num("KV_BENCH_APP_LIST", 2000);
    for (auto _ : st) {
        kvtest::TempDir dir("kvappbench", TmpBase().c_str());
        MakeHome(dir);
        MakeFiles(dir / "work/many", n, 0, "f%06llu.txt");
        setenv("KV_BENCH_APP_LIST", std::to_string(n).c_str(), 1);
        Figures f;
        if (!Prepare(st, 0, 0, 0) || !Measure(st, "listing", f)) {
            return;
        }
        st.SetIterationTime(f["listing_ms"] / 1000);
        Report(st, f, "listing", "LISTING",
               std::to_string(n) + " entries listed in " + std::to_string(f["listing_ms"]) + " ms");
    }
}

void BM_Copy(benchmark::State& st)
{
    const uint64_t n = kvbench::env_num("KV_BENCH_APP_COPY", 500);
    for (auto _ : st) {
        kvtest::TempDir dir("kvappbench", TmpBase().c_str());
        MakeHome(dir);
        MakeFiles(dir / "work/many", n, 2048, "f%06llu.txt");
        fs::create_directories(dir / "work/copy");
        setenv("KV_BENCH_APP_COPY", std::to_string(n).c_str(), 1);
        Figures f;
        if (!Prepare(st, 0, 0, 0) || !Measure(st, "copy", f)) {
            return;
        }
        st.SetIterationTime(f["copy_ms"] / 1000);
        Report(st, f, "copy", "COPY",
               std::to_string(n) + " files of 2 KiB copied in " + std::to_string(f["copy_ms"]) +
                   " ms");
    }
}

void BM_Download(benchmark::State& st)
{
    const uint64_t mib = kvbench::env_num("KV_BENCH_APP_DOWN_MIB", 64);
    if (!kvtest::vsftpd_usable()) {
        st.SkipWithError("needs root and vsftpd");
        return;
    }
    for (auto _ : st) {
        kvtest::TempDir dir("kvappbench", TmpBase().c_str());
        MakeHome(dir);
        fs::create_directories(dir / "work/down");
        fs::create_directories(dir / "srv/root/pub");
        const passwd* pw = ::getpwnam("ftp");
        if (::chown((dir / "srv/root/pub").c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            st.SkipWithError("cannot give the server's folder to ftp");
            return;
        }
        // Zeros, sparse: the server reads as fast as the loopback carries.
        fs::resize_file((std::ofstream(dir / "srv/root/pub/big.bin"), dir / "srv/root/pub/big.bin"),
                        mib << 20);
        const uint16_t port = kvtest::closed_port();
        std::unique_ptr<kvtest::ChildProc> server =
            kvtest::start_vsftpd(dir / "srv", dir / "srv/root", port, "");
        if (!server || !server->wait_port(port)) {
            st.SkipWithError("vsftpd did not start");
            return;
        }
        setenv("KV_BENCH_APP_DOWN_MIB", std::to_string(mib).c_str(), 1);
        Figures f;
        if (!Prepare(st, 0, 0, port) || !Measure(st, "download", f)) {
            return;
        }
        st.SetIterationTime(f["download_ms"] / 1000);
        st.counters["list_updates_s"] = f["list_updates_s"];
        st.counters["speed_updates_s"] = f["speed_updates_s"];
        st.counters["ui_cpu_pct"] = f["ui_cpu_pct"];
        st.counters["probe_cpu_pct"] = f["probe_cpu_pct"];
        st.counters["MiB_s"] = f["download_mib_s"];
        char extra[256];
        std::snprintf(extra, sizeof extra, "%llu MiB at %.0f MiB/s",
                      static_cast<unsigned long long>(mib), f["download_mib_s"]);
        Report(st, f, "download", "DOWNLOAD", extra);
        std::printf("responsive UPDATES: transfer list %.1f/s, speed pane %.1f/s, "
                    "user-interface thread %.2f %% of one core (of which the probe %.2f %%)\n",
                    f["list_updates_s"], f["speed_updates_s"], f["ui_cpu_pct"], f["probe_cpu_pct"]);
    }
}

void BM_Startup(benchmark::State& st)
{
    const uint64_t sources = kvbench::env_num("KV_BENCH_APP_DS", 500);
    const uint64_t requests = kvbench::env_num("KV_BENCH_APP_REQS", 50);
    for (auto _ : st) {
        kvtest::TempDir dir("kvappbench", TmpBase().c_str());
        MakeHome(dir);
        setenv("KV_BENCH_APP_DS", std::to_string(sources).c_str(), 1);
        MakeFiles(dir / "work/reqsrc", requests, 16, "r%llu.txt");
        fs::create_directories(dir / "work/reqdst");
        if (!Prepare(st, sources, requests, 0)) {
            return;
        }
        // The first start fills the caches of the desktop (fonts); a person
        // meets the second. Both start from the same saved state: the first
        // runs the requests it finds, so the second gets the saved folders
        // back.
        for (const char* sub : {"data", "config"}) {
            fs::create_directories(dir / (std::string("saved/") + sub));
            fs::copy(dir / sub, dir / (std::string("saved/") + sub), fs::copy_options::recursive);
        }
        Figures cold;
        Figures warm;
        if (!Measure(st, "startup", cold)) {
            return;
        }
        for (const char* sub : {"data", "config", "work/reqdst"}) {
            fs::remove_all(dir / sub);
        }
        fs::create_directories(dir / "work/reqdst");
        for (const char* sub : {"data", "config"}) {
            fs::copy(dir / (std::string("saved/") + sub), dir / sub, fs::copy_options::recursive);
        }
        if (!Measure(st, "startup", warm)) {
            return;
        }
        st.SetIterationTime(warm["startup_ms"] / 1000);
        st.counters["startup_ms"] = warm["startup_ms"];
        st.counters["cold_ms"] = cold["startup_ms"];
        std::printf("responsive STARTUP: painted after %.0f ms (first start %.0f ms; %.0f data "
                    "sources, %.0f requests listed)\n",
                    warm["startup_ms"], cold["startup_ms"], static_cast<double>(sources),
                    warm["startup_requests"]);
    }
}

BENCHMARK(BM_Listing)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Download)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Startup)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (const char* which = std::getenv(kRunVar)) {
        return RunChild(which, argc, argv);
    }
    TmpBase();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
