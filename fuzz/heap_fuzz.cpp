// libFuzzer drives the heap: the input is read as a sequence of operations (allocate,
// zero-allocate, resize, align, free, trim, change the memory limit) with their sizes,
// the same operations the heap's shadow model test draws at random. After every step
// the whole heap is checked, every live block must still hold its bytes, no two blocks
// may overlap, and the statistics must agree with the walk. Anything wrong aborts, which
// libFuzzer reports with the input that did it. Each input ends by freeing what it
// allocated, so that every input starts from a heap with nothing live.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mem/heap/heap_checker.h"
#include "varururor/mem/dlmalloc.h"

namespace {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
constexpr std::size_t kMaxLiveBytes = 24 * kMiB;
constexpr std::size_t kMaxLiveBlocks = 64;
constexpr int kMaxSteps = 256;
constexpr std::size_t kTopFoot = 56;
constexpr std::size_t kAlignment = 16;
// The usable size of a block modulo 16: a mapped chunk has 8 bytes of overhead, any other 4.
constexpr std::size_t kMappedUsableRemainder = 8;
constexpr std::size_t kUsableRemainder = 12;

[[noreturn]] void Fail(char const* what, std::size_t detail) {
  std::fprintf(stderr, "heap_fuzz: %s (%zu)\n", what, detail);
  std::abort();
}

void Expect(bool condition, char const* what, std::size_t detail = 0) {
  if (!condition) Fail(what, detail);
}

struct LiveBlock {
  unsigned char* p;
  std::size_t usable;
  std::uint8_t seed;
};

unsigned char PatternByte(std::uint8_t seed, std::size_t i) {
  return static_cast<unsigned char>(seed + i * 31 + (i >> 8));
}

// The bytes of a block that carry its pattern: its first and last 64, where a damaged
// neighbour's tags would land, and one in every 4 KiB between. Filling whole blocks of
// megabytes would leave little time for anything else.
constexpr std::size_t kEdgeBytes = 64;
constexpr std::size_t kStride = 4096;

template <typename Visit>
void ForEachPatternByte(std::size_t length, Visit visit) {
  for (std::size_t i = 0; i < length; i = i < kEdgeBytes ? i + 1 : i + kStride) {
    if (i >= length - std::min(length, kEdgeBytes)) break;
    visit(i);
  }
  for (std::size_t i = length - std::min(length, kEdgeBytes); i < length; ++i) visit(i);
}

void Fill(LiveBlock const& b) {
  ForEachPatternByte(b.usable, [&b](std::size_t i) { b.p[i] = PatternByte(b.seed, i); });
}

// The pattern bytes of the first length bytes of b, as Fill left them in a block of
// b.usable bytes.
bool Intact(LiveBlock const& b, std::size_t length) {
  bool intact = true;
  ForEachPatternByte(b.usable, [&](std::size_t i) {
    if (i < length && b.p[i] != PatternByte(b.seed, i)) intact = false;
  });
  return intact;
}

class Run {
 public:
  explicit Run(FuzzedDataProvider& input) : input_(input) {}

  void Steps() {
    for (int step = 0; step < kMaxSteps && input_.remaining_bytes() > 0; ++step) {
      std::size_t footprint_before = dlmalloc_footprint();
      Step();
      Check(footprint_before);
    }
    for (LiveBlock const& b : blocks_) {
      Expect(Intact(b, b.usable), "a block lost its bytes before its free");
      dlfree(b.p);
    }
    blocks_.clear();
    dlmallopt(DL_M_MEMORY_LIMIT, 0);
    dlmalloc_trim(0);
    Check(dlmalloc_footprint());
  }

 private:
  enum Operation { kMalloc, kCalloc, kRealloc, kMemalign, kFree, kTrim, kLimit, kOperations };

  std::size_t Size() {
    switch (input_.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        return input_.ConsumeIntegralInRange<std::size_t>(0, 32);
      case 1:
        return input_.ConsumeIntegralInRange<std::size_t>(0, 512);
      case 2:
        return input_.ConsumeIntegralInRange<std::size_t>(0, 16 * kKiB);
      case 3:
        return input_.ConsumeIntegralInRange<std::size_t>(16 * kKiB, 256 * kKiB);
      case 4:
        return input_.ConsumeIntegralInRange<std::size_t>(200 * kKiB, 1536 * kKiB);
      default:
        return input_.ConsumeIntegralInRange<std::size_t>(1536 * kKiB, 6 * kMiB);
    }
  }

  std::size_t LiveBytes() const {
    std::size_t total = 0;
    for (LiveBlock const& b : blocks_) total += b.usable;
    return total;
  }

  std::size_t Pick() { return input_.ConsumeIntegralInRange<std::size_t>(0, blocks_.size() - 1); }

