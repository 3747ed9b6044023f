// Threads: creation, ids, priority and waiting for the end of a thread.
#ifndef VARURUROR_PLAT_THREAD_H
#define VARURUROR_PLAT_THREAD_H

namespace plat {

struct ThreadObject;
using ThreadHandle = ThreadObject*;
using ThreadStart = unsigned (*)(void* argument);

// Priorities on the usual scale from lowest (-2) to highest (2).
constexpr int kThreadPriorityNormal = 0;
constexpr int kThreadPriorityHighest = 2;

// Starts start(argument) on a new thread and stores its id (never 0) in *thread_id
// before the thread runs. Null when the thread cannot be made. The thread starts with
// every floating-point trap masked, whatever its creator's setting, and with an
// alternate signal stack, so that its faults, a stack overflow too, reach the
// unhandled-exception filter.
ThreadHandle CreateThread(ThreadStart start, void* argument, unsigned* thread_id);
// Waits without limit for the thread to end; gives its exit code.
unsigned WaitForThread(ThreadHandle thread);
// Forgets the handle; a running thread goes on, detached.
void CloseThread(ThreadHandle thread);
// False when the system refuses the priority (an unprivileged process may not raise it).
bool SetThreadPriority(ThreadHandle thread, int priority);
unsigned GetCurrentThreadId();

}  // namespace plat

#endif
