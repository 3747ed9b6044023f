#include "varururor/aio/standard_streams.h"

#include "frame/load_order.h"

// Defined in this order so that they are built input, output, error, and destroyed
// in the reverse order when the library is unloaded.
aio_istream aio_cin __attribute__((init_priority(VR_LOAD_ORDER_STANDARD_STREAMS)));
aio_ostream aio_cout __attribute__((init_priority(VR_LOAD_ORDER_STANDARD_STREAMS)));
aio_ostream aio_cerr __attribute__((init_priority(VR_LOAD_ORDER_STANDARD_STREAMS)));
