// The stores of trusted server certificates and host keys: the exact bytes
// of the file, ids, lookups by name and certificate, damaged files, and
// saves that fail.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "foundation/kv_file.h"
#include "net/kv_ckman.h"
#include "net/kv_sslcertman.h"
#include "support/kv_testdir.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;

// A self-signed certificate made once, so that the stored bytes are fixed.
const char GOLDEN_PEM[] = "-----BEGIN CERTIFICATE-----\n"
                          "MIIBhDCCASmgAwIBAgIUN72V3Fdr/lzQD6Pf6bC4VkLYw6gwCgYIKoZIzj0EAwIw\n"
                          "FjEUMBIGA1UEAwwLZ29sZGVuLnRlc3QwIBcNMjYxMjEwMjMwNjI5WhgPMjEyNjEx\n"
                          "MTYyMzA2MjlaMBYxFDASBgNVBAMMC2dvbGRlbi50ZXN0MFkwEwYHKoZIzj0CAQYI\n"
                          "KoZIzj0DAQcDQgAE9YDWiTYj/CyK7pkPoZVmNNYmv9/UbiMNGHrOkbJB4wOHmL8k\n"
                          "eAi32Ma4rsXY51bCrrbIz6Eel8Yp5CBbO+cQh6NTMFEwHQYDVR0OBBYEFP1EOK05\n"
                          "geNsU/U8dJgJ6XAsYwjfMB8GA1UdIwQYMBaAFP1EOK05geNsU/U8dJgJ6XAsYwjf\n"
                          "MA8GA1UdEwEB/wQFMAMBAf8wCgYIKoZIzj0EAwIDSQAwRgIhAJSpwyiJGDdyVTr4\n"
                          "gLLt1GpdDEa7lxhj+lmIVZ/6oNtrAiEAuulKS27Pf60XDky+N2/4PIyLX78yi9jl\n"
                          "O1G3VeGO/Is=\n"
                          "-----END CERTIFICATE-----\n";

X509Ptr golden_cert()
{
    BIO* bio = BIO_new_mem_buf(GOLDEN_PEM, -1);
    X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return X509Ptr(x);
}

std::string der_of(X509* x)
{
    unsigned char* buf = nullptr;
    const int n = i2d_X509(x, &buf);
    std::string s(reinterpret_cast<const char*>(buf), n > 0 ? size_t(n) : 0);
    OPENSSL_free(buf);
    return s;
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

class CertStore : public TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        path = dir / "trusted-certs.bin";
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SRV_CERTS, path.c_str()));
        a = make_cert(dir, "a", {"a.test", "DNS:a.test"});
        b = make_cert(dir, "b", {"b.test", "DNS:b.test"});
        c = make_cert(dir, "c", {"c.test", "DNS:c.test"});
        ASSERT_TRUE(a.cert && b.cert && c.cert);
    }

    std::string path;
    CertKey a, b, c;
    KV_SSLCertMan man;
};

// Count, id and texts little-endian; the certificate's length big-endian.
TEST_F(CertStore, TheFileHoldsTheseBytes)
{
    X509Ptr g = golden_cert();
    ASSERT_TRUE(g);
    const std::string der = der_of(g.get());
    ASSERT_EQ(der.size(), 0x188u);
    ASSERT_TRUE(man.add(g.get(), "Gl", "d", ""));
    const std::string expected = bytes({
                                     0x01, 0x00, 0x00, 0x00,                       // count
                                     0x01, 0x00, 0x00, 0x00,                       // id
                                     0x02, 0x00, 0x00, 0x00, 'G', 0x00, 'l', 0x00, // name
                                     0x01, 0x00, 0x00, 0x00, 'd', 0x00,            // descr1
                                     0x00, 0x00, 0x00, 0x00,                       // descr2
                                     0x00, 0x00, 0x01, 0x88,                       // DER length
                                 }) +
                                 der;
    EXPECT_TRUE(read_file(path) == expected);

    KV_SSLCertMan back;
    ASSERT_TRUE(back.load());
    ASSERT_EQ(back.entries(), 1u);
    EXPECT_EQ(back.at(0).id(), 1u);
    EXPECT_STREQ(back.at(0).name().data(), "Gl");
    EXPECT_STREQ(back.at(0).descr1().data(), "d");
    EXPECT_TRUE(back.valid(g.get(), "gL"));
}

