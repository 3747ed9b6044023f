// An allocation trace (tools/alloctrace/trace_format.h) in memory: loading, walking its
// records, and what a walk tells before any replay: how many blocks, the peak of the
// bytes live at once, and whether every record names a block that is live.
#ifndef VARURUROR_BENCH_REPLAY_TRACE_H
#define VARURUROR_BENCH_REPLAY_TRACE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "alloctrace/trace_format.h"

namespace bench {

struct Trace {
  std::uint8_t const* records;  // the first record
  std::uint8_t const* end;
  unsigned pointer_size;  // of the recorded program
};

// Reads the file into memory of its own (not from any heap under test). False, with the
// reason in *error, when it cannot be read or is no trace.
bool LoadTrace(char const* path, Trace* trace, std::string* error);

struct Record {
  std::uint8_t op;
  std::uint64_t first;
  std::uint64_t second;
};

// Walks the records. A record cut short ends the walk, as the end of the file does.
class TraceCursor {
 public:
  explicit TraceCursor(Trace const& trace) : next_(trace.records), end_(trace.end) {}

  bool Next(Record* record) {
    if (next_ == end_) return false;
    std::uint8_t const* p = next_;
    record->op = *p++;
    unsigned operands = alloctrace::OperandCount(record->op);
    if (operands == 0) {
      unknown_ = true;
      return false;
    }
    if (!alloctrace::GetVarint(&p, end_, &record->first)) return false;
    record->second = 0;
    if (operands > 1 && !alloctrace::GetVarint(&p, end_, &record->second)) return false;
    next_ = p;
    return true;
  }

  // The walk stopped at something that is no record.
  bool StoppedAtUnknownRecord() const { return unknown_; }

 private:
  std::uint8_t const* next_;
  std::uint8_t const* end_;
  bool unknown_ = false;
};

// The ids of a trace's blocks: the address each has in a replay, and its size. Kept in
// memory of its own, touched before a replay starts, so that a replay's growth is the
// heap's alone.
struct BlockTable {
  void** blocks;       // [id], 1 to count; null for none
  std::size_t* sizes;  // [id]: what the block's record asked for
  std::uint64_t count;
};

// The ids the trace hands out; ids are given in order, so counting them needs no memory.
std::uint64_t CountBlocks(Trace const& trace);

// Room for count ids. False when it cannot be had.
bool MakeBlockTable(std::uint64_t count, BlockTable* table);

struct TraceSummary {
  std::uint64_t mallocs = 0;
  std::uint64_t callocs = 0;
  std::uint64_t reallocs = 0;
  std::uint64_t frees = 0;
  std::uint64_t memaligns = 0;
  std::uint64_t threads = 0;
  std::uint64_t blocks = 0;     // ids handed out
  std::uint64_t peak_live = 0;  // bytes requested and not yet freed, at most
  std::uint64_t live_at_end = 0;
  std::uint64_t Operations() const { return mallocs + callocs + reallocs + frees + memaligns; }
};

// Walks the whole trace, filling table's sizes (its blocks are left null). False, with
// the reason in *error, when a record names a block that is not live, or asks for more
// than this process can address.
bool Summarise(Trace const& trace, BlockTable const& table, TraceSummary* summary,
               std::string* error);

}  // namespace bench

#endif
