#include "varururor/mem/memory_pool.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "mem/pools/critical_section.h"
#include "varururor/mem/memory_cache_manager.h"

namespace {
constexpr double kBytesToMiB = 9.5367431640625e-7;
}

struct mem_MemoryPoolLayout {
  using P = mem_MemoryPool;
  static_assert(offsetof(P, id_) == 0 && offsetof(P, manager_) == 4 && offsetof(P, current_) == 8 &&
                    offsetof(P, low_) == 12 && offsetof(P, high_) == 16 &&
                    offsetof(P, tolerance_) == 20 && offsetof(P, lock_) == 28 &&
                    offsetof(P, max_used_) == 32 && offsetof(P, report_file_) == 36 &&
                    sizeof(P) == 40,
                "memory pool layout");
};

mem_MemoryPool::mem_MemoryPool(int id, mem_MemoryCacheManager* manager)
    : id_(id),
      manager_(manager),
      current_(0),
      low_(0),
      high_(0),
      tolerance_(0.0),
      lock_(new mem_CriticalSection(0)),
      max_used_(0),
      report_file_(nullptr) {}

mem_MemoryPool::~mem_MemoryPool() { delete lock_; }

void mem_MemoryPool::SetMemoryLimit(unsigned int low, unsigned int high, double tolerance) {
  mem_CriticalSectionGuard guard(lock_);
  low_ = low;
  high_ = high;
  tolerance_ = tolerance;
}

void* mem_MemoryPool::Alloc(unsigned int size) {
  unsigned charged = 0;
  void* p = manager_->Alloc(size, charged, false);
  UpdateMemoryInUse(true, charged);
  return p;
}

unsigned int mem_MemoryPool::Free(void* p) {
  unsigned const bytes = manager_->Free(p);
  if (bytes > 0) UpdateMemoryInUse(false, bytes);
  return bytes;
}

void* mem_MemoryPool::Calloc(unsigned int, unsigned int) { return nullptr; }
void* mem_MemoryPool::Realloc(void*, unsigned int) { return nullptr; }

unsigned int mem_MemoryPool::AllocSize(void* p) const {
  return p == nullptr ? 0 : manager_->AllocSize(p);
}

unsigned int mem_MemoryPool::ActualSizeForUse(void* p) const {
  return p == nullptr ? 0 : manager_->ActualSizeForUse(p);
}

void mem_MemoryPool::UpdateMemoryInUse(bool add, unsigned int bytes) {
  mem_CriticalSectionGuard guard(lock_);
  if (!add) {
    // Stops at 0: a block freed through another pool than its own must not wrap the count.
    current_ = bytes > current_ ? 0 : current_ - bytes;
    return;
  }
  current_ += bytes;
  if (current_ > max_used_) max_used_ = current_;
  double const threshold = (tolerance_ + 1.0) * static_cast<double>(high_);
  if (std::isgreater(static_cast<double>(current_), threshold))
    std::fprintf(stderr, "Memory exceeds the memory tolerance of %f in PoolId = %d\n", tolerance_,
                 id_);
  WriteReportLine();
}

void mem_MemoryPool::MemoryReport() {
  mem_CriticalSectionGuard guard(lock_);
  WriteReportLine();
}

void mem_MemoryPool::WriteReportLine() {
  if (report_file_ == nullptr) return;
  std::fprintf(report_file_, "poolId %d: current %f -- high %f -- low %f -- maxUsed %f\n", id_,
               current_ * kBytesToMiB, high_ * kBytesToMiB, low_ * kBytesToMiB,
               max_used_ * kBytesToMiB);
  std::fflush(report_file_);
}
