#ifndef KIVREL_CORE_NODECOLOUR_H
#define KIVREL_CORE_NODECOLOUR_H

// The colours of entries in the file views, as 0x00BBGGRR values.

#include <cstdint>

// `colour` moved along its own direction in RGB space so that its
// brightness (its length, in percent of white's) grows by `percent`; a zero
// component counts as 1, so black lightens to an even grey. Components are
// clamped to 0..255.
uint32_t LightenColour(uint32_t colour, int percent);

// The colour of an entry by its listing status (1 failed red, 2 running
// orange, 3 done green); for any other status `colour` (`keep`) or black
// when the entry is valid, dark yellow when it is not. Variant 2 lightens by
// 20 points (70 for a valid entry), variant 3 by 15 (50).
uint32_t NodeColour(uint32_t colour, int status, bool valid_file, bool keep, int variant);

#endif
