#include "datasources/kv_keyval.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <string>

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#define KV_TEST_LSAN 1
#endif

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "support/kv_dstest.h"
#include "support/kv_testdir.h"

namespace {

using dstest::text_of;
KV_String kv(const std::string& s)
{
    KV_String r;
    r.append(reinterpret_cast<const unsigned char*>(s.data()), static_cast<uint32_t>(s.size()));
    return r;
}

using dstest::str;
// What the data-source file reader hands to load() for one written line: the
// text after "SET <key> ", trimmed, with every '|' turned back into CR LF.
std::string read_back(const std::string& line, const std::string& key)
{
    const std::string head = "SET " + key + " ";
    if (line.compare(0, head.size(), head) != 0 || line.empty() || line.back() != '\n')
        return "<not a SET line>";
    KV_String value = kv(line.substr(head.size(), line.size() - head.size() - 1));
    return str(value.trim().replace("|", "\r\n"));
}

// A storage that takes nothing, as a full disk would.
class KV_FullStorage : public KV_Storage
{
public:
    uint32_t read(void*, uint32_t) override { return 0; }
    uint32_t write(const unsigned char*, uint32_t) override { return 0; }
};

TEST(KV_KeyVal, WritesOneLinePerKeyInEachValueForm)
{
    KV_Stream bytes;
    const unsigned char raw[] = {0x00, 0x0A, 0x7F, 0xFF};
    ASSERT_TRUE(bytes.append(raw, sizeof raw));

    struct Case
    {
        const char* name;
        bool (*write)(KV_Storage&, const KV_Stream&);
        const char* line;
    } cases[] = {
        {"text",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_var(st, "PROXY_ADDR", KV_String("proxy.example.com"));
         },
         "SET PROXY_ADDR proxy.example.com\n"},
        {"empty text",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_var(st, "USER", KV_String());
         },
         "SET USER \n"},
        {"number",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_var(st, "PROXY_PORT", 8080ul);
         },
         "SET PROXY_PORT 8080\n"},
        {"largest number",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_var(st, "N", 18446744073709551615ul);
         },
         "SET N 18446744073709551615\n"},
        {"narrower numbers",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_var(st, "AUTH_CMDS", static_cast<uint16_t>(65535)) &&
                    KV_KeyVal::save_var(st, "N", static_cast<uint32_t>(4294967295u));
         },
         "SET AUTH_CMDS 65535\nSET N 4294967295\n"},
        {"real",
         [](KV_Storage& st, const KV_Stream&) { return KV_KeyVal::save_real(st, "RATE", 1.5); },
         "SET RATE 1.500000\n"},
        {"negative real rounded",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_real(st, "RATE", -0.0000005001);
         },
         "SET RATE -0.000001\n"},
        {"stream",
         [](KV_Storage& st, const KV_Stream& b) { return KV_KeyVal::save_strm(st, "BLOB", b); },
         "SET BLOB 000a7fff\n"},
        {"empty stream",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_strm(st, "BLOB", KV_Stream());
         },
         "SET BLOB \n"},
        {"true",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_bool(st, "PROXY_PASV", true);
         },
         "SET PROXY_PASV YES\n"},
        {"false",
         [](KV_Storage& st, const KV_Stream&) {
             return KV_KeyVal::save_bool(st, "PROXY_PASV", false);
         },
         "SET PROXY_PASV NO\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_Stream out;
        ASSERT_TRUE(c.write(out, bytes));
        EXPECT_EQ(text_of(out), c.line);
    }
}

TEST(KV_KeyVal, LinesAppendToWhatTheStorageHolds)
{
    KV_Stream out;
    ASSERT_TRUE(KV_KeyVal::save_var(out, "A", 1ul));
    ASSERT_TRUE(KV_KeyVal::save_bool(out, "B", false));
    EXPECT_EQ(text_of(out), "SET A 1\nSET B NO\n");
}

