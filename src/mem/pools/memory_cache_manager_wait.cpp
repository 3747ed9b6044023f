// The memory cache manager's wait for room: what an allocation does when neither the free
// lists nor the heap under the capacity can serve it, and the numbered purge passes that
// let it decide when to give up.
//
// An allocation gives up only when, after it saw no room, a purge pass that started
// later found nothing to free and nothing was freed, registered or resized meanwhile.
// Every wait ends: a pass that frees something, or any other change, sends the waiting
// threads to look again; a pass that finds nothing ends their wait. When no worker is
// there to run the pass (no wake callback, a worker that polls on a timer, a worker
// count that does not match the threads), the waiting thread runs it itself.
#include <chrono>
#include <cstdint>
#include <thread>

#include "mem/pools/cache_manager_state.h"
#include "mem/pools/critical_section.h"
#include "mem/pools/purge_lists.h"
#include "varururor/mem/memory_cache_manager.h"

namespace {

constexpr unsigned kPurgeTaskTarget = 0x6400000;  // 100 MiB a pass

using Clock = std::chrono::steady_clock;

}  // namespace

unsigned int mem_MemoryCacheManager::ChangeCount() const {
  return __atomic_load_n(&purge_lists_->room_wait.changes, __ATOMIC_ACQUIRE);
}

void mem_MemoryCacheManager::RouseWaiters() {
  plat::EventHandle wakeup = purge_lists_->room_wait.wakeup;
  if (wakeup != nullptr && __atomic_load_n(&waiting_count_, __ATOMIC_RELAXED) > 0)
    plat::SetEvent(wakeup);
}

void mem_MemoryCacheManager::NoteRoomChange() {
  __atomic_add_fetch(&purge_lists_->room_wait.changes, 1, __ATOMIC_RELEASE);
  // Read without the lock first: frees are frequent, give-ups rare.
  if (__atomic_load_n(&purge_state_, __ATOMIC_RELAXED) == mem::kPurgeOutOfMemory) {
    mem_CriticalSectionGuard state(state_lock_);
    if (purge_state_ == mem::kPurgeOutOfMemory) SetPurgeState(mem::kPurgeNormal);
  }
  RouseWaiters();
}

void mem_MemoryCacheManager::FinishPurgePass(unsigned long long pass, unsigned int freed) {
  {
    mem_CriticalSectionGuard state(state_lock_);
    mem::RoomWait& wait = purge_lists_->room_wait;
    if (freed == 0) {
      if (pass > wait.last_empty_pass) wait.last_empty_pass = pass;
      SetPurgeState(mem::kPurgeFoundNothing);
    } else if (purge_state_ != mem::kPurgeOutOfMemory) {
      SetPurgeState(mem::kPurgeNormal);
    }
  }
  RouseWaiters();
}

void mem_MemoryCacheManager::RunPurgePass() {
  unsigned long long pass;
  {
    mem_CriticalSectionGuard state(state_lock_);
    pass = ++purge_lists_->room_wait.passes_started;
  }
  FinishPurgePass(pass, Purge(0, kPurgeTaskTarget));
}

bool mem_MemoryCacheManager::WaitForPassOrChange(unsigned int changeMark) {
  mem::RoomWait& wait = purge_lists_->room_wait;
  std::uint64_t shortage_seen;
  bool worker_purges;
  {
    mem_CriticalSectionGuard state(state_lock_);
    // Nothing has changed since before the failed attempt, so the shortage it saw still
    // holds; passes numbered above this one start after it.
    if (ChangeCount() != changeMark) return false;
    shortage_seen = wait.passes_started;
    // After a give-up the worker's PurgeTask refuses until something changes.
    worker_purges = wake_ != nullptr && purge_state_ != mem::kPurgeOutOfMemory;
  }
  // Woken again now: a pass it ran for the earlier wake may have ended before the shortage.
  if (worker_purges) WakeWorker();
  Clock::time_point const patience_end = Clock::now() + std::chrono::milliseconds(wait.patience_ms);
  bool run_pass = !worker_purges;
  for (;;) {
    if (run_pass) {
      RunPurgePass();
      run_pass = false;
    }
    // Reset before looking: a signal given after the look is not lost.
    if (wait.wakeup != nullptr) plat::ResetEvent(wait.wakeup);
    bool pass_started;
    {
      mem_CriticalSectionGuard state(state_lock_);
      if (ChangeCount() != changeMark) return false;
      if (wait.last_empty_pass > shortage_seen) return true;
      pass_started = wait.passes_started > shortage_seen;
    }
    if (!pass_started && Clock::now() >= patience_end) {
      run_pass = true;
      continue;
    }
    if (wait.wakeup != nullptr) {
      plat::WaitForEvent(wait.wakeup, mem::kWaitSliceMs);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(mem::kWaitSliceMs));
    }
  }
}

void* mem_MemoryCacheManager::WaitForRoom(int sizeClass, unsigned int allocationSize,
                                          bool& fresh) {
  {
    mem_CriticalSectionGuard state(state_lock_);
    SetWaitingCount(waiting_count_ + 1);
  }
  void* block = nullptr;
  for (;;) {
    unsigned const change_mark = ChangeCount();
    block = TryFreeMemory(sizeClass, allocationSize, fresh);
    if (block != nullptr || WaitForPassOrChange(change_mark)) break;
  }
  mem_CriticalSectionGuard state(state_lock_);
  SetWaitingCount(waiting_count_ - 1);
  return block;
}

bool mem_MemoryCacheManager::PurgeTask() {
  unsigned long long pass;
  {
    mem_CriticalSectionGuard state(state_lock_);
    if (purge_state_ == mem::kPurgeOutOfMemory) return false;
    {
      mem_CriticalSectionGuard counter(counter_lock_);
      if (memory_in_use_ - free_list_bytes_ <= mem::WakeThreshold(capacity_) &&
          waiting_count_ <= 0)
        return true;
    }
    pass = ++purge_lists_->room_wait.passes_started;
  }
  FinishPurgePass(pass, Purge(0, kPurgeTaskTarget));
  return true;
}

void mem_MemoryCacheManager::SetWorkerPatience(unsigned int milliseconds) {
  purge_lists_->room_wait.patience_ms = milliseconds;
}
