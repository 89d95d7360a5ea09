#include "foundation/kv_informer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint32_t DOORBELL = 0xC123;

std::atomic<int> msgs_alive{0};

// A message that counts its instances, so that a test sees every message
// freed exactly once.
class CountedMsg : public KV_Msg
{
public:
    explicit CountedMsg(int id = 0) : id(id) { ++msgs_alive; }
    ~CountedMsg() override { --msgs_alive; }
    KV_MSG type() const override { return KV_MSG_STD; }
    int id;
};

// The test's stand-in for the program's user-interface thread: a queue of
// events that the hooks fill and the test's "UI" loop drains.
struct UiEvent
{
    enum Kind { BELL, ASK } kind;
    KV_Informer* informer;
    bool blocking;
};

class UiQueue
{
public:
    void push(const UiEvent& e)
    {
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back(e);
        cond.notify_all();
    }
    bool pop(UiEvent& e, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> guard(mutex);
        if (!cond.wait_for(guard, timeout, [this] { return !events.empty(); })) {
            return false;
        }
        e = events.front();
        events.pop_front();
        return true;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(mutex);
        events.clear();
    }

private:
    std::mutex mutex;
    std::condition_variable cond;
    std::deque<UiEvent> events;
};

UiQueue ui;
std::atomic<int> posts{0};
// Doorbells posted and not yet handled by the UI loop; never above 1.
std::atomic<int> bells_outstanding{0};
std::atomic<int> max_outstanding{0};
std::atomic<bool> bad_post_args{false};
std::thread::id ui_thread;

// The window handle is the informer itself, as a host may map it.
bool post_hook(KV_HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam)
{
    if (msg != DOORBELL || wparam != 0 || lparam != 0 || !wnd) {
        bad_post_args = true;
    }
    ++posts;
    int now = ++bells_outstanding;
    int seen = max_outstanding.load();
    while (now > seen && !max_outstanding.compare_exchange_weak(seen, now)) {
    }
    ui.push({UiEvent::BELL, static_cast<KV_Informer*>(wnd), false});
    return true;
}

// Questions from threads other than the UI thread wait for the UI loop.
bool block_hook()
{
    return std::this_thread::get_id() != ui_thread;
}

void queue_hook(KV_Informer* informer, bool blocking)
{
    ui.push({UiEvent::ASK, informer, blocking});
}

class InformerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ui.clear();
        posts = 0;
        bells_outstanding = 0;
        max_outstanding = 0;
        bad_post_args = false;
        msgs_alive = 0;
        ui_thread = std::this_thread::get_id();
        KV_Informer::set_ntf_msg(DOORBELL);
        KV_Informer::set_impl_post(post_hook);
    }
    void TearDown() override
    {
        KV_Informer::set_impl_post(nullptr);
        KV_Informer::set_impl_ask(nullptr);
        KV_Informer::set_impl_block(nullptr);
        KV_Informer::set_ntf_msg(0);
        EXPECT_FALSE(bad_post_args);
    }

    // Handles one doorbell the way the program does: take everything, free
    // it, re-arm. Returns the number of messages taken.
    static int answer_bell(KV_Informer& informer)
    {
        --bells_outstanding;
        int n = 0;
        while (KV_Msg* msg = informer.pop()) {
            KV_Informer::destroy(msg);
            ++n;
        }
        informer.inform();
        return n;
    }
};

TEST_F(InformerTest, OneDoorbellForManyMessages)
{
    KV_Informer informer;
    informer.set_wnd(&informer);
    EXPECT_EQ(informer.hwnd(), &informer);
    for (int i = 0; i < 10; ++i) {
        informer.send(new CountedMsg(i));
    }
    EXPECT_EQ(posts, 1);
    for (int i = 0; i < 10; ++i) {
        KV_Msg* msg = informer.pop();
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(static_cast<CountedMsg*>(msg)->id, i) << "oldest first";
        KV_Informer::destroy(msg);
    }
    EXPECT_EQ(informer.pop(), nullptr);
    informer.inform();
    EXPECT_EQ(posts, 1) << "an empty queue rings nothing";
    informer.send(new CountedMsg(10));
    EXPECT_EQ(posts, 2) << "re-armed: the next message rings again";
}

