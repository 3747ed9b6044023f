// mem_MemoryResourceHolder: the table of the 23 named memory resources that map the
// application's kinds of data to memory pools. The memory container embeds one; clients
// fill it, and ReportResources prints it.
#ifndef VARURUROR_MEM_MEMORY_RESOURCE_HOLDER_H
#define VARURUROR_MEM_MEMORY_RESOURCE_HOLDER_H

#include <cstdio>

#include "varururor/frame/export.h"

class VR_API mem_MemoryResourceHolder {
 public:
  static constexpr int kResourceCount = 23;

  // Every resource on pool 0, priority 0, allowance 0 and in core; the last id is -1.
  mem_MemoryResourceHolder();

  // The name of resource index ("std_default" ... "std_admmisc"); null outside 0..22.
  static char const* ResourceName(int index);
  // The index of the resource with that exact name; -1 for null or an unknown name.
  static int ResourceIndex(char const* name);

  // The setters change resource index and return true; an index outside 0..22 changes
  // nothing and returns false.
  bool SetPool(int index, int poolId);
  bool SetPriority(int index, int priority);
  bool SetAllowance(int index, long long bytes);
  bool SetInCore(int index, bool inCore);

  // The getters store the entry of resource index in *value and return true; an index
  // outside 0..22 or a null pointer stores nothing and returns false.
  bool GetPool(int index, int* poolId) const;
  bool GetPriority(int index, int* priority) const;
  bool GetAllowance(int index, long long* bytes) const;
  bool GetInCore(int index, bool* inCore) const;

  // The highest pool id handed out so far (-1 before the default pool exists).
  int GetLastId() const { return last_id_; }
  void SetLastId(int id) { last_id_ = id; }

  // One line per resource, in index order: name, pool id, in-core flag as 0 or 1,
  // priority and allowance in MiB. A null stream prints nothing.
  void ReportResources(FILE* stream);

 private:
  int last_id_;
  int pool_id_[kResourceCount];
  int priority_[kResourceCount];
  long long allowance_[kResourceCount];
  bool in_core_[kResourceCount];
};

// The last id, then 23 pool ids, 23 priorities, 23 allowances and 23 in-core flags; the
// allowances follow the priorities directly (a 64-bit field needs only 4-byte alignment
// inside an i386 record). The offsets are checked in the constructor.
static_assert(sizeof(mem_MemoryResourceHolder) == 396, "the resource table is 396 bytes");

#endif
