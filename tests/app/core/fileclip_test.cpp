// The file record of the clipboard and of drags: its bytes, the refusal of
// records that promise more than they hold, and lists of local files from
// other programs.
#include "core/fileclip.h"

#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "root/kv_filemanpool.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace {

QByteArray Bytes(const KV_Stream& st)
{
    return QByteArray(reinterpret_cast<const char*>(static_cast<const unsigned char*>(st)),
                      static_cast<qsizetype>(st.length()));
}

QByteArray Le32(uint32_t v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return b;
}

std::vector<std::string> Names(const CFileClipData& d)
{
    std::vector<std::string> out;
    for (uint32_t i = 0; i < d.names.size(); ++i) {
        out.emplace_back(d.names.at(i).data(), d.names.at(i).length());
    }
    return out;
}

TEST(CFileClipData, BytesAreExactAndReadBack)
{
    struct Case
    {
        std::vector<std::string> names;
        QByteArray name_bytes;
    };
    const Case cases[] = {
        {{}, {}},
        {{"a", "bc"}, Le32(1) + QByteArray("a\0", 2) + Le32(2) + QByteArray("b\0c\0", 4)},
        // UTF-8 bytes travel one per unit, sign-extended, and come back.
        {{"\xC3\xBC"}, Le32(2) + QByteArray("\xC3\xFF\xBC\xFF", 4)},
    };
    for (const Case& c : cases) {
        CFileClipData d;
        d.move = true;
        d.has_dir = false;
        d.src = KV_FileManId(KV_DsId(2, "ftp", "host", ""), 2);
        for (const std::string& n : c.names) {
            ASSERT_TRUE(d.names.add(KV_String(n.c_str())));
        }
        KV_Stream id_dir;
        ASSERT_TRUE(d.src.write_bin(id_dir));
        ASSERT_TRUE(d.dir.write_bin(id_dir));
        const QByteArray expected = QByteArray("\x01\x00", 2) + Bytes(id_dir) +
                                    Le32(static_cast<uint32_t>(c.names.size())) + c.name_bytes;
        const QByteArray bytes = d.Write();
        EXPECT_EQ(bytes.toHex(), expected.toHex());

        CFileClipData back;
        ASSERT_TRUE(back.Read(bytes));
        EXPECT_TRUE(back.move);
        EXPECT_FALSE(back.has_dir);
        EXPECT_TRUE(back.src == d.src);
        EXPECT_EQ(Names(back), c.names);
    }
}

TEST(CFileClipData, RecordsPromisingMoreThanTheyHoldAreRefused)
{
    CFileClipData d;
    ASSERT_TRUE(d.names.add("name"));
    const QByteArray good = d.Write();
    const qsizetype count_at = good.size() - 4 - 4 - 8;
    ASSERT_EQ(good.mid(count_at, 4), Le32(1));
    struct Case
    {
        const char* what;
        QByteArray bytes;
    };
    QByteArray huge_count = good;
    huge_count.replace(count_at, 4, Le32(0xFFFFFFFF));
    QByteArray long_name = good;
    long_name.replace(count_at + 4, 4, Le32(0x7FFFFFFF));
    const Case cases[] = {
        {"truncated", good.left(good.size() - 1)},
        {"count above the bytes", huge_count},
        {"name longer than the bytes", long_name},
        {"bytes left over", good + "x"},
        {"empty", QByteArray()},
    };
    for (const Case& c : cases) {
        CFileClipData back;
        EXPECT_FALSE(back.Read(c.bytes)) << c.what;
        EXPECT_LE(back.names.size(), 1u) << c.what;
    }
}

