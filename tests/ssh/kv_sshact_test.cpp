// The action bases: the success flag only falls, an action runs only over
// a live connection, and the SSH login data takes any login data.
#include <gtest/gtest.h>

#include "datasources/kv_sshlogindata.h"
#include "ssh/kv_sshact.h"
#include "support/kv_sshconn.h"
#include "support/kv_testtools.h"

namespace {

using namespace kvtest;

// Runs `inner` as a step on its own manager.
class StepAct : public KV_SshAct
{
public:
    bool run() override { return inner.exec(this); }
    CountAct inner;
};

TEST(KvSshAct, RunsOnlyOverALiveConnection)
{
    TestSshMan man;
    CountAct act;
    EXPECT_FALSE(man.exec_impl(&act));
    EXPECT_FALSE(act.executed());
    EXPECT_EQ(act.runs, 0);
    EXPECT_EQ(act.ssh(), &man);
    EXPECT_FALSE(man.exec_impl(nullptr));
    // A step on another action with no manager, and on a null action.
    StepAct step;
    EXPECT_FALSE(step.inner.exec(&step));
    EXPECT_FALSE(step.inner.exec(static_cast<KV_SshAct*>(nullptr)));
}

TEST(KvSshAct, FlagOnlyFallsAndCopiesKeepIt)
{
    CountAct act;
    EXPECT_TRUE(act.executed());
    act.set_executed(true);
    EXPECT_TRUE(act.executed());
    act.set_executed(false);
    act.set_executed(true);
    EXPECT_FALSE(act.executed());
    CountAct copy(act);
    EXPECT_FALSE(copy.executed());
    CountAct fresh;
    fresh = act;
    EXPECT_FALSE(fresh.executed());
    EXPECT_TRUE(act == &act);
    EXPECT_FALSE(act == &copy);
    EXPECT_EQ(act < &copy, &act < &copy);
}

TEST(KvSshAct, ExecOnAStoppedManagerReportsNothing)
{
    TestSshMan man;
    man.set_addrs("", "127.0.0.1:1", KV_ProxyOptsSsh());
    KV_Stoppable stopper;
    stopper.stop(KV_STOP_CANCEL);
    man.stop(KV_STOP_CANCEL);
    LogErr err;
    CountAct act;
    // exec resets the manager's own stop, but the worker's stop was before
    // it: the closed port fails without a report to a stopped worker.
    man.exec(err, act, &stopper);
    EXPECT_FALSE(act.executed());
    EXPECT_EQ(act.runs, 0);
    EXPECT_EQ(err.count(), 0u);
}

TEST(KvSshLoginData, TakesAnyLoginData)
{
    KV_LoginData plain;
    plain.set_user("someone");
    plain.set_pass("p w");
    KV_SshLoginData ssh;
    ssh = plain;
    EXPECT_EQ(ssh.user(), "someone");
    EXPECT_EQ(ssh.pass(), "p w");
    EXPECT_TRUE(ssh == KV_SshLoginData("someone", "p w"));
}

} // namespace
