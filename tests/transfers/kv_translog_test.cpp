// KV_TransLog: the frame of every transfer-log file, byte for byte, and the
// files a restore must refuse.
#include "transfers/kv_translog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/kv_storage.h"
#include "foundation/kv_tmpfile.h"
#include "support/kv_testdir.h"
#include "transfers/kv_transtest.h"

namespace {

namespace fs = std::filesystem;
using transtest::Bytes;
using transtest::frame;
using transtest::read_all;
using transtest::write_all;

// The shared error log, with the priority of each error beside it.
class ErrLog : public kvtest::LogErr
{
public:
    std::vector<int> prios;

protected:
    void process_err(uint8_t prio, const KV_String& text) override
    {
        prios.push_back(prio);
        kvtest::LogErr::process_err(prio, text);
    }
};

// A kind with a four-byte body.
class TestLog : public KV_TransLog
{
public:
    explicit TestLog(const KV_String& name, uint8_t kind = 2) : KV_TransLog(name), kind(kind) {}

    uint8_t type() const override { return kind; }

    // The file as the kind sees it, under the lock.
    bool opened()
    {
        std::lock_guard<KV_Lock> hold(lock);
        return file.opened();
    }
    int64_t position()
    {
        std::lock_guard<KV_Lock> hold(lock);
        int64_t p = -1;
        return file.pos(p) ? p : -1;
    }
    std::string mode()
    {
        std::lock_guard<KV_Lock> hold(lock);
        return file.mode().data();
    }
    // An in-place rewrite of the body, as the kinds do it.
    bool rewrite(unsigned char b)
    {
        std::lock_guard<KV_Lock> hold(lock);
        return reopen() && file.set_pos(KV_TransLog::FRAME_SIZE) && file.write(&b, 1) == 1;
    }

