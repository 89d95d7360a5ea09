// The SSH transport against OpenSSH's sshd 9.2, started per test with a
// config of the test's own (support/kv_sshd.h) that switches on the legacy
// algorithms this client offers.
#include <gtest/gtest.h>

#include <poll.h>
#include <string>

#include "support/kv_nettest.h"
#include "support/kv_sshd.h"

namespace {

using namespace kvtest;

// The fixture itself: sshd answers with its identification line.
TEST(SshPeer, SshdStartsAndIdentifies)
{
    Sshd sshd;
    if (!sshd.ready())
        GTEST_SKIP() << sshd.why();
    Fd fd = plain_connect(sshd.port());
    ASSERT_TRUE(fd.ok());
    std::string line;
    char c = 0;
    while (line.size() < 255) {
        pollfd p{fd.get(), POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, kMustComeMs), 0) << sshd.log();
        if (::recv(fd.get(), &c, 1, 0) != 1 || c == '\n')
            break;
        line += c;
    }
    EXPECT_EQ(line.rfind("SSH-2.0-OpenSSH_9.2", 0), 0u) << line;
}

} // namespace
