// Entry colours of the file views: the status colours, the lightened
// variants, and the lightening itself.
#include "core/nodecolour.h"

#include <gtest/gtest.h>

namespace {

int R(uint32_t c)
{
    return static_cast<int>(c & 0xFF);
}
int G(uint32_t c)
{
    return static_cast<int>((c >> 8) & 0xFF);
}
int B(uint32_t c)
{
    return static_cast<int>((c >> 16) & 0xFF);
}

TEST(NodeColour, LightenMovesAColourAlongItsOwnDirection)
{
    // Black has no direction: its zero components count as 1, so it turns
    // into an even grey instead of staying black.
    const uint32_t grey = LightenColour(0, 20);
    EXPECT_EQ(R(grey), G(grey));
    EXPECT_EQ(G(grey), B(grey));
    EXPECT_GE(R(grey), 51);
    EXPECT_LE(R(grey), 52);

    // A pure red keeps its hue: the other components grow from 1 only in
    // proportion, and red is clamped at 255.
    const uint32_t red = LightenColour(0x0000FF, 20);
    EXPECT_EQ(R(red), 255);
    EXPECT_LE(G(red), 2);
    EXPECT_EQ(G(red), B(red));

    // Orange lightened by 20 points keeps its proportions until a component
    // reaches 255.
    const uint32_t orange = LightenColour(0x4080FF, 20);
    EXPECT_EQ(R(orange), 255);
    EXPECT_GT(G(orange), 0x80);
    EXPECT_GT(B(orange), 0x40);
    EXPECT_NEAR(static_cast<double>(G(orange)) / B(orange), 2.0, 0.05);

    // 0 points changes nothing but the zero components.
    EXPECT_EQ(LightenColour(0x102030, 0), 0x102030u);
    // Darkening stops at 0, never wraps.
    EXPECT_EQ(LightenColour(0x101010, -100), 0u);
}

TEST(NodeColour, StatusDecidesThenTheVariantLightens)
{
    const uint32_t caller = 0x123456;
    struct Case
    {
        const char* what;
        int status;
        bool valid;
        bool keep;
        int variant;
        uint32_t expected;
    };
    const Case cases[] = {
        {"listing failed", 1, true, true, 0, 0x0000FF},
        {"listing runs", 2, false, false, 0, 0x4080FF},
        {"listing done", 3, true, false, 1, 0x00B000},
        {"valid entry, caller's colour kept", 0, true, true, 0, caller},
        {"valid entry, not kept", 0, true, false, 0, 0},
        {"invalid entry", 0, false, true, 0, 0x00A0A0},
        {"valid entry, variant 2: 70 points", 0, true, false, 2, LightenColour(0, 70)},
        {"invalid entry, variant 2: 20 points", 0, false, false, 2, LightenColour(0x00A0A0, 20)},
        {"valid entry, variant 3: 50 points", 0, true, true, 3, LightenColour(caller, 50)},
        {"failed listing, variant 3: 15 points", 1, false, true, 3, LightenColour(0x0000FF, 15)},
        {"unknown status, invalid", 9, false, true, 4, 0x00A0A0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NodeColour(caller, c.status, c.valid, c.keep, c.variant), c.expected) << c.what;
    }
}

} // namespace
