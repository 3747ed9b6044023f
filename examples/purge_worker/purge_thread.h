// A client's purge worker: a thread that the memory cache manager wakes when room runs
// short, and that then runs purge passes until the manager says there is nothing more to
// do (PurgeTask false) or no further wake has come in.
#ifndef VR_EXAMPLES_PURGE_THREAD_H
#define VR_EXAMPLES_PURGE_THREAD_H

#include <condition_variable>
#include <mutex>
#include <thread>

#include "varururor/varururor.h"

class PurgeThread {
 public:
  explicit PurgeThread(mem_MemoryCacheManager* manager) : manager_(manager) {}
  PurgeThread(PurgeThread const&) = delete;
  PurgeThread& operator=(PurgeThread const&) = delete;
  ~PurgeThread() { Stop(); }

  // Registers with the manager for allocating_threads threads and starts the worker.
  void Start(int allocating_threads) {
    allocating_threads_ = allocating_threads;
    manager_->SetNumWorkerThreads(allocating_threads, &PurgeThread::Wake, nullptr, this);
    thread_ = std::thread(&PurgeThread::Run, this);
  }

  // An allocating thread calls this when it has finished, so that the count the manager
  // keeps stays true (its wait for room no longer depends on it).
  void AllocatingThreadDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    manager_->SetNumWorkerThreads(--allocating_threads_, &PurgeThread::Wake, nullptr, this);
  }

  void Stop() {
    if (!thread_.joinable()) return;
    {
      // Signalled under the mutex, which is what Valgrind's thread checkers expect.
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      woken_.notify_one();
    }
    thread_.join();
  }

  long Passes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return passes_;
  }

 private:
  static void Wake(void* argument) {
    auto* self = static_cast<PurgeThread*>(argument);
    std::lock_guard<std::mutex> lock(self->mutex_);
    ++self->wakes_;
    self->woken_.notify_one();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      woken_.wait(lock, [this] { return wakes_ > 0 || stop_; });
      if (stop_) return;
      while (wakes_ > 0) {
        wakes_ = 0;
        lock.unlock();
        bool const more = manager_->PurgeTask();
        lock.lock();
        ++passes_;
        if (!more) break;
      }
    }
  }

  mem_MemoryCacheManager* manager_;
  mutable std::mutex mutex_;
  std::condition_variable woken_;
  std::thread thread_;
  int allocating_threads_ = 0;
  long wakes_ = 0;
  long passes_ = 0;
  bool stop_ = false;
};

#endif