TEST_F(CertStore, EntriesAreFoundByNameIgnoringCaseAndByCertificate)
{
    EXPECT_TRUE(man.add(a.cert.get(), "Host.Test", "", ""));
    EXPECT_TRUE(man.valid(a.cert.get(), "host.test"));
    EXPECT_TRUE(man.valid(a.cert.get(), "HOST.TEST"));
    EXPECT_FALSE(man.valid(a.cert.get(), "other.test"));
    EXPECT_FALSE(man.valid(b.cert.get(), "host.test"));

    // The same certificate and name once; under a second name twice.
    ASSERT_TRUE(std::remove(path.c_str()) == 0);
    EXPECT_FALSE(man.add(a.cert.get(), "HOST.test", "", ""));
    EXPECT_FALSE(KV_File::exists(path.c_str())) << "an add that added nothing saved";
    EXPECT_TRUE(man.add(a.cert.get(), "alias.test", "", ""));
    EXPECT_EQ(man.entries(), 2u);
}

TEST_F(CertStore, IdsAreReusedAndDeletionsSaved)
{
    ASSERT_TRUE(man.add(a.cert.get(), "a", "", ""));
    ASSERT_TRUE(man.add(b.cert.get(), "b", "", ""));
    ASSERT_TRUE(man.add(c.cert.get(), "c", "", ""));
    KVTL::KV_ListVal<uint32_t> ids;
    ids.add(2);
    ASSERT_TRUE(man.del_ids(ids));
    ASSERT_TRUE(man.add(b.cert.get(), "b2", "", ""));
    KVTL::KV_ListVal<KV_CKEntry> list;
    ASSERT_TRUE(man.get(list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.at(2).id(), 2u);
    EXPECT_STREQ(list.at(2).name().data(), "b2");

    KV_SSLCertMan back;
    ASSERT_TRUE(back.load());
    EXPECT_EQ(back.entries(), 3u);
}

TEST_F(CertStore, DeletionStopsAtAMissingIdAndSavesNothing)
{
    ASSERT_TRUE(man.add(a.cert.get(), "a", "", ""));
    ASSERT_TRUE(man.add(b.cert.get(), "b", "", ""));
    const std::string before = read_file(path);
    KVTL::KV_ListVal<uint32_t> ids;
    ids.add(1);
    ids.add(7);
    EXPECT_FALSE(man.del_ids(ids));
    EXPECT_EQ(man.entries(), 1u);
    EXPECT_TRUE(read_file(path) == before);
}

TEST_F(CertStore, AMissingOrEmptyStoreLoadsNothing)
{
    EXPECT_TRUE(man.load());
    EXPECT_EQ(man.entries(), 0u);
    write_file(path, bytes({0, 0, 0, 0}));
    EXPECT_TRUE(man.load());
    EXPECT_EQ(man.entries(), 0u);
}

// A damaged file still holds the entries before the damage: they are kept
// (after what the store held), the load succeeds, the file is left as it is
// until the next save, and that save ("always trust" of another server)
// writes them back beside the new entry.
TEST_F(CertStore, ADamagedStoreKeepsTheEntriesBeforeTheDamage)
{
    ASSERT_TRUE(man.add(a.cert.get(), "a", "", ""));
    ASSERT_TRUE(man.add(b.cert.get(), "b", "", ""));
    const std::string good = read_file(path);
    auto u32_at = [](std::string s, size_t at, uint32_t v, bool be) {
        for (int i = 0; i < 4; ++i)
            s[at + i] = static_cast<char>(be ? v >> (24 - 8 * i) : v >> (8 * i));
        return s;
    };
    // Offsets into the first entry: id at 4, name length at 8 ("a": 2 bytes
    // of text), descr1 at 14, descr2 at 18, DER length at 22, DER from 26.
    const uint32_t der_len = uint32_t(uint8_t(good[22])) << 24 | uint32_t(uint8_t(good[23])) << 16 |
                             uint32_t(uint8_t(good[24])) << 8 | uint8_t(good[25]);
    const std::string single = u32_at(good.substr(0, 26 + der_len), 0, 1, false);
    const size_t second = 26 + der_len; // where the second entry starts
    struct Case
    {
        const char* what;
        std::string data;
        std::vector<std::string> kept; // the names loaded from the file
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"shorter than a count", good.substr(0, 3), {}},
        {"count without entries", good.substr(0, 4), {}},
        {"cut in the second entry", good.substr(0, good.size() - 10), {"a"}},
        {"cut right after the first entry", good.substr(0, second), {"a"}},
        {"cut in a name", good.substr(0, 11), {}},
        {"a count larger than the entries", u32_at(good, 0, 3, false), {"a", "b"}},
        {"a count of 2^32-1", u32_at(good, 0, 0xFFFFFFFF, false), {"a", "b"}},
        {"a name longer than the file", u32_at(good, 8, 0x7FFFFFFF, false), {}},
        {"a second name longer than the file", u32_at(good, second + 4, 0x7FFFFFFF, false), {"a"}},
        {"a certificate longer than the file", u32_at(good, 22, 0xFFFFFFFF, true), {}},
        {"a certificate one byte too long", u32_at(single, 22, der_len + 1, true), {}},
        {"garbage after the entries", good + "garbage", {"a", "b"}},
        {"garbage in place of the second entry",
         good.substr(0, second) + std::string(40, '\xEE'),
         {"a"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        KV_SSLCertMan store;
        ASSERT_TRUE(store.add(c.cert.get(), "held", "", "")) << "what the store held before";
        write_file(path, k.data); // the add above saved over it
        EXPECT_TRUE(store.load());
        std::vector<std::string> names;
        for (uint32_t i = 0; i < store.entries(); ++i)
            names.push_back(store.at(i).name().data());
        std::vector<std::string> want{"held"};
        want.insert(want.end(), k.kept.begin(), k.kept.end());
        EXPECT_EQ(names, want);
        EXPECT_TRUE(read_file(path) == k.data);
        if (!k.kept.empty()) {
            EXPECT_TRUE(store.valid(a.cert.get(), "a")) << "a kept entry still vouches";
        }

        // The next trust decision saves a store that still holds them.
        KV_SSLCertMan fresh;
        write_file(path, k.data);
        ASSERT_TRUE(fresh.load());
        ASSERT_TRUE(fresh.add(c.cert.get(), "new", "", ""));
        KV_SSLCertMan back;
        ASSERT_TRUE(back.load());
        std::vector<std::string> saved;
        for (uint32_t i = 0; i < back.entries(); ++i)
            saved.push_back(back.at(i).name().data());
        std::vector<std::string> want_saved = k.kept;
        want_saved.push_back("new");
        EXPECT_EQ(saved, want_saved);
    }
}

// What the store cannot decode it keeps as it was, and it vouches for
// nothing.
TEST_F(CertStore, AnUndecodableCertificateVouchesForNothing)
{
    const std::string img = bytes({1, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0,   'a', 0,  0,
                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c'});
    write_file(path, img);
    ASSERT_TRUE(man.load());
    ASSERT_EQ(man.entries(), 1u);
    EXPECT_EQ(man.at(0).id(), 9u);
    EXPECT_FALSE(man.valid(a.cert.get(), "a"));
    ASSERT_TRUE(man.save());
    EXPECT_TRUE(read_file(path) == img);
}

// A save that cannot be written whole reports the failure and leaves the
// file it should have replaced as it was.
TEST_F(CertStore, AFailedSaveIsReportedAndKeepsTheOldFile)
{
    ASSERT_TRUE(man.add(a.cert.get(), "a", "", ""));
    const std::string before = read_file(path);
    ASSERT_FALSE(before.empty());

    // Files may not grow beyond 64 bytes: every write past that fails.
    struct sigaction ign
    {
    }, old{};
    ign.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ign, &old);
    rlimit lim{}, saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    lim = saved;
    lim.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &lim);
    const bool added = man.add(b.cert.get(), "b", "", "");
    const bool saved_ok = man.save();
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_TRUE(added) << "the entry is added even when its save fails";
    EXPECT_FALSE(saved_ok);
    EXPECT_TRUE(read_file(path) == before);
    EXPECT_FALSE(KV_File::exists((path + ".new").c_str()));

    // Nowhere to write at all.
    ASSERT_TRUE(KV_File::set_path(KV_PATH_SRV_CERTS, (dir / "no/such/folder/x.bin").c_str()));
    EXPECT_FALSE(man.save());
}

// The host-key store of the SSH client uses the same frame with path type
// 8; its entries add their key after the texts. A store kind of plain
// entries shows the frame's part.
class FrameStore : public KV_CKList<KV_CKEntry, KV_PATH_HOST_KEYS>
{
public:
    using KV_CKList::list_;
};

TEST_F(CertStore, TheHostKeyFileUsesTheSameFrame)
{
    const std::string keys = dir / "trusted-pks.bin";
    ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, keys.c_str()));
    FrameStore s;
    ASSERT_TRUE(s.list_.add(KV_CKEntry(3, "h", "fp", "")));
    ASSERT_TRUE(s.save());
    EXPECT_TRUE(read_file(keys) == bytes({1, 0, 0, 0, 3, 0,   0, 0,   1, 0, 0, 0, 'h',
                                          0, 2, 0, 0, 0, 'f', 0, 'p', 0, 0, 0, 0, 0}));
    FrameStore back;
    ASSERT_TRUE(back.load());
    ASSERT_EQ(back.entries(), 1u);
    EXPECT_EQ(back.at(0).id(), 3u);
    EXPECT_STREQ(back.at(0).descr1().data(), "fp");
    EXPECT_EQ(back.next_id(), 1u);
}

} // namespace
