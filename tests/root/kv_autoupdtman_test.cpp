#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "foundation/kv_file.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_autoupdtman.h"
#include "root/kv_filemanpool.h"
#include "root/kv_init.h"
#include "support/kv_testdir.h"

namespace {

constexpr uint64_t ver(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    return a << 48 | b << 32 | c << 16 | d;
}

TEST(KV_AutoUpdtMan, VersionsAreFourPlainNumbersUpTo65535)
{
    struct Row
    {
        const char* text;
        bool ok;
        uint64_t value;
    } rows[] = {
        {"2.1.0.17", true, ver(2, 1, 0, 17)},
        {"0.0.0.0", true, 0},
        {"65535.65535.65535.65535", true, ~uint64_t{0}},
        {"00001.2.3.4", true, ver(1, 2, 3, 4)},
        // A number above 16 bits would spill into its neighbour.
        {"1.65536.0.0", false, 0},
        {"1.2.3.99999", false, 0},
        {"1.2.3.000001", false, 0},
        {"3.0.0", false, 0},
        {"3.0.0.0.0", false, 0},
        {"3..0.0", false, 0},
        {"3.0.0.0.", false, 0},
        {".3.0.0.0", false, 0},
        {"3.0.0.-1", false, 0},
        {"3.0.0.+1", false, 0},
        {" 3.0.0.0", false, 0},
        {"3.0.0.0 ", false, 0},
        {"3.0.0.1a", false, 0},
        {"", false, 0},
    };
    for (const Row& r : rows) {
        uint64_t v = 12345;
        EXPECT_EQ(KV_AutoUpdtMan::parse_version(KV_String(r.text), v), r.ok) << r.text;
        EXPECT_EQ(v, r.ok ? r.value : 12345u) << r.text;
    }
}

class UpdtCheck : public kvtest::TempDirTest
{
protected:
    std::string put(const std::string& bytes)
    {
        const std::string name = dir / "kivrel.updt";
        EXPECT_TRUE(kvtest::write_file(name, bytes));
        return name;
    }
    static bool exists(const std::string& name) { return KV_File::exists(KV_String(name.c_str())); }

    KV_AutoUpdtMan man{KV_FileManId(KV_DsId(4, "Kivrel - Automatic Update", "", ""), 1)};
};

TEST_F(UpdtCheck, ReadsTheDescriptorAndDeletesItEveryTime)
{
    const uint64_t mine = ver(2, 9, 9, 9);
    struct Row
    {
        const char* what;
        std::string bytes;
        bool ok;
        uint64_t new_ver;
        std::string setup, text;
    } rows[] = {
        {"newer", "3.0.0.0\nsetup-3.0.exe\nWhat is new:\r\n- more\n", true, ver(3, 0, 0, 0),
         "setup-3.0.exe", "What is new:\r\n- more\n"},
        {"newer, CR LF lines", "3.0.0.1\r\nsetup.exe\r\nText", true, ver(3, 0, 0, 1), "setup.exe",
         "Text"},
        {"the same version", "2.9.9.9\nsetup.exe\nText\n", true, 0, "", ""},
        {"older", "2.9.9.8\nsetup.exe\nText\n", true, 0, "", ""},
        {"three numbers", "3.0.0\nsetup.exe\nText\n", false, 0, "", ""},
        {"five numbers", "3.0.0.0.0\nsetup.exe\nText\n", false, 0, "", ""},
        {"a number above 65535", "2.65536.0.0\nsetup.exe\nText\n", false, 0, "", ""},
        {"nothing after line 2", "3.0.0.0\nsetup.exe\n", true, 0, "setup.exe", ""},
        {"no line 2", "3.0.0.0\n", false, ver(3, 0, 0, 0), "", ""},
        {"empty", "", false, 0, "", ""},
    };
    for (const Row& r : rows) {
        const std::string name = put(r.bytes);
        KV_String setup, text;
        uint64_t new_ver = 0;
        EXPECT_EQ(man.process_check(KV_String(name.c_str()), mine, setup, text, new_ver), r.ok)
            << r.what;
        EXPECT_EQ(new_ver, r.new_ver) << r.what;
        EXPECT_EQ(std::string(setup.data(), setup.length()), r.setup) << r.what;
        EXPECT_EQ(std::string(text.data(), text.length()), r.text) << r.what;
        EXPECT_FALSE(exists(name)) << r.what;
    }
}

TEST_F(UpdtCheck, NothingIsReadWithoutAStartedDownloadOrAFile)
{
    const std::string name = put("3.0.0.0\nsetup.exe\nText\n");
    KV_String setup, text;
    uint64_t new_ver = 0;
    KV_AutoUpdtMan fresh;
    EXPECT_FALSE(fresh.process_check(KV_String(name.c_str()), 0, setup, text, new_ver));
    EXPECT_TRUE(exists(name));
    EXPECT_EQ(new_ver, 0u);
    EXPECT_FALSE(man.process_check(KV_String((dir / "missing").c_str()), 0, setup, text, new_ver));
}

// The error texts that reached the engine root's informer.
std::vector<std::string> errors(KV_FileManPool& pool)
{
    std::vector<std::string> out;
    while (KV_Msg* m = pool.informer().pop()) {
        if (m->type() == KV_MSG_ERR)
            out.emplace_back(static_cast<KV_MsgErrNtf*>(m)->text.data());
        KV_Informer::destroy(m);
    }
    return out;
}

TEST(KV_AutoUpdtManInit, WithoutAnHttpsServerNothingIsQueued)
{
    KV_FileManPool pool;
    struct Row
    {
        const char* server;
        const char* err;
    } rows[] = {
        {"", "No update server is set: the update check is off."},
        {"http://updates.example.com",
         "The update server http://updates.example.com is not an HTTPS address: no update check."},
        {"ftp://updates.example.com",
         "The update server ftp://updates.example.com is not an HTTPS address: no update check."},
    };
    for (const Row& r : rows) {
        KV_AutoUpdtMan::set_server(KV_String(r.server));
        KV_AutoUpdtMan man;
        EXPECT_FALSE(man.init(pool)) << r.server;
        EXPECT_FALSE(man.man_id().valid());
        EXPECT_EQ(errors(pool), std::vector<std::string>{r.err});
        KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(
            pool.man_trans().man_info().map());
        it.first();
        EXPECT_TRUE(it.end()) << "a request was queued";
        EXPECT_EQ(pool.tree().find(KV_String(KV_AutoUpdtMan::node_name)), nullptr);
    }
    KV_AutoUpdtMan::set_server(KV_String());
}

TEST(KV_Init, LegacyCiphersWorkAndNumbersKeepTheirDot)
{
    ASSERT_TRUE(kv_init("de_DE.UTF-8"));
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "de_DE.UTF-8");
    char num[32];
    std::snprintf(num, sizeof num, "%.1f", 1.5);
    EXPECT_STREQ(num, "1.5");

    // Blowfish lives in the legacy provider.
    EVP_CIPHER* bf = EVP_CIPHER_fetch(nullptr, "BF-CBC", nullptr);
    ASSERT_NE(bf, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char key[16] = {1, 2, 3}, iv[8] = {};
    unsigned char out[32];
    int n = 0;
    EXPECT_EQ(EVP_EncryptInit_ex2(ctx, bf, key, iv, nullptr), 1);
    EXPECT_EQ(
        EVP_EncryptUpdate(ctx, out, &n, reinterpret_cast<const unsigned char*>("12345678"), 8), 1);
    EXPECT_EQ(n, 8);
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(bf);

    kv_cleanup();
    std::setlocale(LC_ALL, "C");
}

} // namespace
