// Download, upload and listing against a scripted server played by the
// test: it reads the client's frames off the channel and answers them, in
// request order or reversed, with whole or cut DATA answers.
#include "ssh/kv_sftpacttrans.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "ssh/kv_sshchannel.h"
#include "support/kv_sshtest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_translogcp.h"

namespace {

using kvtest::put;

std::string be32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (24 - 8 * i));
    return s;
}

std::string sstr(const std::string& s)
{
    return be32(static_cast<uint32_t>(s.size())) + s;
}

std::string frame(uint8_t type, const std::string& body)
{
    return be32(static_cast<uint32_t>(body.size() + 1)) + static_cast<char>(type) + body;
}

struct Req
{
    uint8_t type = 0;
    uint32_t id = 0;
    std::string str;
    uint64_t off = 0;
    uint32_t len = 0;
    uint32_t pflags = 0;
    std::string data;
};

// The scripted server.
struct Peer
{
    std::string content;
    uint32_t max_answer = 0; // cut DATA answers to this many bytes (0: no cut)
    bool reverse = false;    // answer each batch last request first
    std::vector<Req> seen;
    std::vector<std::pair<std::string, uint32_t>> names; // listing: name, permissions
    size_t name_pos = 0;

    static uint32_t get32(const std::string& b, size_t& p)
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(b[p + i]);
        p += 4;
        return v;
    }
    static std::string getstr(const std::string& b, size_t& p)
    {
        const uint32_t n = get32(b, p);
        std::string s = b.substr(p, n);
        p += n;
        return s;
    }

    std::vector<Req> parse(const std::string& bytes)
    {
        std::vector<Req> out;
        size_t p = 0;
        while (p + 5 <= bytes.size()) {
            const uint32_t len = get32(bytes, p);
            const size_t next = p + len;
            Req r;
            r.type = static_cast<uint8_t>(bytes[p++]);
            if (r.type != KV_SFTP_INIT)
                r.id = get32(bytes, p);
            switch (r.type) {
            case KV_SFTP_OPEN:
                r.str = getstr(bytes, p);
                r.pflags = get32(bytes, p);
                break;
            case KV_SFTP_READ:
                r.str = getstr(bytes, p);
                r.off = (static_cast<uint64_t>(get32(bytes, p)) << 32) | get32(bytes, p);
                r.len = get32(bytes, p);
                break;
            case KV_SFTP_WRITE:
                r.str = getstr(bytes, p);
                r.off = (static_cast<uint64_t>(get32(bytes, p)) << 32) | get32(bytes, p);
                r.data = getstr(bytes, p);
                break;
            default:
                if (r.type != KV_SFTP_INIT)
                    r.str = getstr(bytes, p);
                break;
            }
            p = next;
            out.push_back(r);
        }
        return out;
    }

    std::string answer(const Req& r)
    {
        seen.push_back(r);
        const std::string id = be32(r.id);
        switch (r.type) {
        case KV_SFTP_OPEN:
            if (r.pflags & KV_SFTP_PF_TRUNC)
                content.clear();
            return frame(KV_SFTP_HANDLE, id + sstr("h1"));
        case KV_SFTP_OPENDIR:
            return frame(KV_SFTP_HANDLE, id + sstr("d1"));
        case KV_SFTP_READ: {
            if (r.off >= content.size())
                return frame(KV_SFTP_STATUS, id + be32(1) + sstr("EOF") + sstr(""));
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(r.len, content.size() - r.off));
            if (max_answer && n > max_answer)
                n = max_answer;
            return frame(KV_SFTP_DATA, id + sstr(content.substr(r.off, n)));
        }
        case KV_SFTP_WRITE:
            if (content.size() < r.off + r.data.size())
                content.resize(r.off + r.data.size());
            content.replace(r.off, r.data.size(), r.data);
            return frame(KV_SFTP_STATUS, id + be32(0) + sstr(""));
        case KV_SFTP_READDIR: {
            if (name_pos >= names.size())
                return frame(KV_SFTP_STATUS, id + be32(1) + sstr(""));
            const auto& [n, perm] = names[name_pos++];
            std::string attrs = be32(KV_SftpFileAttr::size_flag | KV_SftpFileAttr::perm_flag) +
                                be32(0) + be32(7) + be32(perm);
            return frame(KV_SFTP_NAME, id + be32(1) + sstr(n) + sstr("long " + n) + attrs);
        }
        default:
            return frame(KV_SFTP_STATUS, id + be32(0) + sstr(""));
        }
    }
};

