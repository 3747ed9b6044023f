#include "mem/blocks/block_table.h"

#include <cstring>

#include "varururor/mem/allocator.h"

namespace {
char const kTag[] = "mem_Block";
constexpr unsigned kLevel2Entries = 1u << mem_BlockTable::kShift;
}  // namespace

mem_BlockTable::mem_BlockTable(mem_Allocator& allocator)
    : level1_(nullptr),
      shift_(kShift),
      mask_(kMask),
      level1_entries_(0),
      growth_(kGrowth),
      allocator_(&allocator) {
  level1_ = static_cast<void***>(allocator.Calloc(kTag, kGrowth, sizeof(void**)));
  if (level1_ != nullptr) level1_entries_ = kGrowth;
}

mem_BlockTable::~mem_BlockTable() {
  if (level1_ == nullptr) return;
  for (int i = 0; i < level1_entries_; ++i) {
    if (level1_[i] != nullptr) allocator_->Free(kTag, level1_[i]);
  }
  allocator_->Free(kTag, level1_);
}

bool mem_BlockTable::Store(int id, void* value) {
  int first = id >> shift_;
  if (first >= level1_entries_) {
    int entries = level1_entries_;
    while (entries <= first) entries += growth_;
    auto* grown = static_cast<void***>(
        allocator_->Realloc(kTag, level1_, static_cast<unsigned>(entries) * sizeof(void**)));
    if (grown == nullptr) return false;
    std::memset(grown + level1_entries_, 0,
                static_cast<unsigned>(entries - level1_entries_) * sizeof(void**));
    level1_ = grown;
    level1_entries_ = entries;
  }
  if (level1_[first] == nullptr) {
    level1_[first] = static_cast<void**>(allocator_->Calloc(kTag, kLevel2Entries, sizeof(void*)));
    if (level1_[first] == nullptr) return false;
  }
  level1_[first][id & mask_] = value;
  return true;
}
