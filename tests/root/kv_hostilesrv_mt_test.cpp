// Folder downloads through the façade from servers that list what no
// honest server would: names that climb out of the folder ("..", "../x"),
// that cross folders ("a/b", "/etc/x"), that hold a NUL, and sizes below
// zero. Whatever the listing says, nothing may appear outside the chosen
// destination, the honest files arrive with their bytes, and the request
// says how it ended.
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "datasources/kv_dstreenodeds.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_filemanpool.h"
#include "root/kv_rootfixture.h"
#include "support/kv_ftpscript.h"
#include "support/kv_poolthreads.h"
#include "support/kv_testtools.h"

namespace {

namespace fs = std::filesystem;
using Names = KVTL::KV_ListVal<KV_String>;
// Relative path -> what is there: "/" for a folder, else the file's
// length and a hash of its bytes (short enough to print).
using Tree = std::map<std::string, std::string>;

const std::string kOk = "the honest file\n";
const std::string kHostile = "HOSTILE BYTES\n";

std::string desc(const std::string& bytes)
{
    return std::to_string(bytes.size()) + " bytes #" +
           std::to_string(std::hash<std::string>()(bytes));
}

// Every file and folder below `root`, relative to it; folders as "name/".
Tree snapshot(const std::string& root)
{
    Tree t;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != end(it);
         it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_symlink() || !it->is_directory())
            t[rel] = desc(kvtest::read_file(it->path().string()));
        else
            t[rel + "/"] = "/";
    }
    return t;
}

// A listing line as the server sends it, NUL bytes and all.
struct Line
{
    std::string name;
    long long size;
    bool dir;
};

struct Case
{
    const char* what;
    std::vector<Line> hostile;
    Tree arrives; // below the destination's "tree", besides ok.txt
};

class HostileFtp : public roottest::RootTest
{
protected:
    std::string ds_text() const override
    {
        return "### Node definition: Kivrel ###\n"
               "NODE: TYPE = GROUP|DS NAME = Kivrel\n\n"
               "### Node definition: Ftp ###\n"
               "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp\n\n"
               "### Node definition: Evil ###\n"
               "NODE: TYPE = FTP NAME = Kivrel|Ftp|Evil\n"
               "SET DST_ADDR " +
               srv.dest() + "\nSET USER anonymous\n\n";
    }
    void SetUp() override
    {
        RootTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(pool->load_req());
        ASSERT_TRUE(pool->man_trans().start());
        KV_DsTreeNode* evil = tree().find(KV_String("Evil"));
        ASSERT_NE(evil, nullptr);
        tree().set_pass(evil->id(), KV_String("guest@"));
        ftp = pool->reg(KV_FileManId(evil->id(), 0));
        ASSERT_NE(ftp, nullptr);
        ASSERT_EQ(ftp->type(), KV_FILE_MAN_TYPE_FTP);
        ftp->lock(false);
        local = pool->reg(KV_FileManId(local_ds(), 0));
        ASSERT_NE(local, nullptr);
        local->lock(false);
        // A hostile server answers for every folder and file it is asked
        // for, so that a name that led astray would be followed all the way.
        const std::string inner = kvtest::FtpScript::unix_line("inner.txt", 14);
        srv.set_any(&inner, &kHostile);
    }
    void TearDown() override
    {
        if (ftp)
            ftp->unlock(false);
        if (local)
            local->unlock(false);
        RootTest::TearDown();
    }

    static KV_PathDef path(KV_FileMan* m, const std::string& text)
    {
        KV_PathDef p;
        EXPECT_TRUE(m->man_path().split_path(KV_String(text.c_str()), p, true));
        EXPECT_TRUE(p.prepend(m->man_path().dir_pre()));
        return p;
    }

    // Until every request not judged before has ended: the texts of those
    // that did not complete, or a note that some still run.
    std::string requests_done()
    {
        std::string failed;
        std::set<unsigned int> now;
        const bool all = pump_until([&] {
            failed.clear();
            now.clear();
            bool done = true;
            KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(
                pool->man_trans().man_info().map());
            for (it.first(); !it.end(); it.next()) {
                if (judged.count(it.key()) != 0)
                    continue;
                now.insert(it.key());
                const KV_REQ_STAT st = it.value()->status();
                if (!KV_FileReq::processed(st))
                    done = false;
                else if (st != KV_REQ_STAT_COMPLETED)
                    failed += std::string(it.value()->descr().data()) + ": " +
                              it.value()->status_str() + " " + it.value()->last_err().data() + "\n";
            }
            return done;
        });
        judged.insert(now.begin(), now.end());
        return all ? failed : "requests still running\n" + failed;
    }

