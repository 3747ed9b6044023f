// The library's own copies of the inline members that the string headers mark VR_API,
// so that they are exported like every other member. This file is compiled with
// -fkeep-inline-functions and includes nothing else, so nothing else is emitted.
#include "varururor/atr/string.h"
#include "varururor/atr/string_base.h"
#include "varururor/atr/string_rep.h"
