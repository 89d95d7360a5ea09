// KV_String and KV_StringStd.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

namespace {

std::string str(const KV_String& s)
{
    return std::string(s.data(), s.length());
}

KV_String raw(const std::string& bytes)
{
    KV_String s;
    s.append(reinterpret_cast<const unsigned char*>(bytes.data()),
             static_cast<uint32_t>(bytes.size()));
    return s;
}

// A storage over a byte vector: reads consume from `in` (at most `max_read`
// bytes a call), writes append to `out` until `capacity` is reached. Counts
// calls and can be closed.
class VecStorage : public KV_Storage
{
public:
    explicit VecStorage(std::string bytes = {}) : in(std::move(bytes)) {}
    bool opened() const override { return is_open; }
    uint32_t read(void* dst, uint32_t n) override
    {
        ++reads;
        size_t k = std::min<size_t>({n, in.size() - pos, max_read});
        std::memcpy(dst, in.data() + pos, k);
        pos += k;
        return static_cast<uint32_t>(k);
    }
    uint32_t write(const unsigned char* src, uint32_t n) override
    {
        ++writes;
        size_t k = std::min<size_t>(n, capacity - out.size());
        out.append(reinterpret_cast<const char*>(src), k);
        return static_cast<uint32_t>(k);
    }
    std::string rest() const { return in.substr(pos); }

    std::string in;
    size_t pos = 0;
    size_t max_read = SIZE_MAX;
    std::string out;
    size_t capacity = SIZE_MAX;
    bool is_open = true;
    int reads = 0, writes = 0;
};

// ---------------------------------------------------------------------------
// Construction, assignment, access

TEST(KV_String, EmptyHasNoBufferButData)
{
    KV_String s;
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.length(), 0u);
    ASSERT_NE(s.data(), nullptr);
    EXPECT_STREQ(s.data(), "");
    EXPECT_EQ(s.data(0), 0);
    EXPECT_TRUE(KV_String(static_cast<const char*>(nullptr)).empty());
    EXPECT_TRUE(KV_String("").empty());
    EXPECT_TRUE(KV_String('\0').empty());
    EXPECT_EQ(str(KV_String('x')), "x");
}

TEST(KV_String, CopyMoveAssign)
{
    KV_String a("hello");
    KV_String b(a);
    EXPECT_EQ(str(b), "hello");
    EXPECT_NE(a.data(), b.data());
    KV_String c(std::move(b));
    EXPECT_EQ(str(c), "hello");
    EXPECT_TRUE(b.empty()); // NOLINT(bugprone-use-after-move): moved-from is empty
    c = "x";
    EXPECT_EQ(str(c), "x");
    c = a;
    EXPECT_EQ(str(c), "hello");
    c = c; // self
    EXPECT_EQ(str(c), "hello");
    c = c.data(); // own buffer: nothing happens
    EXPECT_EQ(str(c), "hello");
    c = c.data() + 2; // a tail of its own buffer
    EXPECT_EQ(str(c), "llo");
    c = static_cast<const char*>(nullptr);
    EXPECT_TRUE(c.empty());
    KV_String d;
    d = a;
    a.clear();
    EXPECT_EQ(str(d), "hello");
    EXPECT_TRUE(a.empty());
}

TEST(KV_String, InitForms)
{
    KV_String s("old");
    EXPECT_TRUE(s.init_std("new"));
    EXPECT_EQ(str(s), "new");
    EXPECT_TRUE(s.init_std(nullptr));
    EXPECT_TRUE(s.empty());
    EXPECT_TRUE(s.init_signed(-42));
    EXPECT_EQ(str(s), "-42");
    EXPECT_TRUE(s.init_unsigned(4000000000ul));
    EXPECT_EQ(str(s), "4000000000");
}

TEST(KV_String, DataAt)
{
    KV_String s("ab");
    EXPECT_EQ(s.data(0u), 'a');
    EXPECT_EQ(s.data(1u), 'b');
    EXPECT_EQ(s.data(2u), 0);
    EXPECT_EQ(s.data(UINT32_MAX), 0);
}

// ---------------------------------------------------------------------------
// Appending

