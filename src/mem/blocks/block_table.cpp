#include "varururor/mem/block_table.h"

#include <cstring>

#include "varururor/mem/allocator.h"

namespace {
char const kTag[] = "mem_Block";
}  // namespace

mem_BlockTable::mem_BlockTable(mem_Allocator& allocator, int shift, int growth)
    : level1_(nullptr),
      shift_(shift),
      mask_((1 << shift) - 1),
      level1_entries_(0),
      growth_(growth),
      allocator_(&allocator) {
  level1_ = static_cast<void***>(
      allocator.Calloc(kTag, static_cast<unsigned>(growth), sizeof(void**)));
  if (level1_ != nullptr) level1_entries_ = growth;
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
    level1_[first] = static_cast<void**>(allocator_->Calloc(kTag, 1u << shift_, sizeof(void*)));
    if (level1_[first] == nullptr) return false;
  }
  level1_[first][id & mask_] = value;
  return true;
}
