#include "requests/kv_sessinfo.h"

#include <gtest/gtest.h>

#include <functional>

#include "foundation/kv_port.h"

namespace {

// Sessions report their state only when it differs from the last report, so
// every field must take part in the comparison.
TEST(KV_SessInfo, EveryFieldCountsForEquality)
{
    struct Case
    {
        const char* name;
        std::function<void(KV_SessInfo&)> change;
    };
    const Case cases[] = {
        {"bytes received", [](KV_SessInfo& i) { i.set_bytes_recv(1); }},
        {"bytes sent", [](KV_SessInfo& i) { i.set_bytes_sent(1ull << 40); }},
        {"receive speed", [](KV_SessInfo& i) { i.set_speed_recv(0.5); }},
        {"send speed", [](KV_SessInfo& i) { i.set_speed_send(1e6); }},
        {"type", [](KV_SessInfo& i) { i.set_type(KV_SESS_TYPE_FTP_DATA); }},
        {"running", [](KV_SessInfo& i) { i.set_run(true); }},
        {"error", [](KV_SessInfo& i) { i.set_err(true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_SessInfo info;
        c.change(info);
        EXPECT_FALSE(info == KV_SessInfo());
        KV_SessInfo copy;
        copy = info;
        EXPECT_TRUE(copy == info);
    }
}

TEST(KV_SessInfo, RunAndErrorAreIndependentBits)
{
    KV_SessInfo info;
    info.set_run(true);
    info.set_err(true);
    info.set_run(false);
    EXPECT_FALSE(info.running());
    EXPECT_TRUE(info.error());
    info.set_run(true);
    info.set_err(false);
    EXPECT_TRUE(info.running());
    EXPECT_FALSE(info.error());
}

TEST(KV_SessLogInfo, CarriesItsLineAndNeverCompares)
{
    KV_SessLogInfo line(KV_SESS_LOG_KEEP_ALIVE, "NOOP", true);
    KV_SessLogInfo copy;
    EXPECT_EQ(copy.kind(), static_cast<KV_SESS_LOG>(0));
    copy = line;
    EXPECT_EQ(copy.kind(), KV_SESS_LOG_KEEP_ALIVE);
    EXPECT_EQ(copy.text(), "NOOP");
    EXPECT_TRUE(copy.err());
    EXPECT_FALSE(copy == line);
    EXPECT_FALSE(copy < line);
}

TEST(KV_Port, TextForms)
{
    struct Case
    {
        KV_Port port;
        const char* decimal;
        const char* ftp;
    };
    const Case cases[] = {
        {KV_Port(), "0", "0,0"},
        {KV_Port(21), "21", "0,21"},
        {KV_Port(1025), "1025", "4,1"},
        {KV_Port(4, 1), "1025", "4,1"},
        {KV_Port(255, 255), "65535", "255,255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decimal);
        KV_String text = c.port;
        EXPECT_EQ(text, c.decimal);
        EXPECT_EQ(c.port.as_ftp_def(), c.ftp);
    }
    KV_Port port;
    port = static_cast<uint16_t>(8080);
    EXPECT_EQ(static_cast<uint16_t>(port), 8080);
}

} // namespace