TEST(KV_String, AppendRawCountsNul)
{
    KV_String s("a");
    const unsigned char bytes[] = {'b', 0, 'c'};
    EXPECT_TRUE(s.append(bytes, 3));
    EXPECT_EQ(s.length(), 4u);
    EXPECT_EQ(str(s), std::string("ab\0c", 4));
    EXPECT_STREQ(s.data(), "ab"); // NUL-terminated view stops there
    EXPECT_TRUE(s.append(static_cast<const unsigned char*>(nullptr), 5));
    EXPECT_TRUE(s.append(bytes, 0));
    EXPECT_EQ(s.length(), 4u);
}

TEST(KV_String, AppendTextNeverReadsPastItsEnd)
{
    // append(text, n) copies at most n characters and stops at the text's
    // NUL: a caller's n beyond the text cannot make it read past the text.
    KV_String s("x");
    EXPECT_TRUE(s.append("abc", 2));
    EXPECT_EQ(str(s), "xab");
    EXPECT_TRUE(s.append("cd", 100));
    EXPECT_EQ(str(s), "xabcd");
    EXPECT_TRUE(s.append("ef", UINT32_MAX));
    EXPECT_EQ(str(s), "xabcdef");
    char heap_text[3] = {'g', 'h', 0}; // ASan would see an overread here
    EXPECT_TRUE(s.append(heap_text, 50));
    EXPECT_EQ(str(s), "xabcdefgh");
    EXPECT_TRUE(s.append(static_cast<const char*>(nullptr), 3));
    EXPECT_TRUE(s.append("zz", 0));
    EXPECT_TRUE(s.append(static_cast<const char*>(nullptr)));
    EXPECT_EQ(str(s), "xabcdefgh");
}

TEST(KV_String, AppendRefusesLengthBeyond32Bits)
{
    KV_String s("12345678");
    const unsigned char b[1] = {'x'};
    // len + n would not fit a u32: refused before anything is read or
    // allocated, the string unchanged.
    EXPECT_FALSE(s.append(b, UINT32_MAX - 7));
    EXPECT_EQ(str(s), "12345678");
    EXPECT_TRUE(s.append(b, 1));
    EXPECT_EQ(str(s), "12345678x");
}

TEST(KV_String, AppendOwnBuffer)
{
    KV_String s("abc");
    EXPECT_TRUE(s.append(s.data()));
    EXPECT_EQ(str(s), "abcabc");
    s += s;
    EXPECT_EQ(str(s), "abcabcabcabc");
}

// Text built a byte at a time (a listing line, a reply head) must not be
// copied whole on every append: the block is moved a number of times that
// grows with the logarithm of the length, not with the length.
TEST(KV_String, AppendingPieceByPieceMovesTheTextRarely)
{
    const uint32_t total = 1u << 20;
    KV_String s;
    const char* block = s.data();
    uint32_t moves = 0;
    for (uint32_t i = 0; i < total; ++i) {
        s += static_cast<char>('a' + i % 26);
        if (s.data() != block) {
            block = s.data();
            ++moves;
        }
    }
    ASSERT_EQ(s.length(), total);
    EXPECT_LE(moves, 40u);
    EXPECT_EQ(s.data()[total], '\0');
    for (uint32_t i = 0; i < total; i += 4099)
        ASSERT_EQ(s.data(i), static_cast<char>('a' + i % 26)) << i;

    // A block with room to spare takes its own text, and every form of
    // append keeps the text terminated.
    KV_String t;
    for (int i = 0; i < 10; ++i)
        t += "ab";
    t.append(t.data(), 4);
    EXPECT_EQ(str(t), "abababababababababababab");
    const unsigned char nul_in[] = {'z', 0, 'y'};
    t.append(nul_in, 3);
    EXPECT_EQ(t.length(), 27u);
    EXPECT_EQ(t.data()[27], '\0');
    t += 'q';
    EXPECT_EQ(str(t).substr(24), std::string("z\0yq", 4));
    // Copies take their own block of the same text.
    const KV_String copy(t);
    EXPECT_EQ(str(copy), str(t));
    KV_String moved(std::move(t));
    moved += "!";
    EXPECT_EQ(str(moved), str(copy) + "!");
}

