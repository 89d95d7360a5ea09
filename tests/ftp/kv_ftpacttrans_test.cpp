// The transfer actions' command lines and the framework's refusal to run
// without a logged-in connection, on a manager that never connects.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "ftp/kv_ftpacttrans.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "support/kv_testtools.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_transtest.h"

namespace {

// Binds the action to the manager the way exec does; without a connection
// the action ends not executed and nothing runs.
void bind(KV_FtpMan& ftp, KV_FtpAct& act)
{
    EXPECT_TRUE(ftp.exec_impl(&act));
    EXPECT_FALSE(act.executed());
    EXPECT_EQ(ftp.data_conn(), nullptr);
}

} // namespace

TEST(KV_FtpActTrans, ListCommandFollowsFlagsAndDialect)
{
    struct Case
    {
        uint8_t flags;
        bool vm;
        const char* cmd;
    };
    const Case cases[] = {
        {0, false, "LIST"},     {1, false, "LIST -a"}, {2, false, "LIST -L"},
        {3, false, "LIST -aL"}, {3, true, "LIST"},     {0, true, "LIST"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmd);
        KV_FtpMan ftp;
        KV_FtpManOpts o;
        o.set_list_flags(c.flags);
        ftp.set_opts(o);
        ftp.serv = c.vm ? static_cast<KV_FtpServer*>(new KV_FtpServerVM) : new KV_FtpServer;
        KV_FtpActListParams params(nullptr, nullptr, transtest::path_of({"/"}));
        KV_FtpActList list(params);
        bind(ftp, list);
        EXPECT_STREQ(list.get_cmd().data(), c.cmd);
    }
}

TEST(KV_FtpActTrans, TransferCommandLines)
{
    KV_FtpMan ftp;
    KV_FtpManOpts o;
    o.set_use_append(true);
    ftp.set_opts(o);

    // No dialect yet: no command can be formed.
    KV_FtpActGet none(KV_TRANS_MODE_BINARY, "/a b.bin", "", 0, nullptr);
    bind(ftp, none);
    EXPECT_TRUE(none.get_cmd().empty());

    ftp.serv = new KV_FtpServer;
    KV_FtpActGet get(KV_TRANS_MODE_BINARY, "/a b.bin", "", 0, nullptr);
    bind(ftp, get);
    EXPECT_STREQ(get.get_cmd().data(), "RETR /a b.bin");
    KV_FtpActPut stor(KV_TRANS_MODE_BINARY, "", "/up.bin", nullptr, 0);
    bind(ftp, stor);
    EXPECT_STREQ(stor.get_cmd().data(), "STOR /up.bin");
    KV_FtpActPut appe(KV_TRANS_MODE_BINARY, "", "/up.bin", nullptr, 10);
    bind(ftp, appe);
    EXPECT_STREQ(appe.get_cmd().data(), "APPE /up.bin");
    KV_FtpActGetDirect direct("/src.bin", 5);
    bind(ftp, direct);
    EXPECT_STREQ(direct.get_cmd().data(), "RETR /src.bin");
    KV_InetAddr addr;
    EXPECT_TRUE(direct.dtrans(addr));
    EXPECT_FALSE(addr.valid());
    EXPECT_TRUE(direct.trans_end_fast());
    EXPECT_FALSE(get.close_self());
    EXPECT_TRUE(stor.close_self());
    EXPECT_TRUE(stor.trans_end_fast());
    EXPECT_FALSE(get.trans_end_fast());

    o.set_use_append(false);
    ftp.set_opts(o);
    KV_FtpActPut rest(KV_TRANS_MODE_BINARY, "", "/up.bin", nullptr, 10);
    bind(ftp, rest);
    EXPECT_STREQ(rest.get_cmd().data(), "STOR /up.bin");
}

