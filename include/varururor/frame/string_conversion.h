// Text to numbers, and Fortran character arguments (blank-padded, unterminated, with a
// separate length) to terminated strings.
#ifndef VARURUROR_FRAME_STRING_CONVERSION_H
#define VARURUROR_FRAME_STRING_CONVERSION_H

#include "varururor/frame/export.h"

extern "C" {

// strtoul with the base taken from the prefix (0x: 16, 0: 8, otherwise 10); 0 for null.
VR_API unsigned int omi_strtoSizeT(char const* text);

// Each copies the Fortran string without its trailing blanks, cut to the destination
// size less one, and terminates it. A null string or a negative length reads as empty.

// dest holds 80 bytes.
VR_API void omi_fortranStringConvert(char* dest, char const* fstr, int len);
VR_API void omi_fortranFileNameConvert(char* dest, int destSize, char const* fstr, int len);

// count strings of length len, one after another, each into a buffer of its own (80 bytes,
// or size bytes); null when a buffer cannot be had. Release with omi_fortranStringListFree.
VR_API char** omi_fortranStringListConvert(int count, char const* fstrs, int len);
VR_API char** omi_fortranStringVarListConvert(int count, int size, char const* fstrs, int len);
VR_API void omi_fortranStringListFree(int count, char** list);

}  // extern "C"

#endif
