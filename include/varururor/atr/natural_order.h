// Natural-order comparison, so that embedded numbers sort by value ("file2" before
// "file10"), and the process-wide switch that tells the application whether to sort
// names that way.
#ifndef VARURUROR_ATR_NATURAL_ORDER_H
#define VARURUROR_ATR_NATURAL_ORDER_H

#include "varururor/frame/export.h"

// Negative, 0 or positive as a sorts before, with or after b. Runs of ASCII digits compare
// by value; a run that starts with '0' on either side compares as a decimal fraction
// ("1.05" before "1.5"). Everything else compares byte by byte as signed chars: letters
// are case-sensitive, spaces are ordinary characters, bytes from 0x80 sort before ASCII.
VR_API int strnatcmp(char const* a, char const* b);

// The switch is on (1) unless KVN_USE_NATURAL_ORDER_SORT is set when the strings module
// starts; 0 before it starts.
VR_API void atr_setNaturalOrder(int on);
VR_API int atr_getNaturalOrder();

#endif
