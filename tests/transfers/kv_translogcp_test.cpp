// KV_TransLogCp: the body of a copy sub-log byte for byte, its in-place
// rewrites, what a restore makes of its own files and of damaged ones, the
// data area (contiguous and in fragment slots) and the progress value.
#include "transfers/kv_translogcp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_stoppable.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_tmpfile.h"
#include "support/kv_testdir.h"
#include "transfers/kv_transtest.h"

namespace {

namespace fs = std::filesystem;
using transtest::Bytes;
using transtest::patch;
using transtest::path_of;
using transtest::read_all;

KV_FileData entry(int64_t size)
{
    KV_FileData fd("file.bin", "Jan 01 2024", size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    return fd;
}

Bytes stored_form(const KV_FileData& fd)
{
    KV_Stream st;
    EXPECT_TRUE(fd.write_bin(st));
    const unsigned char* b = st;
    return Bytes(b, b + st.length());
}

Bytes stored_form(const KV_PathDef& p)
{
    KV_Stream st;
    EXPECT_TRUE(p.write_bin(st));
    const unsigned char* b = st;
    return Bytes(b, b + st.length());
}

Bytes le64(int64_t v)
{
    Bytes b;
    return transtest::put<int64_t>(b, v);
}

Bytes pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 31 + seed) ^ (i >> 8));
    return b;
}

