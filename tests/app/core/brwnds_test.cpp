// The stored list of browse windows: its exact bytes, and what a damaged,
// truncated, over-long or mistyped stored value gives back.
#include "core/brwnds.h"

#include "core/settings.h"
#include "support/kv_testdir.h"

#include <QSettings>
#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace {

using Pair = BrWndMan::BrWndPair;

KV_FileManId Ftp(uint32_t instance)
{
    return KV_FileManId(KV_DsId(2, "Kivrel", "Ftp", "Vs"), instance);
}

// "Vs # 3" on the left, nothing on the right, tree+list left, list right.
const unsigned char kOneRecord[] = {
    0x01, 0x00, 0x00, 0x00,                                                 // count
    0x02, 0x00,                                                             // type
    0x06, 0x00, 0x00, 0x00, 'K',  0,    'i',  0,    'v',  0,    'r',  0,    // name 1
    'e',  0,    'l',  0,                                                    //
    0x03, 0x00, 0x00, 0x00, 'F',  0,    't',  0,    'p',  0,                // name 2
    0x02, 0x00, 0x00, 0x00, 'V',  0,    's',  0,                            // name 3
    0x03, 0x00, 0x00, 0x00,                                                 // instance
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // empty id
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                                     //
    0x03, 0x02,                                                             // flags
};

QByteArray Bytes(const unsigned char* data, size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
}

TEST(BrWndMan, RecordsHaveTheirExactBytes)
{
    BrWndMan list;
    QByteArray bytes;
    ASSERT_TRUE(list.ToBytes(bytes));
    EXPECT_EQ(bytes, QByteArray(4, '\0')) << "no window open: a count of zero and nothing else";

    ASSERT_TRUE(list.append(Pair(Ftp(3), KV_FileManId(), 0x0203)));
    ASSERT_TRUE(list.ToBytes(bytes));
    EXPECT_EQ(bytes.toHex(), Bytes(kOneRecord, sizeof kOneRecord).toHex());

    BrWndMan back;
    ASSERT_TRUE(back.FromBytes(bytes));
    ASSERT_EQ(back.count(), 1u);
    EXPECT_TRUE(back.at(0) == Pair(Ftp(3), KV_FileManId(), 0x0203));
}

TEST(BrWndMan, AShortValueKeepsTheRecordsBeforeTheBreakAndFails)
{
    BrWndMan list;
    ASSERT_TRUE(list.append(Pair(Ftp(1), Ftp(2), 0x0101)));
    ASSERT_TRUE(list.append(Pair(Ftp(3), KV_FileManId(), 0x0002)));
    QByteArray bytes;
    ASSERT_TRUE(list.ToBytes(bytes));

    struct Case
    {
        const char* what;
        qsizetype cut; // bytes taken off the end
        uint32_t kept;
    };
    const Case cases[] = {
        {"the last flag byte missing", 1, 1},
        {"the second record's right id cut", 20, 1},
        {"only part of the first record", bytes.size() - 10, 0},
        {"the count cut", bytes.size() - 3, 0},
    };
    for (const Case& c : cases) {
        BrWndMan back;
        ASSERT_TRUE(back.append(Pair(Ftp(9), Ftp(9), 9))) << "stale content is cleared";
        EXPECT_FALSE(back.FromBytes(bytes.left(bytes.size() - c.cut))) << c.what;
        ASSERT_EQ(back.count(), c.kept) << c.what;
        if (c.kept == 1) {
            EXPECT_TRUE(back.at(0) == Pair(Ftp(1), Ftp(2), 0x0101)) << c.what;
        }
    }

    // A count that promises more than the value holds is a short value too.
    QByteArray inflated = bytes;
    inflated[0] = '\x7f';
    inflated[3] = '\x7f';
    BrWndMan back;
    EXPECT_FALSE(back.FromBytes(inflated));
    EXPECT_EQ(back.count(), 2u);
}

class BrWndManStore : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "kivrel.conf");
        SetSettingsEnv(env);
    }
    void TearDown() override { SetSettingsEnv(CSettingsEnv()); }
};

TEST_F(BrWndManStore, SavedListComesBackAndOddValuesAreHandled)
{
    BrWndMan list;
    ASSERT_TRUE(list.Load()) << "no value yet: nothing to restore, no failure";
    EXPECT_EQ(list.count(), 0u);

    ASSERT_TRUE(list.append(Pair(Ftp(1), Ftp(2), 0x0303)));
    ASSERT_TRUE(list.Save());
    BrWndMan back;
    ASSERT_TRUE(back.Load());
    ASSERT_EQ(back.count(), 1u);
    EXPECT_TRUE(back.at(0) == Pair(Ftp(1), Ftp(2), 0x0303));

    // Over 1 MiB counts as absent, whatever it holds.
    QByteArray huge(BrWndMan::kMaxBytes + 1, '\0');
    ASSERT_TRUE(WriteProfileBinary("Init", "BrWnds", huge));
    ASSERT_TRUE(back.Load());
    EXPECT_EQ(back.count(), 0u);
    // Exactly 1 MiB is read: here a count that the records cannot fill.
    huge.resize(BrWndMan::kMaxBytes);
    huge[0] = huge[1] = huge[2] = huge[3] = '\xff';
    ASSERT_TRUE(WriteProfileBinary("Init", "BrWnds", huge));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(back.Load());
    EXPECT_GT(back.count(), 27000u) << "every record of 38 zero bytes is read";
    // Start-up reads this value: a long one must not stall it (reading by
    // giving up the front of a stream copied the rest on every field).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // Text typed into the file is not a stored list.
    ASSERT_TRUE(WriteProfileString("Init", "BrWnds", "two windows"));
    EXPECT_FALSE(back.Load());
    EXPECT_EQ(back.count(), 0u);
}

} // namespace
