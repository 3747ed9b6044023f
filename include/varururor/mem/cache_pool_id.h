// Handles of objects in a cache pool. Clients keep these 32-bit values instead of
// addresses and resolve them through their pool when they need the object.
//
// An even handle names a block of its own (its record index times 2); an odd one an
// object inside a cluster: bit 0 set, bits 1-15 the cluster's index, bits 16-31 the
// object's word offset in the cluster's memory. 0 is the null handle.
#ifndef VARURUROR_MEM_CACHE_POOL_ID_H
#define VARURUROR_MEM_CACHE_POOL_ID_H

#include "varururor/frame/export.h"

class mem_CachePool;
class mem_CacheItem;

class mem_CachePoolID {
 public:
  mem_CachePoolID() : id_(0) {}
  explicit mem_CachePoolID(unsigned int id) : id_(id) {}

  unsigned int Id() const { return id_; }
  bool IsNull() const { return id_ == 0; }
  bool operator==(mem_CachePoolID const& other) const { return id_ == other.id_; }
  bool operator!=(mem_CachePoolID const& other) const { return id_ != other.id_; }

 protected:
  unsigned int id_;
};
static_assert(sizeof(mem_CachePoolID) == 4, "one unsigned");

// A handle that resolves to a T: void* for raw objects, mem_CacheItem* for cache items.
template <class T>
class VR_API mem_CachePoolIDTyp : public mem_CachePoolID {
 public:
  mem_CachePoolIDTyp() = default;
  mem_CachePoolIDTyp(mem_CachePoolID id)
      : mem_CachePoolID(id) {}  // an untyped handle becomes a typed one

  bool operator==(mem_CachePoolIDTyp const& other) const { return id_ == other.id_; }
  bool operator!=(mem_CachePoolIDTyp const& other) const { return id_ != other.id_; }

  // The object's address in pool; null for the null handle.
  T Ptr(mem_CachePool* pool) const;
};

extern template class mem_CachePoolIDTyp<void*>;
extern template class mem_CachePoolIDTyp<mem_CacheItem*>;

#endif
