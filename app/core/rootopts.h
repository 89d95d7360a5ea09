#ifndef KIVREL_CORE_ROOTOPTS_H
#define KIVREL_CORE_ROOTOPTS_H

// The arithmetic of the program settings page: the three-state boxes of the
// automatic removal of finished requests, and the sign rule of "StartTips".
// Pure functions; any thread.

#include <cstdint>
#include <optional>

// Request kinds of the removal masks: bit 0 completed, bit 1 erroneous,
// bit 2 cancelled.
// The state of a kind's box: 1 removed as soon as it ends (`now` has the
// bit), else 2 removed at the next start (`at_start` has it), else 0.
int AutoRmState(uint8_t now, uint8_t at_start, int bit);
// The masks of three box states (completed, erroneous, cancelled): state 1
// sets the kind's bit in `now`, state 2 in `at_start`.
void AutoRmMasks(const int states[3], uint8_t& now, uint8_t& at_start);

// "StartTips" keeps the on/off state as its sign and the last tip shown as
// its absolute value; 0x7FFFFFFF stands for "never stored". The value to
// write when the page closes, or nothing to write:
//   box unchecked: the stored value (0 when none) made negative, 0 stays 0;
//   box checked: the stored value's absolute value, nothing when none is
//   stored, 0x7FFFFFFE for 0 (so that the tips start again).
// `stored` is the value in the settings, empty when there is none.
std::optional<int32_t> StartTipsToWrite(bool checked, std::optional<int32_t> stored);

#endif