TEST(KV_String, PlusOperators)
{
    KV_String s("a");
    s += 'b';
    s += '\0';
    s += "cd";
    s += KV_String("e");
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(str(s), "abcde");
    EXPECT_EQ(str(s + "f"), "abcdef");
    EXPECT_EQ(str(s + KV_String("g")), "abcdeg");
    EXPECT_EQ(str(s), "abcde");
    EXPECT_EQ(str(KV_String() + ""), "");
}

// ---------------------------------------------------------------------------
// Comparison

TEST(KV_String, ComparisonOperators)
{
    KV_String a("abc"), b("abd"), e;
    EXPECT_TRUE(a == "abc");
    EXPECT_TRUE(a == KV_String("abc"));
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a <= b);
    EXPECT_TRUE(a <= "abc");
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(b >= a);
    EXPECT_TRUE(b >= "abd");
    EXPECT_FALSE(a > "abc");
    // Unsigned bytes: 0xE9 sorts after 'z'.
    EXPECT_TRUE(KV_String("z") < "\xE9");
    // A null text compares as the empty text.
    const char* null_text = nullptr;
    EXPECT_TRUE(e == null_text);
    EXPECT_FALSE(a == null_text);
    EXPECT_FALSE(a < null_text);
    EXPECT_FALSE(e < null_text);
    EXPECT_TRUE(a > null_text);
    EXPECT_FALSE(e > null_text);
    EXPECT_TRUE(e >= null_text);
    EXPECT_TRUE(e <= null_text);
}

TEST(KV_String, CompareCaseRules)
{
    EXPECT_EQ(KV_String("abc").compare("abc", true), 0);
    EXPECT_NE(KV_String("abc").compare("ABC", true), 0);
    EXPECT_EQ(KV_String("abc").compare("ABC", false), 0);
    EXPECT_LT(KV_String("abc").compare("ABD", false), 0);
    EXPECT_GT(KV_String("abd").compare("ABC", false), 0);
    EXPECT_LT(KV_String("ab").compare("ABC", false), 0);
    // _stricmp folds to lower case: '_' (0x5F) sorts before 'a' (0x61).
    EXPECT_LT(KV_String("_").compare("A", false), 0);
    // Bytes >= 0x80 are never case-mapped (UTF-8 "É" vs "é").
    EXPECT_NE(KV_String("\xC3\x89").compare("\xC3\xA9", false), 0);
    EXPECT_EQ(KV_String("\xC3\xA9X").compare("\xC3\xA9x", false), 0);
}

// ---------------------------------------------------------------------------
// Search

TEST(KV_String, ContainsChar)
{
    KV_String s("abcabc");
    uint32_t pos = 99;
    EXPECT_TRUE(s.contains('c', 0, &pos));
    EXPECT_EQ(pos, 2u);
    EXPECT_TRUE(s.contains('a', 1, &pos));
    EXPECT_EQ(pos, 3u);
    EXPECT_TRUE(s.contains('c', 5, &pos));
    EXPECT_EQ(pos, 5u);
    EXPECT_FALSE(s.contains('a', 4));
    EXPECT_FALSE(s.contains('x'));
    EXPECT_TRUE(s.contains('b'));
    // from at or beyond the end: false, and nothing past the text is read.
    pos = 99;
    EXPECT_FALSE(s.contains('c', 6, &pos));
    EXPECT_FALSE(s.contains('c', 7, &pos));
    EXPECT_FALSE(s.contains('c', UINT32_MAX, &pos));
    EXPECT_EQ(pos, 99u);
    EXPECT_FALSE(KV_String().contains('a'));
    EXPECT_FALSE(KV_String().contains('\0'));
}

