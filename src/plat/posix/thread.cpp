#include "plat/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "plat/exception_filter.h"
#include "plat/fault_injection.h"
#include "plat/float_control.h"

namespace plat {

// Shared by the creator's handle and the running thread; whichever lets go last frees it.
struct ThreadObject {
  pthread_t thread;
  ThreadStart start;
  void* argument;
  unsigned id;
  unsigned exit_code;
  std::atomic<int> references;
  bool joined;
  // The hand-over at start: the new thread reports its id, then waits until the
  // creator has stored it, so that start() never runs before its id is known.
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  bool id_published;
  bool may_run;
};

namespace {

// Nice values for the priority scale -2..2; raising may need privilege.
constexpr int kNicePerPriorityStep = 5;

void Release(ThreadObject* object) {
  if (object->references.fetch_sub(1) != 1) return;
  pthread_mutex_destroy(&object->mutex);
  pthread_cond_destroy(&object->condition);
  object->~ThreadObject();
  std::free(object);
}

void* Trampoline(void* raw) {
  ThreadObject* object = static_cast<ThreadObject*>(raw);
  pthread_mutex_lock(&object->mutex);
  object->id = GetCurrentThreadId();
  object->id_published = true;
  pthread_cond_broadcast(&object->condition);
  while (!object->may_run) pthread_cond_wait(&object->condition, &object->mutex);
  pthread_mutex_unlock(&object->mutex);
  // A new thread here would inherit its creator's floating-point control; threads of the
  // system the library was written for start with every trap masked, so these do too.
  ClearX87Exceptions();
  SetX87ControlWord(kX87ControlAtStart);
  SetMxcsr(kMxcsrAtStart);
  PrepareThreadForFaults();
  object->exit_code = object->start(object->argument);
  Release(object);
  return nullptr;
}

}  // namespace

ThreadHandle CreateThread(ThreadStart start, void* argument, unsigned* thread_id) {
  if (ShouldFail(Operation::kCreateThread)) return nullptr;
  void* memory = std::malloc(sizeof(ThreadObject));
  if (memory == nullptr) return nullptr;
  ThreadObject* object = new (memory) ThreadObject;
  object->start = start;
  object->argument = argument;
  object->id = 0;
  object->exit_code = 0;
  object->references.store(2);
  object->joined = false;
  object->id_published = false;
  object->may_run = false;
  pthread_mutex_init(&object->mutex, nullptr);
  pthread_cond_init(&object->condition, nullptr);
  if (pthread_create(&object->thread, nullptr, Trampoline, object) != 0) {
    object->references.store(1);
    Release(object);
    return nullptr;
  }
  pthread_mutex_lock(&object->mutex);
  while (!object->id_published) pthread_cond_wait(&object->condition, &object->mutex);
  if (thread_id != nullptr) *thread_id = object->id;
  object->may_run = true;
  pthread_cond_broadcast(&object->condition);
  pthread_mutex_unlock(&object->mutex);
  return object;
}

unsigned WaitForThread(ThreadHandle thread) {
  if (!thread->joined) {
    pthread_join(thread->thread, nullptr);
    thread->joined = true;
  }
  return thread->exit_code;
}

void CloseThread(ThreadHandle thread) {
  if (thread == nullptr) return;
  if (!thread->joined) pthread_detach(thread->thread);
  Release(thread);
}

bool SetThreadPriority(ThreadHandle thread, int priority) {
  return setpriority(PRIO_PROCESS, thread->id, -kNicePerPriorityStep * priority) == 0;
}

unsigned GetCurrentThreadId() {
  static thread_local unsigned cached_id = 0;
  if (cached_id == 0) cached_id = static_cast<unsigned>(syscall(SYS_gettid));
  return cached_id;
}

}  // namespace plat
