// The program's version information, compiled in by the build.
#include "core/versioninfo.h"

#include <gtest/gtest.h>

namespace {

TEST(CVersionInfo, ReadsTheRunningProgramOnly)
{
    CVersionInfo info;
    ASSERT_TRUE(info.Read("/proc/self/exe"));
    EXPECT_EQ(info.GetProductVersion(), kv_program_version_block.product_version);
    EXPECT_EQ(info.GetProductName().toStdString(), "Kivrel");
    EXPECT_FALSE(info.GetCompanyName().isEmpty());

    // Any other file has no version information and empties the object.
    EXPECT_FALSE(info.Read("/bin/sh"));
    EXPECT_EQ(info.GetProductVersion(), 0u);
    EXPECT_TRUE(info.GetProductName().isEmpty());
    EXPECT_FALSE(info.Read("/no/such/file"));
}

TEST(CVersionInfo, StringsComeFromTheFirstTranslationElseTheDefaultTable)
{
    const uint32_t german[] = {0x04e40407, 0x04b00409};
    const CVersionString strings[] = {
        {"000004e4", "CompanyName", "default table"},
        {"040704e4", "CompanyName", "German table"},
        {"040904b0", "CompanyName", "English table"},
    };
    struct Case
    {
        const char* name;
        CVersionBlock block;
        bool read;
        const char* company;
    };
    const Case cases[] = {
        {"first translation", {true, 7, german, 2, strings, 3}, true, "German table"},
        {"no translation table", {true, 7, nullptr, 0, strings, 3}, true, "default table"},
        {"no fixed information", {false, 7, german, 2, strings, 3}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CVersionInfo info;
        EXPECT_EQ(info.ReadBlock(&c.block), c.read);
        EXPECT_EQ(info.GetCompanyName().toStdString(), c.company);
        EXPECT_TRUE(info.GetComments().isEmpty());
    }
}

} // namespace