TEST_F(InformerTest, InformRingsAgainWhileMessagesRemain)
{
    KV_Informer informer;
    informer.set_wnd(&informer);
    for (int i = 0; i < 3; ++i) {
        informer.send(new CountedMsg(i));
    }
    KV_Informer::destroy(informer.pop());
    EXPECT_EQ(posts, 1);
    informer.inform();
    EXPECT_EQ(posts, 2);
    informer.send(new CountedMsg(3));
    EXPECT_EQ(posts, 2) << "a doorbell is outstanding again";
}

TEST_F(InformerTest, MessagesSentBeforeTheWindowRingAfterInform)
{
    KV_Informer informer;
    informer.send(new CountedMsg(1));
    informer.send(new CountedMsg(2));
    EXPECT_EQ(posts, 0);
    informer.set_wnd(&informer);
    EXPECT_EQ(posts, 0) << "attaching the window rings nothing by itself";
    informer.inform();
    EXPECT_EQ(posts, 1);
}

TEST_F(InformerTest, NothingIsPostedWithoutHookOrNumber)
{
    KV_Informer informer;
    informer.set_wnd(&informer);
    KV_Informer::set_ntf_msg(0);
    informer.send(new CountedMsg);
    informer.inform();
    KV_Informer::set_ntf_msg(DOORBELL);
    KV_Informer::set_impl_post(nullptr);
    informer.inform();
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(msgs_alive, 1) << "the message waits in the queue";
}

TEST_F(InformerTest, QueuedAndLateMessagesAreFreed)
{
    {
        KV_Informer informer;
        informer.send(nullptr);
        informer.send(new CountedMsg);
        informer.send(new CountedMsg);
        EXPECT_EQ(msgs_alive, 2);
        informer.shutdown();
        EXPECT_EQ(msgs_alive, 0) << "shutdown frees what is queued";
        EXPECT_EQ(informer.pop(), nullptr);
        informer.send(new CountedMsg);
        EXPECT_EQ(msgs_alive, 0) << "a send after shutdown frees its message";
        informer.send(new CountedMsg);
    }
    {
        KV_Informer informer;
        informer.send(new CountedMsg);
    }
    EXPECT_EQ(msgs_alive, 0) << "the destructor frees what is queued";
}

TEST_F(InformerTest, AskWithoutHooksAnswersNothing)
{
    KV_Informer informer;
    EXPECT_EQ(informer.ask("Overwrite?", KV_ANS_YES, KV_ASK_YES_NO, nullptr), KV_ANS_NONE);
    KV_Informer::set_impl_block(block_hook);
    EXPECT_EQ(informer.ask("Overwrite?", KV_ANS_YES, KV_ASK_YES_NO, nullptr), KV_ANS_NONE)
        << "the ask hook is missing";
    KV_Informer::set_impl_block(nullptr);
    KV_Informer::set_impl_ask(queue_hook);
    EXPECT_EQ(informer.ask("Overwrite?", KV_ANS_YES, KV_ASK_YES_NO, nullptr), KV_ANS_NONE)
        << "the block hook is missing";
    UiEvent e;
    EXPECT_FALSE(ui.pop(e, 0ms)) << "no dialog was started";
}

// A host that shows the dialog at once, on the asking thread.
struct Seen
{
    KV_String msg;
    KV_DLG dlg;
    KV_ASK kind;
    KV_ANS def;
    uint8_t prio;
    void* params;
    bool blocking;
};
Seen seen;

void modal_hook(KV_Informer* informer, bool blocking)
{
    seen = {informer->msg(),
            informer->dlg(),
            informer->dlg_ask(),
            informer->def_ans(),
            informer->err_prio(),
            informer->params(),
            blocking};
    informer->set_ans(KV_ANS_YES_ALL);
}

