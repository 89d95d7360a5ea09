// The same sound at most once a second; a different one always.
#include "core/soundgate.h"

#include <gtest/gtest.h>

namespace {

TEST(CSoundGate, HoldsBackOnlyTheSameSoundWithinASecond)
{
    struct Step
    {
        const char* name;
        int ms;
        bool plays;
    };
    const Step steps[] = {
        {"sounds/reqdone.wav", 0, true},     {"sounds/reqdone.wav", 999, false},
        {"sounds/attn.wav", 999, true},     // another sound is never held back
        {"sounds/reqdone.wav", 1000, true}, // and takes the last one's place
        {"sounds/reqdone.wav", 1500, false}, {"sounds/reqdone.wav", 1999, false},
        {"sounds/reqdone.wav", 2000, true},
    };
    CSoundGate gate;
    const CSoundGate::Clock::time_point start{std::chrono::hours(100)};
    for (const Step& s : steps) {
        EXPECT_EQ(gate.Pass(QString::fromLatin1(s.name), start + std::chrono::milliseconds(s.ms)),
                  s.plays)
            << s.name << " at " << s.ms;
    }
}

} // namespace
