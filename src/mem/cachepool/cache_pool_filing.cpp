// Where a cache pool files its clusters: the class lists that name clusters which recently
// served a fixed class, the free-room buckets by largest free block, the free-cluster list
// of records without memory, and the fixed-block chains that hold the pool's records.
#include <new>

#include "mem/blocks/block.h"
#include "mem/cluster/cluster.h"
#include "varururor/mem/allocator.h"
#include "varururor/mem/cache_pool.h"

namespace {

constexpr int kNoLink = mem_Block::kNoLink;
// The variable class's pair of cluster links chains a cluster in its bucket.
constexpr int kBucketLinks = mem_Cluster::kVariableClass;
// Records are carved from fixed blocks whose slots fit them: the class above all slot classes.
constexpr int kRecordClass = mem_Cluster::kVariableClass;

int BitLength(unsigned value) { return value == 0 ? 0 : 32 - __builtin_clz(value); }

// Record storage that found no use goes back to its fixed block for the next try.
void GiveBack(mem_FixedBlock* block, void* storage) {
  block->Region().Free(static_cast<int>(static_cast<std::uint32_t*>(storage) - block->Memory()));
}

}  // namespace

// A request of words words looks no lower than the bucket of clusters with room for it.
int mem_CachePool::FirstBucketFor(int words) {
  return BitLength(static_cast<unsigned>(words - kBucketBaseWords) / kBucketStepWords);
}

void mem_CachePool::UnlinkClass(mem_Cluster* cluster, int size_class) {
  int next = cluster->NextLink(size_class);
  int previous = cluster->PreviousLink(size_class);
  if (previous != kNoLink) {
    Cluster(previous)->SetNextLink(size_class, next);
  } else if (class_heads_[size_class] == cluster->Number()) {
    class_heads_[size_class] = next;
  }
  if (next != kNoLink) Cluster(next)->SetPreviousLink(size_class, previous);
  cluster->SetNextLink(size_class, kNoLink);
  cluster->SetPreviousLink(size_class, kNoLink);
}

// A cluster without a predecessor may head any bucket: the head that names it moves on.
void mem_CachePool::UnlinkBucket(mem_Cluster* cluster) {
  int next = cluster->NextLink(kBucketLinks);
  int previous = cluster->PreviousLink(kBucketLinks);
  if (previous != kNoLink) {
    Cluster(previous)->SetNextLink(kBucketLinks, next);
  } else {
    for (int& head : bucket_heads_) {
      if (head == cluster->Number()) head = next;
    }
  }
  if (next != kNoLink) Cluster(next)->SetPreviousLink(kBucketLinks, previous);
  cluster->SetNextLink(kBucketLinks, kNoLink);
  cluster->SetPreviousLink(kBucketLinks, kNoLink);
}

void mem_CachePool::MoveToClassHead(mem_Cluster* cluster, int size_class) {
  UnlinkClass(cluster, size_class);
  int number = cluster->Number();
  int head = class_heads_[size_class];
  cluster->SetNextLink(size_class, head);
  if (head != kNoLink) Cluster(head)->SetPreviousLink(size_class, number);
  class_heads_[size_class] = number;
}

void mem_CachePool::MoveToBucket(mem_Cluster* cluster, int bucket) {
  UnlinkBucket(cluster);
  if (bucket == kNoCluster) return;
  int number = cluster->Number();
  int head = bucket_heads_[bucket];
  cluster->SetNextLink(kBucketLinks, head);
  if (head != kNoLink) Cluster(head)->SetPreviousLink(kBucketLinks, number);
  bucket_heads_[bucket] = number;
}

// An empty cluster leaves every list, gives its memory back and waits for reuse.
void mem_CachePool::Retire(mem_Cluster* cluster) {
  for (int size_class = 0; size_class < kFixedClassCount; ++size_class)
    UnlinkClass(cluster, size_class);
  UnlinkBucket(cluster);
  if (current_cluster_ == cluster) current_cluster_ = nullptr;
  cluster->Release(*allocator_);
  cluster->SetNext(free_cluster_head_);
  free_cluster_head_ = cluster->Number();
}

mem_Cluster* mem_CachePool::NewCluster() {
  if (free_cluster_head_ != kNoLink) {
    mem_Cluster* cluster = Cluster(free_cluster_head_);
    if (!cluster->TakeMemory(*allocator_)) return nullptr;
    free_cluster_head_ = cluster->Next();
    cluster->SetNext(kNoLink);
    return cluster;
  }
  if (cluster_count_ > static_cast<int>(mem::cluster::kNumberMask)) return nullptr;
  void* storage = TakeRecordStorage(cluster_record_blocks_, sizeof(mem_Cluster));
  if (storage == nullptr) return nullptr;
  mem_Cluster* cluster = mem_Cluster::Create(cluster_count_, storage, *allocator_);
  if (cluster == nullptr) {
    GiveBack(cluster_record_blocks_, storage);
    return nullptr;
  }
  if (!clusters_.Store(cluster_count_, cluster)) {
    cluster->Release(*allocator_);
    cluster->~mem_Cluster();
    GiveBack(cluster_record_blocks_, storage);
    return nullptr;
  }
  ++cluster_count_;
  return cluster;
}

// A new record takes its index before a new fixed block for it would take the next one.
int mem_CachePool::TakeRecord() {
  if (free_record_head_ != kNoLink) {
    int index = free_record_head_;
    free_record_head_ = Record(index)->Next();
    Record(index)->SetNext(kNoLink);
    return index;
  }
  int index = block_count_++;
  void* storage = TakeRecordStorage(record_blocks_, sizeof(mem_Block));
  mem_Block* record =
      storage == nullptr ? nullptr : new (storage) mem_Block(nullptr, 0, mem_BlockBorrows);
  if (record != nullptr && blocks_.Store(index, record)) return index;
  if (record != nullptr) {
    record->~mem_Block();
    GiveBack(record_blocks_, storage);
  }
  // A store fails only where no later index was stored yet: the index goes back.
  --block_count_;
  return kNoLink;
}

// A full fixed block passes the turn to the next one of its chain, once; then a new
// fixed block is linked in after the current one and becomes current.
void* mem_CachePool::TakeRecordStorage(mem_FixedBlock*& current, unsigned record_size) {
  using mem::blocks::Region;
  if (current != nullptr) {
    int slot = current->Region().Allocate();
    if (slot != Region::kNoSlot) return current->Memory() + slot;
    if (current->Next() != kNoLink) {
      auto* next = static_cast<mem_FixedBlock*>(Record(current->Next()));
      slot = next->Region().Allocate();
      if (slot != Region::kNoSlot) {
        current = next;
        return next->Memory() + slot;
      }
    }
  }
  mem_FixedBlock* block =
      mem_FixedBlock::Create(block_count_, *allocator_, kRecordClass, record_size);
  if (block == nullptr) return nullptr;
  if (!blocks_.Store(block_count_, block)) {
    block->Release(*allocator_);
    return nullptr;
  }
  ++block_count_;
  if (current != nullptr) {
    int next = current->Next();
    block->SetNext(next);
    block->SetPrevious(current->Id());
    if (next != kNoLink) Record(next)->SetPrevious(block->Id());
    current->SetNext(block->Id());
  }
  current = block;
  return block->Memory() + block->Region().Allocate();
}