class SftpTrans : public kvtest::TempDirTest
{
protected:
    SftpTrans()
    {
        chans = man.init_channels();
        ch = static_cast<KV_SshChannelSftp*>(chans->chan(1));
        ch->confirm(0, 1u << 30, 0);
        ch->set_state(1);
    }

    std::string pull()
    {
        EXPECT_TRUE(ch->data_out());
        KV_Stream dest;
        EXPECT_TRUE(ch->take_out(dest));
        return kvtest::bytes(dest);
    }

    // As a server does: never more than the window the client gave.
    bool feed(const std::string& bytes)
    {
        for (size_t pos = 0; pos < bytes.size();) {
            const size_t n = std::min<size_t>(bytes.size() - pos, ch->local_wnd());
            KV_Stream s;
            put(s, bytes.substr(pos, n));
            bool adjust = false;
            if (!ch->data_in(s, adjust, sizeof buf, buf))
                return false;
            if (adjust)
                ch->local_wnd_add(ch->wnd_refill());
            pos += n;
        }
        return true;
    }

    // Plays the exchange until the action is done; false when the client
    // broke the stream or stalled.
    bool play(KV_SftpAct& act, Peer& peer)
    {
        man.act_set(&act);
        bool ok = true;
        for (int round = 0; ok && !act.done() && round < 100000; ++round) {
            std::vector<Req> reqs = peer.parse(pull());
            // Every earlier request is answered: the data requests of this
            // batch are all that is in flight.
            max_in_flight = std::max<size_t>(
                max_in_flight, std::count_if(reqs.begin(), reqs.end(), [](const Req& r) {
                    return r.type == KV_SFTP_READ || r.type == KV_SFTP_WRITE;
                }));
            if (reqs.empty()) {
                ADD_FAILURE() << "stalled after " << peer.seen.size() << " requests";
                ok = false; // nothing asked, not done: a stall
                break;
            }
            if (peer.reverse)
                std::reverse(reqs.begin(), reqs.end());
            for (const Req& r : reqs)
                if (ok) {
                    ok = feed(peer.answer(r));
                    if (!ok)
                        ADD_FAILURE() << "the client refused the answer to request type "
                                      << int(r.type) << " at " << r.off;
                }
        }
        man.act_end(false);
        return ok && act.done();
    }