class TransLogCp : public kvtest::TempDirTest
{
protected:
    // A new sub-log file in the test folder.
    std::unique_ptr<KV_TransLogCp> make(const std::string& name, int64_t size, bool tmp_data,
                                        bool multifrag, int64_t min_size = 100)
    {
        auto log = std::make_unique<KV_TransLogCp>(nullptr, "/data/src.bin", entry(size), src, dst);
        log->set_flags_init(tmp_data, multifrag, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        log->man_frag().set_min_size(min_size);
        EXPECT_TRUE(log->set_name((dir / name).c_str()));
        EXPECT_TRUE(log->create(eh));
        return log;
    }
    std::unique_ptr<KV_TransLogCp> restored(const std::string& name)
    {
        auto log = std::make_unique<KV_TransLogCp>(nullptr, (dir / name).c_str());
        ok = log->restore(eh, nullptr);
        KV_TransLog::tmp_file_man().unreg((dir / name).c_str());
        return log;
    }
    // Takes every fragment (putting each in transfer), in offset order.
    static std::vector<KV_FileFrag*> take_all(KV_TransLogCp& log)
    {
        std::vector<KV_FileFrag*> out;
        for (;;) {
            KV_FileFrag* f = nullptr;
            EXPECT_TRUE(log.man_frag().take(&f));
            if (f == nullptr || out.size() > 100)
                break;
            f->set_state(KV_FileFrag::IN_TRANSFER);
            out.push_back(f);
        }
        std::sort(out.begin(), out.end(),
                  [](KV_FileFrag* a, KV_FileFrag* b) { return a->begin() < b->begin(); });
        return out;
    }

    kvtest::LogErr eh;
    bool ok = false;
    const KV_PathDef src = path_of({"/", "data", "src.bin"});
    const KV_PathDef dst = path_of({"Local", "out", "dst.bin"});
};

TEST_F(TransLogCp, BodyIsStoredExactlyAndRewrittenInPlace)
{
    auto log = std::make_unique<KV_TransLogCp>(nullptr, "ab", entry(300), src, dst);
    log->set_flags_init(true, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_ASCII);
    log->man_frag().set_min_size(0x0102030405);
    ASSERT_TRUE(log->set_name((dir / "sub").c_str()));
    ASSERT_TRUE(log->create(eh));
    EXPECT_EQ(log->type(), 1);
    EXPECT_EQ(log->flags(), KV_TransLogCp::FLAG_TMP_DATA | KV_TransLogCp::FLAG_ASCII_DST);
    EXPECT_EQ(log->trans_mode_dst(), KV_TRANS_MODE_ASCII);
    EXPECT_EQ(log->trans_mode_src(), KV_TRANS_MODE_BINARY);

    const std::string& header = transtest::k_header;
    Bytes expect(header.begin(), header.end());
    const Bytes tail = {0, 1, 0, 18, 0};
    expect.insert(expect.end(), tail.begin(), tail.end());
    const Bytes min = le64(0x0102030405);
    expect.insert(expect.end(), min.begin(), min.end());
    const Bytes name = {2, 0, 0, 0, 'a', 0, 'b', 0};
    expect.insert(expect.end(), name.begin(), name.end());
    for (const Bytes& part : {stored_form(entry(300)), stored_form(src), stored_form(dst), le64(0)})
        expect.insert(expect.end(), part.begin(), part.end());
    const Bytes file = read_all(dir / "sub");
    ASSERT_EQ(file, expect);
    EXPECT_EQ(file[52], 1) << "type byte";
    const auto data_at = static_cast<int64_t>(file.size());
    EXPECT_EQ(log->data_offset(), data_at);
    EXPECT_EQ(log->status(), 0);
    EXPECT_EQ(log->prog(), KV_TransLogCp::PROG_UNKNOWN);

    // Each field that changes is rewritten where it lies.
    ASSERT_TRUE(log->set_status(1));
    ASSERT_TRUE(log->set_flags(KV_TransLogCp::FLAG2_SRC, 0));
    ASSERT_TRUE(log->set_flags(KV_TransLogCp::FLAG2_DST, KV_TransLogCp::FLAG2_SRC));
    EXPECT_TRUE(log->flag2());
    EXPECT_FALSE(log->flag1());
    const Bytes data = pattern(40, 1);
    ASSERT_TRUE(log->write_at(0, data.data(), 30));
    ASSERT_TRUE(log->write_at(30, data.data() + 30, 10));
    EXPECT_EQ(log->size(), 40);
    log->close();
    ASSERT_TRUE(log->set_stored(40)) << "unchanged: nothing to write";

    Bytes now = read_all(dir / "sub");
    ASSERT_EQ(now.size(), file.size() + 40);
    EXPECT_EQ(now[53], 1);
    EXPECT_EQ(now[55], 2);
    EXPECT_EQ(Bytes(now.end() - 48, now.end() - 40), le64(40));
    EXPECT_EQ(Bytes(now.end() - 40, now.end()), data);

    auto back = restored("sub");
    ASSERT_TRUE(ok);
    EXPECT_EQ(back->status(), 1);
    EXPECT_EQ(back->flags(), log->flags());
    EXPECT_EQ(back->flags2(), 2);
    EXPECT_EQ(back->man_frag().min_size(), 0x0102030405);
    EXPECT_EQ(back->file_name(), "ab");
    EXPECT_EQ(back->data_name(), (dir / "sub").c_str());
    EXPECT_EQ(back->fdata().name(), "file.bin");
    EXPECT_EQ(back->fdata().size(false), 300);
    EXPECT_TRUE(back->path_src() == src);
    EXPECT_TRUE(back->path_dst() == dst);
    EXPECT_EQ(back->size(), 40);
    EXPECT_EQ(back->data_offset(), data_at) << "directly after the stored count";
    // The owner learns what was restored: 40 of 300 bytes.
    EXPECT_EQ(back->prog(), 13);
    Bytes buf(40);
    KV_FileFrag* whole = nullptr;
    ASSERT_TRUE(back->man_frag().find_state(KV_FileFrag::NEW, &whole));
    EXPECT_EQ(whole->begin(), 0);
    EXPECT_EQ(whole->end(), 0) << "an unsegmented copy holds the one empty fragment";
}

TEST_F(TransLogCp, SegmentedRestoreKeepsGoodSlotsAndRefetchesTheRest)
{
    const Bytes source = pattern(300, 7);
    auto log = make("seg", 300, true, true);
    std::vector<KV_FileFrag*> f = take_all(*log);
    ASSERT_EQ(f.size(), 3u);
    // Slots are placed in the order of the first write: last range first.
    ASSERT_TRUE(log->write_frag(*f[2], source.data() + 200, 1));
    ASSERT_TRUE(log->write_frag(*f[0], source.data(), 60));
    ASSERT_TRUE(log->write_frag(*f[0], source.data() + 60, 40));
    ASSERT_TRUE(log->write_frag(*f[1], source.data() + 100, 25));
    const int64_t third = f[1]->rec_pos();
    EXPECT_EQ(third, f[0]->rec_pos() + 132);
    EXPECT_EQ(log->data_offset(), third + 132);
    EXPECT_EQ(log->man_frag().done_bytes(), 126);

    // A slot whose record is still blank: a crash right after placing it.
    patch(dir / "seg", third, Bytes(32, 0));
    auto back = restored("seg");
    ASSERT_TRUE(ok);
    KV_FileFragMan& m = back->man_frag();
    KV_FileFrag* g = nullptr;
    ASSERT_TRUE(m.find_pos(&g, 0));
    EXPECT_EQ(g->state(), KV_FileFrag::DONE);
    EXPECT_EQ(g->rec_pos(), f[0]->rec_pos());
    ASSERT_TRUE(m.find_pos(&g, 250));
    EXPECT_EQ(g->state(), KV_FileFrag::PARTIAL);
    EXPECT_EQ(g->pos(), 201);
    ASSERT_TRUE(m.find_pos(&g, 150));
    EXPECT_EQ(g->state(), KV_FileFrag::NEW);
    EXPECT_EQ(g->begin(), 100);
    EXPECT_EQ(g->end(), 200);
    EXPECT_EQ(g->rec_pos(), 0);
    EXPECT_EQ(back->data_offset(), third) << "after the last good slot";
    EXPECT_EQ(back->prog(), KV_TransLogCp::PROG_UNKNOWN) << "status 0 has no progress";

    // The range comes again into a new slot, which takes the blank one's
    // place; the data of the other slots is what was written.
    ASSERT_TRUE(back->write_frag(*g, source.data() + 100, 100));
    EXPECT_EQ(g->rec_pos(), third);
    Bytes got(200);
    uint32_t n = 200;
    ASSERT_TRUE(m.find_pos(&g, 0));
    ASSERT_TRUE(back->read_frag(*g, got.data(), 10, n));
    EXPECT_EQ(n, 90u) << "a read stays inside its fragment";
    EXPECT_EQ(0, std::memcmp(got.data(), source.data() + 10, 90));
}

TEST_F(TransLogCp, RestoreDoesNotBelieveCountsAndRangesFromTheFile)
{
    // Unsegmented: the count may not claim bytes the area does not hold.
    struct Count
    {
        int64_t stored;
        int64_t expect;
    };
    for (const Count c : {Count{25, 25}, Count{41, 40}, Count{INT64_MAX, 40}, Count{-5, 0}}) {
        SCOPED_TRACE(c.stored);
        auto log = make("plain", 300, true, false);
        const Bytes data = pattern(40, 3);
        ASSERT_TRUE(log->write_at(0, data.data(), 40));
        const int64_t off = log->data_offset();
        log.reset();
        patch(dir / "plain", off - 8, le64(c.stored));
        auto back = restored("plain");
        ASSERT_TRUE(ok);
        EXPECT_EQ(back->size(), c.expect);
    }

    // Segmented: a record with a good check value is still refused when its
    // range lies outside the file, its data area runs past the end of the
    // sub-log, or an earlier slot holds the range.
    auto record = [](int64_t b, int64_t e, int64_t p) {
        KV_FileFrag f(nullptr, b, e, 0);
        f.advance(p - b);
        KV_Stream st;
        f.write(st);
        const unsigned char* raw = st;
        return Bytes(raw, raw + st.length());
    };
    struct Case
    {
        const char* what;
        Bytes slot;
        int64_t done;
    };
    Bytes past_eof = record(0, 100, 50);
    past_eof.resize(past_eof.size() + 10, 1);
    Bytes twice = record(0, 10, 10);
    twice.resize(42, 'x');
    const Bytes again = record(5, 8, 8);
    twice.insert(twice.end(), again.begin(), again.end());
    twice.resize(twice.size() + 3, 'y');
    const Case cases[] = {
        {"range beyond the file size", record(250, 400, 260), 0},
        {"negative begin", record(-50, 20, 0), 0},
        {"area past the end of the sub-log", past_eof, 0},
        {"overlapping slot", twice, 10},
        {"huge range", record(0, INT64_MAX, 5), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto log = make("seg", 300, true, true);
        const int64_t off = log->data_offset();
        log.reset();
        patch(dir / "seg", off, c.slot);
        auto back = restored("seg");
        ASSERT_TRUE(ok);
        EXPECT_EQ(back->man_frag().done_bytes(), c.done);
        // Whatever was refused is fetched again: the file is covered.
        for (int64_t at : {0, 150, 299}) {
            KV_FileFrag* g = nullptr;
            EXPECT_TRUE(back->man_frag().find_pos(&g, at)) << at;
        }
    }

    // A min size below 1 in the file would cut empty fragments.
    auto log = make("min", 300, true, true, 0);
    log.reset();
    auto back = restored("min");
    ASSERT_TRUE(ok);
    EXPECT_EQ(back->man_frag().min_size(), KV_FileFragMan::DEF_MIN_SIZE);
}

TEST_F(TransLogCp, RewritesChangeMemoryOnlyWhenTheWriteSucceeded)
{
    auto log = make("sub", 300, true, false);
    ASSERT_TRUE(log->set_status(1));
    log->close();
    // The file is gone: any rewrite that has to write fails.
    fs::remove(dir / "sub");
    EXPECT_TRUE(log->set_status(1)) << "unchanged: nothing to write";
    EXPECT_FALSE(log->set_status(2));
    EXPECT_EQ(log->status(), 1);
    EXPECT_TRUE(log->set_flags(0, KV_TransLogCp::FLAG2_SRC));
    EXPECT_FALSE(log->set_flags(KV_TransLogCp::FLAG2_SRC, 0));
    EXPECT_EQ(log->flags2(), 0);
    const Bytes data = pattern(10, 0);
    EXPECT_FALSE(log->write_at(0, data.data(), 10));
    EXPECT_FALSE(log->set_stored(10));
    EXPECT_EQ(log->size(), 0);
    EXPECT_FALSE(fs::exists(dir / "sub")) << "a rewrite never creates the file";

    // Without a file, status and flags2 live in memory.
    KV_TransLogCp mem(nullptr, "", entry(10), src, dst);
    mem.set_no_file(true);
    EXPECT_FALSE(mem.has_file());
    EXPECT_TRUE(mem.set_status(2));
    EXPECT_TRUE(mem.set_flags(KV_TransLogCp::FLAG2_SRC | KV_TransLogCp::FLAG2_DST, 0));
    EXPECT_EQ(mem.status(), 2);
    EXPECT_TRUE(mem.flag1());
    EXPECT_TRUE(mem.set_status(3));
    EXPECT_EQ(mem.prog(), KV_TransLogCp::PROG_DONE) << "status 3 reports done";
    EXPECT_FALSE(mem.has_name());
    mem.set_no_file(false);
    EXPECT_FALSE(mem.set_status(1)) << "never created";
}

TEST_F(TransLogCp, ProgressFollowsTheStatus)
{
    struct Case
    {
        const char* what;
        int64_t size;
        uint8_t status;
        int64_t n;
        int32_t expect;
    };
    const Case cases[] = {
        {"not started", 200, 0, 100, KV_TransLogCp::PROG_UNKNOWN},
        {"receiving, nothing stored", 200, 1, 100, 0},
        {"receiving an empty file", 0, 1, 0, KV_TransLogCp::PROG_UNKNOWN},
        {"delivering, half", 200, 2, 100, 151},
        {"delivering, all", 200, 2, 200, 201},
        {"delivering beyond the size", 200, 2, 900, 201},
        {"delivering a huge file", INT64_MAX, 2, INT64_MAX / 2, 150},
        {"delivering an empty file", 0, 2, 0, KV_TransLogCp::PROG_UNKNOWN},
        {"done", 200, 3, 0, KV_TransLogCp::PROG_DONE},
        {"unknown status", 200, 9, 0, KV_TransLogCp::PROG_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KV_TransLogCp log(nullptr, "", entry(c.size), src, dst);
        log.set_no_file(true);
        ASSERT_TRUE(log.set_status(c.status));
        log.progress(c.n);
        EXPECT_EQ(log.prog(), c.expect);
    }

    // Receiving counts the bytes held: stored, or the fragments' bytes.
    auto plain = make("plain", 200, true, false);
    ASSERT_TRUE(plain->set_status(1));
    const Bytes data = pattern(50, 0);
    ASSERT_TRUE(plain->write_at(0, data.data(), 50));
    plain->progress(0);
    EXPECT_EQ(plain->prog(), 25);
    auto seg = make("seg", 200, true, true);
    ASSERT_TRUE(seg->set_status(1));
    std::vector<KV_FileFrag*> f = take_all(*seg);
    ASSERT_EQ(f.size(), 2u);
    ASSERT_TRUE(seg->write_frag(*f[1], data.data(), 50));
    seg->progress(0);
    EXPECT_EQ(seg->prog(), 25);
}

TEST_F(TransLogCp, FragmentsAreDeliveredInOffsetOrderAndOnlyWhenComplete)
{
    const Bytes source = pattern(250, 9);
    auto log = make("seg", 250, true, true);
    std::vector<KV_FileFrag*> f = take_all(*log);
    ASSERT_EQ(f.size(), 3u);
    // A write past a fragment's end would overwrite the next slot's record.
    EXPECT_FALSE(log->write_frag(*f[2], source.data() + 200, 51));
    EXPECT_EQ(f[2]->rec_pos(), 0);
    uint32_t n = 10;
    Bytes buf(10);
    EXPECT_FALSE(log->read_frag(*f[2], buf.data(), 0, n)) << "no slot yet";
    EXPECT_EQ(n, 0u);
    for (int i : {2, 1, 0})
        ASSERT_TRUE(log->write_frag(*f[i], source.data() + f[i]->begin(),
                                    static_cast<uint32_t>(f[i]->size() - (i == 1 ? 1 : 0))));
    const std::string out = dir / "out";
    {
        KV_File target(out.c_str(), "wb");
        ASSERT_TRUE(target.open());
        EXPECT_FALSE(log->copy_frags(target, nullptr)) << "the middle range is one byte short";
    }
    ASSERT_TRUE(log->write_frag(*f[1], source.data() + 199, 1));
    ASSERT_TRUE(log->set_status(2));
    {
        KV_File target(out.c_str(), "wb");
        ASSERT_TRUE(target.open());
        ASSERT_TRUE(log->copy_frags(target, nullptr));
    }
    EXPECT_EQ(read_all(out), source);
    EXPECT_EQ(log->prog(), 201);

    // A stop ends the delivery.
    KV_Stoppable stop;
    stop.stop(KV_STOP_CANCEL);
    KV_File target(out.c_str(), "wb");
    ASSERT_TRUE(target.open());
    EXPECT_FALSE(log->copy_frags(target, &stop));
}

TEST_F(TransLogCp, ReadInCountsOnlyAFinishedCopy)
{
    const std::string in = dir / "in";
    const Bytes source = pattern(100000, 4);
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(source.data()),
               static_cast<std::streamsize>(source.size()));
    auto log = make("sub", 100000, true, false);
    ASSERT_TRUE(log->set_status(1));
    KV_File file(in.c_str(), "rb");
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(log->copy_data(file, nullptr));
    EXPECT_EQ(log->size(), 100000);
    EXPECT_EQ(log->prog(), 100);
    const int64_t off = log->data_offset();
    Bytes now = read_all(dir / "sub");
    EXPECT_EQ(Bytes(now.begin() + off - 8, now.begin() + off), le64(100000));
    EXPECT_EQ(Bytes(now.begin() + off, now.end()), source);

    KV_Stoppable stop;
    stop.stop(KV_STOP_CANCEL);
    EXPECT_FALSE(log->copy_data(file, &stop));
    EXPECT_EQ(log->size(), 0);
    now = read_all(dir / "sub");
    EXPECT_EQ(Bytes(now.begin() + off - 8, now.begin() + off), le64(0)) << "no stale count";

    auto seg = make("seg", 100000, true, true);
    EXPECT_FALSE(seg->copy_data(file, nullptr)) << "a segmented sub-log is filled by fragments";
}

TEST_F(TransLogCp, NamesAndPaths)
{
    KV_TransLogCp local(nullptr, "/data/src.bin", entry(10), src, dst);
    EXPECT_EQ(local.file_name(), "/data/src.bin");
    EXPECT_EQ(local.data_name(), "/data/src.bin") << "the data is not kept here";
    EXPECT_EQ(local.data_offset(), 0);
    KV_PathDef empty;
    EXPECT_TRUE(local.own_path(empty));
    EXPECT_TRUE(empty.empty());
    EXPECT_FALSE(local.set_path(KV_PathDef()));

    KV_PathDef where;
    ASSERT_TRUE(
        KV_TransLog::tmp_file_man().path_man().split_path((dir / "sub").c_str(), where, false));
    KV_TransLogCp kept(nullptr, "", entry(10), src, dst);
    kept.set_flags_init(true, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
    ASSERT_TRUE(kept.set_path(where));
    EXPECT_EQ(kept.name(), (dir / "sub").c_str());
    EXPECT_EQ(kept.file_name(), kept.name()) << "no stored name: the sub-log's own";
    EXPECT_EQ(kept.data_name(), kept.name());
    KV_PathDef back;
    ASSERT_TRUE(kept.own_path(back));
    EXPECT_TRUE(back == where);

    kept.set_dtrans(7, 1);
    EXPECT_EQ(kept.dtrans_id(), 7u);
    EXPECT_EQ(kept.dtrans_flag(), 1);
    kept.set_dtrans(0, 0);
    EXPECT_EQ(kept.dtrans_id(), 0u);

    // The direct data connection's address stays in memory as it was given.
    EXPECT_EQ(std::string(kept.dtrans_addr().as_str(KV_IADDR_ADDR_PORT).data()), "0.0.0.0:0");
    KV_InetAddr peer;
    ASSERT_TRUE(peer.set_addr("127.0.0.1:2121"));
    kept.set_dtrans_addr(peer);
    EXPECT_EQ(std::string(kept.dtrans_addr().as_str(KV_IADDR_FTP).data()), "127,0,0,1,8,73");
}

} // namespace
