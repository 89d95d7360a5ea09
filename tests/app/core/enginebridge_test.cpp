// The engine's hooks on the program's side, without an application object:
// which thread blocks, the order of waiting questions, the thread starter
// and the folder-not-empty question.
#include "core/enginebridge.h"

#include "support/kv_testdir.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

class FakeHost : public CInformerHost
{
public:
    void ShowInformer(KV_Informer* informer) override { informer->set_ans(KV_ANS_YES); }
    void WakeUiThread() override { ++wakes; }
    std::atomic<int> wakes{0};
};

TEST(CEngineBridge, WaitingInformersComeBackNewestFirst)
{
    FakeHost host;
    CEngineBridge bridge(host);
    KV_Informer a, b, c;
    bridge.PushInformer(&a);
    bridge.PushInformer(&b);
    bridge.PushInformer(&a);
    bridge.PushInformer(&c);
    EXPECT_EQ(host.wakes, 4);
    // An informer about to be destroyed leaves the stack with all its entries.
    bridge.DropInformer(&a);
    EXPECT_EQ(bridge.PendingInformers(), 2u);
    EXPECT_EQ(bridge.PopInformer(), &c);
    EXPECT_EQ(bridge.PopInformer(), &b);
    EXPECT_EQ(bridge.PopInformer(), nullptr);
}

TEST(CEngineBridge_MT, OnlyOtherThreadsBlockAndTheirThreadsRunANiceStepDown)
{
    FakeHost host;
    CEngineBridge bridge(host);
    EXPECT_FALSE(CEngineBridge::Block());

    struct Seen
    {
        std::atomic<bool> done{false};
        bool block = false;
        int nice = 0;
    } seen;
    errno = 0;
    const int mine = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    ASSERT_EQ(errno, 0);
    ASSERT_TRUE(CEngineBridge::StartThread(
        [](void* arg) -> unsigned int {
            auto* s = static_cast<Seen*>(arg);
            s->block = CEngineBridge::Block();
            s->nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            s->done = true;
            return 0;
        },
        &seen));
    while (!seen.done) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(seen.block);
    EXPECT_EQ(seen.nice, std::min(mine + 1, 19));
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), mine);
}

TEST(CEngineBridge_MT, WithoutABridgeQuestionsAreAnsweredNone)
{
    KV_Informer informer;
    KV_Informer::set_impl_block(&CEngineBridge::Block);
    KV_Informer::set_impl_ask(&CEngineBridge::Ask);
    std::atomic<int> ans{-1};
    std::thread t([&] { ans = informer.ask("question", KV_ANS_YES, KV_ASK_YES_NO, nullptr); });
    t.join();
    KV_Informer::set_impl_block(nullptr);
    KV_Informer::set_impl_ask(nullptr);
    EXPECT_EQ(ans, KV_ANS_NONE);
}

class DirNotEmptyTest : public kvtest::TempDirTest
{
};

TEST_F(DirNotEmptyTest, OnlyASubfolderCounts)
{
    const std::string d = dir.c_str();
    ASSERT_EQ(mkdir((d + "/empty").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((d + "/files").c_str(), 0755), 0);
    ASSERT_TRUE(kvtest::write_file(d + "/files/a.txt", "x"));
    ASSERT_EQ(symlink(d.c_str(), (d + "/files/link").c_str()), 0);
    ASSERT_EQ(mkdir((d + "/nested").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((d + "/nested/.hidden").c_str(), 0755), 0);
    struct Case
    {
        std::string path;
        bool nempty;
    };
    const Case cases[] = {
        {d + "/empty", false},      {d + "/files", false}, // a link to a folder is no subfolder
        {d + "/nested", true},      {d + "/nested/", true},
        {d + "/missing", true}, // cannot be read: offered for expanding
        {d + "/files/a.txt", true}, {"", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CEngineBridge::DirNotEmpty(KV_String(c.path.c_str())), c.nempty) << c.path;
    }
}

} // namespace
