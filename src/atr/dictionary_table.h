// The loaded translation dictionary, as message translation searches it.
#ifndef VARURUROR_ATR_DICTIONARY_TABLE_H
#define VARURUROR_ATR_DICTIONARY_TABLE_H

namespace atr {

// The translation of key (compared byte by byte), in the locale's encoding; null when
// there is none or no dictionary is loaded.
char const* Translation(char const* key);

}  // namespace atr

#endif
