// KV_Storage and KV_Stream.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/kv_storage.h"

namespace {

// Exposes the protected capacity and realloc for the growth rules.
class ProbeStream : public KV_Stream
{
public:
    explicit ProbeStream(uint32_t grow = 1) : KV_Stream(grow) {}
    using KV_Stream::capacity;
    using KV_Stream::realloc;
};

// A storage over bytes: reads take at most `max_read` a call.
class VecStorage : public KV_Storage
{
public:
    explicit VecStorage(std::string bytes = {}) : in(std::move(bytes)) {}
    uint32_t read(void* dst, uint32_t n) override
    {
        size_t k = std::min<size_t>({n, in.size() - pos, max_read});
        std::memcpy(dst, in.data() + pos, k);
        pos += k;
        read_sizes.push_back(static_cast<uint32_t>(k));
        return static_cast<uint32_t>(k);
    }
    uint32_t write(const unsigned char* src, uint32_t n) override
    {
        size_t k = std::min<size_t>(n, capacity - out.size());
        out.append(reinterpret_cast<const char*>(src), k);
        ++writes;
        return static_cast<uint32_t>(k);
    }
    std::string in;
    size_t pos = 0;
    size_t max_read = SIZE_MAX;
    std::string out;
    size_t capacity = SIZE_MAX;
    int writes = 0;
    std::vector<uint32_t> read_sizes;
};

const unsigned char* bytes(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}

std::string content(const KV_Stream& s)
{
    const unsigned char* p = s;
    return p ? std::string(reinterpret_cast<const char*>(p), s.length()) : std::string();
}

TEST(KV_Storage, DefaultsAreTrue)
{
    VecStorage st;
    EXPECT_TRUE(st.opened());
    EXPECT_TRUE(st.open());
    EXPECT_TRUE(st.close());
}

TEST(KV_Storage, NetworkByteOrder)
{
    uint32_t v;
    const unsigned char mem[4] = {0x04, 0x03, 0x02, 0x01};
    std::memcpy(&v, mem, 4);
    VecStorage st;
    EXPECT_TRUE(st.write_nbo(reinterpret_cast<const unsigned char*>(&v), 4));
    EXPECT_EQ(st.out, std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(st.writes, 4); // one byte per write

    VecStorage in(st.out);
    uint32_t back = 0;
    EXPECT_TRUE(in.read_nbo(reinterpret_cast<unsigned char*>(&back), 4));
    EXPECT_EQ(std::memcmp(&back, mem, 4), 0);
    EXPECT_EQ(back, 0x01020304u);

    uint16_t w = 0;
    VecStorage short_in(std::string("\x12", 1));
    EXPECT_FALSE(short_in.read_nbo(reinterpret_cast<unsigned char*>(&w), 2));

    VecStorage full;
    full.capacity = 2;
    EXPECT_FALSE(full.write_nbo(reinterpret_cast<const unsigned char*>(&v), 4));
    EXPECT_EQ(full.out, std::string("\x01\x02", 2));
    EXPECT_EQ(full.writes, 3); // stops at the first write that took nothing
}

TEST(KV_Storage, LittleEndianFields)
{
    VecStorage st;
    EXPECT_TRUE(st.write_le(uint16_t{0x0102}));
    EXPECT_TRUE(st.write_le(int32_t{-2}));
    EXPECT_TRUE(st.write_le(int64_t{0x0102030405060708}));
    EXPECT_EQ(st.out, std::string("\x02\x01"
                                  "\xFE\xFF\xFF\xFF"
                                  "\x08\x07\x06\x05\x04\x03\x02\x01",
                                  14));
    EXPECT_EQ(st.writes, 3); // one write per field

    VecStorage in(st.out);
    uint16_t a = 0;
    int32_t b = 0;
    int64_t c = 0;
    EXPECT_TRUE(in.read_le(a) && in.read_le(b) && in.read_le(c));
    EXPECT_EQ(a, 0x0102);
    EXPECT_EQ(b, -2);
    EXPECT_EQ(c, 0x0102030405060708);

    // A short read is a failure and leaves the field as it was.
    VecStorage short_in(std::string("\x01\x02\x03", 3));
    uint32_t d = 7;
    EXPECT_FALSE(short_in.read_le(d));
    EXPECT_EQ(d, 7u);

    // A storage that takes part of the field reports the field unwritten.
    VecStorage full;
    full.capacity = 3;
    EXPECT_FALSE(full.write_le(uint32_t{1}));
}

TEST(KV_Stream, NewStreamHasNoBuffer)
{
    ProbeStream s;
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(static_cast<const unsigned char*>(s), nullptr);
    EXPECT_EQ(s.capacity(), 0u);
    EXPECT_FALSE(s.remove(0));
    EXPECT_EQ(s.at(0), 0);
    EXPECT_EQ(s.get(), 0);
    uint32_t pos = 7;
    EXPECT_FALSE(s.find('a', pos));
    char buf[4];
    EXPECT_EQ(s.read(buf, 4), 0u);
}

TEST(KV_Stream, AppendRules)
{
    ProbeStream s;
    EXPECT_FALSE(s.append(nullptr, 3));
    EXPECT_TRUE(s.append(bytes("x"), 0));
    EXPECT_EQ(static_cast<const unsigned char*>(s), nullptr);
    EXPECT_TRUE(s.append(bytes("abc"), 3));
    EXPECT_EQ(s.capacity(), 3u); // grow 1: exactly what is needed
    EXPECT_TRUE(s.append(bytes("de"), 2));
    EXPECT_EQ(s.capacity(), 5u);
    EXPECT_EQ(content(s), "abcde");

    ProbeStream big(4096);
    EXPECT_TRUE(big.append(bytes("0123456789"), 10));
    EXPECT_EQ(big.capacity(), 4096u);
    std::string block(5000, 'b');
    EXPECT_TRUE(big.append(bytes(block.c_str()), 5000));
    EXPECT_EQ(big.capacity(), 4096u + 5000u); // capacity + max(n, grow)
    EXPECT_EQ(big.length(), 5010u);
}

TEST(KV_Stream, AppendOwnBytes)
{
    ProbeStream s;
    ASSERT_TRUE(s.append(bytes("abcd"), 4));
    EXPECT_TRUE(s.append(s, s.length())); // the source lies in the old buffer
    EXPECT_EQ(content(s), "abcdabcd");
    EXPECT_TRUE(s.append(static_cast<const KV_Stream&>(s)));
    EXPECT_EQ(content(s), "abcdabcdabcdabcd");
}

TEST(KV_Stream, RemoveRules)
{
    ProbeStream s;
    ASSERT_TRUE(s.append(bytes("abcdef"), 6));
    EXPECT_FALSE(s.remove(7));
    EXPECT_EQ(content(s), "abcdef");
    EXPECT_TRUE(s.remove(6));
    EXPECT_EQ(static_cast<const unsigned char*>(s), nullptr);
    EXPECT_EQ(s.capacity(), 0u);
    EXPECT_TRUE(s.empty());
}

TEST(KV_Stream, RemoveWithLargeGrowMovesInPlace)
{
    ProbeStream s(4096);
    ASSERT_TRUE(s.append(bytes("0123456789"), 10));
    ASSERT_EQ(s.capacity(), 4096u);
    const unsigned char* before = s;
    EXPECT_TRUE(s.remove(2));
    EXPECT_EQ(s.capacity(), 4096u);
    EXPECT_EQ(static_cast<const unsigned char*>(s), before);
    EXPECT_EQ(content(s), "23456789");
}

TEST(KV_Stream, RemoveWithGrowOneShrinksOrMoves)
{
    std::string hundred;
    for (int i = 0; i < 100; ++i)
        hundred += static_cast<char>('!' + i % 90);
    {
        ProbeStream s(1);
        ASSERT_TRUE(s.append(bytes(hundred.c_str()), 100));
        ASSERT_EQ(s.capacity(), 100u);
        EXPECT_TRUE(s.remove(10));
        EXPECT_EQ(s.capacity(), 90u);
        EXPECT_EQ(content(s), hundred.substr(10));
    }
    {
        ProbeStream s(1);
        ASSERT_TRUE(s.append(bytes(hundred.c_str()), 100));
        const unsigned char* before = s;
        EXPECT_TRUE(s.remove(1)); // 99 + 1 >= 100: in place
        EXPECT_EQ(s.capacity(), 100u);
        EXPECT_EQ(static_cast<const unsigned char*>(s), before);
        EXPECT_EQ(content(s), hundred.substr(1));
    }
}

TEST(KV_Stream, ReadWriteAtGetFind)
{
    ProbeStream s;
    EXPECT_EQ(s.write(nullptr, 3), 0u);
    EXPECT_EQ(s.write(bytes("wxyz"), 4), 4u);
    EXPECT_EQ(s.at(0), 'w');
    EXPECT_EQ(s.at(3), 'z');
    EXPECT_EQ(s.at(4), 0);
    uint32_t pos = 0;
    EXPECT_TRUE(s.find('y', pos));
    EXPECT_EQ(pos, 2u);
    EXPECT_FALSE(s.find('q', pos));
    EXPECT_EQ(s.get(), 'w');
    EXPECT_EQ(content(s), "xyz");
    char buf[10] = {};
    EXPECT_EQ(s.read(buf, 10), 3u);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(static_cast<const unsigned char*>(s), nullptr);

    ASSERT_TRUE(s.append(bytes("abcd"), 4));
    EXPECT_EQ(s.read(buf, 10), 4u); // 4 of the 10 asked for
    EXPECT_TRUE(s.empty());
}

TEST(KV_Stream, CopyAssignCompare)
{
    ProbeStream a(64);
    ASSERT_TRUE(a.append(bytes("data"), 4));
    KV_Stream b(a);
    EXPECT_TRUE(b == a);
    KV_Stream c;
    EXPECT_FALSE(c == a);
    EXPECT_TRUE(c == KV_Stream());
    EXPECT_TRUE(c = a);
    EXPECT_TRUE(c == a);
    EXPECT_TRUE(c = c);
    EXPECT_EQ(content(c), "data");
    ProbeStream d(8);
    ASSERT_TRUE(d.append(bytes("date"), 4));
    EXPECT_FALSE(d == a);
    // The copy keeps the grow step.
    ProbeStream g(4096);
    ProbeStream h(g);
    ASSERT_TRUE(h.append(bytes("z"), 1));
    EXPECT_EQ(h.capacity(), 4096u);
}

TEST(KV_Stream, WriteBin)
{
    ProbeStream empty;
    VecStorage st;
    EXPECT_TRUE(empty.write_bin(st));
    EXPECT_EQ(st.writes, 0);
    ProbeStream s;
    ASSERT_TRUE(s.append(bytes("payload"), 7));
    EXPECT_TRUE(s.write_bin(st));
    EXPECT_EQ(st.out, "payload");
    EXPECT_EQ(st.writes, 1);
    VecStorage partial;
    partial.capacity = 3;
    EXPECT_TRUE(s.write_bin(partial)); // a non-zero number taken counts
    VecStorage none;
    none.capacity = 0;
    EXPECT_FALSE(s.write_bin(none));
}

TEST(KV_Stream, ReadBinInChunks)
{
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    VecStorage st(data);
    ProbeStream s;
    ASSERT_TRUE(s.append(bytes("old"), 3));
    EXPECT_TRUE(s.read_bin(st));
    EXPECT_EQ(content(s), data);
    ASSERT_EQ(st.read_sizes, (std::vector<uint32_t>{4096, 4096, 1808, 0}));

    VecStorage trickle(data);
    trickle.max_read = 7;
    EXPECT_TRUE(s.read_bin(trickle));
    EXPECT_EQ(content(s), data);

    VecStorage nothing;
    EXPECT_TRUE(s.read_bin(nothing));
    EXPECT_TRUE(s.empty());
}

TEST(KV_Stream, Realloc)
{
    ProbeStream s;
    ASSERT_TRUE(s.append(bytes("abc"), 3));
    EXPECT_FALSE(s.realloc(2));
    EXPECT_TRUE(s.realloc(100));
    EXPECT_EQ(s.capacity(), 100u);
    EXPECT_EQ(content(s), "abc");
    EXPECT_TRUE(s.append(bytes("def"), 3));
    EXPECT_EQ(s.capacity(), 100u);
    EXPECT_EQ(content(s), "abcdef");
}

TEST(KV_Stream, LengthArithmeticNeverWraps)
{
    // length + n beyond 32 bits: refused before anything is read or allocated.
    ProbeStream s;
    ASSERT_TRUE(s.append(bytes("12345678"), 8));
    unsigned char one = 'x';
    EXPECT_FALSE(s.append(&one, UINT32_MAX - 7));
    EXPECT_EQ(s.write(&one, UINT32_MAX), 0u);
    EXPECT_EQ(content(s), "12345678");
    EXPECT_EQ(s.capacity(), 8u);
}

TEST(KV_Stream, CapacityArithmeticNeverWraps)
{
    // capacity + max(n, grow) beyond 32 bits must be refused, not wrapped to a
    // small buffer that the copy would then overrun. A small buffer with a
    // huge grow step reaches that sum without allocating gigabytes.
    ProbeStream s(UINT32_MAX);
    ASSERT_TRUE(s.realloc(8));
    ASSERT_TRUE(s.append(bytes("12345678"), 8)); // fits: no growth
    ASSERT_EQ(s.capacity(), 8u);
    unsigned char one = 'x';
    EXPECT_FALSE(s.append(&one, 1)); // 8 + max(1, 2^32 - 1) does not fit
    EXPECT_EQ(s.write(&one, 1), 0u);
    EXPECT_EQ(s.capacity(), 8u);
    EXPECT_EQ(content(s), "12345678");

    ProbeStream t(UINT32_MAX - 100);
    ASSERT_TRUE(t.realloc(200));
    ASSERT_TRUE(t.append(bytes("ab"), 2));
    EXPECT_FALSE(t.append(&one, 199)); // 200 + (2^32 - 101) does not fit
    EXPECT_EQ(content(t), "ab");
}

} // namespace
