// bench_replay: replays an allocation trace through one allocator and reports the time it
// took, the memory the process held at its peak, and the peak of the bytes live.
//
//   bench_replay --allocator NAME TRACE   replay; one line of name=value results
//   bench_replay --summary TRACE          what the trace holds
//   bench_replay --dump TRACE             every record, one a line
//
// Each replay is meant for a fresh process (scripts/replay-traces starts one per
// replay), so that the peak resident memory is this allocator's alone. The replay uses
// the blocks as the recorded program would have, the same for every allocator: it writes
// one byte in every page of each block it gets, so that the resident memory counts the
// blocks, and it reads a block's first byte before it frees or resizes it. A program
// has mostly just used a block it gives back (a destructor, a reference count); without
// that read every free of a long-lived block would miss the cache, which the program
// would not, and heaps that keep their tags beside the block would pay for it where
// heaps that keep them apart would not.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "allocator_family.h"
#include "process_memory.h"
#include "trace.h"

namespace {

using bench::AllocatorFamily;
using bench::BlockTable;
using bench::Record;
using bench::Trace;
using bench::TraceCursor;
using bench::TraceSummary;

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kKiB = 1024;

void TouchPages(void* p, std::size_t size) {
  if (p == nullptr || size == 0) return;
  auto* bytes = static_cast<unsigned char volatile*>(p);
  for (std::size_t offset = 0; offset < size; offset += kPageSize) bytes[offset] = 1;
  bytes[size - 1] = 1;
}

void* LastUsed(void* p) {
  if (p != nullptr) static_cast<unsigned char volatile*>(p)[0];
  return p;
}

struct ReplayResult {
  double seconds;
  // The processor time the process spent (user and system), which other processes on
  // a shared machine disturb far less than the elapsed time.
  double cpu_seconds;
  std::uint64_t failed;  // requests that returned null
};

ReplayResult Replay(Trace const& trace, BlockTable const& table, AllocatorFamily const& heap) {
  void** blocks = table.blocks;
  std::size_t next = 1;
  std::uint64_t failed = 0;
  auto hand_out = [&](void* p, std::size_t size) {
    if (p == nullptr) ++failed;
    TouchPages(p, size);
    blocks[next++] = p;
  };
  TraceCursor cursor(trace);
  Record r;
  std::clock_t cpu_start = std::clock();
  auto start = std::chrono::steady_clock::now();
  while (cursor.Next(&r)) {
    std::size_t first = static_cast<std::size_t>(r.first);
    std::size_t second = static_cast<std::size_t>(r.second);
    switch (r.op) {
      case alloctrace::kMalloc:
        hand_out(heap.malloc(first), first);
        break;
      case alloctrace::kCalloc:
        hand_out(heap.calloc(first, second), first * second);
        break;
      case alloctrace::kRealloc:
        hand_out(heap.realloc(first == 0 ? nullptr : LastUsed(blocks[next - first]), second),
                 second);
        break;
      case alloctrace::kFree:
        heap.free(LastUsed(blocks[next - first]));
        break;
      case alloctrace::kMemalign:
        hand_out(heap.memalign(first, second), second);
        break;
    }
  }
  auto stop = std::chrono::steady_clock::now();
  std::clock_t cpu_stop = std::clock();
  return ReplayResult{std::chrono::duration<double>(stop - start).count(),
                      static_cast<double>(cpu_stop - cpu_start) / CLOCKS_PER_SEC, failed};
}

void Dump(Trace const& trace) {
  TraceCursor cursor(trace);
  Record r;
  std::uint64_t next = 1;
  while (cursor.Next(&r)) {
    auto block = [&](std::uint64_t back) { return back == 0 ? 0 : next - back; };
    switch (r.op) {
      case alloctrace::kMalloc:
        std::printf("#%llu = malloc %llu\n", static_cast<unsigned long long>(next++),
                    static_cast<unsigned long long>(r.first));
        break;
      case alloctrace::kCalloc:
        std::printf("#%llu = calloc %llu %llu\n", static_cast<unsigned long long>(next++),
                    static_cast<unsigned long long>(r.first),
                    static_cast<unsigned long long>(r.second));
        break;
      case alloctrace::kRealloc:
        std::printf("#%llu = realloc #%llu %llu\n", static_cast<unsigned long long>(next),
                    static_cast<unsigned long long>(block(r.first)),
                    static_cast<unsigned long long>(r.second));
        ++next;
        break;
      case alloctrace::kFree:
        std::printf("free #%llu\n", static_cast<unsigned long long>(block(r.first)));
        break;
      case alloctrace::kMemalign:
        std::printf("#%llu = memalign %llu %llu\n", static_cast<unsigned long long>(next++),
                    static_cast<unsigned long long>(r.first),
                    static_cast<unsigned long long>(r.second));
        break;
      case alloctrace::kThread:
        std::printf("thread %llu\n", static_cast<unsigned long long>(r.first));
        break;
    }
  }
}

void PrintSummary(TraceSummary const& s, Trace const& trace) {
  std::printf(
      "pointer_size=%u operations=%llu mallocs=%llu callocs=%llu reallocs=%llu frees=%llu "
      "memaligns=%llu threads=%llu blocks=%llu peak_live_kib=%llu live_at_end_kib=%llu\n",
      trace.pointer_size, static_cast<unsigned long long>(s.Operations()),
      static_cast<unsigned long long>(s.mallocs), static_cast<unsigned long long>(s.callocs),
      static_cast<unsigned long long>(s.reallocs), static_cast<unsigned long long>(s.frees),
      static_cast<unsigned long long>(s.memaligns), static_cast<unsigned long long>(s.threads),
      static_cast<unsigned long long>(s.blocks),
      static_cast<unsigned long long>(s.peak_live / kKiB),
      static_cast<unsigned long long>(s.live_at_end / kKiB));
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_replay --allocator NAME TRACE | --summary TRACE | --dump TRACE\n"
               "allocators: %s\n",
               bench::AllocatorFamilyNames());
  return 2;
}

