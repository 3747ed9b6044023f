#include "varururor/mem/memory_scan.h"

#include <cinttypes>
#include <cstdint>

#include "mem/scan/region_walk.h"

namespace {

// The top of a 32-bit Windows process's address space, which callers pass to mean "all of
// it" (the Fortran entry point does). Here the process's libraries, stacks and our own
// reservations lie above it, so such a limit scans the whole user address space.
constexpr unsigned int kWholeSpaceLimit = 0x7FFFFFFF;
constexpr unsigned int kNoLimit = 0xFFFFFFFF;

// The largest region of one kind seen so far; ties keep the earlier (lower) region.
struct LargestRegion {
  unsigned int size = 0;
  unsigned int address = 0;
  void Offer(unsigned int region_size, unsigned int region_address) {
    if (region_size > size) {
      size = region_size;
      address = region_address;
    }
  }
};

// Byte counts add up in 32 bits, as the report has always kept them.
struct ScanSummary {
  unsigned int free_bytes = 0;
  unsigned int committed_bytes = 0;
  unsigned int reserved_bytes = 0;
  LargestRegion largest_free;
  LargestRegion largest_reserved;
};

char const* StateName(std::uint32_t state) {
  switch (state) {
    case plat::kMemCommit:
      return "MEM_COMMIT";
    case plat::kMemReserve:
      return "MEM_RESERVE";
    case plat::kMemFree:
      return "MEM_FREE";
    default:
      return "UNKN MEM STA";
  }
}

char const* TypeName(std::uint32_t type) {
  switch (type) {
    case plat::kMemPrivate:
      return "MEM_PRIVATE";
    case plat::kMemMapped:
      return "MEM_MAPPED";
    case plat::kMemImage:
      return "MEM_IMAGE";
    default:
      return "NONE";
  }
}

// Counts and sizes print as 64-bit decimals.
std::int64_t Wide(unsigned int value) { return static_cast<std::int64_t>(value); }

void PrintRegion(FILE* out, unsigned int address, plat::MemoryBasicInformation const& info) {
  std::fprintf(out, "%x  --  State = %12s  --  Type = %11s  --  RegionSize = %" PRId64 "\n",
               address, StateName(info.state), TypeName(info.type),
               Wide(static_cast<unsigned int>(info.region_size)));
  std::fflush(out);
}

void PrintCompactSummary(FILE* out, ScanSummary const& s) {
  std::fprintf(out, "\nMEMORY USE SUMMARY\n");
  std::fprintf(out, "   Free Memory      = %" PRId64, Wide(s.free_bytes));
  std::fprintf(out, "   Committed Memory = %" PRId64, Wide(s.committed_bytes));
  std::fprintf(out, "   Reserved Memory  = %" PRId64, Wide(s.reserved_bytes));
  std::fprintf(out, "\n   Max Free Block Size = %" PRId64, Wide(s.largest_free.size));
  std::fprintf(out, "   PTR = %x", s.largest_free.address);
  std::fprintf(out, "\n   Max Reserved Block Size = %" PRId64, Wide(s.largest_reserved.size));
  std::fprintf(out, "   PTR = %x\n", s.largest_reserved.address);
}

void PrintLongSummary(FILE* out, ScanSummary const& s) {
  std::fprintf(out, "\nMEMORY USE SUMMARY\n");
  std::fprintf(out, "   Free Memory      = %" PRId64 "\n", Wide(s.free_bytes));
  std::fprintf(out, "   Committed Memory = %" PRId64 "\n", Wide(s.committed_bytes));
  std::fprintf(out, "   Reserved Memory  = %" PRId64 "\n", Wide(s.reserved_bytes));
  std::fprintf(out, "\n   Max Free Block Size = %" PRId64 "\n", Wide(s.largest_free.size));
  std::fprintf(out, "    PTR = %x\n", s.largest_free.address);
  std::fprintf(out, "   Max Reserved Block Size = %" PRId64 "\n", Wide(s.largest_reserved.size));
  std::fprintf(out, "   PTR = %x\n", s.largest_reserved.address);
  std::fprintf(out, "\n");
}

bool QueryAddressSpace(void*, unsigned int address, plat::MemoryBasicInformation* info) {
  void const* pointer = reinterpret_cast<void const*>(static_cast<std::uintptr_t>(address));
  return plat::VirtualQuery(pointer, info) != 0;
}

}  // namespace

namespace mem {

void WalkRegions(MEM_SCAN_LEVEL_ENM level, unsigned int limit, unsigned int ceiling,
                 RegionQuery query, void* context, FILE* out) {
  ScanSummary summary;
  // One record for the whole walk: a failed query leaves it as the last query filled it,
  // and the walk moves on by that region's size. A size of 0 (a first query that failed)
  // ends the walk, which could never advance.
  plat::MemoryBasicInformation info{};
  unsigned int address = 0;
  while (address < limit) {
    query(context, address, &info);
    unsigned int size = static_cast<unsigned int>(info.region_size);
    if (level == MEM_SCAN_ALL_REGIONS ||
        (level == MEM_SCAN_FREE_REGIONS && info.state == plat::kMemFree)) {
      PrintRegion(out, address, info);
    }
    if (info.state == plat::kMemFree) {
      summary.free_bytes += size;
      summary.largest_free.Offer(size, address);
    } else if (info.state == plat::kMemReserve) {
      summary.reserved_bytes += size;
      summary.largest_reserved.Offer(size, address);
    } else if (info.state == plat::kMemCommit) {
      summary.committed_bytes += size;
    }
    if (size == 0 || std::uint64_t{address} + size > ceiling) break;
    address += size;
  }
  if (level == MEM_SCAN_ALL_REGIONS) {
    PrintCompactSummary(out, summary);
  } else {
    PrintLongSummary(out, summary);
  }
  std::fflush(out);
}

}  // namespace mem

void mem_ScanMemory(MEM_SCAN_LEVEL_ENM level, unsigned int limit) {
  if (limit >= kWholeSpaceLimit) limit = kNoLimit;
  auto const ceiling = static_cast<unsigned int>(plat::MaximumApplicationAddress());
  mem::WalkRegions(level, limit, ceiling, QueryAddressSpace, nullptr, stderr);
}

void MEM_SCANMEMORY_IFC() { mem_ScanMemory(MEM_SCAN_ALL_REGIONS, kWholeSpaceLimit); }
