// How a large file is cut into fragments for parallel fetches, and which
// listed names the plan of a folder takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "support/kv_testtools.h"
#include "transfers/kv_copyplan.h"
#include "transfers/kv_tavotrans.h"
#include "transfers/kv_transmantest.h"

namespace {

constexpr int64_t MiB = 1024 * 1024;

TEST(FragSize, AsManyFragmentsAsWorkersWhileEachReachesTheMinimum)
{
    struct Case
    {
        int64_t size;
        uint32_t workers;
        int64_t min;
        int64_t want; // 0: the file goes whole
    };
    const Case cases[] = {
        {10 * MiB, 4, MiB, 2621440},     // four equal fragments
        {3 * MiB / 2, 4, MiB, 0},        // two would already be short
        {2 * MiB, 4, MiB, MiB},          // exactly two of the minimum
        {3 * MiB, 4, MiB, MiB},          // three
        {10 * MiB + 1, 4, MiB, 2621441}, // the remainder rounds up
        {10 * MiB, 1, MiB, 0},           // a single worker
        {10 * MiB, 0, MiB, 0},           // no workers known
        {10 * MiB, 4, 0, 0},             // no minimum: not segmented
        {0, 4, MiB, 0},                  // empty
        {-1, 4, MiB, 0},                 // unknown size
        {INT64_MAX, 8, MiB, INT64_MAX / 8 + 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KV_TavoTrans::frag_size(c.size, c.workers, c.min), c.want)
            << c.size << " bytes, " << c.workers << " workers, min " << c.min;
}

TEST(FragSize, FragmentsCoverTheFileWithoutAnEmptyOne)
{
    for (int64_t size = 1; size < 64; ++size) {
        for (uint32_t n = 2; n <= 5; ++n) {
            const int64_t f = KV_TavoTrans::frag_size(size, n, 3);
            if (f == 0)
                continue;
            const int64_t count = (size + f - 1) / f;
            EXPECT_GE(f, 3);
            EXPECT_LE(count, n);
            EXPECT_GT(size - (count - 1) * f, 0) << size << "/" << n;
        }
    }
}

// A server's listing as the plan sees it, whatever protocol read it: only
// names that are one entry of the folder are planned, files and folders
// alike; "." and ".." folders go unremarked, every other refusal is
// reported.
class CopyPlan : public transtest::TmpFolderTest
{
protected:
    static KV_String raw(const std::string& s)
    {
        KV_String k;
        k.append(reinterpret_cast<const unsigned char*>(s.data()), static_cast<uint32_t>(s.size()));
        return k;
    }
    void list(const std::string& name, bool dir)
    {
        KV_FileData fd(raw(name), dir);
        if (!dir) {
            fd.set_size(1);
            fd.set_fd_flags(KV_FD_SIZE, 0);
        }
        auto* node = new KV_FileTreeNode(true, fd);
        ASSERT_TRUE(ls_src.add(node));
    }

    transtest::FakeMan ftp{transtest::id_of(2, "srv.example", 1), KV_FILE_MAN_TYPE_FTP, "Srv"};
    transtest::FakeMan disk{transtest::id_of(1, "Home", 1), KV_FILE_MAN_TYPE_STD, "Home"};
    KV_FileListStore ls_src{true, nullptr};
    KV_FileListStore ls_dst{true, nullptr};
    KV_Informer informer;
};

TEST_F(CopyPlan, NamesThatAreNoSingleEntryAreNeverPlanned)
{
    const std::string nul = std::string("ok.txt\0", 7) + "/../x";
    const struct
    {
        std::string name;
        bool dir;
        bool reported;
    } listed[] = {
        {"ok.txt", false, false},
        {"okdir", true, false},
        {".", true, false},
        {"..", true, false},
        {".", false, true},
        {"..", false, true},
        {"../x", false, true},
        {"../x", true, true},
        {"../../ESC_file.txt", false, true},
        {"../../ESC_dir", true, true},
        {"a/b", false, true},
        {"a/b", true, true},
        {"/etc/x", false, true},
        {"/etc", true, true},
        {"", false, true},
        {nul, false, true},
        {std::string("okdir\0", 6), true, true},
    };
    for (const auto& l : listed)
        list(l.name, l.dir);
    // A rename on the way may not lead out either.
    list("renamed.txt", false);
    transtest::Names from{"renamed.txt"};
    transtest::Names to{"../renamed.txt"};

    KV_FileReqTransCp req(&ftp, &disk, transtest::path_of({"Srv", "/", "pub"}),
                          transtest::path_of({"Home", "/", "dst"}), from, to,
                          KV_FileReqTransParamsCp());
    ASSERT_TRUE(req.pre_add());
    kvtest::LogErr eh;
    req.log().set_eh(&eh);
    KV_TavoTrans worker(informer);
    KV_TavoTrans::CpList plan;
    KVTL::KV_ListVal<KV_TavoTrans::KV_NamePair> dirs;
    ASSERT_TRUE(worker.cmp_dir(req, ls_src, ls_dst, transtest::path_of({"Srv", "/", "pub"}),
                               transtest::path_of({"Home", "/", "dst"}), plan, dirs, &from, &to));
    std::vector<std::string> files;
    for (KV_TavoTrans::KV_DirEntryCp* e : plan) {
        const KV_PathDef& d = e->log().path_dst();
        files.emplace_back(d.last().data(), d.last().length());
        EXPECT_EQ(d.entries(), 4u) << "one entry below the destination";
        delete e;
    }
    plan.clear();
    std::vector<std::string> folders;
    for (uint32_t i = 0; i < dirs.size(); ++i)
        folders.emplace_back(dirs.at(i).dst.data(), dirs.at(i).dst.length());
    EXPECT_EQ(files, std::vector<std::string>{"ok.txt"});
    EXPECT_EQ(folders, std::vector<std::string>{"okdir"});

    size_t reported = 1; // the rename
    for (const auto& l : listed)
        reported += l.reported ? 1 : 0;
    EXPECT_EQ(eh.count(), reported) << eh.all();
    for (const std::string& t : eh.texts())
        EXPECT_NE(t.find("not a valid file name"), std::string::npos) << t;
}

} // namespace
