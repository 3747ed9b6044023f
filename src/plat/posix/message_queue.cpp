#include "plat/message_queue.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <new>

#include "plat/race_annotations.h"
#include "plat/thread.h"

namespace plat {
namespace {

// Queues live in static slots: posting must work in a signal handler, so nothing here
// may allocate, and the platform layer sits below the library's heaps anyway. A slot's
// cells are mapped when a thread first claims it (256 KiB each) and kept for the next
// owner, so that 64 idle slots cost no memory.
constexpr unsigned kQueueSlots = 64;
constexpr unsigned kQueueCapacity = kMessageQueueCapacity;
static_assert((kQueueCapacity & (kQueueCapacity - 1)) == 0, "positions wrap by masking");
constexpr unsigned kFreeSlot = 0;
constexpr unsigned kClosingSlot = 0xFFFFFFFFu;  // its thread is ending; not yet free

struct Cell {
  std::atomic<unsigned> sequence;
  ThreadMessage message;
};

// A bounded many-writer, one-reader ring (each cell's sequence number tells whether it
// is free for the writer at that position or filled for the reader). Writers never
// wait for each other to finish, so a post from a signal handler cannot deadlock with
// a post it interrupted.
struct Queue {
  std::atomic<unsigned> owner;    // thread id, kFreeSlot or kClosingSlot
  std::atomic<unsigned> posters;  // posts under way, which a closing owner waits out
  std::atomic<unsigned> tail;     // next position to write
  unsigned head;                  // next position to read; the owner's alone
  std::atomic<int> wakeups;       // the futex word the owner sleeps on
  Cell* cells;                    // kQueueCapacity cells, mapped on the first claim
};

Queue g_queues[kQueueSlots];

void ResetCells(Queue* queue) {
  for (unsigned i = 0; i < kQueueCapacity; ++i) {
    queue->cells[i].sequence.store(i, std::memory_order_relaxed);
  }
  queue->tail.store(0, std::memory_order_relaxed);
  queue->head = 0;
}

void FutexWait(std::atomic<int>* word, int expected) {
  syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr,
          0);
}

void FutexWake(std::atomic<int>* word) {
  syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr,
          0);
}

bool Push(Queue* queue, ThreadMessage const& message) {
  unsigned position = queue->tail.load(std::memory_order_relaxed);
  Cell* cell;
  for (;;) {
    cell = &queue->cells[position % kQueueCapacity];
    unsigned sequence = cell->sequence.load(std::memory_order_acquire);
    int lag = static_cast<int>(sequence - position);
    if (lag == 0) {
      if (queue->tail.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
        HappensAfter(&cell->sequence);  // the reader is done with the cell
        break;
      }
    } else if (lag < 0) {
      return false;  // full
    } else {
      position = queue->tail.load(std::memory_order_relaxed);
    }
  }
  cell->message = message;
  HappensBefore(&cell->sequence);
  cell->sequence.store(position + 1, std::memory_order_release);
  queue->wakeups.fetch_add(1, std::memory_order_release);
  FutexWake(&queue->wakeups);
  return true;
}

bool Pop(Queue* queue, ThreadMessage* message, bool remove) {
  Cell* cell = &queue->cells[queue->head % kQueueCapacity];
  if (cell->sequence.load(std::memory_order_acquire) != queue->head + 1) return false;
  HappensAfter(&cell->sequence);
  *message = cell->message;
  if (remove) {
    HappensBefore(&cell->sequence);
    cell->sequence.store(queue->head + kQueueCapacity, std::memory_order_release);
    ++queue->head;
  }
  return true;
}

// Gives the slot back when its thread ends. Posts already inside wait to be drained.
void CloseQueue(Queue* queue) {
  queue->owner.store(kClosingSlot, std::memory_order_seq_cst);
  while (queue->posters.load(std::memory_order_seq_cst) != 0) {
  }
  ResetCells(queue);
  HappensBefore(&queue->owner);
  queue->owner.store(kFreeSlot, std::memory_order_release);
}

