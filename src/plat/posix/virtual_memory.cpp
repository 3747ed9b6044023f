// Virtual memory on Linux: reservations are anonymous mappings aligned to the
// allocation granularity; reserved pages are PROT_NONE, committed pages read-write.
// A registry of the library's reservations answers queries about them; for every
// other address the process's address map (/proc/self/maps) is read.
#include "plat/virtual_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "plat/fault_injection.h"
#include "plat/posix/address_map.h"

namespace plat {
namespace {

// The unit of address-space reservation that the library's allocators round to.
constexpr std::uint32_t kAllocationGranularity = 0x10000;
constexpr std::uint32_t kPageSize = 4096;
constexpr std::uintptr_t kPageMask = kPageSize - 1;
// Highest address a 32-bit process may own, rounded down to a page.
constexpr std::uintptr_t kUserSpaceEnd = 0xFFFFF000u;

// Address space kept free above the last reservation made with kMemGrowthRoom: a
// PROT_NONE mapping of ours, outside the registry, from which reservations asked for at
// its start are cut.
constexpr std::size_t kGrowthRoom = 0x4000000;  // 64 MiB

struct Reservation {
  std::uintptr_t base;
  std::size_t size;
  // True while every page has the same state; queries then need no address map.
  bool uniform;
  std::uint32_t uniform_state;
  std::uint32_t allocation_protect;
};

// The registry: reservations sorted by base, in memory mapped for it (never taken
// from a heap, since heaps call in here).
pthread_mutex_t g_registry_lock = PTHREAD_MUTEX_INITIALIZER;
Reservation* g_reservations = nullptr;
std::size_t g_reservation_count = 0;
std::size_t g_reservation_capacity = 0;
std::uintptr_t g_growth_start = 0;  // under the registry lock, as is g_growth_end
std::uintptr_t g_growth_end = 0;

class RegistryLock {
 public:
  RegistryLock() { pthread_mutex_lock(&g_registry_lock); }
  ~RegistryLock() { pthread_mutex_unlock(&g_registry_lock); }
  RegistryLock(RegistryLock const&) = delete;
  RegistryLock& operator=(RegistryLock const&) = delete;
};

// Index of the first reservation whose base is above address.
std::size_t UpperBound(std::uintptr_t address) {
  std::size_t low = 0;
  std::size_t high = g_reservation_count;
  while (low < high) {
    std::size_t mid = (low + high) / 2;
    if (g_reservations[mid].base <= address) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

Reservation* FindContaining(std::uintptr_t address) {
  std::size_t index = UpperBound(address);
  if (index == 0) return nullptr;
  Reservation* candidate = &g_reservations[index - 1];
  return address - candidate->base < candidate->size ? candidate : nullptr;
}

bool GrowRegistry() {
  std::size_t capacity = g_reservation_capacity ? 2 * g_reservation_capacity : 256;
  void* memory = mmap(nullptr, capacity * sizeof(Reservation), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  if (g_reservations != nullptr) {
    std::memcpy(memory, g_reservations, g_reservation_count * sizeof(Reservation));
    munmap(g_reservations, g_reservation_capacity * sizeof(Reservation));
  }
  g_reservations = static_cast<Reservation*>(memory);
  g_reservation_capacity = capacity;
  return true;
}

bool Register(Reservation const& reservation) {
  if (g_reservation_count == g_reservation_capacity && !GrowRegistry()) return false;
  std::size_t index = UpperBound(reservation.base);
  std::memmove(&g_reservations[index + 1], &g_reservations[index],
               (g_reservation_count - index) * sizeof(Reservation));
  g_reservations[index] = reservation;
  ++g_reservation_count;
  return true;
}

void Unregister(Reservation* reservation) {
  std::size_t index = static_cast<std::size_t>(reservation - g_reservations);
  std::memmove(&g_reservations[index], &g_reservations[index + 1],
               (g_reservation_count - index - 1) * sizeof(Reservation));
  --g_reservation_count;
}

int PosixProtection(std::uint32_t protect) {
  switch (protect) {
    case kPageReadOnly:
      return PROT_READ;
    case kPageReadWrite:
      return PROT_READ | PROT_WRITE;
    case kPageExecute:
      return PROT_EXEC;
    case kPageExecuteRead:
      return PROT_READ | PROT_EXEC;
    case kPageExecuteReadWrite:
      return PROT_READ | PROT_WRITE | PROT_EXEC;
    default:
      return PROT_NONE;
  }
}

bool KnownProtection(std::uint32_t protect) {
  return protect == kPageNoAccess || protect == kPageReadOnly || protect == kPageReadWrite ||
         protect == kPageExecute || protect == kPageExecuteRead || protect == kPageExecuteReadWrite;
}

std::size_t RoundUpToPage(std::size_t size) { return (size + kPageMask) & ~kPageMask; }

// A fresh reservation of size bytes (a multiple of the page size) on a granularity
// boundary: map more than needed, then cut the slack off both ends.
void* ReserveAligned(std::size_t size, int protection) {
  std::size_t padded = size + kAllocationGranularity - kPageSize;
  if (padded < size) return nullptr;
  void* raw = mmap(nullptr, padded, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  std::uintptr_t aligned =
      (start + kAllocationGranularity - 1) & ~std::uintptr_t{kAllocationGranularity - 1};
  if (aligned > start) munmap(raw, aligned - start);
  std::uintptr_t end = start + padded;
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  return reinterpret_cast<void*>(aligned);
}

// With the registry lock held: the growth room goes back to the system.
void DropGrowthRoom() {
  if (g_growth_end > g_growth_start)
    munmap(reinterpret_cast<void*>(g_growth_start), g_growth_end - g_growth_start);
  g_growth_start = g_growth_end = 0;
}

// A reservation with kGrowthRoom of free address space above it, held as PROT_NONE; the
// room of the previous such reservation is given up. Null if the space cannot be had.
void* ReserveWithGrowthRoom(std::size_t rounded, int protection) {
  if (rounded + kGrowthRoom < rounded) return nullptr;
  void* base = ReserveAligned(rounded + kGrowthRoom, PROT_NONE);
  if (base == nullptr) return nullptr;
  if (protection != PROT_NONE && mprotect(base, rounded, protection) != 0) {
    munmap(base, rounded + kGrowthRoom);
    return nullptr;
  }
  std::uintptr_t const end = reinterpret_cast<std::uintptr_t>(base) + rounded;
  RegistryLock lock;
  DropGrowthRoom();
  g_growth_start = end;
  g_growth_end = end + kGrowthRoom;
  return base;
}

void* NewReservation(std::size_t size, std::uint32_t allocation_type, std::uint32_t protect) {
  bool commit = (allocation_type & kMemCommit) != 0;
  std::size_t rounded = RoundUpToPage(size);
  if (rounded < size) return nullptr;
  int const protection = commit ? PosixProtection(protect) : PROT_NONE;
  void* base = nullptr;
  if (allocation_type & kMemGrowthRoom) base = ReserveWithGrowthRoom(rounded, protection);
  if (base == nullptr) base = ReserveAligned(rounded, protection);
  if (base == nullptr) return nullptr;
  Reservation reservation{reinterpret_cast<std::uintptr_t>(base), rounded, true,
                          commit ? kMemCommit : kMemReserve, protect};
  RegistryLock lock;
  if (!Register(reservation)) {
    munmap(base, rounded);
    return nullptr;
  }
  return base;
}

// A reservation exactly at address: cut from the front of the growth room, or taken
// from free address space; null when anything else lies in the way.
void* ReservationAt(void* address, std::size_t size, std::uint32_t allocation_type,
                    std::uint32_t protect) {
  std::uintptr_t const start = reinterpret_cast<std::uintptr_t>(address);
  std::size_t const rounded = RoundUpToPage(size);
  if (rounded < size || start % kAllocationGranularity != 0 || start + rounded < start ||
      start + rounded > kUserSpaceEnd) {
    return nullptr;
  }
  bool const commit = (allocation_type & kMemCommit) != 0;
  int const protection = commit ? PosixProtection(protect) : PROT_NONE;
  int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  RegistryLock lock;
  bool const from_room = start == g_growth_start && start + rounded <= g_growth_end;
  // Over our own room MAP_FIXED replaces it; elsewhere nothing may be replaced. A kernel
  // that does not know the flag takes the address as a hint, checked below.
  flags |= from_room ? MAP_FIXED : MAP_FIXED_NOREPLACE;
  void* placed = mmap(address, rounded, protection, flags, -1, 0);
  if (placed == MAP_FAILED) return nullptr;
  if (placed != address) {
    munmap(placed, rounded);
    return nullptr;
  }
  if (from_room) {
    g_growth_start += rounded;
    if (g_growth_start == g_growth_end) g_growth_start = g_growth_end = 0;
  }
  Reservation reservation{start, rounded, true, commit ? kMemCommit : kMemReserve, protect};
  if (!Register(reservation)) {
    // Back to what it was: room again, or free.
    if (from_room) {
      mmap(address, rounded, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED,
           -1, 0);
      g_growth_start = start;
      if (g_growth_end == 0) g_growth_end = start + rounded;
    } else {
      munmap(address, rounded);
    }
    return nullptr;
  }
  return address;
}

void* CommitInside(void* address, std::size_t size, std::uint32_t protect) {
  std::uintptr_t first = reinterpret_cast<std::uintptr_t>(address) & ~kPageMask;
  std::uintptr_t last = reinterpret_cast<std::uintptr_t>(address) + size;
  if (last < first) return nullptr;
  last = (last + kPageMask) & ~kPageMask;
  RegistryLock lock;
  Reservation* reservation = FindContaining(first);
  if (reservation == nullptr || last > reservation->base + reservation->size) return nullptr;
  if (mprotect(reinterpret_cast<void*>(first), last - first, PosixProtection(protect)) != 0) {
    return nullptr;
  }
  bool whole = first == reservation->base && last == reservation->base + reservation->size;
  if (whole) {
    reservation->uniform = true;
    reservation->uniform_state = kMemCommit;
  } else if (!(reservation->uniform && reservation->uniform_state == kMemCommit)) {
    reservation->uniform = false;
  }
  return reinterpret_cast<void*>(first);
}

bool Decommit(void* address, std::size_t size) {
  std::uintptr_t first = reinterpret_cast<std::uintptr_t>(address) & ~kPageMask;
  RegistryLock lock;
  Reservation* reservation = FindContaining(first);
  if (reservation == nullptr) return false;
  // A size of 0 at the reservation's base decommits the whole reservation.
  std::uintptr_t last;
  if (size == 0) {
    if (first != reservation->base) return false;
    last = reservation->base + reservation->size;
  } else {
    last = (reinterpret_cast<std::uintptr_t>(address) + size + kPageMask) & ~kPageMask;
    if (last <= first || last > reservation->base + reservation->size) return false;
  }
  void* start = reinterpret_cast<void*>(first);
  if (madvise(start, last - first, MADV_DONTNEED) != 0 ||
      mprotect(start, last - first, PROT_NONE) != 0) {
    return false;
  }
  bool whole = first == reservation->base && last == reservation->base + reservation->size;
  if (whole) {
    reservation->uniform = true;
    reservation->uniform_state = kMemReserve;
  } else if (!(reservation->uniform && reservation->uniform_state == kMemReserve)) {
    reservation->uniform = false;
  }
  return true;
}

bool Release(void* address, std::size_t size) {
  if (size != 0) return false;
  RegistryLock lock;
  Reservation* reservation = FindContaining(reinterpret_cast<std::uintptr_t>(address));
  if (reservation == nullptr || reservation->base != reinterpret_cast<std::uintptr_t>(address)) {
    return false;
  }
  if (munmap(address, reservation->size) != 0) return false;
  Unregister(reservation);
  return true;
}

std::uint32_t ProtectFromPermissions(AddressMapEntry const& entry) {
  if (!entry.readable && !entry.writable && !entry.executable) return kPageNoAccess;
  if (entry.executable) {
    if (entry.writable) return kPageExecuteReadWrite;
    return entry.readable ? kPageExecuteRead : kPageExecute;
  }
  return entry.writable ? kPageReadWrite : kPageReadOnly;
}

std::uint32_t StateFromPermissions(AddressMapEntry const& entry) {
  return ProtectFromPermissions(entry) == kPageNoAccess ? kMemReserve : kMemCommit;
}

// A region inside one of the library's reservations whose pages differ in state:
// the address map tells where the run of equal protection around page ends.
void DescribeMixedReservation(Reservation const& reservation, std::uintptr_t page,
                              MemoryBasicInformation* info) {
  std::uintptr_t reservation_end = reservation.base + reservation.size;
  std::uint32_t protect = kPageNoAccess;
  std::uintptr_t run_end = page + kPageSize;
  bool found = false;
  AddressMapReader reader;
  AddressMapEntry entry;
  while (reader.Next(&entry)) {
    if (entry.end <= page) continue;
    if (!found) {
      if (entry.start > page) break;
      found = true;
      protect = ProtectFromPermissions(entry);
      run_end = entry.end;
      continue;
    }
    if (entry.start != run_end || ProtectFromPermissions(entry) != protect) break;
    run_end = entry.end;
  }
  if (run_end > reservation_end) run_end = reservation_end;
  info->region_size = run_end - page;
  info->protect = protect;
  info->state = protect == kPageNoAccess ? kMemReserve : kMemCommit;
  if (info->state == kMemReserve) info->protect = 0;
}

void DescribeReservation(Reservation const& reservation, std::uintptr_t page,
                         MemoryBasicInformation* info) {
  info->base_address = reinterpret_cast<void*>(page);
  info->allocation_base = reinterpret_cast<void*>(reservation.base);
  info->allocation_protect = reservation.allocation_protect;
  info->type = kMemPrivate;
  if (reservation.uniform) {
    info->region_size = reservation.base + reservation.size - page;
    info->state = reservation.uniform_state;
    info->protect = reservation.uniform_state == kMemCommit ? reservation.allocation_protect : 0;
  } else {
    DescribeMixedReservation(reservation, page, info);
  }
}

void DescribeFree(std::uintptr_t page, std::uintptr_t end, MemoryBasicInformation* info) {
  info->base_address = reinterpret_cast<void*>(page);
  info->allocation_base = nullptr;
  info->allocation_protect = 0;
  info->region_size = end - page;
  info->state = kMemFree;
  info->protect = kPageNoAccess;
  info->type = 0;
}

// Everything outside the library's reservations, from the address map. The region is
// kept between floor and limit, the ends of the neighbouring reservations, since the
// system may merge a mapping of ours with an adjacent one.
void DescribeFromAddressMap(std::uintptr_t page, std::uintptr_t floor, std::uintptr_t limit,
                            MemoryBasicInformation* info) {
  AddressMapReader reader;
  AddressMapEntry entry;
  AddressMapEntry previous{};
  bool have_previous = false;
  // The run of consecutive mappings of one file (or a lone anonymous mapping).
  std::uintptr_t run_start = 0;
  bool run_executable = false;
  bool found = false;
  while (reader.Next(&entry)) {
    bool continues_run = have_previous && entry.inode != 0 && entry.start == previous.end &&
                         entry.inode == previous.inode && entry.device == previous.device;
    if (found && !continues_run) break;
    if (!continues_run) {
      run_start = entry.start;
      run_executable = false;
    }
    run_executable = run_executable || entry.executable;
    previous = entry;
    have_previous = true;
    if (!found) {
      if (entry.end <= page) continue;
      if (entry.start > page) {
        DescribeFree(page, entry.start < limit ? entry.start : limit, info);
        return;
      }
      found = true;
      info->base_address = reinterpret_cast<void*>(page);
      info->allocation_base = reinterpret_cast<void*>(run_start > floor ? run_start : floor);
      info->allocation_protect = ProtectFromPermissions(entry);
      info->state = StateFromPermissions(entry);
      info->protect = info->state == kMemReserve ? 0 : ProtectFromPermissions(entry);
      info->region_size = entry.end - page;
      info->type = entry.inode == 0 ? kMemPrivate : kMemMapped;
      if (entry.inode == 0) break;
      continue;
    }
    // Past the mapping that holds page: follow the file's further mappings to learn
    // whether it is an executable image, and extend the region over equal pages.
    if (page + info->region_size == entry.start && StateFromPermissions(entry) == info->state &&
        (info->state == kMemReserve || ProtectFromPermissions(entry) == info->protect)) {
      info->region_size = entry.end - page;
    }
  }
  if (!found) {
    DescribeFree(page, limit, info);
    return;
  }
  if (info->type == kMemMapped && run_executable) info->type = kMemImage;
  if (page + info->region_size > limit) info->region_size = limit - page;
}

}  // namespace

SystemInfo GetSystemInfo() { return SystemInfo{kPageSize, kAllocationGranularity}; }

std::uintptr_t MaximumApplicationAddress() { return kUserSpaceEnd - 1; }

void* VirtualAlloc(void* address, std::size_t size, std::uint32_t allocation_type,
                   std::uint32_t protect) {
  if (ShouldFail(Operation::kVirtualAlloc)) return nullptr;
  if (size == 0 || !KnownProtection(protect)) return nullptr;
  if ((allocation_type & (kMemCommit | kMemReserve)) == 0) return nullptr;
  if (address == nullptr) return NewReservation(size, allocation_type, protect);
  if (allocation_type & kMemReserve) return ReservationAt(address, size, allocation_type, protect);
  return CommitInside(address, size, protect);
}

bool VirtualFree(void* address, std::size_t size, std::uint32_t free_type) {
  if (ShouldFail(Operation::kVirtualFree)) return false;
  if (free_type == kMemRelease) return Release(address, size);
  if (free_type == kMemDecommit) return Decommit(address, size);
  return false;
}

std::size_t VirtualQuery(void const* address, MemoryBasicInformation* info) {
  std::uintptr_t page = reinterpret_cast<std::uintptr_t>(address) & ~kPageMask;
  if (page >= kUserSpaceEnd) return 0;
  Reservation holder{};
  bool inside = false;
  std::uintptr_t floor = 0;
  std::uintptr_t limit = kUserSpaceEnd;
  {
    RegistryLock lock;
    std::size_t index = UpperBound(page);
    if (index > 0) {
      Reservation const& below = g_reservations[index - 1];
      if (page - below.base < below.size) {
        holder = below;
        inside = true;
      } else {
        floor = below.base + below.size;
      }
    }
    if (index < g_reservation_count) limit = g_reservations[index].base;
  }
  // The address map is read without the registry lock; the copy stands for the query.
  if (inside) {
    DescribeReservation(holder, page, info);
  } else {
    DescribeFromAddressMap(page, floor, limit, info);
  }
  return sizeof(MemoryBasicInformation);
}

}  // namespace plat
