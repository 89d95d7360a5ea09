// The HTTP client against real servers: Apache with mod_dav (plain, HTTPS
// with a CA of the run, Basic authentication, MaxRanges none), and through
// tinyproxy (HTTP proxy and CONNECT) and dante (SOCKS4, SOCKS5).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "http/kv_httptest.h"
#include "support/kv_apache.h"
#include "support/kv_testdir.h"

namespace {

using namespace kvtest;
using namespace httptest;

class HttpApache : public TempDirTest
{
protected:
    // Starts Apache with opts; false (the test skips) when not installed.
    bool start(const ApacheOpts& opts = ApacheOpts())
    {
        if (!Apache::installed())
            return false;
        apache = std::make_unique<Apache>(opts);
        EXPECT_TRUE(apache->start()) << apache->log();
        return true;
    }

    std::unique_ptr<Apache> apache;
};

TEST_F(HttpApache, GetWholeResource)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    const std::string data = make_bytes(100000);
    ASSERT_TRUE(apache->put("whole.bin", data));
    Conn c(apache->host());
    auto log = down_log(dir, "get.log", static_cast<int64_t>(data.size()));
    ASSERT_TRUE(log);
    KV_HttpActGet get("/whole.bin", "", int64_t{0}, log.get());
    EXPECT_TRUE(c.run(get)) << c.man.err_msg().data() << apache->log();
    EXPECT_EQ(stored(*log), data);
}

} // namespace

namespace {

using namespace kvtest;

// Every option of the fixture gives a server that starts (and, with curl,
// answers as configured).
TEST(HttpApacheFixture, OptionsStart)
{
    if (!Apache::installed())
        GTEST_SKIP() << "apache2 is not installed";
    ApacheOpts tls;
    tls.tls = true;
    ApacheOpts auth;
    auth.basic_auth = true;
    ApacheOpts ranges;
    ranges.max_ranges_none = true;
    for (const ApacheOpts& o : {tls, auth, ranges}) {
        Apache a(o);
        EXPECT_TRUE(a.start()) << a.log();
    }
}

} // namespace
