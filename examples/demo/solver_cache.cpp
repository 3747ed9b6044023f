#include "solver_cache.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr unsigned int kBlockBytes = 512u << 10;  // a factor block: 64K doubles
constexpr double kPoolTolerance = 1.0;  // a pool may take the whole limit without a warning
// Blocks used often are purged last: the purge walk takes the highest lists first.
constexpr int kHotPriority = 1;
constexpr int kColdPriority = 20;

std::mutex g_blocks_mutex;

}  // namespace

// A factor block of one pool: its values are a function of its number, so any use can
// tell a correct refactorisation from damage.
class FactorBlock : public mem_MemoryItem {
 public:
  FactorBlock(mem_MemoryPool* pool, int number) : pool_(pool), number_(number) {}

  // Called with the block locked and off the purge lists. False when the manager finds
  // no room even after purging.
  bool Use(std::atomic<long>* factorisations) {
    if (values_ == nullptr) {
      values_ = static_cast<double*>(pool_->Alloc(kBlockBytes));
      if (values_ == nullptr) return false;
      for (unsigned int i = 0; i < kValues; ++i) values_[i] = Value(i);
      ++*factorisations;
    }
    for (unsigned int i = 0; i < kValues; i += kValues / 8) {
      if (values_[i] != Value(i)) {
        std::fprintf(stderr, "demo: factor block %d damaged\n", number_);
        std::abort();
      }
    }
    return true;
  }

  unsigned int AllocSize() const override { return pool_->AllocSize(values_); }
  unsigned int FreeBulkData() override {
    if (values_ == nullptr) return 0;
    unsigned int const freed = pool_->Free(values_);
    values_ = nullptr;
    return freed;
  }

 private:
  static constexpr unsigned int kValues = kBlockBytes / sizeof(double);
  double Value(unsigned int i) const { return number_ + i * 1e-6; }

  mem_MemoryPool* pool_;
  int number_;
  double* values_ = nullptr;
};

SolverCache::SolverCache(int pools, unsigned int memory_limit)
    : container_(mem_MemoryContainer::Instance()),
      manager_(container_.CacheManager()),
      pools_(pools),
      purge_thread_(&manager_) {
  manager_.SetMemoryLimit(memory_limit);
  unsigned int const share = memory_limit / static_cast<unsigned int>(pools);
  for (int id = 1; id <= pools; ++id) {
    container_.CreatePool(id)->SetMemoryLimit(share / 2, share, kPoolTolerance);
  }
  purge_thread_.Start(pools);
}

SolverCache::~SolverCache() {
  purge_thread_.Stop();
  for (auto& block : blocks_) {
    manager_.RemoveItem(block.get(), 0);
    block->FreeBulkData();
  }
  blocks_.clear();
  container_.CleanUpPools();
  manager_.ClearFreeList();
}

int SolverCache::Solve(int blocks_per_pool, int sweeps) {
  std::vector<std::thread> threads;
  for (int id = 1; id <= pools_; ++id) {
    threads.emplace_back(&SolverCache::SweepPool, this, id, blocks_per_pool, sweeps);
  }
  for (std::thread& thread : threads) thread.join();
  return static_cast<int>(blocks_.size());
}

void SolverCache::SweepPool(int pool_id, int blocks, int sweeps) {
  mem_MemoryPool* pool = container_.GetPool(pool_id);
  std::vector<FactorBlock*> mine;
  {
    std::lock_guard<std::mutex> lock(g_blocks_mutex);
    for (int n = 0; n < blocks; ++n) {
      blocks_.emplace_back(new FactorBlock(pool, pool_id * 1000 + n));
      mine.push_back(blocks_.back().get());
    }
  }
  for (int sweep = 0; sweep < sweeps; ++sweep) {
    for (std::size_t n = 0; n < mine.size(); ++n) {
      FactorBlock* block = mine[n];
      // Off the purge lists while in use; the lock waits for a purge already under way.
      manager_.RemoveItem(block, 0);
      block->Lock();
      if (!block->Use(&factorisations_)) {
        // The manager gave up waiting for the purge worker (both threads waited while its
        // last pass found nothing): make room from the cold blocks here and try again.
        manager_.Purge(kColdPriority, kBlockBytes);
        block->Use(&factorisations_);
      }
      block->Unlock();
      // The first blocks of a pool are the hot ones (the solver's front).
      int const priority = n < mine.size() / 4 ? kHotPriority : kColdPriority;
      manager_.AddItem(priority, mem_MemoryCachePolicyTail, block, block);
    }
  }
  purge_thread_.AllocatingThreadDone();
}

void SolverCache::Report(char const* path) {
  container_.OpenDbFile(path);
  manager_.MemorySummary();
}
