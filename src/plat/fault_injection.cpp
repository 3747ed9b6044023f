#include "plat/fault_injection.h"

#include <atomic>

namespace plat {
namespace {

struct Injection {
  std::atomic<unsigned> skip{0};
  std::atomic<unsigned> count{0};
};

Injection g_injections[static_cast<int>(Operation::kCount)];
// One flag read by every operation, so that the unarmed case costs a single load.
std::atomic<bool> g_armed{false};

}  // namespace

void InjectFailures(Operation op, unsigned skip, unsigned count) {
  Injection& injection = g_injections[static_cast<int>(op)];
  injection.skip.store(skip);
  injection.count.store(count);
  g_armed.store(true);
}

void ClearInjectedFailures() {
  g_armed.store(false);
  for (Injection& injection : g_injections) {
    injection.skip.store(0);
    injection.count.store(0);
  }
}

bool ShouldFail(Operation op) {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  Injection& injection = g_injections[static_cast<int>(op)];
  unsigned skip = injection.skip.load();
  while (skip > 0) {
    if (injection.skip.compare_exchange_weak(skip, skip - 1)) return false;
  }
  unsigned count = injection.count.load();
  while (count > 0) {
    if (injection.count.compare_exchange_weak(count, count - 1)) return true;
  }
  return false;
}

}  // namespace plat
