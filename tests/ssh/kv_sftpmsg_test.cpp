#include "ssh/kv_sftpmsg.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/kv_sshtest.h"

namespace {

using kvtest::bytes;
using kvtest::hex;
using kvtest::put;
using kvtest::unhex;

KV_SshString sstr(const std::string& s)
{
    KV_SshString r;
    put(r, s);
    return r;
}

std::string wire(const KV_SftpMsg& m)
{
    KV_Stream st;
    EXPECT_TRUE(m.write(st));
    return hex(st);
}

TEST(KvSftpMsg, RequestBytes)
{
    struct Case
    {
        const char* name;
        std::unique_ptr<KV_SftpMsg> msg;
        std::string hex;
        std::string text;
        bool always;
    };
    KV_SftpFileAttr none;
    KV_SftpFileAttr perm;
    perm.set_flags(KV_SftpFileAttr::perm_flag);
    perm.set_permissions(0644);
    const std::string h = "00000002" + hex(std::string("h1"));
    Case cases[] = {
        {"init", std::make_unique<KV_SftpMsgInit>(3), "0100000003", "INIT ( version: 3 )", true},
        {"read above 4 GiB", std::make_unique<KV_SftpMsgRead>(sstr("h1"), 0, 1, 0x3000),
         "0500000007" + h + "0000000100000000" + "00003000", "READ", false},
        {"open", std::make_unique<KV_SftpMsgOpen>(sstr("/a"), 0x1A, none),
         "0300000007"
         "000000022f61"
         "0000001a"
         "00000000",
         "OPEN /a", true},
        {"close", std::make_unique<KV_SftpMsgClose>(sstr("h1")), "0400000007" + h, "CLOSE", true},
        {"write",
         std::make_unique<KV_SftpMsgWrite>(sstr("h1"), reinterpret_cast<const unsigned char*>("xy"),
                                           2, 0x10, 0),
         "0600000007" + h + "0000000000000010" + "000000027879", "WRITE", false},
        {"setstat", std::make_unique<KV_SftpMsgSetstat>(sstr("/f"), perm),
         "0900000007"
         "000000022f66"
         "00000004"
         "000001a4",
         "SETSTAT /f (644)", true},
        {"opendir", std::make_unique<KV_SftpMsgOpenDir>(sstr("/d/")),
         "0b00000007"
         "000000032f642f",
         "OPENDIR /d/", true},
        {"readdir", std::make_unique<KV_SftpMsgReadDir>(sstr("h1")), "0c00000007" + h, "READDIR",
         false},
        {"remove", std::make_unique<KV_SftpMsgDel>(sstr("/f")),
         "0d00000007"
         "000000022f66",
         "REMOVE /f", true},
        {"mkdir", std::make_unique<KV_SftpMsgMkDir>(sstr("/d"), none),
         "0e00000007"
         "000000022f64"
         "00000000",
         "MKDIR /d", true},
        {"rmdir", std::make_unique<KV_SftpMsgRmDir>(sstr("/d")),
         "0f00000007"
         "000000022f64",
         "RMDIR /d", true},
        {"realpath of nothing", std::make_unique<KV_SftpMsgRealPath>(sstr("")),
         "1000000007"
         "00000000",
         "REALPATH ", true},
        {"rename", std::make_unique<KV_SftpMsgRen>(sstr("/a"), sstr("/b")),
         "1200000007"
         "000000022f61"
         "000000022f62",
         "RENAME /a => /b", true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.msg->has_id())
            c.msg->set_id(7);
        EXPECT_EQ(wire(*c.msg), c.hex);
        EXPECT_EQ(std::string(c.msg->describe().data()), c.text);
        EXPECT_EQ(c.msg->always_log(), c.always);
    }
}

TEST(KvSftpFileAttr, WireForms)
{
    // Flags 0: the flags alone.
    KV_SftpFileAttr a;
    KV_Stream st;
    ASSERT_TRUE(a.write(st));
    EXPECT_EQ(hex(st), "00000000");

    // Every field, two extended pairs, then a field of the next structure.
    const std::string in = unhex("8000000f"
                                 "0000000100000002" // size 2^32 + 2
                                 "000003e8 000003e9"
                                 "000041ed"
                                 "00000005 00000006"
                                 "00000002"
                                 "00000001 61 00000002 6263"
                                 "00000000 00000001 7a"
                                 "cafebabe");
    KV_Stream src;
    put(src, in);
    KV_SftpFileAttr b;
    ASSERT_TRUE(b.read(src));
    EXPECT_EQ(b.size(), 0x100000002ull);
    EXPECT_EQ(b.uid(), 1000u);
    EXPECT_EQ(b.gid(), 1001u);
    EXPECT_EQ(b.permissions(), 0x41EDu);
    EXPECT_EQ(b.atime(), 5u);
    EXPECT_EQ(b.mtime(), 6u);
    uint32_t next = 0;
    ASSERT_TRUE(ssh_read_u32(src, next));
    EXPECT_EQ(next, 0xcafebabe);

    // Written back: the extended flag stays with a count of 0.
    KV_Stream out;
    ASSERT_TRUE(b.write(out));
    EXPECT_EQ(hex(out), "8000000f"
                        "0000000100000002"
                        "000003e8000003e9"
                        "000041ed"
                        "0000000500000006"
                        "00000000");

    // A truncated block or an extended count beyond the bytes fails.
    for (const char* t : {"00000001 0000", "80000000 00000003 00000000 00000000"}) {
        SCOPED_TRACE(t);
        KV_Stream s;
        put(s, unhex(t));
        KV_SftpFileAttr c;
        EXPECT_FALSE(c.read(s));
    }
}

template <class M> std::unique_ptr<M> read_msg(const std::string& body_hex, bool expect = true)
{
    auto m = std::make_unique<M>();
    KV_Stream st;
    put(st, unhex(body_hex));
    EXPECT_EQ(m->read(st), expect);
    return m;
}

TEST(KvSftpMsg, StatusTexts)
{
    struct Case
    {
        std::string body;
        uint32_t code;
        std::string text;
    };
    const Case cases[] = {
        {"00000001 00000002 00000000", 2, "No such file."},
        {"00000001 00000003", 3, "Permission denied."},
        {"00000001 00000004 00000004 6f6f7073 00000000", 4, "oops"},
        {"00000001 00000009 00000000", 9, "Unknown error ( code: 9 )."},
        {"00000001 00000000", 0, "Unknown error ( code: 0 )."},
        {"00000001 00000008", 8, "Unsupported."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        auto m = read_msg<KV_SftpMsgStatus>(c.body);
        EXPECT_EQ(m->id(), 1u);
        EXPECT_EQ(m->code(), c.code);
        EXPECT_EQ(std::string(m->err_text().data()), c.text);
    }
    auto ok = read_msg<KV_SftpMsgStatus>("00000001 00000000");
    EXPECT_TRUE(ok->ok());
    EXPECT_FALSE(ok->failed());
    auto eof = read_msg<KV_SftpMsgStatus>("00000001 00000001 00000003 454f46");
    EXPECT_TRUE(eof->eof());
    EXPECT_EQ(std::string(eof->describe().data()), "STATUS 1 EOF");
    read_msg<KV_SftpMsgStatus>("00000001 0000", false);
}

TEST(KvSftpMsg, NameKeepsServerOrder)
{
    auto empty = read_msg<KV_SftpMsgName>("00000004 00000000");
    EXPECT_TRUE(empty->entries().empty());

    auto m = read_msg<KV_SftpMsgName>("00000004 00000003"
                                      "00000001 62 00000000 00000000"
                                      "00000001 61 00000000 00000004 000081a4"
                                      "00000001 62 00000000 00000000");
    ASSERT_EQ(m->entries().size(), 3u);
    EXPECT_EQ(bytes(m->entries().at(0).filename), "b");
    EXPECT_EQ(bytes(m->entries().at(1).filename), "a");
    EXPECT_EQ(m->entries().at(1).attrs.permissions(), 0x81A4u);
    EXPECT_EQ(bytes(m->entries().at(2).filename), "b");

    // A count beyond the entries: the ones read stay, the read fails.
    auto cut = read_msg<KV_SftpMsgName>("00000004 00000002 00000001 62 00000000 00000000", false);
    EXPECT_EQ(cut->entries().size(), 1u);
}

TEST(KvSftpMsg, VersionHandleData)
{
    auto v = read_msg<KV_SftpMsgVersion>("00000003 00000001 61 00000001 62");
    EXPECT_EQ(v->version(), 3u);
    EXPECT_FALSE(v->has_id());
    EXPECT_EQ(std::string(v->describe().data()), "VERSION ( 3 )");
    auto h = read_msg<KV_SftpMsgHandle>("00000009 00000002 6831");
    EXPECT_EQ(h->id(), 9u);
    EXPECT_EQ(bytes(h->handle()), "h1");
    auto d = read_msg<KV_SftpMsgData>("0000000a 00000003 000102");
    EXPECT_EQ(hex(d->data()), "000102");
    // A data length beyond the message fails.
    read_msg<KV_SftpMsgData>("0000000a 00000004 000102", false);
}

} // namespace
