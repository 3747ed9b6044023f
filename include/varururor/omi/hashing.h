// Helpers for clients' own hash tables: a bucket index for a pointer or an unsigned key,
// and a prime table size.
#ifndef VARURUROR_OMI_HASHING_H
#define VARURUROR_OMI_HASHING_H

#include "varururor/frame/export.h"

// (address >> 2) mod size, resp. (key >> 2) mod size: the two low bits are dropped first,
// so keys 0 to 3 share bucket 0. A size of 0 gives 0.
VR_API unsigned int HashValue(void* const& p, unsigned int size);
VR_API unsigned int HashValue(unsigned int const& key, unsigned int size);

// The first candidate of the form 6k + 1 or 6k + 5 at or above n that has no divisor among
// 5, 7, 11, 13, 17, 19, ... up to its square root. From 11 upward this is the smallest prime
// not less than n; below, 0 gives 0, 1 gives 1 and 2 to 11 give 11 (5 and 7 are never
// returned). 0 also when n is above 4294967291, the largest prime of 32 bits.
VR_API unsigned int omi_nextPrime(unsigned int n);

#endif