TEST(KV_KeyVal, FailedStorageWriteIsReported)
{
    KV_FullStorage full;
    KV_Stream blob;
    const unsigned char b = 1;
    ASSERT_TRUE(blob.append(&b, 1));
    EXPECT_FALSE(KV_KeyVal::save_var(full, "K", KV_String("v")));
    EXPECT_FALSE(KV_KeyVal::save_var(full, "K", 1ul));
    EXPECT_FALSE(KV_KeyVal::save_real(full, "K", 1.0));
    EXPECT_FALSE(KV_KeyVal::save_strm(full, "K", blob));
    EXPECT_FALSE(KV_KeyVal::save_bool(full, "K", true));
}

// Every line break of a value must stay inside its one line: a break that
// reached the file would start a line that is neither SET nor NODE, and the
// reader would then refuse the whole file.
TEST(KV_KeyVal, LineBreaksInValuesStayOnOneLineAndReadBack)
{
    struct Case
    {
        const char* name;
        std::string value;
        std::string line;
        std::string back;
    } cases[] = {
        {"CR LF", "a\r\nb", "SET COMMENT a|b\n", "a\r\nb"},
        {"several lines", "one\r\ntwo\r\nthree", "SET COMMENT one|two|three\n",
         "one\r\ntwo\r\nthree"},
        {"bar in the value", "a|b", "SET COMMENT a|b\n", "a\r\nb"},
        {"lone LF", "a\nb", "SET COMMENT a|b\n", "a\r\nb"},
        {"lone CR", "a\rb", "SET COMMENT a|b\n", "a\r\nb"},
        {"LF CR", "a\n\rb", "SET COMMENT a||b\n", "a\r\n\r\nb"},
        // A trailing CR would otherwise pair with the line's own LF and leave
        // the line without an end.
        {"trailing CR", "a\r", "SET COMMENT a|\n", "a\r\n"},
        {"empty lines", "a\r\n\r\nb", "SET COMMENT a||b\n", "a\r\n\r\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_Stream out;
        ASSERT_TRUE(KV_KeyVal::save_var(out, "COMMENT", kv(c.value)));
        const std::string line = text_of(out);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(line.find('\n'), line.size() - 1);
        EXPECT_EQ(line.find('\r'), std::string::npos);
        EXPECT_EQ(read_back(line, "COMMENT"), c.back);
    }
}

TEST(KV_KeyVal, StreamRoundTripsEveryByte)
{
    KV_Stream all;
    for (unsigned v = 0; v < 256; ++v) {
        const unsigned char b = static_cast<unsigned char>(v);
        ASSERT_TRUE(all.append(&b, 1));
    }
    KV_Stream out;
    ASSERT_TRUE(KV_KeyVal::save_strm(out, "BLOB", all));
    KV_Stream back;
    ASSERT_TRUE(KV_KeyVal::set_strm(kv(read_back(text_of(out), "BLOB")), back));
    EXPECT_TRUE(back == all);
}

TEST(KV_KeyVal, SetBoolTakesOnlyYesAndNo)
{
    struct Case
    {
        const char* text;
        bool ok;
        bool value;
    } cases[] = {
        {"YES", true, true}, {" yes ", true, true},    {"\tYeS\r\n", true, true},
        {"No", true, false}, {"NO", true, false},      {"1", false, false},
        {"0", false, false}, {"TRUE", false, false},   {"", false, false},
        {"Y", false, false}, {"YES NO", false, false}, {"yess", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (bool start : {false, true}) {
            bool out = start;
            EXPECT_EQ(KV_KeyVal::set_bool(c.text, out), c.ok);
            EXPECT_EQ(out, c.ok ? c.value : start);
        }
    }
}

// Each pair is read as "%x" reads it: what a digit starts is a byte, and only
// a pair without any number stops the reading.
TEST(KV_KeyVal, SetStrmReadsPairsAsHexConversionDoes)
{
    struct Case
    {
        const char* text;
        bool ok;
        std::string bytes; // appended to the stream's prior content "P"
    } cases[] = {
        {"", true, ""},
        {"00", true, std::string(1, '\0')},
        {"0aFFfe", true, "\x0a\xff\xfe"},
        {"abc", false, ""}, // odd length: nothing is read
        {"0", false, ""},
        {"0azz", false, "\x0a"}, // bytes before the bad pair stay
        {"0g", true, std::string(1, '\0')},
        {"a-", true, "\x0a"},
        {"0a0g1z", true, std::string("\x0a\x00\x01", 3)},
        {"g0", false, ""},
        {"0a0", false, ""},
        {" a", true, "\x0a"}, // white space, sign and "0x" as the conversion takes them
        {"+1", true, "\x01"},
        {"-1", true, "\xff"},
        {"0x", true, std::string(1, '\0')},
        {"0a0x", true, std::string("\x0a\x00", 2)},
        {"--", false, ""},
        {"- ", false, ""},
        {"x1", false, ""},
        {"0a  ", false, "\x0a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KV_Stream out;
        const unsigned char prior = 'P';
        ASSERT_TRUE(out.append(&prior, 1));
        EXPECT_EQ(KV_KeyVal::set_strm(c.text, out), c.ok);
        EXPECT_EQ(text_of(out), "P" + c.bytes);
    }
}

// Every pair of bytes (but NUL, which no value holds) against the C
// library's own "%x", in the C locale the tests run in.
TEST(KV_KeyVal, SetStrmAgreesWithScanfOnEveryPair)
{
    for (int a = 1; a < 256; ++a) {
        for (int b = 1; b < 256; ++b) {
            const char pair[3] = {static_cast<char>(a), static_cast<char>(b), '\0'};
            unsigned int want = 0;
            const bool readable = std::sscanf(pair, "%x", &want) == 1;
            KV_Stream out;
            ASSERT_EQ(KV_KeyVal::set_strm(pair, out), readable) << a << " " << b;
            if (readable) {
                ASSERT_EQ(out.length(), 1u);
                ASSERT_EQ(out.at(0), static_cast<uint8_t>(want)) << a << " " << b;
            } else {
                ASSERT_EQ(out.length(), 0u);
            }
        }
    }
}

// A user locale that writes 1,5 must not leak into the file, nor make the
// file's 1.5 unreadable. Debian images rarely carry such a locale: one is made
// with localedef into a temporary folder when none is installed.
class KV_KeyValCommaLocale : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            loc = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
            if (loc)
                break;
        }
        if (!loc)
            loc = generated();
        if (!loc)
            GTEST_SKIP() << "no comma-decimal locale installed and localedef failed";
        old = uselocale(loc);
    }

    void TearDown() override
    {
        if (loc) {
            uselocale(old);
            freelocale(loc);
        }
    }

    locale_t generated()
    {
        dir = std::make_unique<kvtest::TempDir>("kv_keyval_locale");
        if (!dir->ok())
            return nullptr;
        const std::string cmd =
            "localedef -i de_DE -f UTF-8 '" + (*dir / "de_DE.UTF-8") + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0)
            return nullptr;
        const char* prev = std::getenv("LOCPATH");
        const std::string saved = prev ? prev : "";
        setenv("LOCPATH", dir->c_str(), 1);
#ifdef KV_TEST_LSAN
        // glibc keeps the parsed LOCPATH list for good; not a leak of ours.
        __lsan_disable();
#endif
        locale_t l = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
#ifdef KV_TEST_LSAN
        __lsan_enable();
#endif
        if (prev)
            setenv("LOCPATH", saved.c_str(), 1);
        else
            unsetenv("LOCPATH");
        return l;
    }

    locale_t loc = nullptr;
    locale_t old = nullptr;
    // Made only when the locale must be generated.
    std::unique_ptr<kvtest::TempDir> dir;
};

TEST_F(KV_KeyValCommaLocale, RealsAreWrittenAndReadWithAPoint)
{
    char probe[32];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the locale in force does not use a decimal comma";

    for (double v : {1.5, -2.25, 0.0, 1234567.125}) {
        SCOPED_TRACE(v);
        KV_Stream out;
        ASSERT_TRUE(KV_KeyVal::save_real(out, "RATE", v));
        const std::string line = text_of(out);
        EXPECT_EQ(line.find(','), std::string::npos) << line;
        EXPECT_DOUBLE_EQ(kv(read_back(line, "RATE")).as_real(), v);
    }
}

} // namespace