TEST_F(InformerTest, ModalHostAnswersInsideTheHook)
{
    KV_Informer informer;
    EXPECT_EQ(informer.dlg(), KV_DLG_NONE);
    EXPECT_EQ(informer.err_prio(), 2);
    KV_Informer::set_impl_block([] { return false; });
    KV_Informer::set_impl_ask(modal_hook);
    int context = 0;
    EXPECT_EQ(informer.ask("Trust this server?", KV_ANS_NO, KV_ASK_TRUST, &context),
              KV_ANS_YES_ALL);
    EXPECT_EQ(seen.msg, "Trust this server?");
    EXPECT_EQ(seen.dlg, KV_DLG_ASK);
    EXPECT_EQ(seen.kind, KV_ASK_TRUST);
    EXPECT_EQ(seen.def, KV_ANS_NO);
    EXPECT_EQ(seen.params, &context);
    EXPECT_FALSE(seen.blocking);
}

// Questions from other threads wait for the UI loop; the UI thread's own are
// shown (and answered) at once.
void nesting_hook(KV_Informer* informer, bool blocking)
{
    if (blocking) {
        queue_hook(informer, blocking);
    } else {
        modal_hook(informer, blocking);
    }
}

// The user-interface thread puts a question and an error of its own while a
// worker waits for the answer to another question: each asker gets its own
// answer, and the worker's question is still there to be shown afterwards.
TEST_F(InformerTest, UiDialogsNestInsideAPendingWorkerQuestion)
{
    KV_Informer informer;
    KV_Informer::set_impl_block(block_hook);
    KV_Informer::set_impl_ask(nesting_hook);
    informer.set_impl_err(nesting_hook);
    int worker_ctx = 0;
    int ui_ctx = 0;
    std::atomic<bool> worker_done{false};
    KV_ANS worker_ans = KV_ANS_NONE;
    std::thread worker([&] {
        worker_ans = informer.ask("Overwrite a.txt?", KV_ANS_YES, KV_ASK_YES_ALL, &worker_ctx);
        worker_done = true;
    });
    // Releases and joins the worker however the test ends.
    struct Join
    {
        KV_Informer& informer;
        std::thread& thread;
        ~Join()
        {
            informer.shutdown();
            thread.join();
        }
    } join{informer, worker};
    UiEvent e;
    ASSERT_TRUE(ui.pop(e, 10s)) << "the worker's question reached the UI loop";
    ASSERT_TRUE(e.blocking);

    EXPECT_EQ(informer.ask("Trust this server?", KV_ANS_NO, KV_ASK_TRUST, &ui_ctx), KV_ANS_YES_ALL);
    EXPECT_EQ(seen.msg, "Trust this server?");
    EXPECT_EQ(seen.kind, KV_ASK_TRUST);
    EXPECT_EQ(seen.def, KV_ANS_NO);
    EXPECT_EQ(seen.params, &ui_ctx);
    EXPECT_FALSE(seen.blocking);
    informer.set_err(3, KV_String("disk full"));
    EXPECT_EQ(seen.dlg, KV_DLG_ERR);
    EXPECT_EQ(seen.msg, "disk full");
    EXPECT_FALSE(worker_done) << "an answer to the UI's dialogs woke the worker";

    // The UI loop now shows the worker's question as it was put.
    EXPECT_EQ(e.informer->dlg(), KV_DLG_ASK);
    EXPECT_EQ(e.informer->msg(), "Overwrite a.txt?");
    EXPECT_EQ(e.informer->dlg_ask(), KV_ASK_YES_ALL);
    EXPECT_EQ(e.informer->def_ans(), KV_ANS_YES);
    EXPECT_EQ(e.informer->params(), &worker_ctx);
    e.informer->set_ans(KV_ANS_NO);
    while (!worker_done) {
        std::this_thread::yield();
    }
    EXPECT_EQ(worker_ans, KV_ANS_NO);
}

