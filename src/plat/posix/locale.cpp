#include "plat/locale.h"

#include <langinfo.h>

namespace plat {

char const* CurrentCodeset() {
  char const* codeset = nl_langinfo(CODESET);
  return codeset != nullptr ? codeset : "";
}

}  // namespace plat
