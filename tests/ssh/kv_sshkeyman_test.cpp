// The store of trusted host keys: the exact bytes of "trusted-pks.bin",
// lookups by host and key, ids, damaged files and failed saves.
#include "ssh/kv_sshkeyman.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "support/kv_sshtest.h"
#include "support/kv_testdir.h"

namespace {

using kvtest::hex;
using kvtest::put;
using kvtest::unhex;

// Blobs of two small DSA keys (p, q, g, y): the store does not care how
// strong a key is.
const char* blob_a = "00000007"
                     "7373682d647373"
                     "0000000117"
                     "000000010b"
                     "000000020080"
                     "0000000105";
const char* blob_b = "00000007"
                     "7373682d647373"
                     "0000000117"
                     "000000010b"
                     "000000020080"
                     "0000000106";
const char* fp_a = "c7:95:29:2f:9c:33:14:7f:2c:9c:5b:5a:bf:e8:b0:c4";

KV_SshKey key_of(const char* blob)
{
    KV_Stream in;
    put(in, unhex(blob));
    KV_SshKey k;
    EXPECT_TRUE(k.read(in));
    return k;
}

// KV_String::write_bin of ASCII text: u32 count, 16-bit units, little-endian.
std::string text_bin(const std::string& s)
{
    unsigned char n[4];
    kv_put_le(n, static_cast<uint32_t>(s.size()));
    std::string out = hex(n, 4);
    for (char c : s)
        out += hex(std::string(1, c)) + "00";
    return out;
}

std::string entry_bin(uint32_t id, const std::string& host, const std::string& fp, const char* blob)
{
    unsigned char b[4];
    kv_put_le(b, id);
    return hex(b, 4) + text_bin(host) + text_bin(fp) + text_bin("") + blob;
}

class KvSshKeyMan : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        file = dir / "trusted-pks.bin";
        ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, file.c_str()));
    }
    void TearDown() override { KV_File::set_path(KV_PATH_HOST_KEYS, ""); }

    std::string file;
};

TEST_F(KvSshKeyMan, GoldenFileRoundTrip)
{
    const KV_SshKey a = key_of(blob_a);
    KV_String fp;
    ASSERT_TRUE(a.fingerprint(fp));
    EXPECT_STREQ(fp.data(), fp_a);

    KV_SshKeyMan man;
    ASSERT_TRUE(man.add(a, "Example.org", fp));
    const std::string golden = "01000000" + entry_bin(1, "Example.org", fp_a, blob_a);
    EXPECT_EQ(hex(kvtest::read_file(file)), golden);

    KV_SshKeyMan back;
    ASSERT_TRUE(back.load());
    ASSERT_EQ(back.entries(), 1u);
    EXPECT_EQ(back.at(0).id(), 1u);
    EXPECT_STREQ(back.at(0).name().data(), "Example.org");
    EXPECT_STREQ(back.at(0).descr1().data(), fp_a);
    EXPECT_TRUE(back.at(0).descr2().empty());
    EXPECT_TRUE(back.valid(a, "EXAMPLE.ORG"));
    EXPECT_TRUE(back.valid(a, "example.org"));
    EXPECT_FALSE(back.valid(a, "example.net"));
    EXPECT_FALSE(back.valid(key_of(blob_b), "Example.org"));
    EXPECT_FALSE(back.valid(KV_SshKey(), "Example.org"));
    // Saved again, the bytes stay the same.
    ASSERT_TRUE(back.save());
    EXPECT_EQ(hex(kvtest::read_file(file)), golden);
}

// A host keeps every key it was trusted with; the same key twice is not
// stored again and the file is not rewritten.
TEST_F(KvSshKeyMan, KeysBesideNotInstead)
{
    KV_SshKeyMan man;
    const KV_SshKey a = key_of(blob_a), b = key_of(blob_b);
    ASSERT_TRUE(man.add(a, "host", "fa"));
    ASSERT_TRUE(kvtest::write_file(file, "sentinel"));
    EXPECT_FALSE(man.add(a, "HOST", "fa"));
    EXPECT_EQ(kvtest::read_file(file), "sentinel");
    ASSERT_TRUE(man.add(b, "host", "fb"));
    ASSERT_TRUE(man.add(a, "other", "fa"));
    EXPECT_EQ(man.entries(), 3u);
    EXPECT_TRUE(man.valid(a, "host"));
    EXPECT_TRUE(man.valid(b, "host"));
    EXPECT_FALSE(man.valid(b, "other"));
    EXPECT_EQ(man.at(1).id(), 2u);
    EXPECT_EQ(man.at(2).id(), 3u);

    // Ids are reused after a delete, through the frame.
    KVTL::KV_ListVal<uint32_t> ids;
    ASSERT_TRUE(ids.add(2));
    ASSERT_TRUE(man.del_ids(ids));
    EXPECT_FALSE(man.valid(b, "host"));
    ASSERT_TRUE(man.add(b, "host", "fb"));
    EXPECT_EQ(man.at(2).id(), 2u);

    KV_SshKeyMan back;
    ASSERT_TRUE(back.load());
    EXPECT_EQ(back.entries(), 3u);
    EXPECT_TRUE(back.valid(b, "host"));

    // An empty key cannot be stored.
    EXPECT_FALSE(man.add(KV_SshKey(), "host", ""));
    man.clear();
    EXPECT_EQ(man.entries(), 0u);
}

