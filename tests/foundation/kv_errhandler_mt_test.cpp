#include "foundation/kv_errhandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Records what it receives. Concurrent calls would race on `received`
// (ThreadSanitizer) and show in `overlaps`.
class RecordingHandler : public KV_ErrHandler
{
public:
    std::vector<std::pair<uint8_t, std::string>> received;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    bool slow = false;

protected:
    void process_err(uint8_t prio, const KV_String& text) override
    {
        if (++inside != 1)
            ++overlaps;
        if (slow)
            std::this_thread::yield();
        received.emplace_back(prio, std::string(text.data(), text.length()));
        --inside;
    }
};

TEST(KV_ErrHandlerTest, FormatsAndPassesThePriority)
{
    RecordingHandler h;
    h.set_err(3, "%s: %d %s", "FTP", 550, "No such file");
    h.set_err(1, KV_String("100% literal %d"));
    ASSERT_EQ(h.received.size(), 2u);
    EXPECT_EQ(h.received[0].first, 3);
    EXPECT_EQ(h.received[0].second, "FTP: 550 No such file");
    EXPECT_EQ(h.received[1].first, 1);
    EXPECT_EQ(h.received[1].second, "100% literal %d");
}

TEST(KV_ErrHandlerTest, FormattedTextsAreCutTo4095Characters)
{
    RecordingHandler h;
    std::string long_text(6000, 'a');
    h.set_err(2, "%s", long_text.c_str());
    std::string fits(4095, 'b');
    h.set_err(2, "%s", fits.c_str());
    ASSERT_EQ(h.received.size(), 2u);
    EXPECT_EQ(h.received[0].second, std::string(4095, 'a'));
    EXPECT_EQ(h.received[1].second, fits);
}

TEST(KV_ErrHandlerTest, LastErrGivesTheSystemReasonOnce)
{
    errno = 0;
    EXPECT_TRUE(KV_ErrHandler::last_err().empty());

    errno = ENOENT;
    KV_String text = KV_ErrHandler::last_err();
    EXPECT_EQ(errno, 0);
    EXPECT_STREQ(text.data(), std::strerror(ENOENT));
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(KV_ErrHandler::last_err().empty());
}

TEST(KV_ErrHandlerTest, ConcurrentReportsNeverOverlap)
{
    RecordingHandler h;
    h.slow = true;
    constexpr int threads = 8;
    constexpr int reports = 200;
    std::vector<std::thread> reporters;
    for (int t = 0; t < threads; ++t)
        reporters.emplace_back([&h, t] {
            for (int i = 0; i < reports; ++i) {
                if (i % 2)
                    h.set_err(static_cast<uint8_t>(t), "thread %d report %d", t, i);
                else
                    h.set_err(static_cast<uint8_t>(t), KV_String("plain"));
            }
        });
    for (auto& r : reporters)
        r.join();
    EXPECT_EQ(h.overlaps, 0);
    ASSERT_EQ(h.received.size(), size_t(threads * reports));
    // Every text arrived whole.
    for (const auto& [prio, text] : h.received) {
        if (text == "plain")
            continue;
        EXPECT_EQ(text.rfind("thread " + std::to_string(prio) + " report ", 0), 0u) << text;
    }
}

} // namespace
