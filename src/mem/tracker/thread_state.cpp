#include "mem/tracker/thread_state.h"

#include "mem/heap_table.h"
#include "plat/critical_section.h"
#include "plat/thread_local_storage.h"

namespace mem::tracker {
namespace {

// Guards the count of threads holding a record.
plat::CriticalSection g_count_lock;
int g_holders = 0;

}  // namespace

bool g_slot_made = false;
unsigned g_slot = plat::kTlsOutOfIndexes;

int* MakeCallingThreadRecord() {
  if (!g_slot_made) {
    g_slot = plat::TlsAlloc();
    if (g_slot == plat::kTlsOutOfIndexes) return nullptr;
    plat::InitializeCriticalSection(&g_count_lock);
    g_slot_made = true;
  }
  auto* record = static_cast<int*>(plat::TlsGetValue(g_slot));
  if (record != nullptr) return record;
  record = static_cast<int*>(g_heap_table.malloc(sizeof(int)));
  if (record == nullptr) return nullptr;
  *record = kNoThreadNumber;
  if (!plat::TlsSetValue(g_slot, record)) {
    g_heap_table.free(record);
    return nullptr;
  }
  plat::EnterCriticalSection(&g_count_lock);
  ++g_holders;
  plat::LeaveCriticalSection(&g_count_lock);
  return record;
}

void ReleaseCallingThreadRecord() {
  if (!g_slot_made) return;
  auto* record = static_cast<int*>(plat::TlsGetValue(g_slot));
  if (record == nullptr) return;
  g_heap_table.free(record);
  plat::TlsSetValue(g_slot, nullptr);
  plat::EnterCriticalSection(&g_count_lock);
  int const holders = --g_holders;
  plat::LeaveCriticalSection(&g_count_lock);
  if (holders > 0) return;
  plat::TlsFree(g_slot);
  plat::DeleteCriticalSection(&g_count_lock);
  g_slot = plat::kTlsOutOfIndexes;
  g_slot_made = false;
}

}  // namespace mem::tracker
