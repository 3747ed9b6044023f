// Thread message queues: any thread posts a message to a thread by its id; the thread
// reads its own queue. A thread gets its queue on its first peek or get; posting to a
// thread without one fails. The queue goes away when its thread ends.
#ifndef VARURUROR_PLAT_MESSAGE_QUEUE_H
#define VARURUROR_PLAT_MESSAGE_QUEUE_H

#include <cstdint>

namespace plat {

// Ends GetMessage's loop: GetMessage returns 0 for it.
constexpr unsigned kMessageQuit = 0x0012;
// The first message number free for applications.
constexpr unsigned kMessageApplication = 0x8000;
// Messages a queue holds before it refuses posts: at least the 10,000 of the system the
// library was written for, rounded up to a power of two.
constexpr unsigned kMessageQueueCapacity = 16384;

struct ThreadMessage {
  unsigned message;
  std::uintptr_t wparam;
  std::intptr_t lparam;
};

// False when the thread has no queue or its queue is full. Safe in a signal handler:
// it takes no lock and allocates nothing.
bool PostThreadMessage(unsigned thread_id, unsigned message, std::uintptr_t wparam,
                       std::intptr_t lparam);

// Whether the thread has a queue now (it may end at any time after).
bool HasMessageQueue(unsigned thread_id);

// Makes the calling thread's queue if it has none. When a message is waiting, true,
// with the message copied to *message and, if remove, taken off the queue.
// False also when no queue can be had (every slot is taken).
bool PeekMessage(ThreadMessage* message, bool remove);

// Waits for the next message and takes it: 1 for a message, 0 for kMessageQuit,
// -1 when the calling thread cannot have a queue.
int GetMessage(ThreadMessage* message);

}  // namespace plat

#endif
