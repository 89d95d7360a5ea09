// KV_FileFrag and KV_FileFragMan: the stored record, the cutting and handing
// out of ranges, the gap fill, and the completion check that resumes or
// fails the waiting store half.
#include "transfers/kv_filefrag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "foundation/kv_storage.h"
#include "requests/kv_filereq.h"
#include "support/kv_testdir.h"
#include "transfers/kv_transtest.h"

namespace {

using Range = std::pair<int64_t, int64_t>;

// A store half waiting for its fragments; records what reached it.
class WaitingReq : public KV_FileReq
{
public:
    explicit WaitingReq(KV_ErrHandler& eh) : KV_FileReq(eh) {}
    ~WaitingReq() override { set_term_status(); }
    bool operator==(const KV_FileReq&) const override { return false; }
    const char* get_descr(KV_String&, bool) const override { return "Copy"; }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_COPY; }
    // No worker of these tests dispatches it.
    bool run_on(KV_Tavo&) override { return false; }
    KV_REQ_PRIO priority() const override { return 0; }
    bool req_started() override
    {
        ++started;
        return true;
    }
    int started = 0;
};

// The ranges covering [0, upto), in offset order; a gap fails the test.
std::vector<Range> ranges_of(KV_FileFragMan& man, int64_t upto)
{
    std::vector<Range> out;
    for (int64_t off = 0; off < upto;) {
        KV_FileFrag* f = nullptr;
        if (!man.find_pos(&f, off)) {
            ADD_FAILURE() << "nothing covers " << off;
            break;
        }
        out.emplace_back(f->begin(), f->end());
        off = f->end();
    }
    return out;
}

std::vector<unsigned char> le(std::initializer_list<uint64_t> values)
{
    transtest::Bytes b;
    for (uint64_t v : values)
        transtest::put<uint64_t>(b, v);
    return b;
}

TEST(KV_FileFrag, RecordIsThirtyTwoBytesWithItsCheckValue)
{
    KV_FileFrag f(nullptr, 0x123456789ABCDEF0, 0x12345678ABCD0001, 0);
    f.advance(0x1111);
    EXPECT_EQ(f.pos(), 0x123456789ABCDEF0 + 0x1111);
    const uint64_t pos = 0x123456789ABCDEF0 + 0x1111;
    const uint64_t check = (uint64_t{0x0001} << 48) | (uint64_t{0xDEF0} << 32) | (pos & 0xFFFFFFFF);
    EXPECT_EQ(f.check(), check);
    KV_Stream st;
    ASSERT_TRUE(f.write(st));
    const auto expect = le({0x123456789ABCDEF0, 0x12345678ABCD0001, pos, check});
    ASSERT_EQ(st.length(), 32u);
    EXPECT_EQ(std::memcmp(static_cast<const unsigned char*>(st), expect.data(), 32), 0);

    KV_FileFrag back(nullptr, 0, 0, 0);
    bool io_ok = false;
    EXPECT_TRUE(back.read(st, io_ok));
    EXPECT_TRUE(io_ok);
    EXPECT_EQ(back.begin(), f.begin());
    EXPECT_EQ(back.end(), f.end());
    EXPECT_EQ(back.pos(), f.pos());
    EXPECT_EQ(back.state(), KV_FileFrag::PARTIAL);
    EXPECT_EQ(back.rec_pos(), 0) << "the place in the sub-log is the reader's to set";
}

TEST(KV_FileFrag, ReadJudgesTheRecord)
{
    auto rec = [](int64_t b, int64_t e, int64_t p, int64_t check_delta) {
        KV_FileFrag f(nullptr, b, e, 0);
        f.advance(p - b);
        return le({uint64_t(b), uint64_t(e), uint64_t(p), f.check() + uint64_t(check_delta)});
    };
    struct Case
    {
        const char* what;
        std::vector<unsigned char> bytes;
        bool good;
        bool io_ok;
        uint32_t state;
    };
    const Case cases[] = {
        {"partial", rec(100, 200, 150, 0), true, true, KV_FileFrag::PARTIAL},
        {"nothing yet", rec(100, 200, 100, 0), true, true, KV_FileFrag::PARTIAL},
        {"complete", rec(100, 200, 200, 0), true, true, KV_FileFrag::DONE},
        {"check low bits differ", rec(100, 200, 150, 1), false, true, KV_FileFrag::FAILED},
        {"check high bits differ", rec(100, 200, 150, int64_t{1} << 48), false, true,
         KV_FileFrag::FAILED},
        {"blank record", std::vector<unsigned char>(32, 0), false, true, KV_FileFrag::FAILED},
        {"pos past the end", rec(100, 200, 201, 0), false, true, KV_FileFrag::FAILED},
        {"reversed range", rec(200, 100, 200, 0), false, true, KV_FileFrag::FAILED},
        {"short record", std::vector<unsigned char>(31, 0), false, false, KV_FileFrag::FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KV_Stream st;
        ASSERT_TRUE(st.append(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())));
        KV_FileFrag f(nullptr, 0, 0, 0);
        bool io_ok = !c.io_ok;
        EXPECT_EQ(f.read(st, io_ok), c.good);
        EXPECT_EQ(io_ok, c.io_ok);
        EXPECT_EQ(f.state(), c.state);
    }
}

