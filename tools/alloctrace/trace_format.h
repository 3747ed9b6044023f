// The allocation trace file: what alloctrace writes and bench_replay reads.
//
// A file is a 16-byte header and then records, back to back, to the end of the file:
//
//   header   "ALLOCTR1" (8 bytes), the recorded program's pointer size in bytes (4 or 8,
//            one byte), and 7 zero bytes.
//   record   one operation byte, then its operands, each an unsigned LEB128 number (7 bits
//            a byte, low bits first, high bit set on every byte but the last):
//
//            kMalloc        size
//            kCalloc        count, size
//            kRealloc       block, size      block 0: realloc of null
//            kFree          block
//            kMemalign      alignment, size  memalign, posix_memalign, aligned_alloc,
//                                            valloc and pvalloc alike
//            kThread        thread           the records that follow are that thread's
//
// Every block handed out gets the next id, 1, 2, 3, ... in file order, also the one a
// realloc returns (whether it moved or not). An operand "block" names an earlier block by
// its distance back from the next id to be given: 1 is the most recent block. A block
// freed or reallocated is never named again. Operations that failed are not recorded,
// nor those on blocks from before the recording began. Threads are numbered from 0 in
// the order of their first recorded call; records are in the order the calls completed
// under the recorder's lock, so a single thread can replay them as they are. A file
// cut short (the program ended without running its exit handlers) ends at the last
// whole record.
#ifndef VARURUROR_TOOLS_ALLOCTRACE_TRACE_FORMAT_H
#define VARURUROR_TOOLS_ALLOCTRACE_TRACE_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace alloctrace {

constexpr char kMagic[8] = {'A', 'L', 'L', 'O', 'C', 'T', 'R', '1'};
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kPointerSizeOffset = 8;

enum Op : std::uint8_t {
  kMalloc = 1,
  kCalloc = 2,
  kRealloc = 3,
  kFree = 4,
  kMemalign = 5,
  kThread = 6,
};

constexpr unsigned kVarintPayloadBits = 7;
constexpr std::uint8_t kVarintMore = 0x80;
constexpr std::uint8_t kVarintPayload = 0x7F;
// A 64-bit number takes at most ten bytes; the longest record an op and three numbers.
constexpr std::size_t kMaxVarintBytes = 10;
constexpr std::size_t kMaxRecordBytes = 1 + 3 * kMaxVarintBytes;

// Writes value at out; returns the end of what it wrote.
inline std::uint8_t* PutVarint(std::uint8_t* out, std::uint64_t value) {
  while (value > kVarintPayload) {
    *out++ = static_cast<std::uint8_t>(value & kVarintPayload) | kVarintMore;
    value >>= kVarintPayloadBits;
  }
  *out++ = static_cast<std::uint8_t>(value);
  return out;
}

// Reads a number at *in, not past end; false (and *in unchanged) when it is cut short.
inline bool GetVarint(std::uint8_t const** in, std::uint8_t const* end, std::uint64_t* value) {
  std::uint64_t result = 0;
  unsigned shift = 0;
  for (std::uint8_t const* p = *in; p != end && shift < kMaxVarintBytes * kVarintPayloadBits;
       ++p, shift += kVarintPayloadBits) {
    result |= static_cast<std::uint64_t>(*p & kVarintPayload) << shift;
    if ((*p & kVarintMore) == 0) {
      *in = p + 1;
      *value = result;
      return true;
    }
  }
  return false;
}

// The number of operands that follow each operation byte; 0 for an unknown one.
inline unsigned OperandCount(std::uint8_t op) {
  switch (op) {
    case kMalloc:
    case kFree:
    case kThread:
      return 1;
    case kCalloc:
    case kRealloc:
    case kMemalign:
      return 2;
    default:
      return 0;
  }
}

}  // namespace alloctrace

#endif
