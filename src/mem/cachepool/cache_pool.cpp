#include "varururor/mem/cache_pool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "mem/blocks/block.h"
#include "mem/cluster/cluster.h"
#include "varururor/mem/allocator.h"

namespace {

char const kPoolTag[] = "mem_CachePool";
char const kBlockTag[] = "mem_Block";

constexpr int kNoLink = mem_Block::kNoLink;
constexpr int kVariableClass = mem_Cluster::kVariableClass;
// Record index to passthru or fixed block: 1024 entries per second-level array.
constexpr int kBlockTableShift = 10;
constexpr int kBlockTableGrowth = 64;
constexpr int kClusterTableShift = 6;
constexpr int kClusterTableGrowth = 8;
// Index 0 of both tables is never handed out, so that handle 0 names nothing.
constexpr int kFirstIndex = 1;
constexpr int kLastBucket = mem_CachePool::kBucketCount - 1;
constexpr int kSecondLastBucket = mem_CachePool::kBucketCount - 2;

constexpr unsigned kWordBytes = 4;
unsigned WordsOf(unsigned bytes) { return bytes == 0 ? 0 : (bytes - 1) / kWordBytes + 1; }

bool IsPassthru(mem_CachePoolID h) { return (h.Id() & mem::cluster::kValidBit) == 0; }
int RecordIndex(mem_CachePoolID h) { return static_cast<int>(h.Id() >> 1); }
mem_CachePoolID PassthruHandle(int index) {
  return mem_CachePoolID(static_cast<unsigned>(index) << 1);
}

}  // namespace

mem_CachePool* mem_CachePool::CreatePool(mem_Allocator* a) {
  void* storage = a->Malloc(kPoolTag, sizeof(mem_CachePool));
  if (storage == nullptr) return nullptr;
  auto* pool = new (storage) mem_CachePool(a);
  // Without their first levels the tables can store nothing: no pool either.
  if (!pool->blocks_.Ok() || !pool->clusters_.Ok()) {
    pool->Delete();
    return nullptr;
  }
  return pool;
}

mem_CachePool::mem_CachePool(mem_Allocator* a)
    : allocator_(a),
      blocks_(*a, kBlockTableShift, kBlockTableGrowth),
      block_count_(kFirstIndex),
      clusters_(*a, kClusterTableShift, kClusterTableGrowth),
      cluster_count_(kFirstIndex),
      free_record_head_(kNoLink),
      free_cluster_head_(kNoLink),
      current_cluster_(nullptr),
      record_blocks_(nullptr),
      cluster_record_blocks_(nullptr) {
  std::fill(class_heads_, class_heads_ + kFixedClassCount, kNoCluster);
  std::fill(bucket_heads_, bucket_heads_ + kBucketCount, kNoCluster);
}

void mem_CachePool::Delete() {
  mem_Allocator* allocator = allocator_;
  this->~mem_CachePool();
  allocator->Free(kPoolTag, this);
}

// Clusters and passthru memory go first, while the fixed blocks that hold their records
// are still there; the fixed blocks take the records with them.
mem_CachePool::~mem_CachePool() {
  for (int index = kFirstIndex; index < cluster_count_; ++index) {
    mem_Cluster* cluster = Cluster(index);
    cluster->Release(*allocator_);
    cluster->~mem_Cluster();
    clusters_.Store(index, nullptr);
  }
  for (int index = kFirstIndex; index < block_count_; ++index) {
    mem_Block* record = Record(index);
    if (record->Ownership() == mem_BlockFixed) continue;
    if (record->Ownership() == mem_BlockOwns) allocator_->Free(kBlockTag, record->Memory());
    record->~mem_Block();
    blocks_.Store(index, nullptr);
  }
  for (int index = kFirstIndex; index < block_count_; ++index) {
    if (mem_Block* fixed = Record(index)) fixed->Release(*allocator_);
  }
}

