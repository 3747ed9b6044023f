// The tracker's files, as written and as read back by tools/memtrack.
//
// Record file "<base>.memT<n>": a 32-bit record count, then that many records. Phase file
// "<base>.phaseStack": a 32-bit count, then per phase its 32-bit id and its path in a
// fixed field, terminated and zero-filled. All fields little-endian, the same in memory
// on this processor, so buffers are written as they stand.
#ifndef VARURUROR_MEM_TRACKER_RECORD_FORMAT_H
#define VARURUROR_MEM_TRACKER_RECORD_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace mem::tracker {

// Operation codes. New (2), delete (3) and valloc (6) belong to the format; no operation
// of the library makes them.
enum Kind : std::int32_t {
  kMalloc = 0,
  kFree = 1,
  kNew = 2,
  kDelete = 3,
  kRealloc = 4,
  kCalloc = 5,
  kValloc = 6,
  kRelease = 7,
  kAcquire = 8,
};

inline bool IsAllocationKind(std::int32_t kind) {
  return kind == kMalloc || kind == kNew || kind == kRealloc || kind == kCalloc || kind == kValloc;
}
inline bool IsReleaseKind(std::int32_t kind) {
  return kind == kFree || kind == kDelete || kind == kRelease || kind == kAcquire;
}

struct Record {
  std::uint32_t pointer;      // for realloc the new block
  std::uint32_t old_pointer;  // for realloc the block resized, else 0
  std::int32_t kind;
  std::int32_t transaction;
  std::int32_t size;  // -1 for the release kinds
  std::int32_t thread;
  std::int32_t phase;
};
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "records are written as they lie in memory");
static_assert(sizeof(Record) == 28, "a record is seven 32-bit fields");
static_assert(offsetof(Record, pointer) == 0 && offsetof(Record, old_pointer) == 4 &&
                  offsetof(Record, kind) == 8 && offsetof(Record, transaction) == 12 &&
                  offsetof(Record, size) == 16 && offsetof(Record, thread) == 20 &&
                  offsetof(Record, phase) == 24,
              "record fields in file order");

constexpr std::int32_t kReleaseSize = -1;
// Records per file: the buffer is written out when it holds this many.
constexpr int kRecordsPerFile = 0x20000;
constexpr std::size_t kCountBytes = 4;
// One phase entry: the id, then the path field.
constexpr std::size_t kPhasePathBytes = 131072;
constexpr std::size_t kPhaseEntryBytes = 4 + kPhasePathBytes;

// A record file as it lies on disk, so that a buffer of records is written in one call.
struct FileImage {
  std::uint32_t count;
  Record records[kRecordsPerFile];
};
static_assert(offsetof(FileImage, records) == kCountBytes, "records follow the count");

constexpr char kRecordFileFormat[] = "%s.memT%d";
constexpr char kPhaseFileFormat[] = "%s.phaseStack";
constexpr char kRootPhase[] = "ROOT";

}  // namespace mem::tracker

#endif