// Called by the claiming owner. Posters that find the owner's id before the cells are
// published see no queue yet (cells checked under the posters count).
bool MapCells(Queue* queue) {
  void* memory = mmap(nullptr, sizeof(Cell) * kQueueCapacity, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  Cell* cells = static_cast<Cell*>(memory);
  for (unsigned i = 0; i < kQueueCapacity; ++i) {
    new (&cells[i].sequence) std::atomic<unsigned>(i);
    DeclareAtomicWord(&cells[i].sequence, sizeof cells[i].sequence);
  }
  queue->tail.store(0, std::memory_order_relaxed);
  queue->head = 0;
  __atomic_store_n(&queue->cells, cells, __ATOMIC_RELEASE);
  return true;
}

struct QueueHolder {
  Queue* queue = nullptr;
  ~QueueHolder() {
    if (queue != nullptr) CloseQueue(queue);
  }
};

thread_local QueueHolder t_queue;

Queue* OwnQueue() {
  if (t_queue.queue != nullptr) return t_queue.queue;
  unsigned self = GetCurrentThreadId();
  for (Queue& queue : g_queues) {
    unsigned expected = kFreeSlot;
    if (queue.owner.load(std::memory_order_relaxed) != kFreeSlot) continue;
    // A free slot has been reset and has no posters, so claiming it is all it takes.
    if (queue.owner.compare_exchange_strong(expected, self, std::memory_order_acq_rel)) {
      HappensAfter(&queue.owner);
      if (queue.cells == nullptr && !MapCells(&queue)) {
        queue.owner.store(kFreeSlot, std::memory_order_release);
        return nullptr;
      }
      t_queue.queue = &queue;
      return &queue;
    }
  }
  return nullptr;
}

struct QueueSetUp {
  QueueSetUp() {
    for (Queue& queue : g_queues) {
      DeclareAtomicWord(&queue.owner, sizeof queue.owner);
      DeclareAtomicWord(&queue.posters, sizeof queue.posters);
      DeclareAtomicWord(&queue.tail, sizeof queue.tail);
      DeclareAtomicWord(&queue.wakeups, sizeof queue.wakeups);
    }
  }
} g_queue_set_up;

}  // namespace

bool PostThreadMessage(unsigned thread_id, unsigned message, std::uintptr_t wparam,
                       std::intptr_t lparam) {
  if (thread_id == kFreeSlot || thread_id == kClosingSlot) return false;
  ThreadMessage posted{message, wparam, lparam};
  for (Queue& queue : g_queues) {
    if (queue.owner.load(std::memory_order_relaxed) != thread_id) continue;
    queue.posters.fetch_add(1, std::memory_order_seq_cst);
    // Checked again under the posters count: the owner may have ended meanwhile.
    bool sent = queue.owner.load(std::memory_order_seq_cst) == thread_id &&
                __atomic_load_n(&queue.cells, __ATOMIC_ACQUIRE) != nullptr && Push(&queue, posted);
    queue.posters.fetch_sub(1, std::memory_order_seq_cst);
    if (sent) return true;
  }
  return false;
}

bool HasMessageQueue(unsigned thread_id) {
  if (thread_id == kFreeSlot || thread_id == kClosingSlot) return false;
  for (Queue const& queue : g_queues) {
    if (queue.owner.load(std::memory_order_acquire) == thread_id) return true;
  }
  return false;
}

bool PeekMessage(ThreadMessage* message, bool remove) {
  Queue* queue = OwnQueue();
  return queue != nullptr && Pop(queue, message, remove);
}

int GetMessage(ThreadMessage* message) {
  Queue* queue = OwnQueue();
  if (queue == nullptr) return -1;
  for (;;) {
    if (Pop(queue, message, true)) break;
    int seen = queue->wakeups.load(std::memory_order_acquire);
    if (Pop(queue, message, true)) break;
    FutexWait(&queue->wakeups, seen);
  }
  return message->message == kMessageQuit ? 0 : 1;
}

}  // namespace plat