    // Serves /pub/<id>/tree holding ok.txt and the hostile lines, downloads
    // the folder "tree" into <work>/<id>/a/b/dst and checks what is where.
    void run(const std::string& id, const Case& c)
    {
        SCOPED_TRACE(c.what);
        const std::string pub = "/pub/" + id;
        srv.set_listing(pub, kvtest::FtpScript::unix_line("tree", 4096, true));
        std::string listing = kvtest::FtpScript::unix_line("ok.txt", kOk.size());
        for (const Line& l : c.hostile)
            listing += kvtest::FtpScript::unix_line(l.name, l.size, l.dir);
        srv.set_listing(pub + "/tree", listing);
        srv.set_file(pub + "/tree/ok.txt", kOk);

        const std::string base = work + "/" + id;
        const std::string dst = base + "/a/b/dst";
        fs::create_directories(dst);
        Names names;
        names.add("tree");
        ASSERT_TRUE(pool->copy(ftp->id(), local->id(), path(ftp, pub), path(local, dst), names,
                               KV_FileReqTransParamsCp(), false, false, false));
        EXPECT_EQ(requests_done(), "") << (errors.empty() ? "" : errors.back());

        // Nothing beside the destination on the way up to the test's root.
        Tree outside = snapshot(base);
        for (auto it = outside.begin(); it != outside.end();) {
            const bool on_way =
                it->first == "a/" || it->first == "a/b/" || it->first.rfind("a/b/dst/", 0) == 0;
            it = on_way ? outside.erase(it) : std::next(it);
        }
        EXPECT_EQ(outside, Tree{}) << "written outside the destination";
        // Nor further up, where a name that climbed higher would land.
        for (const auto& [rel, bytes] : snapshot(tmp.path())) {
            if (rel.find("ESC") != std::string::npos && escaped.insert(rel).second)
                ADD_FAILURE() << "escaped: " << rel;
        }

        Tree want = c.arrives;
        want["ok.txt"] = desc(kOk);
        EXPECT_EQ(snapshot(dst + "/tree"), want);
    }

    kvtest::FtpScript srv;
    std::set<unsigned int> judged;
    std::set<std::string> escaped;
    KV_FileMan* ftp = nullptr;
    KV_FileMan* local = nullptr;
};

TEST_F(HostileFtp, ListedNamesNeverLeaveTheDestination)
{
    const std::string nul(1, '\0');
    // The server also serves the file that a name cut at its NUL would
    // name: it must not arrive.
    srv.set_file("/pub/nul/tree/cut.txt", kHostile);
    const Case cases[] = {
        {"file ..", {{"..", 14, false}}, {}},
        {"folder ..", {{"..", 4096, true}}, {}},
        {"file .", {{".", 14, false}}, {}},
        {"folder .", {{".", 4096, true}}, {}},
        {"file ../x", {{"../x", 14, false}, {"../../ESC_file.txt", 14, false}}, {}},
        {"folder ../x", {{"../x", 4096, true}, {"../../ESC_dir", 4096, true}}, {}},
        {"file a/b", {{"a/b", 14, false}}, {}},
        {"folder a/b", {{"a/b", 4096, true}}, {}},
        {"file /etc/x", {{"/etc/x", 14, false}}, {}},
        {"folder /etc/x", {{"/etc/x", 4096, true}}, {}},
        {"NUL inside a file name", {{"cut.txt" + nul + "/../../ESC_nul", 14, false}}, {}},
        {"NUL inside a folder name", {{"sub" + nul + "/../../ESC_nul", 4096, true}}, {}},
    };
    const std::string ids[] = {"dotdot_f", "dotdot_d", "dot_f", "dot_d", "up_f", "up_d",
                               "slash_f",  "slash_d",  "abs_f", "abs_d", "nul",  "nul_d"};
    static_assert(std::size(cases) == std::size(ids));
    for (size_t i = 0; i < std::size(cases); ++i)
        run(ids[i], cases[i]);
}

TEST_F(HostileFtp, AFileWithANegativeSizeIsCopied)
{
    const std::string bytes = kvtest::pattern(70000, 3);
    srv.set_file("/pub/neg/tree/neg.bin", bytes);
    run("neg", {"negative size", {{"neg.bin", -5, false}}, {{"neg.bin", desc(bytes)}}});
}

} // namespace
