// Merging a large listing into a browse tree that already knows every entry:
// the common case of a refresh. A full cycle is measured: listing start (mark
// all), the listing itself (look up and compare each entry) and listing end
// (sweep). Building the message's nodes is excluded; their deletion, which
// the merge does for entries it already knows, is included.
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "foundation/kv_msg.h"
#include "requests/kv_filetree.h"

namespace {

KV_PathDef folder_path()
{
    KV_PathDef p;
    p.append("srv");
    p.append("home");
    p.append("big");
    return p;
}

void fill(KV_MsgTreeScan& msg, int64_t count)
{
    msg.nodes.reserve(static_cast<uint32_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        char name[32];
        // Not in name order, as a local folder's listing comes.
        snprintf(name, sizeof name, "file_%07lld.dat", static_cast<long long>((i * 7919) % count));
        KV_FileData fd(name, "Jan 1 2024", i, KV_Time(1704067200L));
        fd.set_fd_flags(KV_FD_SIZE | KV_FD_TIME, 0);
        msg.nodes.add(new KV_FileTreeNode(true, fd));
    }
}

void BM_FileTreeMergeKnownListing(benchmark::State& state)
{
    const int64_t count = state.range(0);
    const KV_PathDef path = folder_path();
    KV_FileTree tree;
    KV_MsgTreePwd pwd(path);
    tree.process_ntf(&pwd);
    {
        KV_MsgTreeScan first(path);
        fill(first, count);
        tree.process_ntf(&first);
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto* msg = new KV_MsgTreeScan(path);
        fill(*msg, count);
        state.ResumeTiming();

        KV_MsgTreeNtf begin(path, KV_TREE_NTF_SCAN_BEGIN, true, KV_String());
        tree.process_ntf(&begin);
        tree.process_ntf(msg);
        KV_MsgTreeNtf end(path, KV_TREE_NTF_SCAN_END, true, KV_String());
        tree.process_ntf(&end);

        state.PauseTiming();
        delete msg;
        state.ResumeTiming();
    }
    KV_FileTreeNode* dir = tree.find(path.list());
    if (!dir || dir->list().size() != static_cast<uint32_t>(count) + 1) {
        state.SkipWithError("the merge lost or added entries");
    }
    state.SetItemsProcessed(state.iterations() * count);
}

} // namespace

BENCHMARK(BM_FileTreeMergeKnownListing)->Arg(100000)->Unit(benchmark::kMillisecond);
