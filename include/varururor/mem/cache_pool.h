// mem_CachePool: a handle-based allocator for many small and medium objects, typically
// cache items. Clients hold 32-bit handles and turn them into addresses with Ptr when
// they need them. Objects of up to kLargestClusterObject bytes are carved out of 256 KiB
// memory clusters; larger ones get a block of their own from the pool's allocator
// ("passthru" blocks). All memory, the pool's own records included, comes from that one
// allocator. The pool takes no lock: one thread at a time.
//
// Handles stay valid until freed; an address from Ptr stays valid until the next ReAlloc
// or Free of its handle. A handle must belong to this pool and be live: it is not checked.
#ifndef VARURUROR_MEM_CACHE_POOL_H
#define VARURUROR_MEM_CACHE_POOL_H

#include "varururor/frame/export.h"
#include "varururor/mem/block_table.h"
#include "varururor/mem/cache_pool_id.h"

class mem_Allocator;
class mem_Block;
class mem_Cluster;
class mem_FixedBlock;

class VR_API mem_CachePool {
 public:
  // A pool on a (not owned), itself allocated from a; null when that fails.
  static mem_CachePool* CreatePool(mem_Allocator* a);
  // Releases everything and gives the pool's own storage back to its allocator.
  void Delete();
  mem_CachePool(mem_CachePool const&) = delete;
  mem_CachePool& operator=(mem_CachePool const&) = delete;

  mem_Allocator* Allocator() const { return allocator_; }

  // A new object of size bytes; the null handle for size 0 or when memory runs out.
  mem_CachePoolIDTyp<void*> Alloc(unsigned int size);
  // Takes memory (size bytes, from this pool's allocator) over as a block of its own; the
  // pool gives it back when the handle is freed. Null when no record can be had.
  mem_CachePoolIDTyp<void*> Adopt(unsigned int size, void* memory);
  // The object resized, possibly under a new handle, its bytes kept up to the smaller
  // size. Null on failure, and for size 0, with the old handle still valid.
  mem_CachePoolIDTyp<void*> ReAlloc(mem_CachePoolID h, unsigned int size);
  // The null handle is ignored.
  void Free(mem_CachePoolID h);
  void* Ptr(mem_CachePoolID h) const;

  // Every cluster record, then every block record, on the standard output.
  void DebugPrint() const;
  // Block and cluster counts, passthru blocks and the words in use, on the standard output.
  void DebugSummary() const;

  // Requests above this many bytes get a block of their own.
  static constexpr unsigned int kLargestClusterObject = 16384;
  static constexpr int kFixedClassCount = 10;
  static constexpr int kBucketCount = 8;
  enum : int { kNoCluster = -1 };  // an enumerator, so that no object of it is exported

  // For checkers: cluster indices run from 1 below ClusterCount(); a cluster's record
  // stays for the pool's life, without memory while on the free-cluster list.
  VR_HIDDEN int ClusterCount() const { return cluster_count_; }
  VR_HIDDEN mem_Cluster* Cluster(int index) const {
    return static_cast<mem_Cluster*>(clusters_.Get(index));
  }
  VR_HIDDEN int ClassHead(int size_class) const { return class_heads_[size_class]; }
  VR_HIDDEN int BucketHead(int bucket) const { return bucket_heads_[bucket]; }
  // The bucket of a cluster whose largest free block has words words; -1 for none.
  // 33 words falls below the first bucket's 34 and is filed in no bucket: no variable
  // request (at least 36 words) fits there anyway.
  VR_HIDDEN static int BucketOf(int words) {
    if (words < kBucketBaseWords) return kNoCluster;
    unsigned steps = static_cast<unsigned>(words - kBucketBaseWords) / kBucketStepWords;
    if (steps <= 1) return 0;
    int bucket = 31 - __builtin_clz(steps);
    return bucket < kBucketCount ? bucket : kBucketCount - 1;
  }
  // Largest free blocks from 34 words on fall in a bucket by how many 32-word steps lie
  // above 34 words: 0 or 1 step in bucket 0, then one bucket per power of two.
  static constexpr int kBucketBaseWords = 34;
  static constexpr int kBucketStepWords = 32;

 private:
  VR_HIDDEN explicit mem_CachePool(mem_Allocator* a);
  VR_HIDDEN ~mem_CachePool();

  VR_HIDDEN mem_Block* Record(int index) const {
    return static_cast<mem_Block*>(blocks_.Get(index));
  }
  VR_HIDDEN mem_CachePoolID AllocPassthru(unsigned int size);
  VR_HIDDEN mem_CachePoolID AllocFixed(unsigned int size, int size_class);
  VR_HIDDEN mem_CachePoolID AllocVariable(unsigned int size);
  VR_HIDDEN unsigned int TryCluster(mem_Cluster* cluster, unsigned int size, int size_class);
  VR_HIDDEN static int FirstBucketFor(int words);
  VR_HIDDEN mem_Cluster* NewCluster();
  VR_HIDDEN int TakeRecord();
  VR_HIDDEN void* TakeRecordStorage(mem_FixedBlock*& current, unsigned int record_size);
  VR_HIDDEN void ReFile(mem_Cluster* cluster, int size_class);
  VR_HIDDEN void MoveToClassHead(mem_Cluster* cluster, int size_class);
  VR_HIDDEN void MoveToBucket(mem_Cluster* cluster, int bucket);
  VR_HIDDEN void UnlinkClass(mem_Cluster* cluster, int size_class);
  VR_HIDDEN void UnlinkBucket(mem_Cluster* cluster);
  VR_HIDDEN void Retire(mem_Cluster* cluster);

  mem_Allocator* allocator_;
  mem_BlockTable blocks_;
  int block_count_;
  mem_BlockTable clusters_;
  int cluster_count_;
  int class_heads_[kFixedClassCount];
  int free_record_head_;
  int bucket_heads_[kBucketCount];
  int free_cluster_head_;
  mem_Cluster* current_cluster_;
  mem_FixedBlock* record_blocks_;
  mem_FixedBlock* cluster_record_blocks_;
};
static_assert(sizeof(mem_CachePool) == 152, "the fields in order, 38 words");

#endif
