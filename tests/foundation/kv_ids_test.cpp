#include "foundation/kv_ids.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/kv_storage.h"

namespace {

KV_DsId ds(uint16_t type, const char* n1, const char* n2, const char* n3)
{
    return KV_DsId(type, KV_String(n1), KV_String(n2), KV_String(n3));
}

std::vector<uint8_t> bytes_of(const KV_Stream& st)
{
    const unsigned char* b = st;
    return b ? std::vector<uint8_t>(b, b + st.length()) : std::vector<uint8_t>();
}

TEST(KvIds, Validity)
{
    EXPECT_FALSE(KV_DsId().valid());
    EXPECT_FALSE(KV_FileManId().valid_man());

    const KV_DsId sftp = ds(3, "", "", "");
    EXPECT_TRUE(sftp.valid());
    EXPECT_FALSE(KV_FileManId(sftp, 0).valid_man());
    EXPECT_TRUE(KV_FileManId(sftp, 1).valid_man());
    // An instance number without a data source is no manager id.
    EXPECT_FALSE(KV_FileManId(KV_DsId(), 5).valid_man());
}

TEST(KvIds, EqualityIsExact)
{
    const KV_DsId a = ds(2, "SITE", "FTP.EXAMPLE.ORG", "user");
    EXPECT_TRUE(a == ds(2, "SITE", "FTP.EXAMPLE.ORG", "user"));
    EXPECT_FALSE(a == ds(4, "SITE", "FTP.EXAMPLE.ORG", "user"));
    EXPECT_FALSE(a == ds(2, "SITE", "FTP.EXAMPLE.ORG", "User"));
    EXPECT_FALSE(a == ds(2, "SITe", "FTP.EXAMPLE.ORG", "user"));
    EXPECT_FALSE(a == ds(2, "SITE", "FTP.EXAMPLE.ORg", "user"));

    const KV_FileManId m(a, 2);
    EXPECT_TRUE(m == KV_FileManId(a, 2));
    EXPECT_FALSE(m == KV_FileManId(a, 3));
    EXPECT_FALSE(m == KV_FileManId(ds(2, "SITE", "FTP.EXAMPLE.ORG", "USER"), 2));
    // Ids carry no order.
    EXPECT_FALSE(m < KV_FileManId(a, 3));
    EXPECT_FALSE(KV_FileManId(a, 3) < m);

    KV_FileManId copy;
    copy = m;
    EXPECT_TRUE(copy == m);
    EXPECT_STREQ(copy.name3().data(), "user");
    EXPECT_EQ(copy.type(), 2);
}

TEST(KvIds, DisplayTextIsTheInstanceNumber)
{
    const struct
    {
        uint32_t impl;
        const char* text;
    } cases[] = {{0, "# 0"}, {2, "# 2"}, {4294967295u, "# 4294967295"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.impl);
        const KV_String text = KV_FileManId(ds(2, "SITE", "HOST", "user"), c.impl);
        EXPECT_STREQ(text.data(), c.text);
    }
}

// Reaches the protected assignment that replaces only the data-source part.
class TestManId : public KV_FileManId
{
public:
    using KV_FileManId::KV_FileManId;
    using KV_FileManId::operator=;
};

TEST(KvIds, DataSourceAssignmentKeepsTheInstance)
{
    TestManId m(ds(2, "OLD", "HOST", "u"), 7);
    m = ds(3, "NEW", "HOST2", "v");
    EXPECT_EQ(m.type(), 3);
    EXPECT_STREQ(m.name1().data(), "NEW");
    EXPECT_EQ(m.impl(), 7u);
}

TEST(KvIdsBin, StoredFormIsExact)
{
    const KV_FileManId m(ds(0x0203, "A", "", "b"), 0x01020304);
    KV_Stream st;
    ASSERT_TRUE(m.write_bin(st));
    const std::vector<uint8_t> expected = {
        0x03, 0x02,                         // type
        0x01, 0x00, 0x00, 0x00, 0x41, 0x00, // "A"
        0x00, 0x00, 0x00, 0x00,             // ""
        0x01, 0x00, 0x00, 0x00, 0x62, 0x00, // "b"
        0x04, 0x03, 0x02, 0x01,             // impl
    };
    EXPECT_EQ(bytes_of(st), expected);

    KV_FileManId back;
    ASSERT_TRUE(back.read_bin(st));
    EXPECT_TRUE(back == m);
    EXPECT_EQ(st.length(), 0u);

    // The data-source form alone is the same bytes without the instance.
    KV_Stream ds_st;
    ASSERT_TRUE(static_cast<const KV_DsId&>(m).write_bin(ds_st));
    EXPECT_EQ(bytes_of(ds_st), std::vector<uint8_t>(expected.begin(), expected.end() - 4));
    KV_DsId ds_back;
    ASSERT_TRUE(ds_back.read_bin(ds_st));
    EXPECT_TRUE(ds_back == m);
}

TEST(KvIdsBin, ShortReadsFailAtEveryCut)
{
    const KV_FileManId m(ds(2, "SITE", "HOST", "user"), 9);
    KV_Stream full;
    ASSERT_TRUE(m.write_bin(full));
    const std::vector<uint8_t> bytes = bytes_of(full);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        KV_Stream st;
        ASSERT_TRUE(st.append(bytes.data(), static_cast<uint32_t>(cut)));
        KV_FileManId back;
        EXPECT_FALSE(back.read_bin(st));
        EXPECT_FALSE(back.valid_man());
    }
}

} // namespace