TEST(CFileClipData, UriListsOfLocalFiles)
{
    struct Case
    {
        QByteArray list;
        bool ok;
        QStringList paths;
    };
    const Case cases[] = {
        {"file:///tmp/a%20b\r\nfile:///tmp/%C3%BC\r\n", true, {"/tmp/a b", "/tmp/\u00fc"}},
        {"# comment\nfile:///x\n", true, {"/x"}},
        {"http://example.com/a\r\n", false, {}},
        {"file:///tmp/a\r\nhttp://example.com/b\r\n", false, {}},
        {"", false, {}},
        {"relative/a\r\n", false, {}},
    };
    for (const Case& c : cases) {
        QStringList paths;
        EXPECT_EQ(ParseUriList(c.list, paths), c.ok) << c.list.constData();
        if (c.ok) {
            EXPECT_EQ(paths, c.paths);
        }
    }
}

class ClipPoolTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(pool.tree().load(pool.man_trans()));
    }
    KV_FileManPool pool;
};

TEST_F(ClipPoolTest, AListFromOneFolderBecomesTheLocalSource)
{
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_TRUE(kvtest::write_file(dir / "f x.txt", ""));
    const QByteArray base = QByteArray("file://") + QUrl::toPercentEncoding(dir.c_str(), "/");
    CFileClipData d;
    ASSERT_TRUE(d.ReadUriList(base + "/f%20x.txt\r\n" + base + "/sub\r\n", pool));
    EXPECT_EQ(Names(d), (std::vector<std::string>{"f x.txt", "sub"}));
    EXPECT_TRUE(d.has_dir);
    EXPECT_FALSE(d.move);
    EXPECT_TRUE(d.src == pool.tree().find(KV_DS_NODE_STD, false)->id());
    EXPECT_EQ(d.ToUriList(), base + "/f%20x.txt\r\n" + base + "/sub\r\n");

    CFileClipData two;
    EXPECT_FALSE(two.ReadUriList(base + "/f%20x.txt\r\n" + base + "/sub/y\r\n", pool));

    // Offered to other programs as a file list only from the local source.
    for (bool local : {true, false}) {
        std::unique_ptr<QMimeData> data(MakeFileMimeData(d, "application/x-test-copy", local));
        EXPECT_EQ(data->data("application/x-test-copy"), d.Write());
        EXPECT_EQ(data->hasFormat("text/uri-list"), local);
        if (local) {
            EXPECT_EQ(data->data("text/uri-list"), d.ToUriList());
        }
    }
}

TEST(CDsClipData, FourBytesLeastSignificantFirstAndNothingElse)
{
    CDsClipData d;
    d.item = 0x12345678;
    EXPECT_EQ(d.Write(), QByteArray::fromHex("78563412"));
    CDsClipData back;
    ASSERT_TRUE(back.Read(QByteArray::fromHex("ffffff80")));
    EXPECT_EQ(back.item, 0x80ffffffu);
    // Another program's block of another size names no node.
    for (const char* hex : {"", "785634", "7856341200"}) {
        SCOPED_TRACE(hex);
        EXPECT_FALSE(back.Read(QByteArray::fromHex(hex)));
        EXPECT_EQ(back.item, 0x80ffffffu);
    }
}

TEST(CFileClipData, DropEffectsFollowThePaneAndCtrl)
{
    struct Case
    {
        bool can_move;
        bool can_copy;
        bool copy_default; // the SFTP pane
        bool ctrl;
        int effect;
    };
    const Case cases[] = {
        {true, true, false, false, 2},   {true, true, false, true, 1},
        {true, true, true, false, 1},    {true, true, true, true, 2},
        {false, true, false, false, 1},  {false, true, true, true, 1},
        {false, false, false, false, 0}, {true, false, false, true, 0},
        {true, false, false, false, 2}, // a possible move needs no copy
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CFileClipData::DropEffect(c.can_move, c.can_copy, c.copy_default, c.ctrl),
                  c.effect)
            << c.can_move << c.can_copy << c.copy_default << c.ctrl;
    }
}

TEST_F(ClipPoolTest, NoTargetFolderNoEffect)
{
    CFileClipData d;
    ASSERT_TRUE(d.names.add("f"));
    EXPECT_EQ(d.GetDropEffect(pool, d.src, KV_PathDef(), false, false), 0);
}

} // namespace