// A worker's error dialog waits for the user; meanwhile the user-interface
// thread reports an error of its own. It must be shown at once: the UI thread
// waiting behind the worker's dialog would freeze the program, since that
// dialog can only be closed by the UI thread.
TEST_F(InformerTest, UiErrorIsShownWhileAWorkerErrorWaits)
{
    KV_Informer informer;
    KV_Informer::set_impl_block(block_hook);
    informer.set_impl_err(nesting_hook);
    std::thread worker([&] { informer.set_err(1, KV_String("connection lost")); });
    UiEvent e;
    ASSERT_TRUE(ui.pop(e, 10s)) << "the worker's error reached the UI loop";
    ASSERT_TRUE(e.blocking);
    EXPECT_EQ(e.informer->msg(), "connection lost");

    // The UI stands on a thread of its own here, so that the test can free it
    // by closing the worker's dialog when the UI's error waits behind it.
    std::atomic<bool> ui_done{false};
    std::mutex m;
    std::condition_variable cv;
    std::thread ui_side([&] {
        ui_thread = std::this_thread::get_id();
        informer.set_err(3, KV_String("disk full"));
        std::lock_guard<std::mutex> guard(m);
        ui_done = true;
        cv.notify_all();
    });
    bool shown_at_once;
    {
        std::unique_lock<std::mutex> guard(m);
        shown_at_once = cv.wait_for(guard, 10s, [&] { return ui_done.load(); });
    }
    e.informer->set_ans(KV_ANS_YES);
    ui_side.join();
    worker.join();
    EXPECT_TRUE(shown_at_once) << "the UI's error waited for the worker's dialog";
    EXPECT_EQ(seen.dlg, KV_DLG_ERR);
    EXPECT_EQ(seen.msg, "disk full");
    EXPECT_EQ(seen.prio, 3);
    EXPECT_FALSE(seen.blocking);
}

TEST_F(InformerTest, ErrorsBecomeMessagesWithoutAnErrorHook)
{
    KV_Informer informer;
    KV_Informer::set_impl_block([] { return false; });
    informer.set_err(1, "FTP: %d %s", 550, "No such file");
    KV_Msg* msg = informer.pop();
    ASSERT_NE(msg, nullptr);
    ASSERT_EQ(msg->type(), KV_MSG_ERR);
    EXPECT_EQ(static_cast<KV_MsgErrNtf*>(msg)->prio, 1);
    EXPECT_EQ(static_cast<KV_MsgErrNtf*>(msg)->text, "FTP: 550 No such file");
    KV_Informer::destroy(msg);

    informer.set_impl_err(modal_hook);
    informer.set_err(3, KV_String("disk full"));
    EXPECT_EQ(informer.pop(), nullptr) << "shown as a dialog instead";
    EXPECT_EQ(seen.dlg, KV_DLG_ERR);
    EXPECT_EQ(seen.prio, 3);
    EXPECT_EQ(seen.msg, "disk full");
}

