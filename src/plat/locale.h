// The C library's current locale, as far as the library needs to know it.
#ifndef VARURUROR_PLAT_LOCALE_H
#define VARURUROR_PLAT_LOCALE_H

namespace plat {

// The name of the character set of the current LC_CTYPE locale, as the system spells it
// ("UTF-8", "ISO-8859-1", "EUC-JP", "ANSI_X3.4-1968"); never null.
char const* CurrentCodeset();

}  // namespace plat

#endif
