// The factor blocks of a direct solver, kept in numbered memory pools under a memory
// limit. Blocks that are not in use sit on the cache manager's purge lists; a purge
// worker thread, woken by the manager when room runs short, frees some of them, and a
// purged block is factorised again when the solver next needs it.
#ifndef VR_DEMO_SOLVER_CACHE_H
#define VR_DEMO_SOLVER_CACHE_H

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "purge_thread.h"
#include "varururor/varururor.h"

class FactorBlock;

class SolverCache {
 public:
  // One pool per solver thread, all under one memory limit of the cache manager.
  SolverCache(int pools, unsigned int memory_limit);
  SolverCache(SolverCache const&) = delete;
  SolverCache& operator=(SolverCache const&) = delete;
  // Releases every block and the numbered pools.
  ~SolverCache();

  // Each pool's thread sweeps over its blocks, using each one in turn; returns the
  // number of blocks.
  int Solve(int blocks_per_pool, int sweeps);
  long Factorisations() const { return factorisations_; }
  // Opens the report file at path and writes the cache manager's summary; the pools'
  // lines follow when they are cleaned up.
  void Report(char const* path);

 private:
  void SweepPool(int pool_id, int blocks, int sweeps);

  mem_MemoryContainer& container_;
  mem_MemoryCacheManager& manager_;
  int pools_;
  PurgeThread purge_thread_;
  std::vector<std::unique_ptr<FactorBlock>> blocks_;
  std::atomic<long> factorisations_{0};
};

#endif