TEST(KV_String, ContainsSub)
{
    KV_String s("one two one");
    uint32_t pos = 0;
    EXPECT_TRUE(s.contains(KV_String("one"), 0, &pos));
    EXPECT_EQ(pos, 0u);
    EXPECT_TRUE(s.contains(KV_String("one"), 1, &pos));
    EXPECT_EQ(pos, 8u);
    EXPECT_FALSE(s.contains(KV_String("one"), 9));
    EXPECT_FALSE(s.contains(KV_String("one"), 11));
    EXPECT_FALSE(s.contains(KV_String("one"), 12));
    EXPECT_FALSE(s.contains(KV_String("one"), UINT32_MAX));
    EXPECT_FALSE(s.contains(KV_String("")));
    EXPECT_FALSE(KV_String().contains(KV_String("a")));
    EXPECT_FALSE(KV_String("ab").contains(KV_String("abc")));
}

TEST(KV_String, ContainsWord)
{
    struct Case
    {
        const char* text;
        const char* word;
        bool case_sens;
        bool found;
    } cases[] = {
        {"x ab_y ab", "ab", true, true},
        {"x ab_y", "ab", true, false},
        {"abc", "ab", true, false},
        {"ab", "ab", true, true},
        {"(ab)", "ab", true, true},
        {"xAB", "AB", true, false},
        {"x AB", "ab", false, true},
        {"x AB", "ab", true, false},
        {"a,b;ab.", "ab", true, true},
        {"", "ab", true, false},
        {"ab\xC3\xA9", "ab", true, false}, // UTF-8 letters are word characters
        {"\xC3\xA9t\xC3\xA9 x", "\xC3\xA9t\xC3\xA9", true, true},
        {"x\tab\r\n", "ab", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.word);
        EXPECT_EQ(KV_String(c.text).containsw(c.word, c.case_sens), c.found);
    }
}

// ---------------------------------------------------------------------------
// Pieces and splitting

TEST(KV_String, Part)
{
    KV_String s("abcdef");
    EXPECT_EQ(str(s.part(2, 100)), "cdef");
    EXPECT_EQ(str(s.part(6, 8)), "");
    EXPECT_EQ(str(s.part(3, 1)), "");
    EXPECT_EQ(str(s.part(0, 0)), "");
    EXPECT_EQ(str(s.part(1, 3)), "bc");
    EXPECT_EQ(str(s.part(0, UINT32_MAX)), "abcdef");
    EXPECT_EQ(str(KV_String().part(0, 5)), "");
}

TEST(KV_String, Parse)
{
    KVTL::KV_ListVal<KV_String> list;
    EXPECT_TRUE(KV_String(" a, ,b ,,").parse(list, ",", 3, nullptr));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(str(list.at(0)), "a");
    EXPECT_EQ(str(list.at(1)), "b");

    // Not cleared first; multi-character separators; empty separator.
    EXPECT_TRUE(KV_String("x<>y<>").parse(list, "<>", 0, nullptr));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(str(list.at(2)), "x");
    EXPECT_EQ(str(list.at(3)), "y");
    EXPECT_TRUE(KV_String("  p q  ").parse(list, "", 3, nullptr));
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(str(list.at(4)), "p q");
    // Trim flags 0 keep blanks; an empty text adds nothing.
    EXPECT_TRUE(KV_String(" r |s").parse(list, "|", 0, nullptr));
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(str(list.at(5)), " r ");
    EXPECT_TRUE(KV_String().parse(list, ",", 3, nullptr));
    EXPECT_EQ(list.size(), 7u);
    // Own trim characters.
    EXPECT_TRUE(KV_String("--t--;u").parse(list, ";", 3, "-"));
    ASSERT_EQ(list.size(), 9u);
    EXPECT_EQ(str(list.at(7)), "t");
    list.clear();
}

// ---------------------------------------------------------------------------
// Transformations

TEST(KV_String, Trim)
{
    KV_String s(" \t a b \r\n");
    EXPECT_EQ(str(s.trim(3, nullptr)), "a b");
    EXPECT_EQ(str(s.trim(1, nullptr)), "a b \r\n");
    EXPECT_EQ(str(s.trim(2, nullptr)), " \t a b");
    EXPECT_EQ(str(s.trim(0, nullptr)), " \t a b \r\n");
    EXPECT_EQ(str(KV_String("xxaxx").trim(3, "x")), "a");
    EXPECT_EQ(str(KV_String("   ").trim(3, nullptr)), "");
    // NUL belongs to every set: raw NUL bytes at the ends go too.
    EXPECT_EQ(str(raw(std::string("\0 a\0", 4)).trim(3, "")), " a");
    EXPECT_EQ(str(raw(std::string("\0 a\0", 4)).trim(3, nullptr)), "a");
}