int Fail(std::string const& message) {
  std::fprintf(stderr, "bench_replay: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return Usage();
  std::string mode = argv[1];
  char const* path = argv[argc - 1];
  if ((argc == 4) != (mode == "--allocator")) return Usage();
  if (argc == 3 && mode != "--summary" && mode != "--dump") return Usage();

  std::string error;
  Trace trace;
  if (!bench::LoadTrace(path, &trace, &error)) return Fail(error);
  if (mode == "--dump") {
    Dump(trace);
    return 0;
  }
  BlockTable table;
  if (!bench::MakeBlockTable(bench::CountBlocks(trace), &table)) return Fail("out of memory");
  TraceSummary summary;
  if (!bench::Summarise(trace, table, &summary, &error)) return Fail(error);
  if (mode == "--summary") {
    PrintSummary(summary, trace);
    return 0;
  }

  AllocatorFamily heap;
  if (!bench::FindAllocatorFamily(argv[2], &heap, &error)) return Fail(error);
  bench::ResidentMemory before = bench::ReadResidentMemory();
  ReplayResult result = Replay(trace, table, heap);
  bench::ResidentMemory after = bench::ReadResidentMemory();
  // Growth of the high-water mark from where the replay started.
  std::size_t peak_kib = after.peak_kib > before.now_kib ? after.peak_kib - before.now_kib : 0;
  std::size_t live_kib = static_cast<std::size_t>(summary.peak_live / kKiB);
  std::printf(
      "allocator=%s operations=%llu seconds=%.6f cpu_seconds=%.6f ns_per_operation=%.2f "
      "peak_resident_kib=%zu peak_live_kib=%zu resident_per_live=%.3f max_footprint_kib=%zu "
      "failed=%llu\n",
      heap.name, static_cast<unsigned long long>(summary.Operations()), result.seconds,
      result.cpu_seconds,
      result.cpu_seconds * 1e9 /
          static_cast<double>(summary.Operations() ? summary.Operations() : 1),
      peak_kib, live_kib, live_kib ? static_cast<double>(peak_kib) / live_kib : 0.0,
      heap.max_footprint ? heap.max_footprint() / kKiB : 0,
      static_cast<unsigned long long>(result.failed));
  return 0;
}
