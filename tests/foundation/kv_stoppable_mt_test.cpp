// Stop and pause trees: order of the hooks, thresholds, pauses, waiters woken
// by a stop, registration racing with a stop.
#include "foundation/kv_stoppable.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Generous limit for an event that must come; never reached when all is well.
constexpr uint32_t kMustCome = 10000;
// Short look for an event that must not come (yet); passing never depends on
// the machine's speed.
constexpr uint32_t kMustNotCome = 50;

// Hook calls of several objects, in the order they happened.
class Journal
{
public:
    void add(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(mutex);
        lines.push_back(line);
    }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> guard(mutex);
        std::vector<std::string> out;
        out.swap(lines);
        return out;
    }

private:
    std::mutex mutex;
    std::vector<std::string> lines;
};

// Writes "<name> stop <type>/<threshold>", "<name> pause" and
// "<name> resume" to a journal.
class Probe : public KV_Stoppable
{
public:
    explicit Probe(std::string name = "x", Journal* journal = nullptr)
        : name(std::move(name)), journal(journal)
    {
    }

    bool stopped_at(KV_STOP_TYPE level, KV_STOP_TYPE* out = nullptr) const
    {
        return stopped(out, level);
    }

protected:
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override
    {
        if (journal)
            journal->add(name + " stop " + std::to_string(type) + "/" + std::to_string(threshold));
    }
    void pause_done(bool paused) override
    {
        if (journal)
            journal->add(name + (paused ? " pause" : " resume"));
    }

private:
    std::string name;
    Journal* journal;
};

using Lines = std::vector<std::string>;

TEST(KV_Stoppable, NewObjectRunsAndIsNotPaused)
{
    Probe p;
    KV_STOP_TYPE out = KV_STOP_TERMINATE;
    EXPECT_FALSE(p.stopped(&out, false));
    EXPECT_FALSE(p.stopped(&out, true));
    EXPECT_EQ(out, KV_STOP_TERMINATE) << "out is written only for a stop";
    EXPECT_FALSE(p.paused());
    p.wait_npaused(); // returns at once
}