// Workers ask while they also send messages; the UI loop pumps doorbells and
// answers each question with a number derived from its text. The answers
// only match when each question keeps its dialog fields until answered.
TEST_F(InformerTest, BlockingQuestionsAreAnsweredByTheUiThread)
{
    KV_Informer informer;
    informer.set_wnd(&informer);
    KV_Informer::set_impl_block(block_hook);
    KV_Informer::set_impl_ask(queue_hook);

    constexpr int workers = 4;
    std::atomic<int> done{0};
    std::vector<KV_ANS> answers(workers, KV_ANS_NONE);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < 20; ++i) {
                informer.send(new CountedMsg(i));
            }
            KV_String text;
            text.format("question %d", w);
            answers[w] = informer.ask(text, KV_ANS_YES, KV_ASK_YES_ALL, nullptr);
            informer.send(new CountedMsg(99));
            ++done;
        });
    }
    int asks = 0;
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while ((done < workers || msgs_alive > 0) && std::chrono::steady_clock::now() < deadline) {
        UiEvent e;
        if (!ui.pop(e, 10ms)) {
            continue;
        }
        if (e.kind == UiEvent::BELL) {
            ASSERT_EQ(e.informer, &informer);
            answer_bell(informer);
        } else {
            ++asks;
            EXPECT_TRUE(e.blocking);
            EXPECT_EQ(e.informer->dlg(), KV_DLG_ASK);
            int w = static_cast<int>(e.informer->msg().part(9, 10).as_unsigned());
            e.informer->set_ans(static_cast<KV_ANS>(w % 4 + 1));
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(asks, workers);
    for (int w = 0; w < workers; ++w) {
        EXPECT_EQ(answers[w], static_cast<KV_ANS>(w % 4 + 1)) << "worker " << w;
    }
    EXPECT_EQ(msgs_alive, 0);
    EXPECT_LE(max_outstanding, 1);
}

TEST_F(InformerTest, ShutdownReleasesWaitingAskers)
{
    KV_Informer informer;
    KV_Informer::set_impl_block(block_hook);
    KV_Informer::set_impl_ask(queue_hook); // nobody answers
    std::vector<KV_ANS> answers(3, KV_ANS_YES);
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back(
            [&, i] { answers[i] = informer.ask("hello?", KV_ANS_YES, KV_ASK_YES_NO, nullptr); });
    }
    UiEvent e;
    ASSERT_TRUE(ui.pop(e, 10s)) << "the first question reached the host";
    std::this_thread::sleep_for(20ms); // let the others queue behind it
    informer.shutdown();
    for (std::thread& t : threads) {
        t.join();
    }
    for (KV_ANS a : answers) {
        EXPECT_EQ(a, KV_ANS_NONE);
    }
    EXPECT_FALSE(ui.pop(e, 0ms)) << "the waiting questions were never put";
    EXPECT_EQ(informer.ask("again?", KV_ANS_YES, KV_ASK_YES_NO, nullptr), KV_ANS_NONE);
}

// Senders race a shutdown: every message is freed exactly once, whether it
// was queued, popped or sent too late.
TEST_F(InformerTest, SendersRacingShutdownLoseNothing)
{
    for (int round = 0; round < 20; ++round) {
        auto* informer = new KV_Informer;
        informer->set_wnd(informer);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                while (!go) {
                    std::this_thread::yield();
                }
                for (int i = 0; i < 200; ++i) {
                    informer->send(new CountedMsg(i));
                }
            });
        }
        go = true;
        for (int i = 0; i < 50; ++i) {
            UiEvent e;
            if (ui.pop(e, 1ms) && e.kind == UiEvent::BELL) {
                answer_bell(*informer);
            }
        }
        informer->shutdown();
        for (std::thread& t : threads) {
            t.join();
        }
        delete informer;
        ui.clear();
        bells_outstanding = 0;
        ASSERT_EQ(msgs_alive, 0) << "round " << round;
    }
    EXPECT_LE(max_outstanding, 1);
}

std::atomic<bool> hold_hook{false};
std::atomic<bool> in_hook{false};
std::atomic<bool> answered{false};

// A modal host that is slow to close its dialog.
void slow_modal_hook(KV_Informer* informer, bool)
{
    in_hook = true;
    while (hold_hook) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    informer->set_ans(KV_ANS_NO);
    answered = true;
}

// The destructor must not free the informer under a thread that is still
// inside it: here a question whose host answers only after the owner has
// started to destroy the informer.
TEST_F(InformerTest, DestructionWaitsForAThreadInside)
{
    KV_Informer::set_impl_block([] { return false; });
    KV_Informer::set_impl_ask(slow_modal_hook);
    hold_hook = true;
    in_hook = false;
    answered = false;
    auto* informer = new KV_Informer;
    KV_ANS ans = KV_ANS_NONE;
    std::thread asker(
        [&] { ans = informer->ask("Overwrite?", KV_ANS_YES, KV_ASK_YES_NO, nullptr); });
    while (!in_hook) {
        std::this_thread::sleep_for(1ms);
    }
    std::atomic<bool> destroyed{false};
    std::thread owner([&] {
        delete informer;
        destroyed = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(destroyed) << "the destructor waits for the asker";
    hold_hook = false;
    owner.join();
    EXPECT_TRUE(answered) << "the host answered a live informer";
    asker.join();
    EXPECT_EQ(ans, KV_ANS_NO) << "the answer given before the release counts";
}

} // namespace
