// Helpers of the transfer tests: stored bytes written out field by field, in
// the little-endian forms of the engine, and whole files read, written and
// patched, so that a test can spell out the bytes a log must hold.
#pragma once

#include <cstdint>
#include <deque>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_le.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "support/kv_testdir.h"

namespace transtest {

using Bytes = std::vector<unsigned char>;

// The header text of every transfer-log file (its NUL follows).
inline const std::string k_header = "SARVO-KET: Temporary transfer file ( KIVREL v2.1 ).";

// A path of these entries (the first is the root entry).
inline KV_PathDef path_of(std::initializer_list<const char*> entries)
{
    KV_PathDef p;
    for (const char* e : entries)
        p.append(e);
    return p;
}

// A list of names, built in place (lists are not copied).
struct Names : KVTL::KV_ListVal<KV_String>
{
    Names(std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            add(n);
    }
};

// `v` as sizeof(T) little-endian bytes at the end of `b`.
template <class T> Bytes& put(Bytes& b, T v)
{
    unsigned char le[sizeof(T)];
    kv_put_le<T>(le, v);
    b.insert(b.end(), le, le + sizeof(T));
    return b;
}

// The string form: u32 count, then every character as 2 bytes (sign-
// extended).
inline Bytes& put_str(Bytes& b, const std::string& s)
{
    put<uint32_t>(b, static_cast<uint32_t>(s.size()));
    for (char c : s)
        put<int16_t>(b, static_cast<int16_t>(static_cast<signed char>(c)));
    return b;
}

// The path form: root flag, u32 entry count, the entries as strings.
inline Bytes& put_path(Bytes& b, std::initializer_list<std::string> entries, bool root = true)
{
    put<uint8_t>(b, root ? 1 : 0);
    put<uint32_t>(b, static_cast<uint32_t>(entries.size()));
    for (const std::string& e : entries)
        put_str(b, e);
    return b;
}

// A fixed text field of `size` bytes: the text, then NUL bytes.
inline Bytes& put_fixed(Bytes& b, const std::string& s, size_t size)
{
    Bytes field(size, 0);
    for (size_t i = 0; i < s.size() && i + 1 < size; ++i)
        field[i] = static_cast<unsigned char>(s[i]);
    b.insert(b.end(), field.begin(), field.end());
    return b;
}

// A file-manager id: u16 type, three strings, u32 instance.
inline Bytes& put_id(Bytes& b, uint16_t type, const std::string& n1, const std::string& n2,
                     const std::string& n3, uint32_t impl)
{
    put<uint16_t>(b, type);
    put_str(b, n1);
    put_str(b, n2);
    put_str(b, n3);
    return put<uint32_t>(b, impl);
}

inline Bytes& append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
    return b;
}

// The 53-byte frame of a log of `type`, then `body`.
inline Bytes frame(uint8_t type, const Bytes& body)
{
    Bytes b(k_header.begin(), k_header.end());
    b.push_back(0);
    b.push_back(type);
    return append(b, body);
}

inline Bytes read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_all(const std::string& path, const Bytes& b)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Overwrites bytes of the file at `at`.
inline void patch(const std::string& path, int64_t at, const Bytes& b)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(at);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The little-endian value of sizeof(T) bytes of `b` at `at`.
template <class T> T get(const Bytes& b, size_t at)
{
    return kv_get_le<T>(b.data() + at);
}

// A test with a folder of its own that is also the engine's temporary
// transfer folder, where logs and sub-logs are made.
class TmpFolderTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, dir.path().c_str()));
    }
};

// The user interface of a test: installs the informer's hooks, answers
// every question at once on the asking thread from a script, and keeps the
// questions. Without answers left it answers nothing (KV_ANS_NONE), as an
// informer without a user interface does. One at a time; the destructor
// takes the hooks out again.
class ScriptedUi
{
public:
    explicit ScriptedUi(std::initializer_list<KV_ANS> script)
    {
        answers().assign(script.begin(), script.end());
        asked().clear();
        KV_Informer::set_impl_block([] { return false; });
        KV_Informer::set_impl_ask([](KV_Informer* inf, bool) {
            asked().emplace_back(inf->msg().data());
            KV_ANS a = KV_ANS_NONE;
            if (!answers().empty()) {
                a = answers().front();
                answers().pop_front();
            }
            inf->set_ans(a);
        });
    }
    ~ScriptedUi()
    {
        KV_Informer::set_impl_ask(nullptr);
        KV_Informer::set_impl_block(nullptr);
    }
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    static std::deque<KV_ANS>& answers()
    {
        static std::deque<KV_ANS> a;
        return a;
    }
    static std::vector<std::string>& asked()
    {
        static std::vector<std::string> q;
        return q;
    }
};

} // namespace transtest