    std::unique_ptr<KV_TransLogCp> make_log(int64_t size, bool multifrag)
    {
        KV_FileData fd("f.bin", "", size, KV_Time());
        fd.set_fd_flags(KV_FD_SIZE, 0);
        auto log =
            std::make_unique<KV_TransLogCp>(nullptr, "/src/f.bin", fd, KV_PathDef(), KV_PathDef());
        log->set_flags_init(true, multifrag, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        log->man_frag().set_min_size(1000);
        EXPECT_TRUE(log->set_name((dir / ("log" + std::to_string(++logs))).c_str()));
        EXPECT_TRUE(log->create(eh));
        return log;
    }

    // The data the log holds, written out through its own copy.
    std::string stored(KV_TransLogCp& log)
    {
        const std::string out = dir / ("out" + std::to_string(++logs));
        KV_File f(out.c_str(), "wb");
        EXPECT_TRUE(f.open());
        EXPECT_TRUE(log.copy_frags(f, nullptr));
        f.close();
        std::ifstream in(out, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::string pattern(size_t n)
    {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i)
            s[i] = static_cast<char>((i * 131 + 7) ^ (i >> 10));
        return s;
    }

    kvtest::LogErr eh;
    KV_SftpMan man;
    std::unique_ptr<KV_SshChanMapIf> chans;
    KV_SshChannelSftp* ch = nullptr;
    uint8_t buf[4096] = {};
    int logs = 0;
    // The most READs or WRITEs outstanding at once in the last play.
    size_t max_in_flight = 0;
};

TEST_F(SftpTrans, DownloadKeepsEveryByteAtItsOffset)
{
    struct Case
    {
        const char* name;
        size_t size;
        uint32_t max_answer;
        bool reverse;
        bool aggressive;
    };
    const Case cases[] = {
        {"in order, whole blocks", 100000, 0, false, true},
        {"reversed answers", 100000, 0, true, true},
        {"short answers", 100000, 5000, false, true},
        {"short and reversed", 100001, 777, true, true},
        {"one request at a time", 30000, 4096, false, false},
        {"empty file", 0, 0, true, true},
        {"exactly one block", KV_SftpActGet::block, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_SftpManOpts o;
        o.set_aggressive_read(c.aggressive);
        man.set_opts(o);
        Peer peer;
        peer.content = pattern(c.size);
        peer.max_answer = c.max_answer;
        peer.reverse = c.reverse;
        auto log = make_log(static_cast<int64_t>(c.size), false);
        KV_SftpActGet get("/remote/f.bin", "", int64_t{0}, log.get());
        ASSERT_TRUE(get.init());
        ASSERT_TRUE(play(get, peer));
        EXPECT_TRUE(get.executed());
        EXPECT_EQ(log->size(), static_cast<int64_t>(c.size));
        EXPECT_TRUE(stored(*log) == peer.content);
        // One OPEN with READ access, one CLOSE, nothing after it.
        EXPECT_EQ(peer.seen.front().type, KV_SFTP_OPEN);
        EXPECT_EQ(peer.seen.front().pflags, KV_SFTP_PF_READ);
        EXPECT_EQ(std::count_if(peer.seen.begin(), peer.seen.end(),
                                [](const Req& r) { return r.type == KV_SFTP_CLOSE; }),
                  1);
        uint32_t in_flight_max = 0;
        for (const Req& r : peer.seen)
            if (r.type == KV_SFTP_READ)
                in_flight_max = std::max(in_flight_max, r.len);
        EXPECT_LE(in_flight_max, KV_SftpActGet::block);
    }
}

TEST_F(SftpTrans, ResumedDownloadAsksFromTheOffset)
{
    Peer peer;
    peer.content = pattern(50000);
    peer.reverse = true;
    auto log = make_log(50000, false);
    // The first 20000 bytes are already stored.
    ASSERT_TRUE(
        log->write_at(0, reinterpret_cast<const unsigned char*>(peer.content.data()), 20000));
    KV_SftpActGet get("/remote/f.bin", "", 20000, log.get());
    ASSERT_TRUE(get.init());
    ASSERT_TRUE(play(get, peer));
    EXPECT_TRUE(get.executed());
    EXPECT_TRUE(stored(*log) == peer.content);
    for (const Req& r : peer.seen) {
        if (r.type == KV_SFTP_READ) {
            EXPECT_GE(r.off, 20000u);
        }
    }
}

TEST_F(SftpTrans, FragmentsEndAtTheirEnd)
{
    Peer peer;
    peer.content = pattern(40000);
    peer.max_answer = 3000;
    peer.reverse = true;
    auto log = make_log(40000, true);
    log->man_frag().set_min_size(10000);
    ASSERT_TRUE(log->init_frags(true));
    std::vector<KV_FileFrag*> frags;
    for (KV_FileFrag* f = nullptr; frags.size() < 100 && log->man_frag().take(&f) && f;
         f = nullptr) {
        f->set_state(KV_FileFrag::IN_TRANSFER);
        frags.push_back(f);
    }
    ASSERT_EQ(frags.size(), 4u);
    // Fetched last first: every fragment stands on its own.
    std::reverse(frags.begin(), frags.end());
    for (KV_FileFrag* f : frags) {
        SCOPED_TRACE(f->begin());
        KV_SftpActGet get("/remote/f.bin", "", f, log.get());
        ASSERT_TRUE(get.init());
        ASSERT_TRUE(play(get, peer));
        EXPECT_TRUE(get.executed());
        EXPECT_TRUE(f->done());
        for (const Req& r : peer.seen) {
            if (r.type == KV_SFTP_READ) {
                EXPECT_LE(r.off + r.len, static_cast<uint64_t>(f->end()));
            }
        }
        peer.seen.clear();
    }
    EXPECT_TRUE(stored(*log) == peer.content);
}

TEST_F(SftpTrans, AFileEndingInsideAFragmentFailsIt)
{
    Peer peer;
    peer.content = pattern(30000);
    auto log = make_log(40000, true);
    log->man_frag().set_min_size(0);
    ASSERT_TRUE(log->init_frags(true));
    KV_FileFrag* f = nullptr;
    ASSERT_TRUE(log->man_frag().take(&f));
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->end(), 40000);
    KV_SftpActGet get("/remote/f.bin", "", f, log.get());
    ASSERT_TRUE(get.init());
    ASSERT_TRUE(play(get, peer));
    EXPECT_FALSE(get.executed());
    EXPECT_EQ(std::string(man.err_msg().data()), "Unexpected end of file.");
    EXPECT_EQ(f->pos(), 30000) << "what came is kept";
}

TEST_F(SftpTrans, ServerRefusalsEndTheDownload)
{
    // OPEN refused: the server's text, nothing stored, the action ends.
    auto log = make_log(100, false);
    KV_SftpActGet get("/remote/none", "", int64_t{0}, log.get());
    ASSERT_TRUE(get.init());
    man.act_set(&get);
    Peer peer;
    const std::vector<Req> reqs = peer.parse(pull());
    ASSERT_EQ(reqs.size(), 1u);
    ASSERT_TRUE(feed(frame(KV_SFTP_STATUS, be32(reqs[0].id) + be32(2) + sstr("") + sstr(""))));
    EXPECT_TRUE(get.done());
    EXPECT_FALSE(get.executed());
    EXPECT_EQ(std::string(man.err_msg().data()), "No such file.");
    man.act_end(false);

    // DATA for a request that was no READ breaks the stream.
    auto log2 = make_log(100, false);
    KV_SftpActGet get2("/remote/f", "", int64_t{0}, log2.get());
    ASSERT_TRUE(get2.init());
    man.act_set(&get2);
    const std::vector<Req> open = peer.parse(pull());
    ASSERT_EQ(open.size(), 1u);
    EXPECT_FALSE(feed(frame(KV_SFTP_DATA, be32(open[0].id) + sstr("abc"))));
    man.act_end(true);
    EXPECT_FALSE(get2.executed());
}

TEST_F(SftpTrans, UploadWholeAndResumed)
{
    const std::string data = pattern(70000);
    const std::string src = dir / "src.bin";
    std::ofstream(src, std::ios::binary) << data;
    struct Case
    {
        int64_t offset;
        uint32_t pflags;
    };
    for (const Case& c : {Case{0, 0x1A}, Case{30000, 0x06}}) {
        SCOPED_TRACE(c.offset);
        Peer peer;
        peer.content = data.substr(0, static_cast<size_t>(c.offset));
        KV_FileData fd("f.bin", "", 70000, KV_Time());
        KV_TransLogCp log(nullptr, src.c_str(), fd, KV_PathDef(), KV_PathDef());
        KV_SftpActPut put_act(src.c_str(), "/remote/f.bin", &log, c.offset);
        ASSERT_TRUE(put_act.init());
        ASSERT_TRUE(play(put_act, peer));
        EXPECT_TRUE(put_act.executed());
        EXPECT_EQ(peer.seen.front().pflags, c.pflags);
        EXPECT_TRUE(peer.content == data);
        for (const Req& r : peer.seen) {
            if (r.type == KV_SFTP_WRITE) {
                EXPECT_LE(r.data.size(), sizeof buf);
            }
        }
    }
}

// With the aggressive options a transfer keeps 64 data requests in flight,
// enough to fill the channel's window, and without them one; never more.
TEST_F(SftpTrans, PipelineDepth)
{
    struct Case
    {
        bool up;
        bool aggressive;
        size_t in_flight;
    };
    const Case cases[] = {{false, true, 64}, {false, false, 1}, {true, true, 64}, {true, false, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.up ? "upload" : "download") << ", aggressive " << c.aggressive);
        KV_SftpManOpts o;
        o.set_aggressive_read(c.aggressive);
        o.set_aggressive_write(c.aggressive);
        man.set_opts(o);
        Peer peer;
        max_in_flight = 0;
        if (c.up) {
            // Two windows' worth of the fixture's 4095-byte WRITEs.
            const std::string data = pattern(2 * 64 * 4095 + 100);
            const std::string src = dir / "pipe.bin";
            std::ofstream(src, std::ios::binary) << data;
            KV_FileData fd("f.bin", "", static_cast<int64_t>(data.size()), KV_Time());
            KV_TransLogCp log(nullptr, src.c_str(), fd, KV_PathDef(), KV_PathDef());
            KV_SftpActPut put_act(src.c_str(), "/remote/f.bin", &log, 0);
            ASSERT_TRUE(put_act.init());
            ASSERT_TRUE(play(put_act, peer));
            EXPECT_TRUE(put_act.executed());
            EXPECT_TRUE(peer.content == data);
        } else {
            peer.content = pattern(2 * 64 * KV_SftpActGet::block + 100);
            auto log = make_log(static_cast<int64_t>(peer.content.size()), false);
            KV_SftpActGet get("/remote/f.bin", "", int64_t{0}, log.get());
            ASSERT_TRUE(get.init());
            ASSERT_TRUE(play(get, peer));
            EXPECT_TRUE(get.executed());
            EXPECT_TRUE(stored(*log) == peer.content);
        }
        EXPECT_EQ(max_in_flight, c.in_flight);
    }
}

TEST_F(SftpTrans, ListingDropsNamesThatLeaveTheFolder)
{
    Peer peer;
    peer.names = {{"b", 0100644},
                  {"..", 040755},
                  {"a/b", 0100644},
                  {"", 0100644},
                  {".", 040755},
                  {"sub", 040755},
                  {std::string("x\0y", 3), 0100644}};
    KV_PathMan syntax('/');
    KV_PathDef path;
    ASSERT_TRUE(syntax.split_path("/home/u", path, true));
    KV_FileListStore store(true, nullptr);
    KV_SftpActListParams params;
    params.path_man = &syntax;
    params.store = &store;
    params.path = path;
    KV_SftpActList list(params);
    ASSERT_TRUE(list.init());
    ASSERT_TRUE(play(list, peer));
    EXPECT_TRUE(list.executed());
    EXPECT_EQ(peer.seen.front().type, KV_SFTP_OPENDIR);
    EXPECT_EQ(peer.seen.front().str, "/home/u/");
    std::vector<std::string> names;
    for (uint32_t i = 0; i < store.entries().size(); ++i)
        names.push_back(store.entries().at(i)->name().data());
    EXPECT_EQ(names, (std::vector<std::string>{"b", "sub"}));
    EXPECT_TRUE(store.entries().at(1)->fdc().is_dir());

    EXPECT_EQ(std::string(KV_SftpActList::rights(0x41ED).data()), "drwxr-xr-x");
    EXPECT_EQ(std::string(KV_SftpActList::rights(0100640).data()), "-rw-r-----");
}

TEST_F(SftpTrans, ListingOfAnEmptyPathIsRefusedAtOnce)
{
    KV_PathMan syntax('/');
    KV_SftpActListParams params;
    params.path_man = &syntax;
    KV_SftpActList list(params);
    EXPECT_FALSE(list.init());
    EXPECT_EQ(list.first_msg(), nullptr);
}

} // namespace