TEST(KV_FileFrag, RangePredicates)
{
    KV_FileFrag f(nullptr, 10, 20, 0);
    EXPECT_TRUE(f.valid());
    EXPECT_FALSE(f.done());
    EXPECT_EQ(f.size(), 10);
    f.advance(10);
    EXPECT_TRUE(f.done());
    f.set_begin(5);
    EXPECT_EQ(f.pos(), 5);
    KV_FileFrag empty(nullptr, 0, 0, 0);
    EXPECT_FALSE(empty.valid());
    EXPECT_TRUE(empty.done());
    EXPECT_EQ(empty.size(), 0);
    KV_FileFrag extreme(nullptr, INT64_MIN, INT64_MAX, 0);
    EXPECT_EQ(extreme.size(), INT64_MAX) << "saturates instead of overflowing";
    f.set_rec_pos(1000);
    EXPECT_EQ(f.data_pos(), 1032);
}

TEST(KV_FileFragMan, TakeCutsNewRangesToTheMinSize)
{
    struct Case
    {
        int64_t size;
        std::vector<Range> taken;
    };
    const Case cases[] = {
        {102400, {{0, 102400}}},
        {102401, {{0, 102400}, {102400, 102401}}},
        {250000, {{0, 102400}, {102400, 204800}, {204800, 250000}}},
        {0, {{0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        KV_FileFragMan man;
        EXPECT_EQ(man.min_size(), 102400);
        ASSERT_TRUE(man.fill_gaps(c.size));
        std::vector<Range> got;
        for (;;) {
            KV_FileFrag* f = nullptr;
            ASSERT_TRUE(man.take(&f));
            if (f == nullptr)
                break;
            EXPECT_EQ(f->state(), KV_FileFrag::NEW) << "the copy step sets 2, not take";
            got.emplace_back(f->begin(), f->end());
            f->set_state(KV_FileFrag::IN_TRANSFER);
            ASSERT_LE(got.size(), 10u);
        }
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, c.taken);
    }
}

TEST(KV_FileFragMan, TakePrefersPartialRangesAndEndsWithNone)
{
    KV_FileFragMan man;
    ASSERT_TRUE(man.add_new(0, 10, KV_FileFrag::NEW));
    ASSERT_TRUE(man.add_new(10, 20, KV_FileFrag::DONE));
    ASSERT_TRUE(man.add_new(20, 30, KV_FileFrag::PARTIAL));
    ASSERT_TRUE(man.add_new(30, 40, KV_FileFrag::FAILED));
    KV_FileFrag* f = nullptr;
    ASSERT_TRUE(man.take(&f));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->begin(), 20);
    f->set_state(KV_FileFrag::IN_TRANSFER);
    ASSERT_TRUE(man.take(&f));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->begin(), 0);
    f->set_state(KV_FileFrag::IN_TRANSFER);
    // Only 2, 3 and 4 are left.
    KV_FileFrag dummy(nullptr, 0, 1, 0);
    f = &dummy;
    EXPECT_TRUE(man.take(&f));
    EXPECT_EQ(f, nullptr);

    // A min size below 1 hands ranges out whole instead of cutting empty
    // pieces off them.
    KV_FileFragMan whole;
    whole.set_min_size(0);
    ASSERT_TRUE(whole.fill_gaps(500));
    ASSERT_TRUE(whole.take(&f));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size(), 500);
}