void* mem_CachePool::Ptr(mem_CachePoolID h) const {
  unsigned id = h.Id();
  if (id & mem::cluster::kValidBit) return Cluster(mem::cluster::HandleNumber(id))->Address(id);
  return id == 0 ? nullptr : Record(RecordIndex(h))->Memory();
}

mem_CachePoolIDTyp<void*> mem_CachePool::Alloc(unsigned size) {
  if (size == 0) return mem_CachePoolID();
  if (size > kLargestClusterObject) return AllocPassthru(size);
  int size_class = mem_Cluster::ClassOfSize(size);
  return size_class == kVariableClass ? AllocVariable(size) : AllocFixed(size, size_class);
}

mem_CachePoolID mem_CachePool::AllocPassthru(unsigned size) {
  void* memory = allocator_->Malloc(kPoolTag, size);
  if (memory == nullptr) return mem_CachePoolID();
  mem_CachePoolID h = Adopt(size, memory);
  if (h.IsNull()) allocator_->Free(kPoolTag, memory);
  return h;
}

mem_CachePoolIDTyp<void*> mem_CachePool::Adopt(unsigned size, void* memory) {
  // Null memory is nothing to own: no record for it.
  if (memory == nullptr) return mem_CachePoolID();
  int index = TakeRecord();
  if (index == kNoLink) return mem_CachePoolID();
  Record(index)->SetMemory(static_cast<std::uint32_t*>(memory), static_cast<int>(WordsOf(size)));
  return PassthruHandle(index);
}

// After every allocation or free in it, a cluster becomes the current one, heads the list
// of the class it served, and moves to the bucket of its largest free block.
inline void mem_CachePool::ReFile(mem_Cluster* cluster, int size_class) {
  current_cluster_ = cluster;
  int number = cluster->Number();
  if (size_class < kFixedClassCount && class_heads_[size_class] != number)
    MoveToClassHead(cluster, size_class);
  int bucket = BucketOf(cluster->LargestFree());
  if (bucket == kNoCluster || bucket_heads_[bucket] != number) MoveToBucket(cluster, bucket);
}

// The handle of a new object of size_class in cluster, re-filed; 0 when it has no room.
unsigned mem_CachePool::TryCluster(mem_Cluster* cluster, unsigned size, int size_class) {
  unsigned handle = cluster->Allocate(size);
  if (handle != mem::cluster::kNoHandle) ReFile(cluster, size_class);
  return handle;
}

// The clusters that recently served the class first (or, with none, the roomiest bucket's
// head); a cluster of the class list that has no room leaves the list. Then one try in a
// roomy bucket, unless there was nothing to start from at all.
mem_CachePoolID mem_CachePool::AllocFixed(unsigned size, int size_class) {
  int index = class_heads_[size_class];
  if (index == kNoCluster) index = bucket_heads_[kLastBucket];
  if (index != kNoCluster) {
    do {
      mem_Cluster* cluster = Cluster(index);
      if (unsigned handle = TryCluster(cluster, size, size_class)) return mem_CachePoolID(handle);
      index = cluster->NextLink(size_class);
      UnlinkClass(cluster, size_class);
    } while (index != kNoCluster);
    index = bucket_heads_[kSecondLastBucket];
    if (index == kNoCluster) index = bucket_heads_[kLastBucket];
    if (index != kNoCluster) {
      if (unsigned handle = TryCluster(Cluster(index), size, size_class))
        return mem_CachePoolID(handle);
    }
  }
  mem_Cluster* cluster = NewCluster();
  if (cluster == nullptr) return mem_CachePoolID();
  return mem_CachePoolID(TryCluster(cluster, size, size_class));
}

