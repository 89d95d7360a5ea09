// Folder downloads through the façade from servers that list what no
// honest server would: names that climb out of the folder ("..", "../x"),
// that cross folders ("a/b", "/etc/x"), that hold a NUL, and sizes below
// zero. Whatever the listing says, nothing may appear outside the chosen
// destination, the honest files arrive with their bytes, and the request
// says how it ended.
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "datasources/kv_dstreenodeds.h"
#include "http/kv_httptest.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_filemanpool.h"
#include "root/kv_init.h"
#include "root/kv_rootfixture.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "support/kv_ftpscript.h"
#include "support/kv_poolthreads.h"
#include "support/kv_sshscript.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"

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

// One entry of a hostile listing: its name as the server sends it (NUL
// bytes and all), its size and kind.
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
        remote = pool->reg(KV_FileManId(evil->id(), 0));
        ASSERT_NE(remote, nullptr);
        ASSERT_EQ(remote->type(), kind());
        remote->lock(false);
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
        if (remote)
            remote->unlock(false);
        if (local)
            local->unlock(false);
        RootTest::TearDown();
    }

    virtual KV_FILE_MAN_TYPE kind() const { return KV_FILE_MAN_TYPE_FTP; }
    // Serves /pub/<id>/tree holding ok.txt and the hostile entries.
    virtual void serve(const std::string& id, const std::vector<Line>& hostile)
    {
        const std::string pub = "/pub/" + id;
        srv.set_listing(pub, kvtest::FtpScript::unix_line("tree", 4096, true));
        std::string listing = kvtest::FtpScript::unix_line("ok.txt", kOk.size());
        for (const Line& l : hostile)
            listing += kvtest::FtpScript::unix_line(l.name, l.size, l.dir);
        srv.set_listing(pub + "/tree", listing);
        srv.set_file(pub + "/tree/ok.txt", kOk);
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

    // Downloads the folder "tree" of /pub/<id> into <work>/<id>/a/b/dst and
    // checks what is where.
    void run(const std::string& id, const Case& c)
    {
        SCOPED_TRACE(c.what);
        serve(id, c.hostile);
        const std::string pub = "/pub/" + id;

        const std::string base = work + "/" + id;
        const std::string dst = base + "/a/b/dst";
        fs::create_directories(dst);
        Names names;
        names.add("tree");
        ASSERT_TRUE(pool->copy(remote->id(), local->id(), path(remote, pub), path(local, dst),
                               names, KV_FileReqTransParamsCp(), false, false, false));
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
    KV_FileMan* remote = nullptr;
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

// ---------------------------------------------------------------------------
// WebDAV: the same names in the hrefs of a PROPFIND answer

// A WebDAV server of the test's own: PROPFIND answers from scripted
// responses, GET from scripted bytes; every connection is closed after one
// answer, so that the peer, serving one connection at a time, never waits
// on a client that keeps one open.
class DavScript
{
public:
    DavScript()
        : peer_([this](const kvtest::Fd& fd, const httptest::Request& req, int) {
              answer(fd, req);
              return false;
          })
    {
    }
    std::string host() const { return peer_.host(); }
    // The <response> elements of the folder `dir` ("/pub/x/", as requested).
    void set_listing(const std::string& dir, const std::string& responses)
    {
        std::lock_guard<std::mutex> g(m_);
        listings_[dir] = responses;
    }
    void set_file(const std::string& path, const std::string& bytes)
    {
        std::lock_guard<std::mutex> g(m_);
        files_[path] = bytes;
    }
    static std::string response(const std::string& href, bool dir, long long size)
    {
        std::string props = dir ? "<D:resourcetype><D:collection/></D:resourcetype>"
                                : "<D:resourcetype/><D:getcontentlength>" + std::to_string(size) +
                                      "</D:getcontentlength>";
        return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>" + props +
               "<D:getlastmodified>Mon, 01 Jan 2024 10:00:00 GMT</D:getlastmodified>"
               "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
    }
    std::vector<httptest::Request> requests() { return peer_.requests(); }

private:
    static void reply(const kvtest::Fd& fd, const std::string& status, const std::string& type,
                      const std::string& body)
    {
        fd.write_all("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }
    void answer(const kvtest::Fd& fd, const httptest::Request& req)
    {
        const size_t sp = req.head.find(' ');
        const std::string method = req.head.substr(0, sp);
        const std::string path = req.head.substr(sp + 1, req.head.find(' ', sp + 1) - sp - 1);
        std::lock_guard<std::mutex> g(m_);
        if (method == "PROPFIND") {
            std::string dir = path;
            if (dir.empty() || dir.back() != '/')
                dir += '/';
            const auto it = listings_.find(dir);
            // A hostile server lists something in every folder it is asked
            // for, so that a name that led astray would be filled.
            const std::string body =
                "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">" +
                response(dir, true, 0) +
                (it != listings_.end() ? it->second : response(dir + "inner.txt", false, 14)) +
                "</D:multistatus>";
            reply(fd, "207 Multi-Status", "text/xml; charset=\"utf-8\"", body);
        } else if (method == "GET") {
            const auto it = files_.find(path);
            reply(fd, "200 OK", "application/octet-stream",
                  it != files_.end() ? it->second : kHostile);
        } else if (method == "OPTIONS") {
            fd.write_all("HTTP/1.1 200 OK\r\nDAV: 1,2\r\nAllow: OPTIONS, GET, HEAD, PROPFIND\r\n"
                         "Content-Length: 0\r\nConnection: close\r\n\r\n");
        } else {
            reply(fd, "405 Method Not Allowed", "text/plain", "");
        }
    }

    std::mutex m_;
    std::map<std::string, std::string> listings_;
    std::map<std::string, std::string> files_;
    httptest::ScriptPeer peer_;
};

class HostileDav : public HostileFtp
{
protected:
    std::string ds_text() const override
    {
        return "### Node definition: Kivrel ###\n"
               "NODE: TYPE = GROUP|DS NAME = Kivrel\n\n"
               "### Node definition: Http ###\n"
               "NODE: TYPE = GROUP|HTTP NAME = Kivrel|Http\n\n"
               "### Node definition: Evil ###\n"
               "NODE: TYPE = HTTP NAME = Kivrel|Http|Evil\n"
               "SET DST_ADDR " +
               dav.host() + "\n\n";
    }
    void SetUp() override
    {
        ASSERT_TRUE(kv_init("C"));
        inited = true;
        HostileFtp::SetUp();
    }
    void TearDown() override
    {
        HostileFtp::TearDown();
        if (inited)
            kv_cleanup();
    }
    KV_FILE_MAN_TYPE kind() const override { return KV_FILE_MAN_TYPE_HTTP; }

    // /pub/<id>/tree/ holds ok.txt and the hostile responses (hrefs as the
    // server writes them).
    void serve(const std::string& id, const std::vector<Line>& hostile) override
    {
        const std::string pub = "/pub/" + id + "/";
        dav.set_listing(pub, DavScript::response(pub + "tree/", true, 0));
        std::string listing = DavScript::response(pub + "tree/ok.txt", false, kOk.size());
        for (const Line& l : hostile)
            listing += DavScript::response(pub + "tree/" + l.name, l.dir, l.size);
        dav.set_listing(pub + "tree/", listing);
        dav.set_file(pub + "tree/ok.txt", kOk);
    }

    bool inited = false;
    DavScript dav;
};

TEST_F(HostileDav, ListedNamesNeverLeaveTheDestination)
{
    const Case cases[] = {
        {"file ..", {{"..", 14, false}}, {}},
        {"folder ..", {{"../", 0, true}}, {}},
        {"file .", {{".", 14, false}}, {}},
        {"folder .", {{"./", 0, true}}, {}},
        {"file ../x", {{"..%2Fx", 14, false}, {"..%2F..%2FESC_file.txt", 14, false}}, {}},
        {"folder ../x", {{"..%2Fx/", 0, true}, {"..%2F..%2FESC_dir/", 0, true}}, {}},
        {"file ../x unescaped", {{"../../ESC_file.txt", 14, false}}, {}},
        {"file a/b", {{"a%2Fb", 14, false}}, {}},
        {"folder a/b", {{"a%2Fb/", 0, true}}, {}},
        {"file /etc/x", {{"%2Fetc%2Fx", 14, false}}, {}},
        {"folder /etc/x", {{"%2Fetc%2Fx/", 0, true}}, {}},
        {"NUL inside a file name", {{"cut.txt%00%2F..%2F..%2FESC_nul", 14, false}}, {}},
        {"NUL inside a folder name", {{"sub%00%2F..%2FESC_nul/", 0, true}}, {}},
    };
    dav.set_file("/pub/nul/tree/cut.txt", kHostile);
    const std::string ids[] = {"dotdot_f", "dotdot_d", "dot_f", "dot_d", "up_f", "up_d", "up_raw",
                               "slash_f",  "slash_d",  "abs_f", "abs_d", "nul",  "nul_d"};
    static_assert(std::size(cases) == std::size(ids));
    for (size_t i = 0; i < std::size(cases); ++i)
        run(ids[i], cases[i]);
}

TEST_F(HostileDav, AFileWithANegativeLengthIsCopied)
{
    const std::string bytes = kvtest::pattern(70000, 4);
    dav.set_file("/pub/neg/tree/neg.bin", bytes);
    run("neg", {"negative length", {{"neg.bin", -5, false}}, {{"neg.bin", desc(bytes)}}});
}

// ---------------------------------------------------------------------------
// SFTP: the same names in the NAME answers of a listing

// The SFTP subsystem (version 3) over the scripted SSH server's channel:
// REALPATH, OPENDIR, READDIR, OPEN, READ and CLOSE from scripted folders and
// files; every other request gets "unsupported". Called on the server's
// thread only.
class SftpScript
{
public:
    struct Entry
    {
        std::string name; // raw bytes, NUL and all
        bool dir;
        uint64_t size;
    };

    // Folders by path without a trailing '/'.
    std::map<std::string, std::vector<Entry>> dirs;
    std::map<std::string, std::string> files;

    std::string on_data(const std::string& data)
    {
        in_ += data;
        std::string out;
        for (;;) {
            if (in_.size() < 4)
                return out;
            size_t p = 0;
            const uint32_t len = get32(in_, p);
            if (in_.size() < 4 + size_t(len))
                return out;
            const std::string pkt = in_.substr(4, len);
            in_.erase(0, 4 + size_t(len));
            out += answer(pkt);
        }
    }

private:
    static uint32_t get32(const std::string& b, size_t& p)
    {
        uint32_t v = 0;
        for (int i = 0; i < 4 && p < b.size(); ++i, ++p)
            v = (v << 8) | static_cast<unsigned char>(b[p]);
        return v;
    }
    static uint64_t get64(const std::string& b, size_t& p)
    {
        const uint64_t hi = get32(b, p);
        return hi << 32 | get32(b, p);
    }
    static std::string getstr(const std::string& b, size_t& p)
    {
        const uint32_t n = get32(b, p);
        std::string s = p < b.size() ? b.substr(p, n) : std::string();
        p += n;
        return s;
    }
    static std::string be64(uint64_t v)
    {
        return kvtest::be32(static_cast<uint32_t>(v >> 32)) +
               kvtest::be32(static_cast<uint32_t>(v));
    }
    static std::string frame(uint8_t type, const std::string& body)
    {
        return kvtest::be32(static_cast<uint32_t>(body.size() + 1)) + static_cast<char>(type) +
               body;
    }
    static std::string status(uint32_t id, uint32_t code)
    {
        return frame(101,
                     kvtest::be32(id) + kvtest::be32(code) + kvtest::sstr("") + kvtest::sstr(""));
    }
    static std::string attrs(const Entry& e)
    {
        // SIZE, PERMISSIONS, ACMODTIME.
        return kvtest::be32(0x1 | 0x4 | 0x8) + be64(e.dir ? 0 : e.size) +
               kvtest::be32(e.dir ? 040755 : 0100644) + kvtest::be32(1704103200) +
               kvtest::be32(1704103200);
    }
    static std::string trimmed(std::string path)
    {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }

    std::string answer(const std::string& pkt)
    {
        size_t p = 1;
        const uint8_t type = static_cast<uint8_t>(pkt[0]);
        if (type == 1) // INIT
            return frame(2, kvtest::be32(3));
        const uint32_t id = get32(pkt, p);
        switch (type) {
        case 16: { // REALPATH
            std::string path = trimmed(getstr(pkt, p));
            if (path.empty() || path == ".")
                path = "/";
            return frame(104, kvtest::be32(id) + kvtest::be32(1) + kvtest::sstr(path) +
                                  kvtest::sstr(path) + kvtest::be32(0));
        }
        case 11: { // OPENDIR
            const std::string path = trimmed(getstr(pkt, p));
            listed_[path] = false;
            return frame(102, kvtest::be32(id) + kvtest::sstr("d" + path));
        }
        case 12: { // READDIR
            const std::string path = getstr(pkt, p).substr(1);
            if (listed_[path])
                return status(id, 1);
            listed_[path] = true;
            const auto it = dirs.find(path);
            // A hostile server lists something in every folder it is asked
            // for, so that a name that led astray would be filled.
            const std::vector<Entry> entries =
                it != dirs.end() ? it->second : std::vector<Entry>{{"inner.txt", false, 14}};
            std::string body = kvtest::be32(id) + kvtest::be32(uint32_t(entries.size()));
            for (const Entry& e : entries)
                body += kvtest::sstr(e.name) + kvtest::sstr(e.name) + attrs(e);
            return frame(104, body);
        }
        case 3: { // OPEN
            const std::string path = getstr(pkt, p);
            return frame(102, kvtest::be32(id) + kvtest::sstr("f" + path));
        }
        case 5: { // READ
            const std::string path = getstr(pkt, p).substr(1);
            const uint64_t off = get64(pkt, p);
            const uint32_t len = get32(pkt, p);
            const auto it = files.find(path);
            const std::string& bytes = it != files.end() ? it->second : kHostile;
            if (off >= bytes.size())
                return status(id, 1);
            return frame(103, kvtest::be32(id) + kvtest::sstr(bytes.substr(off, len)));
        }
        case 4: // CLOSE
            return status(id, 0);
        default:
            return status(id, 8);
        }
    }

    std::string in_;
    std::map<std::string, bool> listed_;
};

class HostileSftp : public HostileFtp
{
protected:
    std::string ds_text() const override
    {
        return "### Node definition: Kivrel ###\n"
               "NODE: TYPE = GROUP|DS NAME = Kivrel\n\n"
               "### Node definition: SFtp ###\n"
               "NODE: TYPE = GROUP|SFTP NAME = Kivrel|SFtp\n\n"
               "### Node definition: Evil ###\n"
               "NODE: TYPE = SFTP NAME = Kivrel|SFtp|Evil\n"
               "SET DST_ADDR " +
               ssh.addr() + "\nSET USER tester\nSET NTHREADS 1\n\n";
    }
    void SetUp() override
    {
        for (int i = 0; i < 10; ++i)
            trust.push(KV_ANS_YES);
        ASSERT_TRUE(tmp.ok());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (tmp / "host-keys.bin").c_str()));
        KV_SshSess::man_key().clear();
        HostileFtp::SetUp();
    }
    void TearDown() override
    {
        HostileFtp::TearDown();
        ssh.join();
        KV_SshSess::man_key().clear();
        KV_File::set_path(KV_PATH_HOST_KEYS, "");
    }
    KV_FILE_MAN_TYPE kind() const override { return KV_FILE_MAN_TYPE_SFTP; }

    void serve(const std::string& id, const std::vector<Line>& hostile) override
    {
        const std::string pub = "/pub/" + id;
        std::lock_guard<std::mutex> g(m_);
        sftp_.dirs[pub] = {{"tree", true, 0}};
        std::vector<SftpScript::Entry> tree{{"ok.txt", false, kOk.size()}};
        for (const Line& l : hostile)
            tree.push_back({l.name, l.dir, static_cast<uint64_t>(l.size)});
        sftp_.dirs[pub + "/tree"] = tree;
        sftp_.files[pub + "/tree/ok.txt"] = kOk;
    }
    void set_file(const std::string& path, const std::string& bytes)
    {
        std::lock_guard<std::mutex> g(m_);
        sftp_.files[path] = bytes;
    }

    kvtest::TrustHost trust;
    std::mutex m_;
    SftpScript sftp_;
    kvtest::ScriptServer ssh{[this] {
        kvtest::ScriptServer::Script s;
        s.on_data = [this](const std::string& d) {
            std::lock_guard<std::mutex> g(m_);
            return sftp_.on_data(d);
        };
        return s;
    }()};
};

TEST_F(HostileSftp, ListedNamesNeverLeaveTheDestination)
{
    const std::string nul(1, '\0');
    set_file("/pub/nul/tree/cut.txt", kHostile);
    const Case cases[] = {
        {"file ..", {{"..", 14, false}}, {}},
        {"folder ..", {{"..", 0, true}}, {}},
        {"file .", {{".", 14, false}}, {}},
        {"folder .", {{".", 0, true}}, {}},
        {"file ../x", {{"../x", 14, false}, {"../../ESC_file.txt", 14, false}}, {}},
        {"folder ../x", {{"../x", 0, true}, {"../../ESC_dir", 0, true}}, {}},
        {"file a/b", {{"a/b", 14, false}}, {}},
        {"folder a/b", {{"a/b", 0, true}}, {}},
        {"file /etc/x", {{"/etc/x", 14, false}}, {}},
        {"folder /etc/x", {{"/etc/x", 0, true}}, {}},
        {"empty name", {{"", 14, false}}, {}},
        {"NUL inside a file name", {{"cut.txt" + nul + "/../../ESC_nul", 14, false}}, {}},
        {"NUL inside a folder name", {{"sub" + nul + "/../../ESC_nul", 0, true}}, {}},
    };
    const std::string ids[] = {"dotdot_f", "dotdot_d", "dot_f", "dot_d", "up_f", "up_d", "slash_f",
                               "slash_d",  "abs_f",    "abs_d", "empty", "nul",  "nul_d"};
    static_assert(std::size(cases) == std::size(ids));
    for (size_t i = 0; i < std::size(cases); ++i)
        run(ids[i], cases[i]);
}

} // namespace