TEST(KV_String, CaseMappingIsAscii)
{
    EXPECT_EQ(str(KV_String("aZ09_\xC3\xA9\xC3\x89").upper()), "AZ09_\xC3\xA9\xC3\x89");
    EXPECT_EQ(str(KV_String("Az09_\xC3\xA9\xC3\x89").lower()), "az09_\xC3\xA9\xC3\x89");
    EXPECT_EQ(str(KV_String().upper()), "");
    // The result ends at the first NUL, like the copy-then-map original.
    EXPECT_EQ(str(raw(std::string("ab\0cd", 5)).upper()), "AB");
}

TEST(KV_String, Convert)
{
    EXPECT_EQ(str(KV_String("a/b\\c").convert("/\\", '_')), "a_b_c");
    EXPECT_EQ(str(KV_String("abc").convert("", '_')), "abc");
}

TEST(KV_String, Replace)
{
    struct Case
    {
        const char* text;
        const char* old_text;
        const char* new_text;
        const char* result;
    } cases[] = {
        {"aab", "ab", "b", "b"}, // text made by a replacement is replaced again
        {"a|b|c", "|", "\r\n", "a\r\nb\r\nc"},
        {"a\r\nb\r\n", "\r\n", "|", "a|b|"},
        {"abc", "abc", "abc", "abc"}, // old equals new: unchanged at once
        {"abc", "", "x", "abc"},      // empty old: unchanged
        {"abc", "x", "y", "abc"},
        {"abcabc", "b", "", "acac"},
        {"aaaa", "aa", "a", "a"},
        // The replacement contains the searched text: the search goes on
        // after each inserted copy, so it ends.
        {"aXa", "a", "aa", "aaXaa"},
        {"ab", "ab", "xaby", "xaby"},
        // A pair whose replacements keep making new occurrences: ends with the
        // left-to-right result.
        {"aab", "ab", "bbaa", "abbaa"},
        // Swapping pairs settles with the restart rule.
        {"aab", "ab", "ba", "baa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " : " + c.old_text + " -> " + c.new_text);
        EXPECT_EQ(str(KV_String(c.text).replace(c.old_text, c.new_text)), c.result);
    }
}

TEST(KV_String, ReplaceLongText)
{
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); i += 10)
        big[i] = '|';
    KV_String r = KV_String(big.c_str()).replace("|", "\r\n");
    EXPECT_EQ(r.length(), 110000u);
    EXPECT_EQ(str(r.replace("\r\n", "|")), big);
}

TEST(KV_String, Fname)
{
    EXPECT_EQ(str(KV_String(" a:b*c?d ").fname()), "abcd");
    EXPECT_EQ(str(KV_String("\\/:*?\"<>|").fname()), "");
    EXPECT_EQ(str(KV_String("\t na me.txt\r\n").fname()), "na me.txt");
}

TEST(KV_String, Base64Rfc4648)
{
    const char* vectors[][2] = {
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFF\xFE\xFD", "//79"},
        {"\xFB\xEF", "++8="},
    };
    for (auto& v : vectors) {
        SCOPED_TRACE(v[1]);
        EXPECT_EQ(str(KV_String(v[0]).encrypt_base64()), v[1]);
        EXPECT_EQ(str(KV_String(v[1]).decrypt_base64()), v[0]);
    }
    EXPECT_EQ(str(KV_String().encrypt_base64()), "");
    EXPECT_EQ(str(KV_String().decrypt_base64()), "");
    // Raw bytes with NULs are encoded; decoded NULs are dropped.
    KV_String nul = raw(std::string("a\0b", 3));
    EXPECT_EQ(str(nul.encrypt_base64()), "YQBi");
    EXPECT_EQ(str(nul.encrypt_base64().decrypt_base64()), "ab");
}

