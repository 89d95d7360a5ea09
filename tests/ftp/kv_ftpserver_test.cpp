// Listing lines per dialect: each line's name, size, kind and date text.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ftp/kv_ftpserver.h"

namespace {

struct Entry
{
    bool ok;
    std::string name;
    int64_t size;
    uint8_t flags;
    std::string date;
};

Entry parse(KV_FtpServer& s, const std::string& line, std::string* attr = nullptr,
            std::string* owner = nullptr, std::string* group = nullptr)
{
    KV_String l;
    l.append(line.data(), static_cast<uint32_t>(line.size()));
    KV_String name, a, o, g, date;
    int64_t size = -1;
    uint8_t flags = 0;
    Entry e{};
    e.ok = s.parse_line(l, name, a, o, g, date, size, flags);
    e.name.assign(name.data(), name.length());
    e.size = size;
    e.flags = flags;
    e.date = date.data();
    if (attr)
        *attr = a.data();
    if (owner)
        *owner = o.data();
    if (group)
        *group = g.data();
    return e;
}

struct Case
{
    const char* where; // where such lines are seen
    std::string line;
    bool ok;
    std::string name;
    int64_t size;
    uint8_t flags;
    std::string date;
};

void run_table(KV_FtpServer& s, const std::vector<Case>& cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.where) + ": " + c.line.substr(0, 120));
        const Entry e = parse(s, c.line);
        ASSERT_EQ(e.ok, c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.size, c.size);
        EXPECT_EQ(e.flags, c.flags);
        EXPECT_EQ(e.date, c.date);
    }
}

const std::string long_name(300, 'n');

} // namespace

TEST(KV_FtpServer, UnixLongListing)
{
    KV_FtpServer s;
    run_table(
        s,
        {
            {"vsftpd, proftpd", "drwxr-xr-x    2 ftp      ftp          4096 Jan 05  2021 pub", true,
             "pub", 4096, 0x29, "Jan 05 2021"},
            {"GNU ls via wu-ftpd", "-rw-r--r--   1 user  staff  1234 Mar  1 12:30 my file.txt",
             true, "my file.txt", 1234, 0x38, "Mar 1 12:30"},
            {"size above 4 GiB", "-rw-r--r-- 1 u g 5368709120 Feb 29 2020 big.iso", true, "big.iso",
             5368709120LL, 0x38, "Feb 29 2020"},
            {"symlink", "lrwxrwxrwx 1 root root 7 Jan 1 2020 bin -> usr/bin", true,
             "bin -> usr/bin", 7, 0x3a, "Jan 1 2020"},
            {"device node", "crw-rw-rw- 1 root root 1, 3 Jan 1 2020 null", false, "", 0, 0, ""},
            {"leading blanks kept after a time", "-rw-r--r-- 1 u g 1 Jan 1 10:00   spaced", true,
             "  spaced", 1, 0x38, "Jan 1 10:00"},
            {"leading blanks dropped after a year", "-rw-r--r-- 1 u g 1 Jan 1 2020   spaced", true,
             "spaced", 1, 0x38, "Jan 1 2020"},
            {"300-character name", "-rw-r--r-- 1 u g 1 Jan 1 2020 " + long_name, true, long_name, 1,
             0x38, "Jan 1 2020"},
            {"no group column (some BSD servers)", "-rw-r--r-- 1 owner 42 Jan 1 2020 x", true, "x",
             42, 0x38, "Jan 1 2020"},
            {"neither owner nor group", "-rw-r--r-- 1 42 Jan 1 2020 x", true, "x", 42, 0x38,
             "Jan 1 2020"},
            {"total line", "total 24", false, "", 0, 0, ""},
            {"hour 25", "-rw-r--r-- 1 u g 1 Jan 1 25:10 x", false, "", 0, 0, ""},
            {"minute 60", "-rw-r--r-- 1 u g 1 Jan 1 12:60 x", false, "", 0, 0, ""},
            {"year 1899", "-rw-r--r-- 1 u g 1 Jan 1 1899 x", false, "", 0, 0, ""},
            {"no name", "-rw-r--r-- 1 u g 1 Jan 1 2020", false, "", 0, 0, ""},
            {"size overflowing 64 bits", "-rw-r--r-- 1 u g 99999999999999999999 Jan 1 2020 x",
             false, "", 0, 0, ""},
            // A size that is no size leaves the entry, its size unknown.
            {"negative size", "-rw-r--r-- 1 u g -5 Jan 1 2020 x", true, "x", 0, 0x28, "Jan 1 2020"},
            {"negative size, no group column", "-rw-r--r-- 1 owner -1 Jan 1 2020 x", true, "x", 0,
             0x28, "Jan 1 2020"},
            {"negative size of a folder", "drwxr-xr-x 2 u g -4096 Jan 1 2020 d", true, "d", 0, 0x29,
             "Jan 1 2020"},
            {"owner of 300 characters", "-rw-r--r-- 1 " + long_name + " g 1 Jan 1 2020 x", false,
             "", 0, 0, ""},
            {"CRLF left on the line", "-rw-r--r-- 1 u g 3 Jan 1 2020 crlf\r\n", true, "crlf", 3,
             0x38, "Jan 1 2020"},
        });
    std::string attr, owner, group;
    parse(s, "drwxr-xr-x 2 alice staff 1 Jan 1 2020 d", &attr, &owner, &group);
    EXPECT_EQ(attr, "drwxr-xr-x");
    EXPECT_EQ(owner, "alice");
    EXPECT_EQ(group, "staff");
}

