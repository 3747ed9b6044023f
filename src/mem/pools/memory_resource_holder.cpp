#include "varururor/mem/memory_resource_holder.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr char const* kResourceNames[mem_MemoryResourceHolder::kResourceCount] = {
    "std_default",     "std_adbmeta",           "std_adbbulkndb",  "std_adbbulkeldb",
    "std_adbreusable", "std_sintdbsl",          "std_ebeoperator", "std_assembledoperator",
    "std_localfactor", "std_remotefactor",      "std_localstack",  "std_remotestack",
    "std_rhs2dblock",  "std_nickname",          "std_ellagnew",    "std_ellagold",
    "std_nodegraph",   "std_analysisresources", "std_solvermisc",  "std_contactdb",
    "std_metis",       "std_rdmmisc",           "std_admmisc"};

constexpr double kBytesToMebibytes = 9.5367431640625e-7;  // 2^-20

bool IsResource(int index) {
  return index >= 0 && index < mem_MemoryResourceHolder::kResourceCount;
}

}  // namespace

mem_MemoryResourceHolder::mem_MemoryResourceHolder() : last_id_(-1) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(offsetof(mem_MemoryResourceHolder, last_id_) == 0 &&
                    offsetof(mem_MemoryResourceHolder, pool_id_) == 4 &&
                    offsetof(mem_MemoryResourceHolder, priority_) == 96 &&
                    offsetof(mem_MemoryResourceHolder, allowance_) == 188 &&
                    offsetof(mem_MemoryResourceHolder, in_core_) == 372,
                "last id, then pool ids, priorities, allowances and in-core flags");
#pragma GCC diagnostic pop
  for (int i = 0; i < kResourceCount; ++i) {
    pool_id_[i] = 0;
    priority_[i] = 0;
    allowance_[i] = 0;
    in_core_[i] = true;
  }
}

char const* mem_MemoryResourceHolder::ResourceName(int index) {
  return IsResource(index) ? kResourceNames[index] : nullptr;
}

int mem_MemoryResourceHolder::ResourceIndex(char const* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i < kResourceCount; ++i) {
    if (std::strcmp(kResourceNames[i], name) == 0) return i;
  }
  return -1;
}

bool mem_MemoryResourceHolder::SetPool(int index, int poolId) {
  if (!IsResource(index)) return false;
  pool_id_[index] = poolId;
  return true;
}

bool mem_MemoryResourceHolder::SetPriority(int index, int priority) {
  if (!IsResource(index)) return false;
  priority_[index] = priority;
  return true;
}

bool mem_MemoryResourceHolder::SetAllowance(int index, long long bytes) {
  if (!IsResource(index)) return false;
  allowance_[index] = bytes;
  return true;
}

bool mem_MemoryResourceHolder::SetInCore(int index, bool inCore) {
  if (!IsResource(index)) return false;
  in_core_[index] = inCore;
  return true;
}

bool mem_MemoryResourceHolder::GetPool(int index, int* poolId) const {
  if (!IsResource(index) || poolId == nullptr) return false;
  *poolId = pool_id_[index];
  return true;
}

bool mem_MemoryResourceHolder::GetPriority(int index, int* priority) const {
  if (!IsResource(index) || priority == nullptr) return false;
  *priority = priority_[index];
  return true;
}

bool mem_MemoryResourceHolder::GetAllowance(int index, long long* bytes) const {
  if (!IsResource(index) || bytes == nullptr) return false;
  *bytes = allowance_[index];
  return true;
}

bool mem_MemoryResourceHolder::GetInCore(int index, bool* inCore) const {
  if (!IsResource(index) || inCore == nullptr) return false;
  *inCore = in_core_[index];
  return true;
}

void mem_MemoryResourceHolder::ReportResources(FILE* stream) {
  if (stream == nullptr) return;  // nowhere to print: nothing to do
  for (int i = 0; i < kResourceCount; ++i) {
    std::fprintf(stream, "%s -- pool %d -- incore %d -- priority %d -- allowance %f\n",
                 kResourceNames[i], pool_id_[i], in_core_[i] ? 1 : 0, priority_[i],
                 static_cast<double>(allowance_[i]) * kBytesToMebibytes);
  }
}