mem_CachePoolID mem_CachePool::AllocVariable(unsigned size) {
  if (current_cluster_ != nullptr) {
    if (unsigned handle = TryCluster(current_cluster_, size, kVariableClass))
      return mem_CachePoolID(handle);
  }
  for (int bucket = FirstBucketFor(mem::cluster::VariableRegion::WordsFor(size));
       bucket < kBucketCount; ++bucket) {
    int index = bucket_heads_[bucket];
    if (index == kNoCluster) continue;
    mem_Cluster* cluster = Cluster(index);
    if (unsigned handle = TryCluster(cluster, size, kVariableClass)) return mem_CachePoolID(handle);
    bucket_heads_[bucket] = cluster->NextLink(kVariableClass);
    ReFile(cluster, kVariableClass);
  }
  mem_Cluster* cluster = NewCluster();
  if (cluster == nullptr) return mem_CachePoolID();
  return mem_CachePoolID(TryCluster(cluster, size, kVariableClass));
}

void mem_CachePool::Free(mem_CachePoolID h) {
  if (h.IsNull()) return;
  if (IsPassthru(h)) {
    int index = RecordIndex(h);
    mem_Block* record = Record(index);
    void* memory = record->Memory();
    record->SetMemory(nullptr, 0);
    allocator_->Free(kBlockTag, memory);
    record->SetNext(free_record_head_);
    free_record_head_ = index;
    return;
  }
  mem_Cluster* cluster = Cluster(mem::cluster::HandleNumber(h.Id()));
  int size_class = cluster->ClassOf(h.Id());
  if (cluster->Free(h.Id())) {
    Retire(cluster);
  } else {
    ReFile(cluster, size_class);
  }
}

mem_CachePoolIDTyp<void*> mem_CachePool::ReAlloc(mem_CachePoolID h, unsigned size) {
  if (size == 0) return mem_CachePoolID();
  // Like realloc of a null pointer: a new object.
  if (h.IsNull()) return Alloc(size);
  if (IsPassthru(h)) {
    int index = RecordIndex(h);
    if (index < kFirstIndex || index >= block_count_) return mem_CachePoolID();
    mem_Block* record = Record(index);
    if (record->Ownership() == mem_BlockFixed || record->Memory() == nullptr)
      return mem_CachePoolID();
    void* memory = allocator_->Realloc(kPoolTag, record->Memory(), size);
    if (memory == nullptr) return mem_CachePoolID();
    record->SetMemory(static_cast<std::uint32_t*>(memory), static_cast<int>(WordsOf(size)));
    return h;
  }
  mem_Cluster* cluster = Cluster(mem::cluster::HandleNumber(h.Id()));
  unsigned old_size = cluster->Size(h.Id());
  if (size <= kLargestClusterObject) {
    unsigned handle = cluster->Resize(h.Id(), size);
    if (handle != mem::cluster::kNoHandle) {
      ReFile(cluster, cluster->ClassOf(handle));
      return mem_CachePoolID(handle);
    }
  }
  mem_CachePoolID moved = Alloc(size);
  if (moved.IsNull()) return moved;
  std::memcpy(Ptr(moved), Ptr(h), std::min(old_size, size));
  Free(h);
  return moved;
}

void mem_CachePool::DebugPrint() const {
  for (int index = kFirstIndex; index < cluster_count_; ++index) Cluster(index)->Print();
  for (int index = kFirstIndex; index < block_count_; ++index) Record(index)->Print();
}

void mem_CachePool::DebugSummary() const {
  int passthru_count = 0;
  int passthru_words = 0;
  int cluster_words = 0;
  for (int index = kFirstIndex; index < block_count_; ++index) {
    mem_Block* record = Record(index);
    if (record->Ownership() != mem_BlockOwns) continue;
    ++passthru_count;
    passthru_words += record->Words();
  }
  for (int index = kFirstIndex; index < cluster_count_; ++index) {
    if (Cluster(index)->HasMemory()) cluster_words += Cluster(index)->Usage();
  }
  std::printf("Pool Summary: blockCount=%d, clusterCount=%d, passthruCount=%d\n", block_count_,
              cluster_count_ - 1, passthru_count);
  std::printf("        PassthruSize=%d, ClusterAlloc=%d\n", passthru_words, cluster_words);
}