  void Step() {
    int op = input_.ConsumeIntegralInRange<int>(0, kOperations - 1);
    bool full = blocks_.size() >= kMaxLiveBlocks || LiveBytes() > kMaxLiveBytes;
    if (full || (blocks_.empty() && (op == kRealloc || op == kFree))) op = full ? kFree : kMalloc;
    switch (op) {
      case kMalloc: {
        std::size_t n = Size();
        Adopt(dlmalloc(n), n, kAlignment);
        break;
      }
      case kCalloc: {
        std::size_t size = input_.ConsumeIntegralInRange<std::size_t>(1, 64);
        std::size_t count = Size() / size;
        void* p = dlcalloc(count, size);
        if (p != nullptr) {
          unsigned char const* bytes = static_cast<unsigned char const*>(p);
          Expect(std::all_of(bytes, bytes + count * size, [](unsigned char c) { return c == 0; }),
                 "calloc gave a block that is not zero", count * size);
        }
        Adopt(p, count * size, kAlignment);
        break;
      }
      case kRealloc:
        Realloc();
        break;
      case kMemalign: {
        static constexpr std::size_t kAlignments[] = {0, 8, 16, 32, 48, 64, 100, 256, 4096, 65536};
        std::size_t alignment = kAlignments[input_.ConsumeIntegralInRange<std::size_t>(
            0, sizeof kAlignments / sizeof kAlignments[0] - 1)];
        std::size_t effective = kAlignment;
        while (effective < alignment) effective <<= 1;
        std::size_t n = Size();
        Adopt(dlmemalign(alignment, n), n, effective);
        break;
      }
      case kFree: {
        std::size_t i = Pick();
        Expect(Intact(blocks_[i], blocks_[i].usable), "a block lost its bytes", i);
        dlfree(blocks_[i].p);
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
      case kTrim: {
        static constexpr std::size_t kPads[] = {0, 4096, kMiB};
        std::size_t footprint = dlmalloc_footprint();
        int released = dlmalloc_trim(kPads[input_.ConsumeIntegralInRange<int>(0, 2)]);
        Expect(released == 0 || released == 1, "trim returned neither 0 nor 1");
        Expect(released == 1 ? dlmalloc_footprint() < footprint : dlmalloc_footprint() == footprint,
               "trim and the footprint disagree");
        break;
      }
      default:
        limit_ = input_.ConsumeBool() ? 0
                                      : dlmalloc_footprint() + 1 +
                                            input_.ConsumeIntegralInRange<std::size_t>(0, 8 * kMiB);
        dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(limit_));
        break;
    }
  }

  void Realloc() {
    std::size_t i = Pick();
    LiveBlock old = blocks_[i];
    std::size_t n =
        input_.ConsumeBool()
            ? Size()
            : old.usable / 2 + input_.ConsumeIntegralInRange<std::size_t>(0, old.usable + 64);
    void* p = dlrealloc(old.p, n);
    if (n == 0) {
      Expect(p == nullptr, "realloc to 0 returned a block");
      blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
    if (p == nullptr) {
      ExpectRefusedByLimit();
      Expect(Intact(old, old.usable), "a refused realloc changed the block");
      return;
    }
    LiveBlock moved{static_cast<unsigned char*>(p), old.usable, old.seed};
    Expect(Intact(moved, std::min(old.usable, n)), "realloc lost bytes", n);
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
    Adopt(p, n, kAlignment);
  }

  // A null result is right only when the memory limit refused the request.
  void ExpectRefusedByLimit() {
    Expect(limit_ != 0, "a request failed without a memory limit");
    Expect(error_memory_limit() == -1, "a request failed, but not by the limit");
  }

  void Adopt(void* p, std::size_t requested, std::size_t alignment) {
    if (p == nullptr) {
      ExpectRefusedByLimit();
      return;
    }
    Expect(reinterpret_cast<std::uintptr_t>(p) % alignment == 0, "misaligned block", alignment);
    std::size_t usable = dlmalloc_usable_size(p);
    bool mapped = mem::heap::MappingSizeOf(p) != 0;
    Expect(usable >= requested, "usable size below the request", requested);
    Expect(usable % kAlignment == (mapped ? kMappedUsableRemainder : kUsableRemainder),
           "usable size off the chunk grid", usable);
    LiveBlock b{static_cast<unsigned char*>(p), usable, next_seed_++};
    Fill(b);
    blocks_.push_back(b);
  }

  void Check(std::size_t footprint_before) {
    std::vector<void*> live;
    for (LiveBlock const& b : blocks_) live.push_back(b.p);
    mem::heap::HeapCheck check = mem::heap::CheckHeap(live.data(), live.size());
    if (!check.ok) {
      std::fprintf(stderr, "heap_fuzz: %s\n", check.problem);
      std::abort();
    }
    std::size_t footprint = dlmalloc_footprint();
    if (limit_ != 0 && footprint_before < limit_) {
      Expect(footprint < limit_, "the footprint passed the memory limit", footprint);
    }
    dl_mallinfo info = dlmallinfo();
    Expect(info.arena + info.hblkhd == footprint, "arena and mapped bytes miss the footprint");
    Expect(info.uordblks + info.fordblks == footprint, "used and free bytes miss the footprint");
    Expect(info.usmblks == dlmalloc_max_footprint() && info.usmblks >= footprint,
           "the maximum footprint is wrong");
    Expect(info.fordblks == check.free_bytes + kTopFoot, "free bytes disagree with the walk");
    Expect(info.ordblks == check.free_chunks + 1, "free chunks disagree with the walk");
    Expect(dlfragmentationinfo() == check.largest_free, "the largest free chunk is wrong");
    std::sort(live.begin(), live.end());
    for (std::size_t i = 1; i < live.size(); ++i) {
      auto previous = std::find_if(blocks_.begin(), blocks_.end(),
                                   [&](LiveBlock const& b) { return b.p == live[i - 1]; });
      Expect(static_cast<unsigned char*>(live[i - 1]) + previous->usable <= live[i],
             "blocks overlap", i);
    }
  }

  FuzzedDataProvider& input_;
  std::vector<LiveBlock> blocks_;
  std::size_t limit_ = 0;
  std::uint8_t next_seed_ = 1;
};

}  // namespace

// The statistics are all zero until the heap has its first segment; the checks are for
// a heap that has one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dlfree(dlmalloc(1));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Run(input).Steps();
  return 0;
}