// Each listing line's name must stay one entry of the listed folder; a
// line holding a NUL is no entry, since the dialects cut the name there
// and what is left may name another file. A negative size keeps the entry,
// its size unknown.
TEST(KV_FtpActTrans, ListingKeepsOnlyNamesOfTheListedFolder)
{
    KV_FtpMan ftp;
    ftp.serv = new KV_FtpServer;
    KV_FileListStore store(true, nullptr);
    KV_FtpActListParams params(&store, nullptr, transtest::path_of({"/"}));
    KV_FtpActList list(params);
    bind(ftp, list);
    const std::string nul(1, '\0');
    const struct
    {
        std::string line;
        const char* kept; // null: dropped
    } lines[] = {
        {"-rw-r--r-- 1 u g 3 Jan 1 2020 ok.txt", "ok.txt"},
        {"drwxr-xr-x 2 u g 4096 Jan 1 2020 okdir", "okdir"},
        {"drwxr-xr-x 2 u g 4096 Jan 1 2020 .", nullptr},
        {"drwxr-xr-x 2 u g 4096 Jan 1 2020 ..", nullptr},
        {"-rw-r--r-- 1 u g 3 Jan 1 2020 ..", nullptr},
        {"-rw-r--r-- 1 u g 3 Jan 1 2020 ../../ESC_file.txt", nullptr},
        {"drwxr-xr-x 2 u g 4096 Jan 1 2020 ../../ESC_dir", nullptr},
        {"-rw-r--r-- 1 u g 3 Jan 1 2020 a/b", nullptr},
        {"-rw-r--r-- 1 u g 3 Jan 1 2020 /etc/x", nullptr},
        {"-rw-r--r-- 1 u g 3 Jan 1 2020 ok.txt" + nul + "/../x", nullptr},
        {"-rw-r--r-- 1 u g 3 Jan 1 2020 ok.txt" + nul, nullptr},
        {"-rw-r--r-- 1 u g -7 Jan 1 2020 neg.bin", "neg.bin"},
    };
    std::vector<std::string> want;
    for (const auto& l : lines) {
        KV_String k;
        k.append(reinterpret_cast<const unsigned char*>(l.line.data()),
                 static_cast<uint32_t>(l.line.size()));
        EXPECT_TRUE(list.add_entry(k, nullptr));
        if (l.kept)
            want.emplace_back(l.kept);
    }
    std::vector<std::string> got;
    for (KV_FileTreeNode* n : store.entries())
        got.emplace_back(n->name().data(), n->name().length());
    EXPECT_EQ(got, want);
    KV_FileTreeNode* neg = nullptr;
    ASSERT_TRUE(store.find("neg.bin", &neg));
    EXPECT_FALSE(neg->fdc().valid_size(true));
    EXPECT_FALSE(neg->is_dir());
}

namespace {

// A listing action on a manager that never connects, fed the data
// connection's bytes in chunks as the data session would.
struct ListFeed
{
    ListFeed() : params(&store, nullptr, transtest::path_of({"/"})), list(params)
    {
        ftp.serv = new KV_FtpServer;
        bind(ftp, list);
        EXPECT_TRUE(list.init());
    }
    // False once the listing refused the data.
    bool feed(const std::string& bytes)
    {
        KV_Stream in;
        in.append(reinterpret_cast<const unsigned char*>(bytes.data()),
                  static_cast<uint32_t>(bytes.size()));
        bool end = false;
        return list.process_in(in, end);
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> n;
        for (uint32_t i = 0; i < store.entries().size(); ++i)
            n.push_back(store.entries().at(i)->name().data());
        return n;
    }

    KV_FtpMan ftp;
    KV_FileListStore store{true, nullptr};
    KV_FtpActListParams params;
    KV_FtpActList list;
};

std::string unix_line(const std::string& name)
{
    return "-rw-r--r-- 1 joe staff 12 Jan 01  2024 " + name;
}

} // namespace