TEST(KV_String, Base64OutsideAlphabetIsDefined)
{
    // Characters outside the alphabet count as 0; a truncated last group
    // decodes what it holds; '=' early ends the decoding.
    EXPECT_EQ(str(KV_String("Zm9").decrypt_base64()), "fo");
    EXPECT_EQ(str(KV_String("Zm").decrypt_base64()), "f");
    EXPECT_EQ(str(KV_String("Z").decrypt_base64()), "");
    EXPECT_EQ(str(KV_String("Zm9vZ").decrypt_base64()), "foo");
    EXPECT_EQ(str(KV_String("Zg==Zm9v").decrypt_base64()), "f");
    EXPECT_EQ(str(KV_String("****").decrypt_base64()), "");
    // "Zm" then two characters worth 0: 'f' and the 4 low bits of 'm'.
    EXPECT_EQ(str(KV_String("Zm\x80\xFF").decrypt_base64()), "f`");
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    KV_String junk(all.c_str());
    junk.decrypt_base64(); // no crash, no out-of-table index (ASan, UBSan)
}

// ---------------------------------------------------------------------------
// Numbers

TEST(KV_String, Numbers)
{
    EXPECT_EQ(KV_String("  -42abc").as_signed(), -42);
    EXPECT_EQ(KV_String("x1").as_signed(), 0);
    EXPECT_EQ(KV_String().as_signed(), 0);
    EXPECT_EQ(KV_String(" 4000000000").as_unsigned(), 4000000000ul);
    EXPECT_DOUBLE_EQ(KV_String(" 3.25x").as_real(), 3.25);
    EXPECT_DOUBLE_EQ(KV_String("").as_real(), 0.0);
}

// ---------------------------------------------------------------------------
// Formatting

TEST(KV_String, Format)
{
    KV_String s("keep");
    EXPECT_TRUE(s.format("%s-%d-%.2f", "a", 7, 1.5));
    EXPECT_EQ(str(s), "a-7-1.50");
    EXPECT_EQ(str(KV_String::format_impl("%05u", 42u)), "00042");
    EXPECT_TRUE(s.format("%s", ""));
    EXPECT_TRUE(s.empty());
    // The arguments may come from the string itself.
    s = "abc";
    EXPECT_TRUE(s.format("[%s]", s.data()));
    EXPECT_EQ(str(s), "[abc]");
    // A %c of NUL ends the text there, as copying the scratch block did.
    EXPECT_TRUE(s.format("x%cy", 0));
    EXPECT_EQ(str(s), "x");
}

TEST(KV_String, FormatLengths)
{
    for (size_t n : {4094u, 4095u, 4096u, 5000u, 70000u}) {
        SCOPED_TRACE(n);
        std::string text(n, 'q');
        KV_String s;
        EXPECT_TRUE(s.format("%s", text.c_str()));
        EXPECT_EQ(str(s), text); // up to 4095 as before; longer kept whole
        EXPECT_EQ(str(KV_String::format_impl("%s", text.c_str())), text);
    }
}

// ---------------------------------------------------------------------------
// Binary form

TEST(KV_String, WriteBinBytes)
{
    VecStorage st;
    EXPECT_TRUE(KV_String("A\xE9").write_bin(st));
    EXPECT_EQ(st.out, std::string("\x02\x00\x00\x00\x41\x00\xE9\xFF", 8));

    VecStorage empty;
    EXPECT_TRUE(KV_String().write_bin(empty));
    EXPECT_EQ(empty.out, std::string(4, '\0'));

    VecStorage closed;
    closed.is_open = false;
    EXPECT_FALSE(KV_String("a").write_bin(closed));
    EXPECT_EQ(closed.writes, 0);
}

TEST(KV_String, WriteBinStopsAtShortWrite)
{
    for (size_t cap : {0u, 3u, 4u, 5u, 6u, 600u, 603u}) {
        SCOPED_TRACE(cap);
        VecStorage st;
        st.capacity = cap;
        std::string text(300, 'z');
        EXPECT_FALSE(KV_String(text.c_str()).write_bin(st));
        EXPECT_EQ(st.out.size(), cap);
    }
}

