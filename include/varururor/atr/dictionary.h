// The translation dictionary that message translation searches: one process-wide table
// of English keys and their translations in the locale's encoding, loaded from the file
// that atr_setlocale finds. Loading and releasing are meant for start-up and shutdown,
// or moments when no translation runs: nothing locks.
//
// Warnings go to standard error: an entry whose translation is not valid UTF-8 is skipped
// with "WARNING: atr: Invalid UTF-8 string."; with KOVRIN_SITE set to "qdv", an entry the
// locale cannot show in full is stored and reported with
// "WARNING: atr: Failure encoding in the current locale.".
#ifndef VARURUROR_ATR_DICTIONARY_H
#define VARURUROR_ATR_DICTIONARY_H

#include "varururor/frame/export.h"

// on: loads the dictionary unless a load was already made or tried (a load that found no
// entry is not tried again until the next release); off: atr_trReleaseDB().
VR_API void atr_tr_enable(bool on);
// Frees the table, so that the next atr_tr_enable(true) loads again.
VR_API void atr_trReleaseDB();

#endif
