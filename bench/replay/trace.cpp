#include "trace.h"

#include <cstring>
#include <fstream>
#include <limits>

#include "plat/virtual_memory.h"

namespace bench {

namespace {

void* MapZeroed(std::size_t size) {
  return plat::VirtualAlloc(nullptr, size == 0 ? 1 : size, plat::kMemReserve | plat::kMemCommit,
                            plat::kPageReadWrite);
}

constexpr std::uint64_t kAddressable = std::numeric_limits<std::size_t>::max();

bool HandsOutBlock(std::uint8_t op) {
  return op == alloctrace::kMalloc || op == alloctrace::kCalloc || op == alloctrace::kRealloc ||
         op == alloctrace::kMemalign;
}

}  // namespace

bool LoadTrace(char const* path, Trace* trace, std::string* error) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) {
    *error = std::string("cannot open ") + path;
    return false;
  }
  std::streamoff size = file.tellg();
  if (size < static_cast<std::streamoff>(alloctrace::kHeaderSize) ||
      static_cast<std::uint64_t>(size) > kAddressable) {
    *error = std::string(path) + " is no trace this process can hold";
    return false;
  }
  auto* data = static_cast<std::uint8_t*>(MapZeroed(static_cast<std::size_t>(size)));
  file.seekg(0);
  if (data == nullptr || !file.read(reinterpret_cast<char*>(data), size)) {
    *error = std::string("cannot read ") + path;
    return false;
  }
  if (std::memcmp(data, alloctrace::kMagic, sizeof alloctrace::kMagic) != 0) {
    *error = std::string(path) + " is not an allocation trace";
    return false;
  }
  trace->records = data + alloctrace::kHeaderSize;
  trace->end = data + size;
  trace->pointer_size = data[alloctrace::kPointerSizeOffset];
  return true;
}

std::uint64_t CountBlocks(Trace const& trace) {
  TraceCursor cursor(trace);
  Record r;
  std::uint64_t count = 0;
  while (cursor.Next(&r)) count += HandsOutBlock(r.op) ? 1 : 0;
  return count;
}

bool MakeBlockTable(std::uint64_t count, BlockTable* table) {
  if (count + 1 > kAddressable / sizeof(void*)) return false;
  std::size_t entries = static_cast<std::size_t>(count + 1);
  table->blocks = static_cast<void**>(MapZeroed(entries * sizeof(void*)));
  table->sizes = static_cast<std::size_t*>(MapZeroed(entries * sizeof(std::size_t)));
  table->count = count;
  return table->blocks != nullptr && table->sizes != nullptr;
}

bool Summarise(Trace const& trace, BlockTable const& table, TraceSummary* summary,
               std::string* error) {
  *summary = TraceSummary{};
  // While walking, a live block's entry in table.blocks points at itself.
  std::uint64_t next = 1;
  std::uint64_t live_bytes = 0;
  auto take = [&](std::uint64_t back) {
    if (back == 0 || back >= next || table.blocks[next - back] == nullptr) return false;
    std::size_t id = static_cast<std::size_t>(next - back);
    live_bytes -= table.sizes[id];
    table.blocks[id] = nullptr;
    return true;
  };
  auto add = [&](std::uint64_t size) {
    if (size > kAddressable || next > table.count) return false;
    std::size_t id = static_cast<std::size_t>(next++);
    table.sizes[id] = static_cast<std::size_t>(size);
    table.blocks[id] = &table.blocks[id];
    live_bytes += size;
    if (live_bytes > summary->peak_live) summary->peak_live = live_bytes;
    return true;
  };
  TraceCursor cursor(trace);
  Record r;
  bool sound = true;
  while (sound && cursor.Next(&r)) {
    switch (r.op) {
      case alloctrace::kMalloc:
        ++summary->mallocs;
        sound = add(r.first);
        break;
      case alloctrace::kCalloc:
        ++summary->callocs;
        sound = (r.first == 0 || r.second <= kAddressable / r.first) && add(r.first * r.second);
        break;
      case alloctrace::kRealloc:
        ++summary->reallocs;
        sound = (r.first == 0 || take(r.first)) && add(r.second);
        break;
      case alloctrace::kFree:
        ++summary->frees;
        sound = take(r.first);
        break;
      case alloctrace::kMemalign:
        ++summary->memaligns;
        sound = r.first <= kAddressable && add(r.second);
        break;
      case alloctrace::kThread:
        if (r.first + 1 > summary->threads) summary->threads = r.first + 1;
        break;
    }
  }
  if (!sound) {
    *error = "a record names a block that is not live, or more than this process can address";
    return false;
  }
  if (cursor.StoppedAtUnknownRecord()) {
    *error = "the trace holds an unknown record";
    return false;
  }
  std::memset(table.blocks, 0, static_cast<std::size_t>(table.count + 1) * sizeof(void*));
  summary->blocks = next - 1;
  summary->live_at_end = live_bytes;
  return true;
}

}  // namespace bench
