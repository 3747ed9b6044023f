// The process locale and where the translation dictionary lies, from the environment:
//
//   KOVRIN_SUPPORTED_LOCALE and KOVRIN_TRANSLATION_DICTIONARY (both set): choose the
//     locale ("en", "en_US", "English_United States.1252" or "C" for everything, then
//     KOVRIN_LANG, or the user's default, for the character type, and "C" for numbers);
//     the dictionary is KOVRIN_TRANSLATION_DICTIONARY below each search directory.
//     Otherwise the locale stays and the dictionary is
//     Configuration/Xresources/en_US/en_US_Dict.py.
//   JRT_DICT_DIR, then KOV_PATH: search directories separated by ";". Without KOV_PATH
//     nothing is searched.
//   KVN_LC_ALL is set to the name of the locale in force.
//
// setlocale and the environment are process-wide: call these at start-up.
#ifndef VARURUROR_ATR_LOCALE_H
#define VARURUROR_ATR_LOCALE_H

#include "varururor/atr/string_base.h"
#include "varururor/frame/export.h"

// Sets the locale and searches for the dictionary file. True when a file was found; then
// *path (when path is not null) shares its full name.
VR_API bool atr_setlocale(atr_StringBase* path);

// Internationalisation test mode: KOVRIN_LANG, KVN_QA_PRINT and JRT_DICT_DIR are all set.
// Decided on the first call for the life of the process.
VR_API bool atr_i18nTesting();
// The characters U+30BD U+30FC in the locale's encoding, which test mode adds to texts;
// "" when the locale lacks them. Computed on the first call; the same buffer every time.
VR_API char const* atr_i18nExtraCharacters();

#endif
