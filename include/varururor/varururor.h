// Everything a client of VaruRuror reaches, in one include.
#ifndef VARURUROR_VARURUROR_H
#define VARURUROR_VARURUROR_H

#include "varururor/frame/export.h"
#include "varururor/frame/startup.h"
#include "varururor/frame/singleton.h"
#include "varururor/frame/alert_listener.h"

#include "varururor/mem/allocation.h"
#include "varururor/mem/allocator.h"
#include "varururor/mem/dlmalloc.h"
#include "varururor/mem/mallinfo.h"
#include "varururor/mem/operators.h"
#include "varururor/mem/ptr_hash.h"
#include "varururor/mem/tracker.h"

#include "varururor/atr/string_rep.h"
#include "varururor/atr/string_base.h"
#include "varururor/atr/string.h"
#include "varururor/atr/string_base_prv.h"

#include "varururor/aio/ios.h"
#include "varururor/aio/istream.h"
#include "varururor/aio/ostream.h"
#include "varururor/aio/ifstream.h"
#include "varururor/aio/ofstream.h"
#include "varururor/aio/ostrstream.h"
#include "varururor/aio/manipulators.h"
#include "varururor/aio/temp_file.h"
#include "varururor/aio/standard_streams.h"

#include "varururor/omi/bit_vector.h"
#include "varururor/omi/bit_vector_traversal.h"
#include "varururor/omi/blocked_array.h"
#include "varururor/omi/hashing.h"
#include "varururor/omi/int_table.h"
#include "varururor/omi/int_table_iterator.h"
#include "varururor/omi/uint_table.h"
#include "varururor/omi/uint_table_iterator.h"

#endif