TEST(KV_Stoppable, StoppedComparesTheLastStopWithTheThreshold)
{
    struct Case
    {
        const char* name;
        KV_STOP_TYPE threshold;
        std::vector<KV_STOP_TYPE> stops;
        bool plain;          // stopped(&t, false)
        bool with_threshold; // stopped(&t, true)
        KV_STOP_TYPE type;   // t when stopped
    };
    constexpr KV_STOP_TYPE N = KV_STOP_NONE, C = KV_STOP_CANCEL, T = KV_STOP_TERMINATE;
    const Case cases[] = {
        {"never stopped", C, {}, false, false, N},
        {"cancel", C, {C}, true, true, C},
        {"terminate threshold ignores cancel", T, {C}, true, false, C},
        {"terminate after cancel counts", T, {C, T}, true, true, T},
        {"last stop wins", C, {T, C}, true, true, C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Probe p;
        p.set_stop_type(c.threshold);
        for (KV_STOP_TYPE s : c.stops)
            p.stop(s);

        KV_STOP_TYPE t = KV_STOP_NONE;
        EXPECT_EQ(p.stopped(&t, false), c.plain);
        if (c.plain) {
            EXPECT_EQ(t, c.type);
        }
        t = KV_STOP_NONE;
        EXPECT_EQ(p.stopped(&t, true), c.with_threshold);
        if (c.with_threshold) {
            EXPECT_EQ(t, c.type);
        }
        EXPECT_EQ(p.stopped_at(KV_STOP_TERMINATE), c.type == KV_STOP_TERMINATE);
        EXPECT_EQ(p.stopped(nullptr, false), c.plain) << "null out is accepted";
    }
    EXPECT_TRUE(KV_Stoppable::stopped(KV_STOP_TERMINATE, KV_STOP_CANCEL));
    EXPECT_FALSE(KV_Stoppable::stopped(KV_STOP_CANCEL, KV_STOP_TERMINATE));
}

TEST(KV_Stoppable, ChildrenStopInOrderBeforeTheParentHook)
{
    Journal j;
    Probe parent("P", &j), a("A", &j), b("B", &j), a1("A1", &j);
    parent.stop_reg(&a);
    parent.stop_reg(&b);
    a.stop_reg(&a1);
    b.set_stop_type(KV_STOP_TERMINATE);

    parent.stop(KV_STOP_CANCEL);

    EXPECT_EQ(j.take(), (Lines{"A1 stop 1/1", "A stop 1/1", "B stop 1/2", "P stop 1/1"}));
    for (Probe* p : {&parent, &a, &b, &a1})
        EXPECT_TRUE(p->stopped(nullptr, false));
    EXPECT_FALSE(b.stopped(nullptr, true)) << "B counts only a terminate";

    parent.stop(KV_STOP_TERMINATE);
    EXPECT_EQ(j.take(), (Lines{"A1 stop 2/1", "A stop 2/1", "B stop 2/2", "P stop 2/1"}));
    EXPECT_TRUE(b.stopped(nullptr, true));
}

TEST(KV_Stoppable, PauseFollowsTheTreeAndStoppedObjectsRefuseIt)
{
    Journal j;
    Probe parent("P", &j), a("A", &j), b("B", &j);
    parent.stop_reg(&a);
    parent.stop_reg(&b);
    b.stop(KV_STOP_CANCEL);
    j.take();

    parent.set_paused(true);
    EXPECT_EQ(j.take(), (Lines{"A pause", "P pause"})) << "a stopped child ignores a pause";
    EXPECT_TRUE(parent.paused());
    EXPECT_TRUE(a.paused());
    EXPECT_FALSE(b.paused());
    b.wait_npaused(); // a stopped object never blocks

    parent.set_paused(false);
    EXPECT_EQ(j.take(), (Lines{"A resume", "B resume", "P resume"}))
        << "a resume reaches every child, stopped or not";
    EXPECT_FALSE(parent.paused());
    EXPECT_FALSE(a.paused());
    a.wait_npaused();

    // A stop ends a pause; a stopped object cannot be paused again.
    parent.set_paused(true);
    parent.stop(KV_STOP_CANCEL);
    EXPECT_FALSE(parent.paused());
    EXPECT_FALSE(a.paused());
    j.take();
    parent.set_paused(true);
    EXPECT_EQ(j.take(), Lines{});
    EXPECT_FALSE(parent.paused());
    parent.wait_npaused();
}

// A thread asleep in wait_npaused() wakes when the object (or an ancestor) is
// stopped or resumed, and not before.
TEST(KV_Stoppable, WaitNpausedIsReleasedByStopOrResume)
{
    struct Case
    {
        const char* name;
        bool through_parent;
        void (*release)(Probe& target);
    };
    const Case cases[] = {
        {"cancel", false, [](Probe& p) { p.stop(KV_STOP_CANCEL); }},
        {"terminate of the parent", true, [](Probe& p) { p.stop(KV_STOP_TERMINATE); }},
        {"resume", false, [](Probe& p) { p.set_paused(false); }},
        {"resume of the parent", true, [](Probe& p) { p.set_paused(false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Probe parent, child;
        parent.stop_reg(&child);
        Probe& target = c.through_parent ? parent : child;
        target.set_paused(true);
        ASSERT_TRUE(child.paused());

        KV_Event entered(false, true), left(false, true);
        std::thread waiter([&] {
            entered.set();
            child.wait_npaused();
            left.set();
        });
        ASSERT_FALSE(entered.wait(kMustCome));
        EXPECT_TRUE(left.wait(kMustNotCome)) << "woke while still paused";

        c.release(target);
        EXPECT_FALSE(left.wait(kMustCome)) << "still asleep after the release";
        waiter.join();
        parent.stop_unreg(&child);
    }
}

TEST(KV_Stoppable, ChildRegisteredAfterTheStopIsStoppedAtRegistration)
{
    Journal j;
    Probe parent("P", &j), late("L", &j);
    parent.stop(KV_STOP_TERMINATE);
    j.take();

    parent.stop_reg(&late);
    EXPECT_EQ(j.take(), Lines{"L stop 2/1"}) << "stopped before stop_reg returned";
    KV_STOP_TYPE t = KV_STOP_NONE;
    EXPECT_TRUE(late.stopped(&t, false));
    EXPECT_EQ(t, KV_STOP_TERMINATE);

    // A pause is not handed on at registration.
    Probe paused_parent, fresh;
    paused_parent.set_paused(true);
    paused_parent.stop_reg(&fresh);
    EXPECT_FALSE(fresh.paused());
    EXPECT_FALSE(fresh.stopped(nullptr, false));
    paused_parent.stop_unreg(&fresh);
    parent.stop_unreg(&late);
}

TEST(KV_Stoppable, StopResetRevivesOnlyTheObject)
{
    Probe parent, child;
    parent.stop_reg(&child);
    parent.set_paused(true);
    parent.stop(KV_STOP_CANCEL);

    parent.stop_reset();
    EXPECT_FALSE(parent.stopped(nullptr, false));
    EXPECT_FALSE(parent.paused());
    EXPECT_TRUE(child.stopped(nullptr, false)) << "children keep their stop";

    parent.set_paused(true);
    EXPECT_TRUE(parent.paused()) << "a revived object can be paused again";
    parent.set_paused(false);
    parent.stop_unreg(&child);
}

TEST(KV_Stoppable, RegistrationIsOncePerChildAndUnregistrationCutsTheLink)
{
    Journal j;
    Probe parent("P", &j), a("A", &j), b("B", &j);
    parent.stop_reg(&a);
    parent.stop_reg(&a); // a second entry would outlive the one stop_unreg
    parent.stop_reg(&b);
    parent.stop_reg(nullptr);
    parent.stop_reg(&parent); // would take its own lock twice when stopped

    parent.stop_unreg(&a);
    parent.stop(KV_STOP_CANCEL);
    EXPECT_EQ(j.take(), (Lines{"B stop 1/1", "P stop 1/1"}));
    EXPECT_FALSE(a.stopped(nullptr, false));
    parent.stop_unreg(&b);
}

TEST(KV_Stoppable, CopyTakesTheStateButNotTheChildren)
{
    Journal j;
    Probe orig("O", &j), child("C", &j);
    orig.stop_reg(&child);
    orig.set_stop_type(KV_STOP_TERMINATE);
    orig.set_paused(true);
    j.take();

    Probe copy(orig);
    EXPECT_TRUE(copy.paused());
    copy.set_paused(false);
    copy.wait_npaused();
    j.take();
    copy.stop(KV_STOP_CANCEL);
    EXPECT_EQ(j.take(), Lines{"O stop 1/2"}) << "the copy's own stop only (name is copied)";
    EXPECT_FALSE(copy.stopped(nullptr, true)) << "threshold copied";
    EXPECT_FALSE(child.stopped(nullptr, false));
    EXPECT_TRUE(orig.paused());

    Probe assigned;
    assigned = copy;
    KV_STOP_TYPE t = KV_STOP_NONE;
    EXPECT_TRUE(assigned.stopped(&t, false));
    EXPECT_EQ(t, KV_STOP_CANCEL);
    EXPECT_FALSE(assigned.stopped(nullptr, true));
    assigned.wait_npaused();
    orig.stop_unreg(&child);
}

// Children come and go on many threads while the parent is paused, resumed
// and finally stopped: a child registered before the stop finished must end
// up stopped, whichever way the race went.
TEST(KV_Stoppable, RegistrationRacingAStopNeverMissesIt)
{
    Probe parent;
    std::atomic<bool> stop_over{false};
    std::atomic<bool> quit{false};
    std::atomic<int> missed{0};
    std::atomic<int> checked{0};

    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            while (!quit.load()) {
                Probe child;
                parent.stop_reg(&child);
                const bool after_stop = stop_over.load();
                child.wait_npaused(); // a pause never outlasts the stop
                if (after_stop) {
                    checked.fetch_add(1);
                    if (!child.stopped(nullptr, false))
                        missed.fetch_add(1);
                }
                parent.stop_unreg(&child);
            }
        });
    }
    std::thread pauser([&] {
        for (int i = 0; i < 200; ++i) {
            parent.set_paused(true);
            parent.set_paused(false);
        }
    });
    pauser.join();
    parent.stop(KV_STOP_CANCEL);
    stop_over.store(true);
    while (checked.load() < 200)
        std::this_thread::yield();
    quit.store(true);
    for (std::thread& t : workers)
        t.join();
    EXPECT_EQ(missed.load(), 0);
}

} // namespace
