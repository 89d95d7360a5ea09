// KV_TransSink: what a download stores (a fragment's end, data that ends
// early, the resume offset, the stored count against the bytes on disk, a
// failed write) and what an upload reads (complete fragments in order, the
// offset, an exact length, a read error).
#include "transfers/kv_transsink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/kv_filedata.h"
#include "foundation/kv_le.h"
#include "foundation/kv_tmpfile.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"
#include "transfers/kv_transtest.h"

namespace {

using transtest::Bytes;
using transtest::path_of;
using transtest::read_all;
using Read = KV_TransSink::Read;

KV_FileData entry(int64_t size)
{
    KV_FileData fd("file.bin", "Jan 01 2024", size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    return fd;
}

Bytes pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 31 + seed) ^ (i >> 8));
    return b;
}

// While it stands, no file of this process grows past `bytes`: a write
// beyond fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(int64_t bytes)
    {
        old_sig_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit now = old_;
        now.rlim_cur = static_cast<rlim_t>(bytes);
        setrlimit(RLIMIT_FSIZE, &now);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_sig_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*old_sig_)(int) = nullptr;
};

class TransSink : public kvtest::TempDirTest
{
protected:
    // A new sub-log that keeps the data, as a download fills it.
    std::unique_ptr<KV_TransLogCp> make(const std::string& name, int64_t size, bool multifrag)
    {
        auto log = std::make_unique<KV_TransLogCp>(nullptr, "/data/src.bin", entry(size), src, dst);
        log->set_flags_init(true, multifrag, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        EXPECT_TRUE(log->set_name((dir / name).c_str()));
        EXPECT_TRUE(log->create(eh));
        return log;
    }
    // A sub-log that names the file holding the data, as an upload from the
    // local disk has it.
    std::unique_ptr<KV_TransLogCp> naming(const std::string& file, int64_t size)
    {
        auto log = std::make_unique<KV_TransLogCp>(nullptr, file.c_str(), entry(size), src, dst);
        log->set_flags_init(false, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
        return log;
    }
    std::unique_ptr<KV_TransLogCp> restored(const std::string& name)
    {
        auto log = std::make_unique<KV_TransLogCp>(nullptr, (dir / name).c_str());
        EXPECT_TRUE(log->restore(eh, nullptr));
        KV_TransLog::tmp_file_man().unreg((dir / name).c_str());
        return log;
    }
    // The stored count as the file holds it (unsegmented).
    int64_t count_on_disk(const std::string& name, const KV_TransLogCp& log)
    {
        const Bytes now = read_all(dir / name);
        const int64_t at = log.data_offset() - 8;
        EXPECT_LE(static_cast<size_t>(at + 8), now.size());
        return kv_get_le<int64_t>(now.data() + at);
    }
    // The data area as the file holds it (unsegmented).
    Bytes area_on_disk(const std::string& name, const KV_TransLogCp& log)
    {
        const Bytes now = read_all(dir / name);
        return Bytes(now.begin() + log.data_offset(), now.end());
    }
    static KV_FileFrag* frag_at(KV_TransLogCp& log, int64_t begin)
    {
        KV_FileFrag* f = nullptr;
        EXPECT_TRUE(log.man_frag().find_pos(&f, begin));
        return f;
    }
    // Three fragments of 100 bytes, all in transfer, instead of the one
    // new fragment a segmented sub-log starts with.
    static void three_frags(KV_TransLogCp& log)
    {
        log.man_frag().clear();
        for (int64_t b : {0, 100, 200})
            ASSERT_TRUE(log.man_frag().add_new(b, b + 100, KV_FileFrag::IN_TRANSFER));
    }

    kvtest::LogErr eh;
    const KV_PathDef src = path_of({"/", "data", "src.bin"});
    const KV_PathDef dst = path_of({"Local", "out", "dst.bin"});
};

TEST_F(TransSink, AFragmentTakesItsOwnBytesAndDataEndingEarlyLeavesItIncomplete)
{
    // The server is asked from 100 and may send past the fragment's end
    // (200), or stop before it.
    const Bytes file = pattern(300, 3);
    struct Case
    {
        const char* name;
        uint32_t sent;  // bytes the server sends from 100
        uint32_t chunk; // bytes per receive
        uint32_t hold;
        int64_t pos; // the fragment's position after close
        bool full;
    };
    const Case cases[] = {
        {"exactly its bytes", 100, 100, 0, 200, true},
        {"past its end in one piece", 200, 200, 0, 200, true},
        {"past its end, byte by byte", 200, 1, 0, 200, true},
        {"past its end, held back", 200, 13, 64, 200, true},
        {"past its end, all held until close", 200, 13, 1 << 20, 200, true},
        {"one byte short", 99, 10, 0, 199, false},
        {"one byte short, held back", 99, 10, 64, 199, false},
        {"nothing", 0, 10, 0, 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = make("seg", 300, true);
        three_frags(*log);
        KV_FileFrag* f = frag_at(*log, 100);
        KV_TransSink sink(log.get(), f);
        sink.set_hold(c.hold);
        ASSERT_TRUE(sink.open(&eh));
        for (uint32_t at = 0; at < c.sent && !sink.full(); at += c.chunk) {
            const uint32_t n = std::min(c.chunk, c.sent - at);
            ASSERT_TRUE(sink.write(file.data() + 100 + at, n));
            EXPECT_LE(sink.pos(), 200);
        }
        EXPECT_EQ(sink.full(), c.full);
        ASSERT_TRUE(sink.close());
        EXPECT_EQ(f->pos(), c.pos);
        EXPECT_EQ(sink.complete(), c.full);
        EXPECT_EQ(f->done(), c.full);
        uint32_t n = static_cast<uint32_t>(c.pos - 100);
        Bytes got(n);
        if (n > 0) {
            ASSERT_TRUE(log->read_frag(*f, got.data(), 0, n));
            EXPECT_EQ(got, Bytes(file.begin() + 100, file.begin() + c.pos));
        }
        EXPECT_EQ(frag_at(*log, 200)->rec_pos(), 0) << "nothing reached the next fragment";
    }
}

TEST_F(TransSink, BytesPastAFragmentsEndNeverReachTheNextSlot)
{
    // The middle fragment's slot is placed first, the last fragment's right
    // after it: a byte past the middle one's end would land on the last one's
    // record.
    const Bytes file = pattern(300, 5);
    for (uint32_t hold : {0u, 64u}) {
        SCOPED_TRACE(hold);
        auto log = make("seg", 300, true);
        three_frags(*log);
        KV_FileFrag* mid = frag_at(*log, 100);
        KV_FileFrag* last = frag_at(*log, 200);
        KV_TransSink a(log.get(), mid);
        KV_TransSink b(log.get(), last);
        a.set_hold(hold);
        ASSERT_TRUE(a.open(&eh));
        ASSERT_TRUE(b.open(&eh));
        ASSERT_TRUE(a.write(file.data() + 100, 1));
        ASSERT_TRUE(a.flush());
        ASSERT_TRUE(b.write(file.data() + 200, 100));
        ASSERT_TRUE(b.close());
        // The server goes on to the end of the file.
        ASSERT_TRUE(a.write(file.data() + 101, 199));
        EXPECT_TRUE(a.full());
        ASSERT_TRUE(a.close());

        auto back = restored("seg");
        ASSERT_NE(back, nullptr);
        KV_FileFrag* rm = frag_at(*back, 100);
        KV_FileFrag* rl = frag_at(*back, 200);
        ASSERT_NE(rm, nullptr);
        ASSERT_NE(rl, nullptr);
        EXPECT_EQ(rm->begin(), 100);
        EXPECT_TRUE(rm->done());
        EXPECT_EQ(rl->begin(), 200);
        EXPECT_TRUE(rl->done()) << "the last fragment's record survived";
        Bytes got(100);
        uint32_t n = 100;
        ASSERT_TRUE(back->read_frag(*rl, got.data(), 0, n));
        EXPECT_EQ(got, Bytes(file.begin() + 200, file.end()));
    }
}

TEST_F(TransSink, AResumeCutsTheCountBackToItsOffset)
{
    const Bytes old = pattern(100, 1);
    const Bytes now = pattern(100, 2);
    auto log = make("sub", 100, false);
    {
        KV_TransSink first(KV_TransSink::Dir::get, log.get(), 0);
        ASSERT_TRUE(first.open(&eh));
        ASSERT_TRUE(first.write(old.data(), 100));
        ASSERT_TRUE(first.close());
    }
    ASSERT_EQ(count_on_disk("sub", *log), 100);

    // The server resumes at 40: the 60 bytes after it are no longer vouched
    // for until they come again.
    KV_TransSink sink(KV_TransSink::Dir::get, log.get(), 40);
    ASSERT_TRUE(sink.open(&eh));
    EXPECT_EQ(count_on_disk("sub", *log), 40);
    EXPECT_EQ(log->size(), 40);
    ASSERT_TRUE(sink.write(now.data() + 40, 60));
    EXPECT_EQ(sink.offset(), 100);
    // The count follows the bytes in stretches, and at once on flush.
    EXPECT_LE(count_on_disk("sub", *log), 100);
    ASSERT_TRUE(sink.flush());
    EXPECT_EQ(count_on_disk("sub", *log), 100);
    Bytes want(old.begin(), old.begin() + 40);
    want.insert(want.end(), now.begin() + 40, now.end());
    EXPECT_EQ(area_on_disk("sub", *log), want);

    // A server that cannot resume after all sends from 0.
    ASSERT_TRUE(sink.restart(0));
    EXPECT_EQ(count_on_disk("sub", *log), 0);
    ASSERT_TRUE(sink.write(now.data(), 30));
    ASSERT_TRUE(sink.flush());
    EXPECT_EQ(count_on_disk("sub", *log), 30);
    const Bytes area = area_on_disk("sub", *log);
    EXPECT_EQ(Bytes(area.begin(), area.begin() + 30), Bytes(now.begin(), now.begin() + 30));
    ASSERT_TRUE(sink.close());

    // A fragment cannot move.
    auto seg = make("seg", 300, true);
    three_frags(*seg);
    KV_TransSink frag(seg.get(), frag_at(*seg, 100));
    EXPECT_FALSE(frag.restart(0));
    EXPECT_EQ(frag.offset(), 100);
}

TEST_F(TransSink, TheCountNeverRunsAheadOfTheBytes)
{
    const Bytes data = pattern(80, 7);
    auto log = make("sub", 80, false);
    KV_TransSink sink(KV_TransSink::Dir::get, log.get(), 0);
    sink.set_hold(64);
    ASSERT_TRUE(sink.open(&eh));
    struct Step
    {
        uint32_t n;
        int64_t counted; // what the file says afterwards
    };
    uint32_t sent = 0;
    for (const Step s : {Step{50, 0}, Step{20, 70}, Step{10, 70}}) {
        SCOPED_TRACE(sent);
        ASSERT_TRUE(sink.write(data.data() + sent, s.n));
        sent += s.n;
        EXPECT_EQ(sink.pos(), sent);
        EXPECT_EQ(sink.offset(), s.counted);
        ASSERT_EQ(count_on_disk("sub", *log), s.counted);
        const Bytes area = area_on_disk("sub", *log);
        ASSERT_GE(area.size(), static_cast<size_t>(s.counted)) << "counted bytes are on disk";
        EXPECT_EQ(Bytes(area.begin(), area.begin() + s.counted),
                  Bytes(data.begin(), data.begin() + s.counted));
    }
    ASSERT_TRUE(sink.close());
    EXPECT_EQ(count_on_disk("sub", *log), 80);
    EXPECT_EQ(area_on_disk("sub", *log), data);
}

TEST_F(TransSink, AFailedWriteStopsTheSinkWhereTheDataEnds)
{
    const Bytes data = pattern(100, 8);
    for (uint32_t hold : {0u, 1u << 20}) {
        SCOPED_TRACE(hold);
        auto log = make("sub", 100, false);
        KV_TransSink sink(KV_TransSink::Dir::get, log.get(), 0);
        sink.set_hold(hold);
        ASSERT_TRUE(sink.open(&eh));
        ASSERT_TRUE(sink.write(data.data(), 30));
        ASSERT_TRUE(sink.flush());
        bool wrote = false;
        {
            // The file may not grow past 5 more bytes: the next piece is
            // written only in part, as on a full disk.
            FileSizeLimit full(log->data_offset() + 35);
            wrote = sink.write(data.data() + 30, 30) && sink.flush();
        }
        EXPECT_FALSE(wrote);
        // With the system's words, which tell the person what to mend.
        const std::string why =
            std::string(KV_TransSink::write_err) + " ( " + std::strerror(EFBIG) + " )";
        EXPECT_STREQ(sink.err().data(), why.c_str());
        EXPECT_EQ(sink.offset(), 30);
        // Bytes after the lost ones would land at their place: refused,
        // also once the disk has room again.
        EXPECT_FALSE(sink.write(data.data() + 60, 10));
        EXPECT_EQ(sink.close(), hold == 0) << "held bytes that could not be written fail close";
        EXPECT_EQ(count_on_disk("sub", *log), 30);

        // A new start goes on from where the data ends.
        KV_TransSink again(KV_TransSink::Dir::get, log.get(), 30);
        ASSERT_TRUE(again.open(&eh));
        ASSERT_TRUE(again.write(data.data() + 30, 70));
        ASSERT_TRUE(again.close());
        EXPECT_EQ(area_on_disk("sub", *log), data);
    }
}

TEST_F(TransSink, AnUploadSendsCompleteFragmentsInOrder)
{
    const Bytes file = pattern(300, 11);
    auto log = make("seg", 300, true);
    three_frags(*log);
    for (int64_t b : {200, 0, 100}) {
        KV_TransSink in(log.get(), frag_at(*log, b));
        ASSERT_TRUE(in.open(&eh));
        // The middle one lacks its last byte for now.
        ASSERT_TRUE(in.write(file.data() + b, b == 100 ? 99 : 100));
        ASSERT_TRUE(in.close());
    }

    KV_TransSink out(KV_TransSink::Dir::put, log.get(), 0);
    ASSERT_TRUE(out.open(&eh));
    Bytes sent;
    unsigned char buf[64];
    uint32_t n = 0;
    Read r = Read::data;
    while ((r = out.read(buf, sizeof(buf), n)) == Read::data) {
        EXPECT_LE(n, sizeof(buf));
        EXPECT_EQ((out.offset() - 1) / 100, (out.offset() - n) / 100) << "one fragment a read";
        sent.insert(sent.end(), buf, buf + n);
    }
    EXPECT_EQ(r, Read::fail) << "the middle fragment is not complete";
    EXPECT_EQ(out.offset(), 100);
    EXPECT_EQ(sent, Bytes(file.begin(), file.begin() + 100));
    EXPECT_FALSE(out.done());

    KV_TransSink rest(log.get(), frag_at(*log, 100));
    ASSERT_TRUE(rest.open(&eh));
    ASSERT_TRUE(rest.write(file.data() + 199, 1));
    ASSERT_TRUE(rest.close());
    while (!out.done()) {
        ASSERT_EQ(out.read(buf, sizeof(buf), n), Read::data);
        sent.insert(sent.end(), buf, buf + n);
    }
    EXPECT_EQ(sent, file);
    EXPECT_EQ(out.read(buf, sizeof(buf), n), Read::end);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(out.close());
}

TEST_F(TransSink, AnUploadOfOnePieceReadsFromItsOffsetToTheRightEnd)
{
    const Bytes content = pattern(1000, 13);
    const std::string file = dir / "source.bin";
    transtest::write_all(file, content);
    const std::string folder = dir / "a folder";
    std::filesystem::create_directory(folder);
    struct Case
    {
        const char* name;
        const std::string& path;
        int64_t size; // the size the sub-log knows
        int64_t offset;
        bool exact;
        size_t sent; // bytes read before the last answer
        Read last;
    };
    const Case cases[] = {
        {"whole file", file, 1000, 0, false, 1000, Read::end},
        {"from the offset", file, 1000, 600, false, 400, Read::end},
        {"to the file's end, whatever the size says", file, 500, 0, false, 1000, Read::end},
        {"exact: not past the size", file, 500, 0, true, 500, Read::end},
        {"exact: a file shorter than the size fails", file, 1200, 0, true, 1000, Read::fail},
        {"exact: from the offset", file, 1000, 990, true, 10, Read::end},
        {"a read error is no end", folder, 1000, 0, false, 0, Read::fail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = naming(c.path, c.size);
        KV_TransSink sink(KV_TransSink::Dir::put, log.get(), c.offset);
        sink.set_exact(c.exact);
        ASSERT_TRUE(sink.open(&eh)) << eh.all();
        Bytes sent;
        unsigned char buf[100];
        uint32_t n = 0;
        Read r = Read::data;
        while ((r = sink.read(buf, sizeof(buf), n)) == Read::data)
            sent.insert(sent.end(), buf, buf + n);
        EXPECT_EQ(r, c.last);
        EXPECT_EQ(sink.done(), c.last == Read::end);
        EXPECT_EQ(sent.size(), c.sent);
        const size_t from = static_cast<size_t>(c.offset);
        if (c.path == file) {
            EXPECT_EQ(sent, Bytes(content.begin() + from, content.begin() + from + c.sent));
        }
        if (c.last == Read::fail) {
            EXPECT_EQ(std::string(sink.err().data()), "Couldn't read the file " + c.path + ".");
        }
        EXPECT_TRUE(sink.close());
    }
}

TEST_F(TransSink, AFileThatCannotBeOpenedIsReportedWithItsName)
{
    const std::string missing = dir / "missing.bin";
    for (auto d : {KV_TransSink::Dir::get, KV_TransSink::Dir::put}) {
        eh.clear();
        auto log = naming(missing, 10);
        KV_TransSink sink(d, log.get(), 0);
        EXPECT_FALSE(sink.open(&eh));
        ASSERT_EQ(eh.count(), 1u);
        EXPECT_EQ(eh.prios().front(), 2);
        const std::string want =
            "Couldn't open the file " + missing +
            (d == KV_TransSink::Dir::get ? " for writing (" : " for reading (");
        EXPECT_EQ(eh.last().rfind(want, 0), 0u) << eh.last();
    }
    KV_TransSink none(KV_TransSink::Dir::get, nullptr, 0);
    EXPECT_FALSE(none.open(&eh));
    EXPECT_FALSE(none.write(reinterpret_cast<const unsigned char*>("x"), 1));
}

} // namespace

namespace {

// What a restore of the sub-log, as a process killed right now leaves it,
// finds vouched for: every byte it would keep must be the source's. Returns
// the number of such bytes.
int64_t vouched_on_restore(const kvtest::TempDir& dir, const std::string& name, const Bytes& source,
                           const std::vector<int64_t>& begins, const std::string& part)
{
    const std::string snap = dir / (name + ".killed");
    std::filesystem::copy_file(dir / name, snap, std::filesystem::copy_options::overwrite_existing);
    kvtest::LogErr eh;
    KV_TransLogCp log(nullptr, snap.c_str());
    EXPECT_TRUE(log.restore(eh, nullptr));
    KV_TransLog::tmp_file_man().unreg(snap.c_str());
    // The bytes are in the sub-log's data area, or at their own offsets in
    // the part file when there is one.
    const Bytes disk = read_all(part.empty() ? snap : part);
    int64_t vouched = 0;
    if (!log.multifrag()) {
        const int64_t n = log.size();
        const int64_t at = part.empty() ? log.data_offset() : 0;
        EXPECT_GE(static_cast<int64_t>(disk.size()), at + n) << "count " << n;
        if (static_cast<int64_t>(disk.size()) >= at + n) {
            EXPECT_TRUE(std::equal(disk.begin() + at, disk.begin() + at + n, source.begin()))
                << "count " << n;
        }
        return n;
    }
    for (int64_t b : begins) {
        KV_FileFrag* f = nullptr;
        if (!log.man_frag().find_pos(&f, b) || f == nullptr || f->rec_pos() == 0)
            continue;
        const int64_t n = f->pos() - f->begin();
        const auto at = disk.begin() + (part.empty() ? f->data_pos() : b);
        EXPECT_TRUE(std::equal(at, at + n, source.begin() + b)) << "fragment at " << b;
        vouched += n;
    }
    return vouched;
}

} // namespace

// A download killed at any moment resumes from bytes that are on disk and
// right: the count or the fragment records may lag behind the data, never
// run ahead of it, and they do follow it while the download runs, not only
// at its end.
TEST_F(TransSink, WhatARestoreFindsVouchedForIsAlwaysOnDisk)
{
    constexpr int64_t part = KV_TransSink::vouch_every + 300001;
    constexpr uint32_t piece = (1 << 20) + 17;
    struct Case
    {
        int nfrags;
        bool in_part; // the bytes go to the file under its temporary name
    };
    for (const Case c : {Case{1, false}, Case{2, false}, Case{1, true}, Case{2, true}}) {
        const int nfrags = c.nfrags;
        SCOPED_TRACE(testing::Message() << nfrags << (c.in_part ? " in part" : " in sub-log"));
        const bool seg = nfrags > 1;
        const int64_t size = part * nfrags;
        const Bytes source = pattern(static_cast<size_t>(size), 21);
        auto log = make("sub", size, seg);
        std::vector<int64_t> begins;
        std::vector<std::unique_ptr<KV_TransSink>> sinks;
        if (seg)
            log->man_frag().clear();
        const std::string part_file = c.in_part ? dir / ".dst.bin.part" : std::string();
        if (c.in_part) {
            ASSERT_TRUE(log->set_status(KV_TransLogCp::ST_RECEIVING));
            bool afresh = false;
            ASSERT_TRUE(log->use_part(::open(part_file.c_str(), O_RDWR | O_CREAT, 0600), afresh));
        }
        for (int i = 0; i < nfrags; ++i) {
            const int64_t b = i * part;
            begins.push_back(b);
            if (seg) {
                ASSERT_TRUE(log->man_frag().add_new(b, b + part, KV_FileFrag::IN_TRANSFER));
                sinks.push_back(std::make_unique<KV_TransSink>(log.get(), frag_at(*log, b)));
            } else {
                sinks.push_back(
                    std::make_unique<KV_TransSink>(KV_TransSink::Dir::get, log.get(), 0));
            }
            ASSERT_TRUE(sinks.back()->open(&eh));
        }
        // The fragments take turns, as sessions running at once do.
        int64_t best = 0;
        for (int step = 0;; ++step) {
            bool any = false;
            for (int i = 0; i < nfrags; ++i) {
                KV_TransSink& s = *sinks[i];
                const int64_t at = s.pos();
                const int64_t end = begins[i] + part;
                if (at >= end)
                    continue;
                const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(piece, end - at));
                ASSERT_TRUE(s.write(source.data() + at, n));
                any = true;
            }
            if (!any)
                break;
            if (step % 2 == 1) {
                const int64_t v = vouched_on_restore(dir, "sub", source, begins, part_file);
                EXPECT_GE(v, best) << "what was vouched for stays vouched";
                best = std::max(best, v);
            }
        }
        EXPECT_GE(best, KV_TransSink::vouch_every) << "the count follows while the data comes";
        for (auto& s : sinks)
            ASSERT_TRUE(s->close());
        EXPECT_EQ(vouched_on_restore(dir, "sub", source, begins, part_file), size);
        if (c.in_part) {
            // Each byte was written once: the part is the file, and the
            // sub-log's area holds no data.
            ASSERT_TRUE(log->settle_part());
            EXPECT_TRUE(read_all(part_file) == source);
            struct stat st;
            ASSERT_EQ(::stat((dir / "sub").c_str(), &st), 0);
            EXPECT_LT(static_cast<int64_t>(st.st_blocks) * 512, size / 2);
        }
    }
}

// A part file is believed only as far as it holds what the sub-log vouches
// for: a short one cuts an unfinished count back, and makes a finished fetch
// or fragments with progress start afresh rather than deliver holes.
TEST_F(TransSink, APartIsTakenOnlyForWhatItHolds)
{
    const struct
    {
        const char* what;
        bool seg;
        uint8_t status;
        int64_t vouched; // bytes written and vouched for before
        int64_t part;    // length of the part file found
        bool taken;
        bool afresh;
        int64_t stored_after; // unsegmented: the count afterwards
        int64_t part_after;   // the part's length afterwards
    } cases[] = {
        {"count within the part", false, KV_TransLogCp::ST_RECEIVING, 100, 150, true, false, 100,
         150},
        {"count past a short part", false, KV_TransLogCp::ST_RECEIVING, 100, 60, true, false, 60,
         60},
        {"finished fetch, short part", false, KV_TransLogCp::ST_DELIVERING, 300, 200, false, true,
         -1, -1},
        {"a new copy empties the part", false, KV_TransLogCp::ST_NONE, 0, 50, true, false, 0, 0},
        {"fragments, part of another length", true, KV_TransLogCp::ST_RECEIVING, 100, 40, false,
         true, -1, -1},
        {"fragments without progress", true, KV_TransLogCp::ST_RECEIVING, 0, 40, true, false, -1,
         300},
    };
    const Bytes data = pattern(300, 31);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto log = make("sub", 300, c.seg);
        ASSERT_TRUE(log->set_status(KV_TransLogCp::ST_RECEIVING));
        if (c.vouched > 0) {
            if (c.seg)
                three_frags(*log);
            KV_TransSink s = c.seg ? KV_TransSink(log.get(), frag_at(*log, 0))
                                   : KV_TransSink(KV_TransSink::Dir::get, log.get(), 0);
            ASSERT_TRUE(s.open(&eh));
            ASSERT_TRUE(s.write(data.data(), static_cast<uint32_t>(c.vouched)));
            ASSERT_TRUE(s.close());
        }
        ASSERT_TRUE(log->set_status(c.status));
        const std::string part = dir / "part";
        std::filesystem::remove(part);
        {
            const Bytes found(static_cast<size_t>(c.part), 7);
            std::FILE* f = std::fopen(part.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(found.data(), 1, found.size(), f);
            std::fclose(f);
        }
        bool afresh = false;
        EXPECT_EQ(log->use_part(::open(part.c_str(), O_RDWR), afresh), c.taken);
        EXPECT_EQ(afresh, c.afresh);
        EXPECT_EQ(log->part_fd() >= 0, c.taken);
        if (!c.seg && c.stored_after >= 0) {
            EXPECT_EQ(log->size(), c.stored_after);
            EXPECT_EQ(count_on_disk("sub", *log), c.stored_after);
        }
        if (c.part_after >= 0) {
            EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(part)), c.part_after);
        }
    }
}