TEST(KV_FtpServer, WindowsDosStyle)
{
    KV_FtpServerWinNT s;
    EXPECT_EQ(s.date_form(), 2u);
    run_table(s, {
                     {"IIS directory", "01-10-20  02:30PM       <DIR>          folder name", true,
                      "folder name", 0, 0x21, "01-10-20 02:30PM"},
                     {"IIS file", "12-31-19  11:59AM              5368709120 big.bin", true,
                      "big.bin", 5368709120LL, 0x30, "12-31-19 11:59AM"},
                     {"IIS in Unix mode", "-rwxrwxrwx 1 owner group 10 Jan 1 2020 unix.txt", true,
                      "unix.txt", 10, 0x38, "Jan 1 2020"},
                     {"overflowing size", "01-10-20  02:30PM  99999999999999999999 x", false, "", 0,
                      0, ""},
                     {"no name", "01-10-20  02:30PM  <DIR>", false, "", 0, 0, ""},
                     {"negative size", "01-10-20  02:30PM  -17 neg.bin", true, "neg.bin", 0, 0x20,
                      "01-10-20 02:30PM"},
                 });
}

TEST(KV_FtpServer, Netware)
{
    KV_FtpServerNetware s;
    run_table(s, {
                     {"Novell NetWare FTP", "d [RWCEAFMS] admin 512 Jan 05 12:00 SYSTEM", true,
                      "SYSTEM", 512, 0x21, "Jan 05 12:00"},
                     {"Novell file", "- [RWCEAFMS] admin 1024 Jan 05 2001 readme.txt", true,
                      "readme.txt", 1024, 0x30, "Jan 05 2001"},
                     {"falls back to Unix", "-rw-r--r-- 1 u g 1 Jan 1 2020 x", true, "x", 1, 0x38,
                      "Jan 1 2020"},
                     {"negative size", "- [RWCEAFMS] admin -1024 Jan 05 2001 neg.txt", true,
                      "neg.txt", 0, 0x20, "Jan 05 2001"},
                 });
    std::string attr;
    parse(s, "d [RWCEAFMS] admin 512 Jan 05 12:00 SYSTEM", &attr);
    EXPECT_EQ(attr, "d[RWCEAFMS]");
}

TEST(KV_FtpServer, VmCms)
{
    KV_FtpServerVM s;
    EXPECT_FALSE(s.list_opts());
    EXPECT_TRUE(s.acks_trans(250));
    EXPECT_FALSE(s.acks_trans(226));
    run_table(s,
              {
                  {"z/VM CMS minidisk",
                   "PROFILE  EXEC     F         80         12          1 2001-01-01 12:00:00 -",
                   true, "PROFILE.EXEC", 960, 0x24, "2001-01-01 12:00:00"},
                  {"overflowing product",
                   "BIG DATA F 9223372036854775807 2 1 2001-01-01 12:00:00 -", false, "", 0, 0, ""},
                  {"negative record count", "NEG DATA F 80 -3 1 2001-01-01 12:00:00 -", true,
                   "NEG.DATA", 0, 0x20, "2001-01-01 12:00:00"},
              });
}

TEST(KV_FtpServer, VmsMultiLineAndVersions)
{
    KV_PathMan pm('/');
    KV_FtpServerVMS s(pm);
    EXPECT_EQ(s.date_form(), 3u);
    run_table(
        s, {
               {"OpenVMS UCX", "FOO.TXT;1  4/9  10-JAN-2020 12:00:00.00  [USER]  (RWED,RWED,RE,)",
                true, "FOO.TXT;1", 2048, 0x24, "10-JAN-2020 12:00:00.00"},
               {"OpenVMS directory", "SUB.DIR;1  1/3  10-JAN-2020 12:00  [USER]  (RWE,RWE,RE,E)",
                true, "SUB", 512, 0x21, "10-JAN-2020 12:00"},
               {"MultiNet, no allocation", "BAR.C;12 7 10-JAN-2020 12:00 [USER] (RWED,RWED,,)",
                true, "BAR.C;12", 3584, 0x24, "10-JAN-2020 12:00"},
               {"long name alone (TCPware)", "A_VERY_LONG_FILE_NAME_INDEED.DAT;3", false, "", 0, 0,
                ""},
               {"its details next", "       8/9  10-JAN-2020 12:00  [USER]  (RWED,RWED,RE,)", true,
                "A_VERY_LONG_FILE_NAME_INDEED.DAT;3", 4096, 0x24, "10-JAN-2020 12:00"},
               {"header", "Directory DISK$USER:[USER]", false, "", 0, 0, ""},
               {"negative block count", "NEG.TXT;1 -2 10-JAN-2020 12:00 [USER] (RWED,RWED,,)", true,
                "NEG.TXT;1", 0, 0x20, "10-JAN-2020 12:00"},
           });
    KV_String d("DISK$USER:[USER.SUB]");
    ASSERT_TRUE(s.dir_from_serv(d));
    EXPECT_STREQ(d.data(), "/USER/SUB");
    KV_String f("/USER/SUB/FILE.TXT");
    ASSERT_TRUE(s.path_to_serv(f, true));
    EXPECT_STREQ(f.data(), "DISK$USER:[USER.SUB]FILE.TXT");
    KV_String dir("/USER/OTHER");
    ASSERT_TRUE(s.path_to_serv(dir, false));
    EXPECT_STREQ(dir.data(), "DISK$USER:[USER.OTHER]");
    KV_String bad("no brackets");
    EXPECT_FALSE(s.dir_from_serv(bad));
}

TEST(KV_FtpServer, OverlongLineIsNoEntry)
{
    KV_FtpServer s;
    const std::string line =
        "-rw-r--r-- 1 u g 1 Jan 1 2020 " + std::string(KV_FtpServer::max_line, 'x');
    EXPECT_FALSE(parse(s, line).ok);
}
