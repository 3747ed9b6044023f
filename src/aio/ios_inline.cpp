// The library's own copies of the inline members that the stream headers mark VR_API,
// so that they are exported like every other member. This file is compiled with
// -fkeep-inline-functions; the other inline members it emits stay hidden.
#include "varururor/aio/ios.h"
