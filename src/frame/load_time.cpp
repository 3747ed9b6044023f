// The process-attach step of loading, after the standard streams exist.
#include "frame/load_order.h"
#include "plat/process.h"

namespace {

__attribute__((constructor(VR_LOAD_ORDER_PROCESS_ATTACH))) void OnProcessAttach() {
  plat::DisableThreadLibraryCalls();
}

}  // namespace
