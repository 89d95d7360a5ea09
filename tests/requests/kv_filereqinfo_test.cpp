#include "requests/kv_filereqinfo.h"

#include <gtest/gtest.h>

#include <vector>

#include "datasources/kv_filereqtransparams.h"

namespace {

const char* const OP_COPY = "Copy";
const char* const OP_MOVE = "Move";

// Builds snapshots field by field, as a request's init would.
class Snap : public KV_FileReqInfo
{
public:
    Snap()
    {
        operation_ = OP_COPY;
        status_str_ = "Running";
        status_ = KV_REQ_STAT_RUNNING;
        type_ = KV_REQ_TYPE_TRANS_CP;
        tl_ = KV_REQ_TL_RUNNING;
        prog_perc_ = 10;
        descr_ = "a.txt";
        tm_start_ = KV_Time(1000);
    }
    Snap& op(const char* text) { return operation_ = text, *this; }
    Snap& status(KV_REQ_STAT s, const char* text = "x") { return set_status(s, text), *this; }
    Snap& errs(uint32_t n) { return err_cnt_ = n, *this; }
    Snap& prog(int32_t p) { return prog_perc_ = p, *this; }
    Snap& ind(KV_REQ_ADD a) { return add_ = a, *this; }
    Snap& steps(uint32_t n) { return add_cnt_ = n, *this; }
    Snap& bits(uint8_t f) { return flags_ = f, *this; }
    Snap& text(const char* d) { return descr_ = d, *this; }
    Snap& started(long t) { return tm_start_ = KV_Time(t), *this; }
    Snap& kind(KV_REQ_TYPE t) { return type_ = t, *this; }
    Snap& op_after(KV_FILEOP f) { return fileop_ = f, *this; }
    Snap& err_text(const char* e) { return last_err_ = e, *this; }
};

struct UpdateCase
{
    const char* name;
    Snap stored;
    Snap other;
    bool changed;
    bool flashed;
    KV_REQ_ADD add;   // stored indicator afterwards
    uint32_t add_cnt; // flash steps afterwards
};

TEST(KV_FileReqInfo, UpdateDecidesWhatChangedAndWhetherToFlash)
{
    const std::vector<UpdateCase> cases = {
        {"same snapshot", Snap(), Snap(), false, false, KV_REQ_ADD_NONE, 0},
        {"only descr, start time, texts, type, fileop", Snap(),
         Snap()
             .text("b.txt")
             .started(2000)
             .err_text("e")
             .kind(KV_REQ_TYPE_TRANS_RM)
             .op_after(KV_FILEOP_EDIT)
             .status(KV_REQ_STAT_RUNNING, "other text"),
         false, false, KV_REQ_ADD_NONE, 0},
        {"operation by address", Snap(), Snap().op(OP_MOVE), true, false, KV_REQ_ADD_NONE, 0},
        {"progress", Snap(), Snap().prog(50), true, false, KV_REQ_ADD_NONE, 0},
        {"flags", Snap(), Snap().bits(4), true, false, KV_REQ_ADD_NONE, 0},
        {"completed starts a flash", Snap(),
         Snap().status(KV_REQ_STAT_COMPLETED).ind(KV_REQ_ADD_COMPLETED), true, true,
         KV_REQ_ADD_COMPLETED, 14},
        {"indicator 0 leaves a running flash", Snap().ind(KV_REQ_ADD_ERROR).steps(9),
         Snap().status(KV_REQ_STAT_QUEUED), true, false, KV_REQ_ADD_ERROR, 9},
        {"a new indicator restarts a running flash", Snap().ind(KV_REQ_ADD_ERROR).steps(9),
         Snap().status(KV_REQ_STAT_COMPLETED).ind(KV_REQ_ADD_COMPLETED), true, true,
         KV_REQ_ADD_COMPLETED, 14},
        {"growing errors flash again", Snap().ind(KV_REQ_ADD_ERRORS).errs(1),
         Snap().ind(KV_REQ_ADD_ERRORS).errs(2), true, true, KV_REQ_ADD_ERRORS, 14},
        {"fewer errors do not flash", Snap().ind(KV_REQ_ADD_ERRORS).errs(2),
         Snap().ind(KV_REQ_ADD_ERRORS).errs(1), true, false, KV_REQ_ADD_ERRORS, 0},
        {"cancelled during a flash leaves one step", Snap().ind(KV_REQ_ADD_ERROR).steps(9),
         Snap().status(KV_REQ_STAT_CANCELLED), true, false, KV_REQ_ADD_ERROR, 1},
        {"cancelled with errors flashes one step", Snap(),
         Snap().status(KV_REQ_STAT_CANCELLED).errs(1).ind(KV_REQ_ADD_ERRORS), true, true,
         KV_REQ_ADD_ERRORS, 1},
        {"cancelled without a flash", Snap(), Snap().status(KV_REQ_STAT_CANCELLED), true, false,
         KV_REQ_ADD_NONE, 0},
    };
    for (const UpdateCase& c : cases) {
        SCOPED_TRACE(c.name);
        KV_FileReqInfo info = c.stored;
        KV_REQ_ADD add_out = KV_REQ_ADD_NONE;
        bool flashed = false;
        EXPECT_EQ(info.update(c.other, add_out, flashed), c.changed);
        EXPECT_EQ(flashed, c.flashed);
        EXPECT_EQ(add_out, c.flashed ? c.add : KV_REQ_ADD_NONE);
        EXPECT_EQ(info.add(), c.add);
        EXPECT_EQ(info.add_cnt(), c.add_cnt);
        // What the first snapshot keeps, changed or not.
        EXPECT_EQ(info.descr(), c.stored.descr());
        EXPECT_EQ(info.tm_start(), c.stored.tm_start());
        EXPECT_EQ(info.type(), c.stored.type());
        EXPECT_EQ(info.fileop(), c.stored.fileop());
        // What a change takes over.
        const KV_FileReqInfo& from = c.changed ? c.other : c.stored;
        EXPECT_EQ(info.operation(), from.operation());
        EXPECT_STREQ(info.status_str(), from.status_str());
        EXPECT_EQ(info.status(), from.status());
        EXPECT_EQ(info.prog_perc(), from.prog_perc());
        EXPECT_EQ(info.flags(), from.flags());
        EXPECT_EQ(info.err_cnt(), from.err_cnt());
        EXPECT_EQ(info.last_err(), from.last_err());
    }
}

TEST(KV_FileReqInfo, FlashLengthFollowsTheSetting)
{
    EXPECT_EQ(KV_FileReqInfo::add_init_cnt(), 7u);
    KV_FileReqInfo::set_add_init_cnt(3);
    KV_FileReqInfo info = Snap();
    KV_REQ_ADD add_out = KV_REQ_ADD_NONE;
    bool flashed = false;
    EXPECT_TRUE(info.update(Snap().ind(KV_REQ_ADD_ERROR), add_out, flashed));
    KV_FileReqInfo::set_add_init_cnt(7);
    EXPECT_EQ(info.add_cnt(), 6u);

    info.updt_add_cnt(false);
    EXPECT_EQ(info.add_cnt(), 5u);
    info.updt_add_cnt(true);
    EXPECT_EQ(info.add_cnt(), 0u);
    info.updt_add_cnt(false);
    EXPECT_EQ(info.add_cnt(), 0u) << "a finished flash stays finished";
}

TEST(KV_FileReqInfo, DefaultsAndSetters)
{
    KV_FileReqInfo info;
    EXPECT_EQ(info.operation(), nullptr);
    EXPECT_EQ(info.status_str(), nullptr);
    EXPECT_EQ(info.prog_perc(), 0x7FFFFFFF);
    EXPECT_FALSE(info.tm_start().valid());
    EXPECT_EQ(info.fileop(), KV_FILEOP_COPY);

    info.set_flags(0x05, 0);
    info.set_flags(0x02, 0x04);
    EXPECT_EQ(info.flags(), 0x03);
    info.set_status(KV_REQ_STAT_ERROR, "Error");
    EXPECT_EQ(info.status(), KV_REQ_STAT_ERROR);
    EXPECT_STREQ(info.status_str(), "Error");
}

KV_FileReqLogElem* line(uint32_t seq, const char* text)
{
    return new KV_FileReqLogElem(KV_FILE_REQ_LOG_ELEM_MSG, seq, KV_Time(100), text, 0, "");
}

TEST(KV_FileReqLog, LinesAreKeptInSeqOrder)
{
    KV_FileReqLog log;
    for (uint32_t seq : {3u, 1u, 2u}) {
        ASSERT_TRUE(log.insert(line(seq, "x")));
    }
    ASSERT_TRUE(log.insert(line(2, "second 2")));
    const auto& lines = log.list_elems();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.at(0)->seq, 1u);
    EXPECT_EQ(lines.at(1)->seq, 2u);
    EXPECT_EQ(lines.at(2)->text, "second 2") << "after the lines of the same seq";
    EXPECT_EQ(lines.at(3)->seq, 3u);
    EXPECT_FALSE(log.insert(nullptr));

