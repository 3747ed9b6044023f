#include "varururor/mem/memory_container.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

#include "mem/pools/critical_section.h"
#include "varururor/mem/memory_cache_manager.h"
#include "varururor/mem/memory_pool.h"

namespace {

constexpr unsigned kDefaultPoolLimit = 0x1400000;  // 20 MiB, low and high
constexpr int kDefaultPoolId = 0;
constexpr int kDefaultResource = 0;
constexpr double kBytesToMiB = 9.5367431640625e-7;

mem_MemoryContainer* g_container = nullptr;

mem_MemoryCacheManager* NewManager() {
  void* storage = mem_OperatorNewThrow(sizeof(mem_MemoryCacheManager));
  try {
    return new (storage) mem_MemoryCacheManager("std_manager");
  } catch (...) {
    mem_Free(storage);
    throw;
  }
}

void DeleteManager(mem_MemoryCacheManager* manager) {
  manager->~mem_MemoryCacheManager();
  mem_Free(manager);
}

}  // namespace

struct mem_MemoryContainerLayout {
  using C = mem_MemoryContainer;
  static_assert(offsetof(C, manager_) == 0 && offsetof(C, default_pool_) == 4 &&
                    offsetof(C, capacity_) == 8 && offsetof(C, pools_) == 12 &&
                    offsetof(C, lock_) == 16 && offsetof(C, report_file_) == 20 &&
                    offsetof(C, resources_) == 24 &&
                    sizeof(C) == 24 + sizeof(mem_MemoryResourceHolder),
                "memory container layout");
};

mem_MemoryContainer& mem_MemoryContainer::Instance() {
  if (g_container == nullptr) g_container = new mem_MemoryContainer();
  return *g_container;
}

void mem_MemoryContainer::Finalize() {
  delete g_container;
  g_container = nullptr;
}

mem_MemoryContainer::mem_MemoryContainer()
    : manager_(NewManager()),
      default_pool_(nullptr),
      capacity_(0),
      pools_(nullptr),
      lock_(nullptr),
      report_file_(nullptr) {
  default_pool_ = new mem_MemoryPool(kDefaultPoolId, manager_);
  default_pool_->SetMemoryLimit(kDefaultPoolLimit, kDefaultPoolLimit, 0.0);
  lock_ = new mem_CriticalSection(0);
  resources_.SetLastId(kDefaultPoolId);
  resources_.SetPool(kDefaultResource, kDefaultPoolId);
}

mem_MemoryContainer::~mem_MemoryContainer() {
  delete lock_;
  DeleteManager(manager_);
  delete default_pool_;
  // Numbered pools left by a client that skipped CleanUpPools outlive the container;
  // they stop reporting, since their file is closed here.
  for (int i = 0; i < capacity_; ++i)
    if (pools_[i] != nullptr) pools_[i]->report_file_ = nullptr;
  if (report_file_ != nullptr) std::fclose(report_file_);
}

mem_MemoryPool* mem_MemoryContainer::CreatePool(int id) {
  // Ids start at 1 (0 is the default pool's): anything below is refused.
  if (id < 1) {
    std::fprintf(stderr, "mem_MemoryContainer::CreatePool: pool id %d is refused\n", id);
    return nullptr;
  }
  mem_CriticalSectionGuard guard(lock_);
  int const index = id - 1;
  if (index < capacity_ && pools_[index] != nullptr) {
    delete pools_[index];
    pools_[index] = nullptr;
  }
  if (index >= capacity_) {
    std::int64_t const grown = std::int64_t{kTableStep} * ((std::int64_t{index} + kTableStep) / kTableStep);
    std::int64_t const bytes = grown * static_cast<std::int64_t>(sizeof(mem_MemoryPool*));
    if (bytes > UINT32_MAX) throw std::bad_alloc();
    auto** table = static_cast<mem_MemoryPool**>(mem_OperatorNewThrowBuiltin(static_cast<unsigned>(bytes)));
    for (int i = 0; i < grown; ++i) table[i] = i < capacity_ ? pools_[i] : nullptr;
    mem_Free(pools_);
    pools_ = table;
    capacity_ = static_cast<int>(grown);
  }
  pools_[index] = new mem_MemoryPool(id, manager_);
  return pools_[index];
}

mem_MemoryPool* mem_MemoryContainer::GetPool(int id) {
  mem_CriticalSectionGuard guard(lock_);
  // Outside 1..capacity there is no such pool: null, as for an empty entry.
  if (id < 1 || id > capacity_) return nullptr;
  return pools_[id - 1];
}

void mem_MemoryContainer::CleanUpPools() {
  MemoryReport();
  for (int i = 0; i < capacity_; ++i) delete pools_[i];
  mem_Free(pools_);
  pools_ = nullptr;
  capacity_ = 0;
  manager_->ClearPurgeLists();
  default_pool_->MemoryReport();
}

void mem_MemoryContainer::MemoryReport() {
  if (report_file_ == nullptr) return;
  std::fprintf(report_file_, "CACHE MANAGER MEMORY IN USE %f\n",
               manager_->MemoryInUse() * kBytesToMiB);
  default_pool_->MemoryReport();
  for (int i = 0; i < capacity_; ++i)
    if (pools_[i] != nullptr) pools_[i]->MemoryReport();
  std::fflush(report_file_);
}

void mem_MemoryContainer::OpenDbFile(char const* path) {
  // The file opened before is closed: every holder of it is handed the new one below
  // (pools made since then have none), so nothing could write to it any more.
  if (report_file_ != nullptr) std::fclose(report_file_);
  report_file_ = path != nullptr ? std::fopen(path, "w") : nullptr;
  manager_->SetReportFile(report_file_);
  default_pool_->report_file_ = report_file_;
  for (int i = 0; i < capacity_; ++i)
    if (pools_[i] != nullptr) pools_[i]->report_file_ = report_file_;
}
