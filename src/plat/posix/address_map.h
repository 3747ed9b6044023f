// Reads the process's address map (/proc/self/maps) one mapping at a time, with a
// fixed buffer of its own: no heap is touched, so heaps and fault handlers may use it.
#ifndef VARURUROR_PLAT_POSIX_ADDRESS_MAP_H
#define VARURUROR_PLAT_POSIX_ADDRESS_MAP_H

#include <cstddef>
#include <cstdint>

namespace plat {

struct AddressMapEntry {
  std::uintptr_t start;
  std::uintptr_t end;
  bool readable;
  bool writable;
  bool executable;
  bool shared;
  std::uint64_t offset;
  std::uint32_t device;
  std::uint64_t inode;
  char path[256];  // cut to fit; empty for anonymous mappings
};

class AddressMapReader {
 public:
  AddressMapReader();
  ~AddressMapReader();
  AddressMapReader(AddressMapReader const&) = delete;
  AddressMapReader& operator=(AddressMapReader const&) = delete;

  // The next mapping in ascending address order; false at the end or on a read error.
  bool Next(AddressMapEntry* entry);

 private:
  bool FillLine();

  static constexpr std::size_t kBufferSize = 4096;
  int fd_;
  char buffer_[kBufferSize];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  char line_[kBufferSize];
};

}  // namespace plat

#endif