TEST(KV_FileFragMan, FillGapsCoversWhatNoFragmentCovers)
{
    struct Case
    {
        const char* what;
        std::vector<Range> present;
        int64_t size;
        std::vector<Range> after;
    };
    const Case cases[] = {
        {"empty list", {}, 400, {{0, 400}}},
        {"two holes", {{0, 100}, {200, 300}}, 400, {{0, 100}, {100, 200}, {200, 300}, {300, 400}}},
        {"leading hole", {{300, 400}}, 400, {{0, 300}, {300, 400}}},
        {"already whole", {{0, 400}}, 400, {{0, 400}}},
        {"overlapping ranges", {{0, 150}, {100, 200}}, 300, {{0, 150}, {100, 200}, {200, 300}}},
        {"empty and reversed ranges cover nothing", {{50, 50}, {300, 10}}, 100, {{0, 100}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KV_FileFragMan man;
        for (const Range& r : c.present)
            ASSERT_TRUE(man.add(KV_FileFrag(nullptr, r.first, r.second, KV_FileFrag::DONE)));
        ASSERT_TRUE(man.fill_gaps(c.size));
        EXPECT_EQ(ranges_of(man, c.size), c.after);
        // What was added is new.
        for (const Range& r : c.after) {
            KV_FileFrag* f = nullptr;
            ASSERT_TRUE(man.find_pos(&f, r.first));
            const bool old = std::find(c.present.begin(), c.present.end(), r) != c.present.end();
            if (!old && f->begin() == r.first) {
                EXPECT_EQ(f->state(), KV_FileFrag::NEW);
            }
        }
    }
}

TEST(KV_FileFragMan, DoneBytesCountsDoneAndPartialRanges)
{
    KV_FileFragMan man;
    ASSERT_TRUE(man.add_new(0, 100, KV_FileFrag::DONE));
    KV_FileFrag partial(&man, 100, 300, KV_FileFrag::PARTIAL);
    partial.advance(30);
    ASSERT_TRUE(man.add(partial));
    ASSERT_TRUE(man.add_new(300, 400, KV_FileFrag::NEW));
    ASSERT_TRUE(man.add_new(400, 400, KV_FileFrag::FAILED));
    EXPECT_EQ(man.done_bytes(), 130);
    EXPECT_FALSE(man.all_done());
    man.clear();
    EXPECT_TRUE(man.all_done()) << "an empty list is done";
    EXPECT_EQ(man.done_bytes(), 0);
}

class Completion : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(man.fill_gaps(300));
        man.set_min_size(100);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(man.take(&frags[i]));
            ASSERT_NE(frags[i], nullptr);
            frags[i]->set_state(KV_FileFrag::IN_TRANSFER);
        }
        req.set_status(KV_REQ_STAT_SUSPENDED, false, 0, false);
        man.set_queued_all(false);
        man.set_request(&req);
    }

    kvtest::NullErr eh;
    WaitingReq req{eh};
    KV_FileFragMan man;
    KV_FileFrag* frags[3] = {};
};

TEST_F(Completion, LastFragmentDoneResumesTheStoreHalfOnce)
{
    EXPECT_TRUE(man.has_request());
    frags[0]->set_state(KV_FileFrag::DONE);
    frags[1]->set_state(KV_FileFrag::DONE);
    EXPECT_EQ(req.status(), KV_REQ_STAT_SUSPENDED) << "not before everything is handed out";
    man.set_queued_all(true);
    EXPECT_EQ(req.status(), KV_REQ_STAT_SUSPENDED) << "not while a fragment is in transfer";
    frags[2]->set_state(KV_FileFrag::DONE);
    EXPECT_EQ(req.status(), KV_REQ_STAT_QUEUED);
    EXPECT_EQ(req.started, 1);
    EXPECT_FALSE(man.has_request());
    // The check acts once.
    req.set_status(KV_REQ_STAT_SUSPENDED, false, 0, false);
    frags[2]->set_state(KV_FileFrag::DONE);
    man.set_queued_all(true);
    EXPECT_EQ(req.status(), KV_REQ_STAT_SUSPENDED);
    EXPECT_EQ(req.started, 1);
}

TEST_F(Completion, AnyFragmentNotDoneFailsTheStoreHalf)
{
    frags[0]->set_state(KV_FileFrag::DONE);
    frags[1]->set_state(KV_FileFrag::FAILED);
    frags[2]->set_state(KV_FileFrag::DONE);
    EXPECT_EQ(req.status(), KV_REQ_STAT_SUSPENDED);
    man.set_queued_all(true);
    EXPECT_EQ(req.status(), KV_REQ_STAT_ERROR)
        << "the request ends although set_request kept it from ending on its own";
    EXPECT_EQ(req.started, 0);
}

TEST_F(Completion, AForgottenRequestIsNotTouched)
{
    man.reset_request();
    man.set_queued_all(true);
    for (KV_FileFrag* f : frags)
        f->set_state(KV_FileFrag::DONE);
    EXPECT_EQ(req.status(), KV_REQ_STAT_SUSPENDED);
}

} // namespace
