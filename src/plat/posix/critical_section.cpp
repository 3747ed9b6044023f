#include "plat/critical_section.h"

#include <pthread.h>

#include <new>

namespace plat {
namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CriticalSection::storage),
              "CriticalSection storage too small for the system mutex");
static_assert(alignof(pthread_mutex_t) <= alignof(CriticalSection),
              "CriticalSection storage misaligned for the system mutex");

pthread_mutex_t* MutexOf(CriticalSection* section) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(section->storage));
}

}  // namespace

void InitializeCriticalSection(CriticalSection* section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  // Critical sections may be entered again by the thread that holds them.
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (section->storage) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(CriticalSection* section) { pthread_mutex_destroy(MutexOf(section)); }

void EnterCriticalSection(CriticalSection* section) { pthread_mutex_lock(MutexOf(section)); }

void LeaveCriticalSection(CriticalSection* section) { pthread_mutex_unlock(MutexOf(section)); }

bool TryEnterCriticalSection(CriticalSection* section) {
  return pthread_mutex_trylock(MutexOf(section)) == 0;
}

}  // namespace plat
