// Purgeable items holding one block of bulk data each; purged names are recorded in order.
#ifndef VARURUROR_TESTS_MEM_POOLS_TEST_ITEMS_H
#define VARURUROR_TESTS_MEM_POOLS_TEST_ITEMS_H

#include <string>
#include <vector>

#include "varururor/mem/memory_cache_manager.h"

constexpr unsigned kPage = 4096;
constexpr unsigned kOnePageBlock = kPage + 48;
constexpr unsigned kAll = 0xFFFFFFFFu;

class BulkItem : public mem_MemoryItem {
 public:
  BulkItem(mem_MemoryCacheManager* manager, std::string name, std::vector<std::string>* purged)
      : manager_(manager), name_(std::move(name)), purged_(purged) {}
  ~BulkItem() { manager_->Free(data_); }

  // Takes size bytes of bulk data; false when the manager cannot make room.
  bool Build(unsigned size, bool throwOnFailure = true) {
    unsigned charged = 0;
    data_ = manager_->Alloc(size, charged, throwOnFailure);
    return data_ != nullptr;
  }
  bool Built() const { return data_ != nullptr; }
  unsigned int AllocSize() const override { return manager_->AllocSize(data_); }
  unsigned int FreeBulkData() override {
    if (purged_ != nullptr) purged_->push_back(name_);
    unsigned const freed = manager_->Free(data_);
    data_ = nullptr;
    return freed;
  }

 private:
  mem_MemoryCacheManager* manager_;
  std::string name_;
  std::vector<std::string>* purged_;
  void* data_ = nullptr;
};

#endif