    log.chg = KV_FileReqLog::CHG_ELEMS;
    log.clear();
    EXPECT_TRUE(log.list_elems().empty());
    EXPECT_EQ(log.chg, KV_FileReqLog::CHG_ELEMS) << "clear keeps the change bits";
    ASSERT_TRUE(log.insert(line(5, "left for the destructor")));
}

TEST(KV_FileReqLogElem, ComparedBySeqOnly)
{
    KV_FileReqLogElem a(KV_FILE_REQ_LOG_ELEM_MSG, 4, KV_Time(1), "one", 0, "");
    KV_FileReqLogElem b(KV_FILE_REQ_LOG_ELEM_FILEOP, 4, KV_Time(2), "two", 2, "3 times");
    KV_FileReqLogElem c(KV_FILE_REQ_LOG_ELEM_MSG, 5, KV_Time(1), "one", 0, "");
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
    EXPECT_TRUE(a < c);
    EXPECT_FALSE(c < a);
    EXPECT_TRUE(a == &b);
    EXPECT_TRUE(a < &c);
    const KV_FileReqLogElem* none = nullptr;
    EXPECT_FALSE(a == none);
    EXPECT_FALSE(a < none);

    KV_FileReqLogElem d;
    EXPECT_EQ(d.kind, KV_FILE_REQ_LOG_ELEM_NONE);
    EXPECT_EQ(d.code, -1);
    EXPECT_EQ(d.seq, 0u);
    EXPECT_FALSE(d.time.valid());
}

} // namespace