    uint8_t kind;
    bool fail_write = false;
    int reads = 0;
    Bytes body{'b', 'o', 'd', 'y'};
    Bytes read_back;

protected:
    bool write_data() override { return !fail_write && file.write(body.data(), 4) == 4; }
    bool read_data() override
    {
        ++reads;
        read_back.assign(4, 0);
        return file.read(read_back.data(), 4) == 4;
    }
};

class TransLog : public kvtest::TempDirTest
{
protected:
    ErrLog eh;
};

TEST_F(TransLog, CreateWritesTheFrameAndStaysOpenForRewrites)
{
    const std::string path = dir / "log";
    TestLog log(path.c_str());
    EXPECT_EQ(log.type(), 2);
    EXPECT_TRUE(log.has_name());
    EXPECT_FALSE(log.ok());
    ASSERT_TRUE(log.create(eh));
    EXPECT_TRUE(eh.count() == 0);
    EXPECT_TRUE(log.ok());
    EXPECT_EQ(read_all(path), frame(2, {'b', 'o', 'd', 'y'}));

    // Open for reading and writing, right after the type byte.
    EXPECT_TRUE(log.opened());
    EXPECT_EQ(log.mode(), "r+b");
    EXPECT_EQ(log.position(), 53);

    // Closing keeps the log usable: a rewrite reopens the file.
    log.close();
    EXPECT_FALSE(log.opened());
    EXPECT_TRUE(log.ok());
    ASSERT_TRUE(log.rewrite('B'));
    EXPECT_EQ(read_all(path), frame(2, {'B', 'o', 'd', 'y'}));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(TransLog, CreationCutShortLeavesTypeZeroThatNoRestoreTakes)
{
    const std::string path = dir / "log";
    TestLog log(path.c_str());
    log.fail_write = true;
    EXPECT_FALSE(log.create(eh));
    EXPECT_FALSE(log.ok());
    EXPECT_FALSE(log.opened());
    EXPECT_TRUE(eh.count() == 0) << "a failing body has no message of its own";
    EXPECT_EQ(read_all(path), frame(0, {}));

    // Appending a body afterwards does not make it a log either.
    write_all(path, frame(0, {'b', 'o', 'd', 'y'}));
    TestLog again(path.c_str());
    EXPECT_FALSE(again.restore(eh, nullptr));
    KV_TransLog bare(path.c_str());
    EXPECT_FALSE(bare.restore(eh, nullptr)) << "not even the bare frame takes type 0";
    uint8_t type = 9;
    EXPECT_TRUE(bare.restore(eh, &type));
    EXPECT_EQ(type, 0);
}

TEST_F(TransLog, OpenFailureIsReportedWithTheSystemsReason)
{
    const std::string path = dir / "missing/log";
    TestLog log(path.c_str());
    EXPECT_FALSE(log.create(eh));
    EXPECT_FALSE(log.ok());
    ASSERT_EQ(eh.count(), 1u);
    EXPECT_EQ(eh.prios, std::vector<int>{2});
    EXPECT_EQ(eh.last(),
              "Couldn't open the file " + path + " for writing (No such file or directory).");
}

TEST_F(TransLog, RestoreReadsTheBodyOfItsOwnKind)
{
    const std::string path = dir / "log";
    write_all(path, frame(2, {'d', 'a', 't', 'a', 'x'}));
    TestLog log(path.c_str());
    ASSERT_TRUE(log.restore(eh, nullptr));
    EXPECT_TRUE(log.ok());
    EXPECT_EQ(log.reads, 1);
    EXPECT_EQ(log.read_back, (Bytes{'d', 'a', 't', 'a'}));
    EXPECT_TRUE(log.opened());
    EXPECT_EQ(log.mode(), "r+b");
    EXPECT_TRUE(log.rewrite('D'));
    EXPECT_EQ(read_all(path), frame(2, {'D', 'a', 't', 'a', 'x'}));
    // The name is registered as in use.
    EXPECT_TRUE(KV_TransLog::tmp_file_man().unreg(path.c_str()));
}

TEST_F(TransLog, RestoreRefusesWhatIsNotAFinishedLogOfItsKind)
{
    Bytes nul51 = frame(2, {'b', 'o', 'd', 'y'});
    nul51[51] = '!';
    Bytes first = frame(2, {'b', 'o', 'd', 'y'});
    first[0] = 's';
    Bytes dot = frame(2, {'b', 'o', 'd', 'y'});
    dot[50] = ',';
    const Bytes valid = frame(2, {'b', 'o', 'd', 'y'});
    struct Case
    {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"empty file", {}},
        {"header only, no type byte", Bytes(valid.begin(), valid.begin() + 52)},
        {"header without its NUL", Bytes(valid.begin(), valid.begin() + 51)},
        {"a character instead of the NUL", nul51},
        {"first character differs", first},
        {"last character differs", dot},
        {"unfinished creation", frame(0, {'b', 'o', 'd', 'y'})},
        {"a copy sub-log", frame(1, {'b', 'o', 'd', 'y'})},
        {"short body", frame(2, {'b', 'o'})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "bad";
        write_all(path, c.bytes);
        TestLog log(path.c_str());
        EXPECT_FALSE(log.restore(eh, nullptr));
        EXPECT_FALSE(log.ok());
        EXPECT_FALSE(log.opened());
        EXPECT_EQ(read_all(path), c.bytes) << "the file is left as it was";
        KV_TransLog::tmp_file_man().unreg(path.c_str());
    }
    TestLog none((dir / "none").c_str());
    EXPECT_FALSE(none.restore(eh, nullptr));
    EXPECT_TRUE(eh.count() == 0) << "a restore reports nothing";
}

TEST_F(TransLog, PeekTellsTheTypeWithoutReadingTheBody)
{
    const std::string path = dir / "log";
    write_all(path, frame(3, {}));
    TestLog log(path.c_str());
    uint8_t type = 0;
    ASSERT_TRUE(log.restore(eh, &type));
    EXPECT_EQ(type, 3);
    EXPECT_EQ(log.reads, 0);
    EXPECT_FALSE(log.opened());
    EXPECT_FALSE(log.ok());
    EXPECT_FALSE(log.rewrite('x')) << "a peeked log is not open for rewrites";
    EXPECT_TRUE(KV_TransLog::tmp_file_man().unreg(path.c_str()));

    // A foreign file keeps its type byte to itself.
    Bytes foreign = frame(3, {});
    foreign[10] = 'x';
    write_all(path, foreign);
    type = 7;
    EXPECT_FALSE(log.restore(eh, &type));
    EXPECT_EQ(type, 7);
    KV_TransLog::tmp_file_man().unreg(path.c_str());
}

TEST_F(TransLog, RecordHeadsAreValues)
{
    KV_TransLogRec rec;
    EXPECT_EQ(rec.pos(), 0);
    EXPECT_EQ(rec.id(), 0u);
    rec.set_pos(int64_t{1} << 40);
    rec.set_id(7);
    KV_TransLogRec copy;
    copy = rec;
    EXPECT_EQ(copy.pos(), int64_t{1} << 40);
    EXPECT_EQ(copy.id(), 7u);
}

} // namespace
