// Virtual memory: reserve, commit, decommit and release address ranges, and query regions.
//
// The operations keep the semantics the library's allocators were written against:
// a reservation starts on an allocation-granularity boundary, its pages are either
// reserved or committed, a release takes back a whole reservation at once (given its
// base), and a query describes the run of pages around an address that share one state.
// Addresses that the library did not reserve are described from the process's address map.
#ifndef VARURUROR_PLAT_VIRTUAL_MEMORY_H
#define VARURUROR_PLAT_VIRTUAL_MEMORY_H

#include <cstddef>
#include <cstdint>

namespace plat {

// Allocation types, free types, protections, states and region types, with the
// values that reports print and compare.
constexpr std::uint32_t kMemCommit = 0x1000;
constexpr std::uint32_t kMemReserve = 0x2000;
constexpr std::uint32_t kMemDecommit = 0x4000;
constexpr std::uint32_t kMemRelease = 0x8000;
constexpr std::uint32_t kMemFree = 0x10000;
constexpr std::uint32_t kMemTopDown = 0x100000;
// This platform's own: keep free address space above the new reservation, so that
// reservations asked for later right at its end (a heap growing upward) can be had.
constexpr std::uint32_t kMemGrowthRoom = 0x40000000;

constexpr std::uint32_t kPageNoAccess = 0x01;
constexpr std::uint32_t kPageReadOnly = 0x02;
constexpr std::uint32_t kPageReadWrite = 0x04;
constexpr std::uint32_t kPageExecute = 0x10;
constexpr std::uint32_t kPageExecuteRead = 0x20;
constexpr std::uint32_t kPageExecuteReadWrite = 0x40;

constexpr std::uint32_t kMemPrivate = 0x20000;
constexpr std::uint32_t kMemMapped = 0x40000;
constexpr std::uint32_t kMemImage = 0x1000000;

// The page size and the unit in which address space is reserved.
struct SystemInfo {
  std::uint32_t page_size;
  std::uint32_t allocation_granularity;
};
SystemInfo GetSystemInfo();

// The highest address of the process's user address space: the last byte a mapping may
// cover (a 32-bit process on a 64-bit kernel owns almost all 4 GiB).
std::uintptr_t MaximumApplicationAddress();

// One region: the run of pages from base that share state, protection and type,
// within one reservation (allocation_base) or one mapping of the address map.
struct MemoryBasicInformation {
  void* base_address;
  void* allocation_base;
  std::uint32_t allocation_protect;
  std::size_t region_size;
  std::uint32_t state;  // kMemCommit, kMemReserve or kMemFree
  std::uint32_t protect;
  std::uint32_t type;  // kMemPrivate, kMemMapped, kMemImage, or 0 when free
};

// Reserves and/or commits. address null: the system places a new reservation
// (kMemTopDown asks for a high address, kMemGrowthRoom for room above it). address with
// kMemReserve: a new reservation exactly there (on an allocation-granularity boundary),
// or null if anything lies in the way. address inside a reservation with kMemCommit
// alone: commits the pages that cover [address, address + size). Null on failure.
void* VirtualAlloc(void* address, std::size_t size, std::uint32_t allocation_type,
                   std::uint32_t protect);

// kMemRelease: size must be 0 and address the base of a reservation; the whole
// reservation goes back. kMemDecommit: the pages covering the range lose their
// contents and become reserved. False on failure.
bool VirtualFree(void* address, std::size_t size, std::uint32_t free_type);

// Fills info for the region that holds address; returns the size of the record,
// or 0 when the address lies beyond the user address space.
std::size_t VirtualQuery(void const* address, MemoryBasicInformation* info);

}  // namespace plat

#endif
