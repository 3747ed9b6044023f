#include "run_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace memtrack {
namespace {

using mem::tracker::Record;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool Fail(ReadError* error, std::string const& file, std::uint64_t offset, std::string what) {
  error->file = file;
  error->offset = offset;
  error->what = std::move(what);
  return false;
}

std::uint32_t LittleEndianWord(unsigned char const* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The size of an open file, or -1.
long long FileSize(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  long long const size = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

bool ReadCount(std::FILE* file, std::string const& name, std::uint32_t* count, ReadError* error) {
  unsigned char bytes[4];
  if (std::fread(bytes, 1, 4, file) != 4) {
    return Fail(error, name, 0, "too short for its 32-bit count");
  }
  *count = LittleEndianWord(bytes);
  return true;
}

bool KnownKind(std::int32_t kind) {
  return mem::tracker::IsAllocationKind(kind) || mem::tracker::IsReleaseKind(kind);
}

}  // namespace

std::string ReadError::Message() const {
  return file + ": at byte offset " + std::to_string(offset) + ": " + what;
}

bool ReadPhases(std::string const& base, std::map<std::int32_t, std::string>* phases,
                ReadError* error) {
  std::string const name = base + ".phaseStack";
  File file(std::fopen(name.c_str(), "rb"));
  if (!file) return Fail(error, name, 0, std::string("cannot open: ") + std::strerror(errno));
  long long const size = FileSize(file.get());
  std::uint32_t count;
  if (size < 0 || !ReadCount(file.get(), name, &count, error)) {
    return size < 0 ? Fail(error, name, 0, "cannot find its size") : false;
  }
  long long const expected = 4 + static_cast<long long>(count) * mem::tracker::kPhaseEntryBytes;
  if (size != expected) {
    return Fail(error, name, static_cast<std::uint64_t>(std::min(size, expected)),
                "not a phase file: " + std::to_string(count) + " phases need " +
                    std::to_string(expected) + " bytes, the file has " + std::to_string(size));
  }
  std::vector<char> entry(mem::tracker::kPhaseEntryBytes);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t const offset = 4 + static_cast<std::uint64_t>(i) * entry.size();
    if (std::fread(entry.data(), 1, entry.size(), file.get()) != entry.size()) {
      return Fail(error, name, offset, "cannot read phase entry " + std::to_string(i));
    }
    auto const id =
        static_cast<std::int32_t>(LittleEndianWord(reinterpret_cast<unsigned char*>(&entry[0])));
    char const* path = &entry[4];
    if (std::memchr(path, '\0', mem::tracker::kPhasePathBytes) == nullptr) {
      return Fail(error, name, offset + 4, "phase path without its terminator");
    }
    if (std::strncmp(path, mem::tracker::kRootPhase, 4) != 0) {
      return Fail(error, name, offset + 4, "phase path not starting at ROOT");
    }
    if (!phases->emplace(id, path).second) {
      return Fail(error, name, offset, "phase id " + std::to_string(id) + " given twice");
    }
  }
  return true;
}

bool ReadRecords(std::string const& base, std::function<void(Record const&)> const& on_record,
                 ReadError* error) {
  // Records are read in chunks: a whole run need not fit in memory at once.
  constexpr std::size_t kChunkRecords = 32768;
  std::vector<Record> chunk(kChunkRecords);
  for (int sequence = 0;; ++sequence) {
    std::string const name = base + ".memT" + std::to_string(sequence);
    File file(std::fopen(name.c_str(), "rb"));
    if (!file) {
      if (sequence > 0 && errno == ENOENT) return true;
      return Fail(error, name, 0, std::string("cannot open: ") + std::strerror(errno));
    }
    long long const size = FileSize(file.get());
    std::uint32_t count;
    if (size < 0) return Fail(error, name, 0, "cannot find its size");
    if (!ReadCount(file.get(), name, &count, error)) return false;
    long long const expected = 4 + static_cast<long long>(count) * sizeof(Record);
    if (size != expected) {
      return Fail(error, name, static_cast<std::uint64_t>(std::min(size, expected)),
                  (size < expected ? "truncated: " : "not a record file: ") +
                      std::to_string(count) + " records need " + std::to_string(expected) +
                      " bytes, the file has " + std::to_string(size));
    }
    for (std::uint32_t done = 0; done < count;) {
      std::size_t const want = std::min<std::size_t>(kChunkRecords, count - done);
      std::uint64_t const offset = 4 + static_cast<std::uint64_t>(done) * sizeof(Record);
      if (std::fread(chunk.data(), sizeof(Record), want, file.get()) != want) {
        return Fail(error, name, offset, "cannot read the records");
      }
      for (std::size_t i = 0; i < want; ++i) {
        // The format is little-endian, as this processor: the bytes are the fields.
        if (!KnownKind(chunk[i].kind)) {
          return Fail(error, name, offset + i * sizeof(Record) + 8,
                      "unknown operation kind " + std::to_string(chunk[i].kind));
        }
        on_record(chunk[i]);
      }
      done += static_cast<std::uint32_t>(want);
    }
  }
}

}  // namespace memtrack