TEST(KV_String, WriteBinLongTextRoundTrips)
{
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += static_cast<char>(1 + i % 255);
    VecStorage st;
    ASSERT_TRUE(KV_String(text.c_str()).write_bin(st));
    ASSERT_EQ(st.out.size(), 4 + 2 * text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<signed char>(text[i]);
        ASSERT_EQ(static_cast<unsigned char>(st.out[4 + 2 * i]), static_cast<unsigned char>(c));
        ASSERT_EQ(static_cast<unsigned char>(st.out[5 + 2 * i]), c < 0 ? 0xFF : 0x00);
    }
    VecStorage back(st.out);
    KV_String s;
    ASSERT_TRUE(s.read_bin(back));
    EXPECT_EQ(str(s), text);
}

TEST(KV_String, ReadBin)
{
    VecStorage st(std::string("\x02\x00\x00\x00\x41\x00\xE9\xFF", 8));
    KV_String s("old");
    ASSERT_TRUE(s.read_bin(st));
    EXPECT_EQ(str(s), "A\xE9");

    // Units whose low byte is 0 add nothing.
    VecStorage zero(std::string("\x03\x00\x00\x00\x00\x00\x62\x00\x00\xFF", 10));
    ASSERT_TRUE(s.read_bin(zero));
    EXPECT_EQ(str(s), "b");

    VecStorage empty(std::string(4, '\0'));
    s = "x";
    ASSERT_TRUE(s.read_bin(empty));
    EXPECT_TRUE(s.empty());
}

TEST(KV_String, ReadBinShortReadClears)
{
    const std::string inputs[] = {
        std::string("", 0),
        std::string("\x02\x00", 2),
        std::string("\x02\x00\x00\x00\x41", 5),
        std::string("\x02\x00\x00\x00\x41\x00\x42", 7),
    };
    for (const std::string& in : inputs) {
        SCOPED_TRACE(in.size());
        VecStorage st(in);
        KV_String s("old");
        EXPECT_FALSE(s.read_bin(st));
        EXPECT_TRUE(s.empty());
    }
    VecStorage closed(std::string(4, '\0'));
    closed.is_open = false;
    KV_String s("old");
    EXPECT_FALSE(s.read_bin(closed));
    EXPECT_EQ(str(s), "old");
}

TEST(KV_String, ReadBinHugeCountIsNotAllocated)
{
    // A stored count of 4 G characters with a handful of bytes behind it: the
    // read fails when the data runs out, without reserving the count (ASan
    // would report an allocation of 8 GiB or a failed one).
    std::string in("\xFF\xFF\xFF\xFF", 4);
    for (int i = 0; i < 100; ++i)
        in += std::string("a\0", 2);
    VecStorage st(in);
    KV_String s;
    EXPECT_FALSE(s.read_bin(st));
    EXPECT_TRUE(s.empty());
    EXPECT_LE(st.reads, 3);
}

TEST(KV_String, ReadBinFromStream)
{
    KV_Stream stream;
    ASSERT_TRUE(KV_String("one").write_bin(stream));
    ASSERT_TRUE(KV_String("\xC3\xA9").write_bin(stream));
    KV_String a, b, c;
    EXPECT_TRUE(a.read_bin(stream));
    EXPECT_TRUE(b.read_bin(stream));
    EXPECT_FALSE(c.read_bin(stream));
    EXPECT_EQ(str(a), "one");
    EXPECT_EQ(str(b), "\xC3\xA9");
}

// ---------------------------------------------------------------------------
// Text form

TEST(KV_String, WriteTxt)
{
    VecStorage st;
    EXPECT_TRUE(raw(std::string("ab\0c", 4)).write_txt(st));
    EXPECT_EQ(st.out, "ab");
    EXPECT_EQ(st.writes, 1);
    VecStorage short_st;
    short_st.capacity = 1;
    EXPECT_FALSE(KV_String("ab").write_txt(short_st));
    VecStorage closed;
    closed.is_open = false;
    EXPECT_FALSE(KV_String("ab").write_txt(closed));
    VecStorage empty;
    EXPECT_TRUE(KV_String().write_txt(empty));
    EXPECT_EQ(empty.out, "");
}

