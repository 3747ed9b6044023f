// Every operation that can fail on a real system refuses exactly the calls chosen.
#include "plat/fault_injection.h"

#include <gtest/gtest.h>

#include "plat/dynamic_library.h"
#include "plat/event.h"
#include "plat/temp_file.h"
#include "plat/thread.h"
#include "plat/thread_local_storage.h"
#include "plat/virtual_memory.h"

namespace {

unsigned Return(void*) { return 0; }

// True when the call refused its handle; undoes a call that made one.
template <typename Handle, typename Undo>
bool RefusedOrUndone(Handle handle, Undo undo) {
  if (handle != nullptr) undo(handle);
  return handle == nullptr;
}

// Calls op once and undoes what the call made; true when the call was refused. (A refused
// release leaves its page reserved.)
bool Refused(plat::Operation op) {
  switch (op) {
    case plat::Operation::kVirtualAlloc:
    case plat::Operation::kVirtualFree: {
      void* p = plat::VirtualAlloc(nullptr, 4096, plat::kMemReserve, plat::kPageReadWrite);
      return p == nullptr || !plat::VirtualFree(p, 0, plat::kMemRelease);
    }
    case plat::Operation::kCreateEvent:
      return RefusedOrUndone(plat::CreateEvent(false, false), plat::CloseEvent);
    case plat::Operation::kCreateThread: {
      unsigned id = 0;
      return RefusedOrUndone(plat::CreateThread(Return, nullptr, &id), plat::CloseThread);
    }
    case plat::Operation::kTlsAlloc: {
      unsigned slot = plat::TlsAlloc();
      return slot == plat::kTlsOutOfIndexes || !plat::TlsFree(slot);
    }
    case plat::Operation::kGetTempFileName: {
      char path[plat::kMaxPath];
      return plat::GetTempFileName("/tmp", "vr", 1, path) == 0;
    }
    case plat::Operation::kLoadLibrary:
      return RefusedOrUndone(plat::LoadLibrary("libm.so.6"), plat::FreeLibrary);
    default:
      return false;
  }
}

TEST(FaultInjection, EachOperationRefusesTheChosenCallsOnly) {
  for (int op = 0; op < static_cast<int>(plat::Operation::kCount); ++op) {
    plat::Operation operation = static_cast<plat::Operation>(op);
    // After one more call that works, the next two fail, and then all work again.
    plat::InjectFailures(operation, 1, 2);
    bool const expected[] = {false, true, true, false};
    for (bool refused : expected) EXPECT_EQ(Refused(operation), refused) << "operation " << op;
    plat::InjectFailures(operation, 0, 1);
    plat::ClearInjectedFailures();
    EXPECT_FALSE(Refused(operation)) << "operation " << op;
  }
}

}  // namespace
