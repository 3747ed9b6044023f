// Reading a tracked run from its files: the phase file, then every record file in order.
// Anything that does not have the layout the tracker writes is refused with a message
// naming the file and the byte offset where it went wrong.
#ifndef MEMTRACK_RUN_READER_H
#define MEMTRACK_RUN_READER_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "mem/tracker/record_format.h"

namespace memtrack {

struct ReadError {
  std::string file;
  std::uint64_t offset = 0;
  std::string what;
  std::string Message() const;
};

// Phase id -> path. False, with the error, when the file is missing or malformed.
bool ReadPhases(std::string const& base, std::map<std::int32_t, std::string>* phases,
                ReadError* error);

// Calls on_record for every record of "<base>.memT0", "<base>.memT1", ... in order, until
// the next file is missing. At least the first must exist.
bool ReadRecords(std::string const& base,
                 std::function<void(mem::tracker::Record const&)> const& on_record,
                 ReadError* error);

}  // namespace memtrack

#endif
