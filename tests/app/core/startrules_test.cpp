// Start-up rules without windows: the forwarded command line's bytes, the
// update check's dates, shortcut files and the tip order.
#include "core/startrules.h"

#include <QBuffer>
#include <gtest/gtest.h>
#include <string>

namespace {

QByteArray Bytes(std::initializer_list<int> b)
{
    QByteArray out;
    for (int v : b) {
        out.append(static_cast<char>(v));
    }
    return out;
}

TEST(ForwardedCommandLine, PayloadBytes)
{
    // Program path and one argument with a byte above 0x7F: each byte
    // becomes a sign-extended 16-bit unit.
    const QByteArray payload = PackCommandLine({"/k", QByteArray("a\xC3\xA9", 3)});
    EXPECT_EQ(payload, Bytes({2, 0, 0, 0,                  // two entries
                              2, 0, 0, 0, '/', 0, 'k',  0, // "/k"
                              3, 0, 0, 0, 'a', 0, 0xC3, 0xFF, 0xA9, 0xFF}));
    EXPECT_EQ(PackCommandLine({}), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(FrameForward(Bytes({7})), Bytes({0x09, 0x0A, 0, 0, 1, 0, 0, 0, 7}));
}

TEST(ForwardedCommandLine, ReaderTakesSplitFramesAndRefusesTheRest)
{
    const QByteArray payload = PackCommandLine({"/usr/bin/kivrel", "CP", "ftp://h/x"});
    const QByteArray frame = FrameForward(payload);
    for (int chunk : {1, 3, 8, 1000}) {
        SCOPED_TRACE(chunk);
        CForwardReader r;
        CForwardReader::State st = CForwardReader::kNeedMore;
        for (qsizetype i = 0; i < frame.size(); i += chunk) {
            EXPECT_EQ(st, CForwardReader::kNeedMore);
            st = r.Feed(frame.constData() + i, std::min<size_t>(chunk, frame.size() - i));
        }
        EXPECT_EQ(st, CForwardReader::kDone);
        EXPECT_EQ(r.Payload(), payload);
    }
    struct Case
    {
        const char* what;
        QByteArray bytes;
        CForwardReader::State st;
    } const cases[] = {
        {"another tag", Bytes({0x08, 0x0A, 0, 0, 0, 0, 0, 0}), CForwardReader::kRefused},
        {"exactly 1 MiB announced", Bytes({0x09, 0x0A, 0, 0, 0, 0, 0x10, 0}),
         CForwardReader::kNeedMore},
        {"one byte above 1 MiB", Bytes({0x09, 0x0A, 0, 0, 1, 0, 0x10, 0}),
         CForwardReader::kRefused},
        {"4 GiB announced", Bytes({0x09, 0x0A, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}),
         CForwardReader::kRefused},
        {"empty payload", Bytes({0x09, 0x0A, 0, 0, 0, 0, 0, 0}), CForwardReader::kDone},
        {"bytes after the frame", Bytes({0x09, 0x0A, 0, 0, 1, 0, 0, 0, 5, 6}),
         CForwardReader::kRefused},
        {"header cut short", Bytes({0x09, 0x0A, 0}), CForwardReader::kNeedMore},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CForwardReader r;
        EXPECT_EQ(r.Feed(c.bytes.constData(), c.bytes.size()), c.st);
        if (c.st == CForwardReader::kRefused) {
            EXPECT_TRUE(r.Payload().isEmpty());
            // Once refused, nothing more is taken.
            EXPECT_EQ(r.Feed("x", 1), CForwardReader::kRefused);
        }
    }
}

QByteArray Stamp(uint32_t t)
{
    return Bytes({static_cast<int>(t & 0xFF), static_cast<int>((t >> 8) & 0xFF),
                  static_cast<int>((t >> 16) & 0xFF), static_cast<int>(t >> 24)});
}

TEST(UpdateCheck, DueEveryFourteenDaysForTheInstallingUserOnly)
{
    const int64_t t0 = 1'700'000'000;
    const uint32_t d14 = kUpdateCheckInterval;
    const int64_t y2040 = 2'208'988'800; // 2040-01-01, past the signed 32-bit end
    struct Case
    {
        const char* what;
        bool enabled;
        bool server;
        const char* inst;
        bool has_stamp;
        QByteArray stamp;
        int64_t now;
        bool write;
        bool check;
    } const cases[] = {
        {"first time: only noted", true, true, "ann", false, {}, t0, true, false},
        {"14 days and one second", true, true, "ann", true, Stamp(t0), t0 + d14 + 1, true, true},
        {"exactly 14 days: not yet", true, true, "ann", true, Stamp(t0), t0 + d14, false, false},
        {"a day ago", true, true, "ann", true, Stamp(t0), t0 + 86400, false, false},
        {"another user", true, true, "bob", true, Stamp(t0), t0 + 2 * d14, false, false},
        {"no installing user", true, true, "", true, Stamp(t0), t0 + 2 * d14, false, false},
        {"switched off", false, true, "ann", true, Stamp(t0), t0 + 2 * d14, false, false},
        {"no server: nothing noted", true, false, "ann", false, {}, t0, false, false},
        {"wrong size counts as none", true, true, "ann", true, Bytes({1, 2, 3, 4, 5}), t0, true,
         false},
        {"after 2038, due", true, true, "ann", true, Stamp(uint32_t(y2040)), y2040 + d14 + 1, true,
         true},
        {"after 2038, not due", true, true, "ann", true, Stamp(uint32_t(y2040)), y2040 + 10, false,
         false},
        {"stamp before 2038, now after", true, true, "ann", true, Stamp(0x7FFF0000),
         int64_t(0x7FFF0000) + d14 + 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CUpdateCheckInput in;
        in.enabled = c.enabled;
        in.has_server = c.server;
        in.installing_user = c.inst;
        in.user = "ann";
        in.has_stamp = c.has_stamp;
        in.stamp = c.stamp;
        in.now = c.now;
        const CUpdateCheckDecision d = DecideUpdateCheck(in);
        EXPECT_EQ(d.write_stamp, c.write);
        EXPECT_EQ(d.check, c.check);
        if (d.write_stamp) {
            EXPECT_EQ(d.stamp, Stamp(static_cast<uint32_t>(c.now)));
        }
    }
}

TEST(ShortcutFile, AddressOfTheFirstUrlLine)
{
    struct Case
    {
        const char* what;
        std::string text;
        const char* url;
    } const cases[] = {
        {"plain", "[InternetShortcut]\r\nURL=https://kivrel.example/bug\r\n",
         "https://kivrel.example/bug"},
        {"ends at a blank", "[InternetShortcut]\nURL=https://a.example/x y\n",
         "https://a.example/x"},
        {"first line empty", "\nURL=https://a.example/\n", ""},
        {"no url line", "[InternetShortcut]\nIconIndex=1\n", ""},
        {"empty value, then one", "[I]\nURL=\nURL=https://b.example/\n", "https://b.example/"},
        {"a line beyond the bound", "[I]\n" + std::string(5000, 'x') + "\nURL=https://c/\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray data(c.text.data(), static_cast<qsizetype>(c.text.size()));
        QBuffer buf(&data);
        ASSERT_TRUE(buf.open(QIODevice::ReadOnly));
        EXPECT_EQ(ReadShortcutUrl(buf).toStdString(), c.url);
    }
}

TEST(Quit, TheEngineIsAskedAtMostEveryFiftyMilliseconds)
{
    struct Case
    {
        int64_t last, now, wait;
    } const cases[] = {
        {-1, 1000, 0},    // never asked
        {1000, 1000, 50}, // a pass right after asking waits
        {1000, 1001, 49}, {1000, 1049, 1}, {1000, 1050, 0},
        {1000, 5000, 0},  {1000, 900, 0}, // the clock went back: ask
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.last) + " " + std::to_string(c.now));
        EXPECT_EQ(TermPollDelay(c.last, c.now), c.wait);
    }
}

TEST(StartTips, NextTipWrapsToOne)
{
    const auto four = [](int n) { return n >= 1 && n <= 4; };
    EXPECT_EQ(NextTip(3, four), 4);
    EXPECT_EQ(NextTip(4, four), 1);
    EXPECT_EQ(NextTip(0, four), 1);
    EXPECT_EQ(NextTip(17, four), 1);
    EXPECT_EQ(NextTip(-3, four), 1); // never a negative page
    EXPECT_EQ(NextTip(0, [](int) { return false; }), 0);
}

} // namespace