// A server that never ends a line must not fill the memory: the listing is
// refused with a clear error as soon as the line passes the limit, however
// the bytes are cut, and nothing of the long line becomes an entry.
TEST(KV_FtpActTrans, AListingLineLongerThanTheLimitIsRefused)
{
    const uint32_t max = KV_FtpActList::max_line;
    const std::string at_limit = unix_line(std::string(max - unix_line("").size(), 'n'));
    ASSERT_EQ(at_limit.size(), max);
    struct Case
    {
        const char* what;
        std::string data;
        size_t chunk;
        bool ok;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"a line at the limit",
         unix_line("a") + "\n" + at_limit + "\r\n",
         4096,
         true,
         {"a", std::string(max - unix_line("").size(), 'n')}},
        {"one byte over, ended", unix_line("a") + "\n" + at_limit + "x\n", 4096, false, {"a"}},
        {"one byte over, the last line",
         unix_line("a") + "\r\n" + at_limit + "x",
         4096,
         false,
         {"a"}},
        {"one byte over, a byte at a time", at_limit + "x", 1, false, {}},
        {"one byte over, in one piece",
         unix_line("a") + "\n" + at_limit + "xyz",
         1 << 20,
         false,
         {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListFeed f;
        bool ok = true;
        for (size_t at = 0; ok && at < c.data.size(); at += c.chunk)
            ok = f.feed(c.data.substr(at, c.chunk));
        ok = f.list.cleanup() && ok;
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(f.names(), c.names);
        EXPECT_STREQ(f.ftp.err_msg().data(), c.ok ? "" : KV_FtpActList::too_long_msg);
    }

    // 8 MB without a line end, in the data session's chunks: refused at the
    // chunk that passes the limit, not after the whole of it.
    ListFeed f;
    const std::string chunk(16384, 'z');
    size_t fed = 0;
    bool ok = true;
    while (ok && fed < (8u << 20)) {
        ok = f.feed(chunk);
        fed += chunk.size();
    }
    EXPECT_FALSE(ok);
    EXPECT_LE(fed, size_t(max) + chunk.size());
    EXPECT_FALSE(f.feed(unix_line("after") + "\n")) << "nothing more is taken";
    EXPECT_FALSE(f.list.cleanup());
    EXPECT_TRUE(f.names().empty());
    EXPECT_STREQ(f.ftp.err_msg().data(), KV_FtpActList::too_long_msg);
}

class FtpGetEnd : public transtest::TmpFolderTest
{
};

// A server that ends the data of one part of a download early: the
// request's error says so in the words of the person who asked for the
// file, not in the copy's inner terms.
TEST_F(FtpGetEnd, APartThatEndsEarlySaysTheCopyIsIncomplete)
{
    kvtest::LogErr eh;
    KV_FileData fd("file.bin", "Jan 01 2024", 300, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    const KV_PathDef src = transtest::path_of({"/", "pub", "file.bin"});
    const KV_PathDef dst = transtest::path_of({"Local", "out", "file.bin"});
    KV_TransLogCp log(nullptr, "/pub/file.bin", fd, src, dst);
    log.set_flags_init(true, true, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
    ASSERT_TRUE(log.set_name((dir / "parts").c_str()));
    ASSERT_TRUE(log.create(eh));
    log.man_frag().clear();
    ASSERT_TRUE(log.man_frag().add_new(0, 300, KV_FileFrag::IN_TRANSFER));
    KV_FileFrag* frag = nullptr;
    ASSERT_TRUE(log.man_frag().find_pos(&frag, 0));
    KV_FtpMan ftp;
    ftp.serv = new KV_FtpServer;
    KV_FtpActGet get("/pub/file.bin", "", frag, &log);
    bind(ftp, get);
    ASSERT_TRUE(get.init());
    KV_Stream in;
    const std::string bytes(100, 'x');
    in.append(reinterpret_cast<const unsigned char*>(bytes.data()), 100);
    bool end = false;
    ASSERT_TRUE(get.process_in(in, end));
    EXPECT_TRUE(get.cleanup());
    EXPECT_FALSE(get.executed());
    const std::string said = ftp.err_msg().data();
    EXPECT_EQ(said, KV_FtpActGet::short_data_msg);
    EXPECT_EQ(said.find("fragment"), std::string::npos) << said;
}
