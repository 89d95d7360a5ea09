// How a large file is cut into fragments for parallel fetches.
#include <gtest/gtest.h>

#include <cstdint>

#include "transfers/kv_tavotrans.h"

namespace {

constexpr int64_t MiB = 1024 * 1024;

TEST(FragSize, AsManyFragmentsAsWorkersWhileEachReachesTheMinimum)
{
    struct Case
    {
        int64_t size;
        uint32_t workers;
        int64_t min;
        int64_t want; // 0: the file goes whole
    };
    const Case cases[] = {
        {10 * MiB, 4, MiB, 2621440},     // four equal fragments
        {3 * MiB / 2, 4, MiB, 0},        // two would already be short
        {2 * MiB, 4, MiB, MiB},          // exactly two of the minimum
        {3 * MiB, 4, MiB, MiB},          // three
        {10 * MiB + 1, 4, MiB, 2621441}, // the remainder rounds up
        {10 * MiB, 1, MiB, 0},           // a single worker
        {10 * MiB, 0, MiB, 0},           // no workers known
        {10 * MiB, 4, 0, 0},             // no minimum: not segmented
        {0, 4, MiB, 0},                  // empty
        {-1, 4, MiB, 0},                 // unknown size
        {INT64_MAX, 8, MiB, INT64_MAX / 8 + 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KV_TavoTrans::frag_size(c.size, c.workers, c.min), c.want)
            << c.size << " bytes, " << c.workers << " workers, min " << c.min;
}

TEST(FragSize, FragmentsCoverTheFileWithoutAnEmptyOne)
{
    for (int64_t size = 1; size < 64; ++size) {
        for (uint32_t n = 2; n <= 5; ++n) {
            const int64_t f = KV_TavoTrans::frag_size(size, n, 3);
            if (f == 0)
                continue;
            const int64_t count = (size + f - 1) / f;
            EXPECT_GE(f, 3);
            EXPECT_LE(count, n);
            EXPECT_GT(size - (count - 1) * f, 0) << size << "/" << n;
        }
    }
}

} // namespace