// Every cut of a store file, and lengths forged beyond its end: the keys
// before the damage are kept after what the store held, the file is left
// as it is, and the next trusted key is saved beside them.
TEST_F(KvSshKeyMan, DamagedFileKeepsTheKeysBeforeTheDamage)
{
    const std::string first = unhex(entry_bin(1, "a", "f1", blob_a));
    const std::string bytes = unhex("02000000") + first + unhex(entry_bin(2, "b", "f2", blob_b));
    struct Case
    {
        std::string data;
        std::vector<std::string> kept;
    };
    std::vector<Case> cases;
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        Case c{bytes.substr(0, cut), {}};
        if (cut >= 4 + first.size())
            c.kept = {"a"};
        cases.push_back(c);
    }
    cases.push_back({bytes + "x", {"a", "b"}});
    cases.push_back({unhex("ffffffff") + bytes.substr(4), {"a", "b"}});
    std::string forged_host = bytes;
    forged_host.replace(8, 4, unhex("ffffff7f"));
    cases.push_back({forged_host, {}});
    std::string forged_second_host = bytes;
    forged_second_host.replace(4 + first.size() + 4, 4, unhex("ffffff7f"));
    cases.push_back({forged_second_host, {"a"}});
    std::string forged_mpint = unhex("01000000") + first;
    forged_mpint.replace(forged_mpint.size() - 5, 4, unhex("ffffffff"));
    cases.push_back({forged_mpint, {}});
    cases.push_back({unhex("01000000" + entry_bin(1, "a", "f1",
                                                  "00000004"
                                                  "72736131"
                                                  "0000000103"
                                                  "0000000105")),
                     {}});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        KV_SshKeyMan man;
        ASSERT_TRUE(man.add(key_of(blob_b), "held", "fk"));
        ASSERT_TRUE(kvtest::write_file(file, c.data));
        EXPECT_TRUE(man.load());
        std::vector<std::string> names;
        for (uint32_t i = 0; i < man.entries(); ++i)
            names.push_back(man.at(i).name().data());
        std::vector<std::string> want{"held"};
        want.insert(want.end(), c.kept.begin(), c.kept.end());
        EXPECT_EQ(names, want);
        EXPECT_EQ(kvtest::read_file(file), c.data);

        KV_SshKeyMan fresh;
        ASSERT_TRUE(fresh.load());
        ASSERT_TRUE(fresh.add(key_of(blob_a), "new", "fn"));
        KV_SshKeyMan back;
        ASSERT_TRUE(back.load());
        std::vector<std::string> saved;
        for (uint32_t i = 0; i < back.entries(); ++i)
            saved.push_back(back.at(i).name().data());
        std::vector<std::string> want_saved = c.kept;
        want_saved.push_back("new");
        EXPECT_EQ(saved, want_saved);
        if (!c.kept.empty()) {
            EXPECT_TRUE(back.valid(key_of(blob_a), "a")) << "a kept key still vouches";
        }
    }
}

// A save that cannot be made leaves the key trusted in memory and the old
// file as it was.
TEST_F(KvSshKeyMan, FailedSaveKeepsEntryAndFile)
{
    KV_SshKeyMan man;
    ASSERT_TRUE(man.add(key_of(blob_a), "a", "fa"));
    const std::string before = kvtest::read_file(file);
    ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (dir / "missing/trusted-pks.bin").c_str()));
    EXPECT_TRUE(man.add(key_of(blob_b), "b", "fb"));
    EXPECT_TRUE(man.valid(key_of(blob_b), "b"));
    EXPECT_FALSE(man.save());
    EXPECT_EQ(kvtest::read_file(file), before);
}

TEST(KvSshKeyEntry, CopiesAndCompares)
{
    const KV_SshKeyEntry a(4, "Host", key_of(blob_a), "fp", "");
    KV_SshKeyEntry c;
    c = a;
    EXPECT_TRUE(c == a);
    EXPECT_EQ(c.id(), 4u);
    EXPECT_TRUE(c.key() == a.key());
    const KV_SshKeyEntry other_key(4, "host", key_of(blob_b), "fp", "");
    EXPECT_FALSE(other_key == a);
    const KV_SshKeyEntry same(9, "HOST", key_of(blob_a), "x", "y");
    EXPECT_TRUE(same == a);
    // Assigning an entry without a key leaves none.
    c = KV_SshKeyEntry();
    EXPECT_EQ(c.key().type(), 0);
    KV_Stream out;
    EXPECT_FALSE(c.write(out));
}

} // namespace
