#include "plat/thread_local_storage.h"

#include <pthread.h>

#include "plat/fault_injection.h"

namespace plat {

static_assert(sizeof(pthread_key_t) <= sizeof(unsigned), "a slot index must hold a key");

unsigned TlsAlloc() {
  if (ShouldFail(Operation::kTlsAlloc)) return kTlsOutOfIndexes;
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return kTlsOutOfIndexes;
  return static_cast<unsigned>(key);
}

bool TlsFree(unsigned index) { return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0; }

void* TlsGetValue(unsigned index) { return pthread_getspecific(static_cast<pthread_key_t>(index)); }

bool TlsSetValue(unsigned index, void* value) {
  return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0;
}

}  // namespace plat
