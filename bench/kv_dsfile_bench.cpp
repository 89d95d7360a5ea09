// Reading and writing a data-source file of 10,000 data sources (FTP, HTTP
// and SFTP servers in 100 folders, each with an address, a user and a
// password), as a heavy user's "kivrel.ds" might hold.
//
// BM_DsFileLoad reads and parses the whole file into a new tree.
// BM_DsFileSave builds the text and writes it (one node changes each time,
// so every save really writes: temporary file, flush to disk, rename).
// BM_DsFileSaveUnchanged builds the text and finds it equal to the file's.
#include <benchmark/benchmark.h>

#include <string>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "support/kv_testtools.h"

namespace {

constexpr int nsources = 10000;
constexpr int nfolders = 100;

class BenchTree : public KV_DsTree
{
public:
    using KV_DsTree::KV_DsTree;
    bool load_file() { return KV_DsTree::load(static_cast<KV_FileTransMan*>(nullptr)); }
};

struct Setup
{
    kvtest::TempDir tmp{"kv_dsfile_bench"};
    const std::string dir = tmp.path();
    KV_FileManPool pool;
    kvtest::NullErr quiet;
    bool ok = false;
    long bytes = 0;

    Setup()
    {
        if (!tmp.ok())
            return;
        KV_File::set_path(KV_PATH_SETTINGS, dir.c_str());
        if (!kvtest::write_file(dir + "/kivrel.ds", ""))
            return;
        BenchTree tree(quiet);
        tree.set_pool(&pool);
        tree.set_autosave(false);
        if (!tree.load_file())
            return;
        KV_DsTreeNode* groups[3] = {tree.find(KV_DS_NODE_FTP, true),
                                    tree.find(KV_DS_NODE_HTTP, true),
                                    tree.find(KV_DS_NODE_SFTP, true)};
        KV_DsTreeNode* folders[nfolders];
        for (int i = 0; i < nfolders; ++i) {
            KV_DsTreeNode* parent = groups[i % 3];
            KV_DsTreeNode* made = nullptr;
            KV_String name;
            name.format("Folder %03d", i);
            if (i % 3 == 0) {
                KV_DsTreeNodeGrpFtp g(tree);
                g.set_name(name);
                made = tree.create(parent, &g, 0, true);
            } else if (i % 3 == 1) {
                KV_DsTreeNodeGrpHttp g(tree);
                g.set_name(name);
                made = tree.create(parent, &g, 0, true);
            } else {
                KV_DsTreeNodeGrpSftp g(tree);
                g.set_name(name);
                made = tree.create(parent, &g, 0, true);
            }
            if (!made)
                return;
            folders[i] = made;
        }
        for (int i = 0; i < nsources; ++i) {
            int folder = i % nfolders;
            KV_String name, addr;
            name.format("Server %05d", i);
            addr.format("host%05d.example.com", i);
            KV_DsTreeNode* made = nullptr;
            if (folder % 3 == 0) {
                KV_DsTreeNodeFtp n;
                n.set_name(name);
                n.set_comment("Mirror of the\r\nrelease area");
                n.params_ftp().set_dst_addr(addr);
                n.params_ftp().ldata().set_user("user");
                n.params_ftp().ldata().set_pass("password");
                n.params_ftp().set_def_path("/pub/releases", false);
                made = tree.create(folders[folder], &n, 0, true);
            } else if (folder % 3 == 1) {
                KV_DsTreeNodeHttp n;
                n.set_name(name);
                n.params_http().set_dst_addr(addr);
                n.params_http().set_security(1);
                n.params_http().set_docs("/index.html\r\n/docs/manual.html");
                made = tree.create(folders[folder], &n, 0, true);
            } else {
                KV_DsTreeNodeSftp n;
                n.set_name(name);
                n.params_sftp().set_dst_addr(addr);
                n.params_sftp().ldata().set_user("admin");
                n.params_sftp().ldata().set_pass("password");
                made = tree.create(folders[folder], &n, 0, true);
            }
            if (!made)
                return;
        }
        if (!tree.save())
            return;
        int64_t size = 0;
        KV_Time mtime;
        KV_File::props((dir + "/kivrel.ds").c_str(), size, mtime);
        bytes = static_cast<long>(size);
        ok = true;
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

void BM_DsFileLoad(benchmark::State& state)
{
    Setup& s = setup();
    if (!s.ok) {
        state.SkipWithError("could not write the file");
        return;
    }
    for (auto _ : state) {
        BenchTree tree(s.quiet);
        tree.set_pool(&s.pool);
        if (!tree.load_file()) {
            state.SkipWithError("load failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * s.bytes);
    state.counters["file_bytes"] = static_cast<double>(s.bytes);
}

void BM_DsFileSave(benchmark::State& state)
{
    Setup& s = setup();
    BenchTree tree(s.quiet);
    tree.set_pool(&s.pool);
    if (!s.ok || !tree.load_file()) {
        state.SkipWithError("load failed");
        return;
    }
    KV_DsTreeNode* node = tree.find(KV_String("Server 05000"));
    int n = 0;
    for (auto _ : state) {
        // One changed comment: the text differs and the file is written.
        KV_String comment;
        comment.format("edit %d", n++);
        node->set_comment(comment);
        if (!tree.save()) {
            state.SkipWithError("save failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * s.bytes);
}

void BM_DsFileSaveUnchanged(benchmark::State& state)
{
    Setup& s = setup();
    BenchTree tree(s.quiet);
    tree.set_pool(&s.pool);
    if (!s.ok || !tree.load_file()) {
        state.SkipWithError("load failed");
        return;
    }
    for (auto _ : state) {
        if (!tree.save()) {
            state.SkipWithError("save failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * s.bytes);
}

} // namespace

BENCHMARK(BM_DsFileLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DsFileSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DsFileSaveUnchanged)->Unit(benchmark::kMillisecond);