const std::string kLines("one\r\n\r\n\ntwo", 11);

TEST(KV_String, ReadTxtStorage)
{
    VecStorage st(kLines);
    KV_String s;
    EXPECT_TRUE(s.read_txt(st));
    EXPECT_EQ(str(s), "one");
    EXPECT_FALSE(s.read_txt(st));
    EXPECT_EQ(str(s), "two");
    EXPECT_FALSE(s.read_txt(st));
    EXPECT_TRUE(s.empty());
    // Bytes are read one at a time: nothing beyond the line is consumed.
    VecStorage two(std::string("a\nb\n"));
    EXPECT_TRUE(s.read_txt(two));
    EXPECT_EQ(two.rest(), "b\n");
}

TEST(KV_String, ReadTxtStorageDetails)
{
    VecStorage st(std::string("  x\0y \t\r\n   \n\tz  \r\n", 20));
    KV_String s;
    EXPECT_TRUE(s.read_txt(st));
    EXPECT_EQ(str(s), "xy"); // a NUL byte adds nothing
    EXPECT_TRUE(s.read_txt(st));
    EXPECT_EQ(str(s), "z");
    EXPECT_FALSE(s.read_txt(st));
    EXPECT_TRUE(s.empty());

    VecStorage closed(std::string("a\n"));
    closed.is_open = false;
    s = "keep";
    EXPECT_FALSE(s.read_txt(closed));
}

TEST(KV_String, ReadTxtStream)
{
    KV_Stream stream;
    ASSERT_TRUE(stream.append(reinterpret_cast<const unsigned char*>(kLines.data()),
                              static_cast<uint32_t>(kLines.size())));
    KV_String s;
    EXPECT_TRUE(s.read_txt(stream));
    EXPECT_EQ(str(s), "one");
    EXPECT_TRUE(s.read_txt(stream));
    EXPECT_EQ(str(s), "two");
    EXPECT_EQ(stream.length(), 0u);
    EXPECT_FALSE(s.read_txt(stream));
    EXPECT_TRUE(s.empty());
}

TEST(KV_String, ReadTxtStreamDetails)
{
    KV_Stream stream;
    const std::string bytes("ab\0cd\n  \r\n \n", 12);
    ASSERT_TRUE(stream.append(reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<uint32_t>(bytes.size())));
    KV_String s;
    EXPECT_TRUE(s.read_txt(stream));
    EXPECT_EQ(str(s), "ab"); // a NUL ends the text there
    EXPECT_EQ(stream.length(), 6u);
    EXPECT_FALSE(s.read_txt(stream)); // only blank lines left
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(stream.length(), 0u);
}

// ---------------------------------------------------------------------------
// KV_StringStd

TEST(KV_StringStd, Basics)
{
    KV_StringStd a;
    EXPECT_EQ(a.length(), 0u);
    EXPECT_STREQ(static_cast<const char*>(a), "");
    KV_StringStd b("text");
    EXPECT_EQ(b.length(), 4u);
    EXPECT_STREQ(static_cast<const char*>(b), "text");
    KV_StringStd c(b);
    EXPECT_STREQ(static_cast<const char*>(c), "text");
    EXPECT_NE(static_cast<const char*>(c), static_cast<const char*>(b));
    a = c;
    EXPECT_STREQ(static_cast<const char*>(a), "text");
    a = a;
    EXPECT_STREQ(static_cast<const char*>(a), "text");
    const unsigned char bytes[] = {'x', 0, 'y'};
    EXPECT_TRUE(a.init(bytes, 3));
    EXPECT_EQ(a.length(), 1u);
    EXPECT_EQ(static_cast<const unsigned char*>(a)[2], 'y');
    EXPECT_EQ(static_cast<const unsigned char*>(a)[3], 0);
    EXPECT_TRUE(a.init(bytes, 0));
    EXPECT_EQ(a.length(), 0u);
    EXPECT_STREQ(static_cast<const char*>(KV_StringStd("")), "");
    a = KV_StringStd();
    EXPECT_EQ(a.length(), 0u);
    b.clear();
    EXPECT_EQ(b.length(), 0u);
}

} // namespace
