// A shadow model of the library heap for its tests and its fuzzer: after every operation it
// checks the whole heap, the live blocks' patterns, alignment and sizes, and the statistics. The
// caller chooses its numbers and what a broken rule does.
#ifndef VARURUROR_TESTS_HEAP_MODEL_H
#define VARURUROR_TESTS_HEAP_MODEL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "mem/heap/heap_checker.h"
#include "varururor/mem/dlmalloc.h"

namespace heap_test {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
constexpr std::size_t kGranularity = 64 * kKiB;
constexpr std::size_t kTopFoot = 56;
constexpr std::size_t kTooLarge = 0xFFFFFFC0u;  // requests of this size and more fail
constexpr std::size_t kSmallestMappedResize = 256;

// The documented rounding rules, written out again from their statement.
inline std::size_t ChunkSizeFor(std::size_t request) {
  return request < 11 ? 16 : (request + 19) & ~std::size_t{15};
}
inline std::size_t SegmentSizeFor(std::size_t chunk) {
  return (chunk + 65 + kGranularity) & ~(kGranularity - 1);
}
inline std::size_t MappingSizeFor(std::size_t chunk) {
  return (chunk + 79 + kGranularity) & ~(kGranularity - 1);
}
// A mapped chunk starts 8 bytes into its mapping, leaves 56 at its end and has 8 of overhead.
inline std::size_t MappedUsableFor(std::size_t request) {
  return MappingSizeFor(ChunkSizeFor(request)) - 8 - kTopFoot - 8;
}

class HeapModel {
 public:
  // choose(bound) is a number below bound (0 for a bound of 0); report hears each broken rule.
  using Choose = std::function<std::size_t(std::size_t)>;
  using Report = std::function<void(std::string const&)>;

  // A pattern stride of 1 marks every byte of a block; a larger one its first and last 64
  // bytes, where a damaged neighbour's tags would land, and one byte in every stride between.
  HeapModel(std::size_t max_live_bytes, std::size_t max_live_blocks, std::size_t pattern_stride,
            Choose choose, Report report)
      : max_live_bytes_(max_live_bytes),
        max_live_blocks_(max_live_blocks),
        stride_(pattern_stride),
        choose_(std::move(choose)),
        report_(std::move(report)),
        foreign_in_use_(mem::heap::CheckHeap().in_use_bytes) {}

  bool ok() const { return ok_; }

  void* Malloc(std::size_t n) {
    Begin();
    return End(Fresh(dlmalloc(n), n, 16, true));
  }

  void* Calloc(std::size_t count, std::size_t size) {
    Begin();
    auto p = static_cast<unsigned char*>(dlcalloc(count, size));
    bool wraps = count != 0 && count * size / count != size;
    auto zero = [](unsigned char c) { return c == 0; };
    Expect(p == nullptr || std::all_of(p, p + count * size, zero), "dlcalloc: bytes not zero");
    return End(Fresh(p, wraps ? kTooLarge : count * size, 16, true));
  }

  void* Memalign(std::size_t alignment, std::size_t n) {
    Begin();
    std::size_t effective = 16;
    while (effective < alignment) effective <<= 1;
    void* p = Fresh(dlmemalign(alignment, n), n, effective, alignment <= 16);
    // The spare room behind the aligned chunk went back: at most a minimum chunk stays.
    Expect(p == nullptr || mem::heap::MappingSizeOf(p) != 0 ||
               dlmalloc_usable_size(p) <= ChunkSizeFor(n) + 12,
           "dlmemalign kept spare room");
    return End(p);
  }

  // Without live blocks it resizes null, which allocates.
  void* Realloc(std::size_t index, std::size_t n) {
    Begin();
    if (blocks_.empty()) return End(Fresh(dlrealloc(nullptr, n), n, 16, true));
    Block old = blocks_[index];
    std::size_t old_mapping = mem::heap::MappingSizeOf(old.p);
    void* p = dlrealloc(old.p, n);
    if (n == 0 || p != nullptr) blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
    if (n != 0 && old_mapping != 0) ExpectMappedResize(old, p, n, old_mapping);
    if (n == 0) {
      Expect(p == nullptr, "dlrealloc to 0 bytes gave a block");
    } else if (p == nullptr) {
      ExpectRefused(n);
      Expect(Intact(old, old.usable), "a refused dlrealloc changed the block");
    } else {
      Block moved{static_cast<unsigned char*>(p), old.usable, old.seed};
      Expect(Intact(moved, std::min(old.usable, n)), "dlrealloc lost bytes");
      Fresh(p, n, 16, false);
    }
    return End(p);
  }

  // Without live blocks it frees null, which does nothing.
  void Free(std::size_t index) {
    Begin();
    Block* block = blocks_.empty() ? nullptr : &blocks_[index];
    Expect(block == nullptr || Intact(*block, block->usable), "a block lost its bytes");
    dlfree(block == nullptr ? nullptr : block->p);
    if (block != nullptr) blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
    End(nullptr);
  }

  int Trim(std::size_t pad) {
    Begin();
    std::size_t top = dlmallinfo().keepcost;
    int released = dlmalloc_trim(pad);
    Expect(released == 1 ? dlmalloc_footprint() < footprint_before_
                         : released == 0 && dlmalloc_footprint() == footprint_before_,
           "dlmalloc_trim and the footprint disagree");
    Expect(dlmallinfo().keepcost >= std::min(top, pad), "dlmalloc_trim did not keep the pad");
    End(nullptr);
    return released;
  }

  void SetLimit(std::size_t limit) {
    Begin();
    limit_ = limit;
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(limit));
    Expect(dlmalloc_memory_limit() == limit, "the memory limit is not reported at once");
    End(nullptr);
  }

  void RandomStep() {
    std::size_t live_bytes = 0;
    for (Block const& block : blocks_) live_bytes += block.usable;
    if (blocks_.size() >= max_live_blocks_ || live_bytes > max_live_bytes_) {
      return Free(Below(blocks_.size()));
    }
    static constexpr std::size_t kAlignments[] = {0, 8, 16, 32, 48, 64, 100, 256, 4096, 65536};
    static constexpr std::size_t kPads[] = {0, 4096, kMiB};
    std::size_t roll = Below(100);
    std::size_t index = Below(blocks_.size());
    if (roll < 30) {
      Malloc(RandomSize(true));
    } else if (roll < 37) {
      std::size_t size = 1 + Below(64);
      Calloc(Below(8) == 0 ? 0xFFFFFFFFu / size + 1 + Below(4) : RandomSize(false) / size, size);
    } else if (roll < 57) {
      std::size_t usable = blocks_.empty() ? 0 : blocks_[index].usable;
      // The edges of resizing a large block in place: grown a little, shrunk to two granules
      // of slack and to just more, and to the smallest size a mapped block may keep or not.
      std::size_t const edges[] = {usable + 4, usable + 4 - 2 * kGranularity,
                                   usable - 12 - 2 * kGranularity, 236, 237};
      std::size_t pick = Below(8);
      Realloc(index, pick == 0 && usable > 4 * kGranularity ? edges[Below(std::size(edges))]
                     : pick < 4                             ? RandomSize(true)
                                                            : usable / 2 + Below(usable + 64));
    } else if (roll < 64) {
      Memalign(kAlignments[Below(std::size(kAlignments))], RandomSize(true));
    } else if (roll < 94) {
      Free(index);
    } else if (roll < 97) {
      Trim(kPads[Below(std::size(kPads))]);
    } else {
      SetLimit(Below(3) == 0 ? 0 : dlmalloc_footprint() + 1 + Below(8 * kMiB));
    }
  }

  void Finish() {
    while (!blocks_.empty()) Free(blocks_.size() - 1);
    SetLimit(0);
    Trim(0);
  }

 private:
  struct Block {
    unsigned char* p;
    std::size_t usable;
    std::uint32_t seed;
  };
  static constexpr std::size_t kEdgeBytes = 64;
  static constexpr long kFullContentCheckEvery = 50;

  std::size_t Below(std::size_t bound) { return choose_(bound); }

  std::size_t RandomSize(bool too_large_too) {
    std::size_t roll = Below(100);
    if (roll < 30) return Below(33);
    if (roll < 55) return Below(513);
    if (roll < 75) return Below(16 * kKiB);
    if (roll < 85) return 16 * kKiB + Below(240 * kKiB);
    if (roll < 95) return 200 * kKiB + Below(1300 * kKiB);
    if (roll < 99 || !too_large_too) return 1500 * kKiB + Below(4500 * kKiB);
    return kTooLarge + Below(64);
  }

  bool Expect(bool condition, std::string const& what) {
    if (!condition) report_(what + " (operation " + std::to_string(operation_) + ")");
    ok_ = ok_ && condition;
    return condition;
  }

  static unsigned char PatternByte(std::uint32_t seed, std::size_t i) {
    return static_cast<unsigned char>(seed * 131 + i * 31 + (i >> 8));
  }

  template <typename Visit>
  void ForEachPatternByte(std::size_t length, Visit visit) const {
    std::size_t tail = length - std::min(length, kEdgeBytes);
    for (std::size_t i = 0; i < std::min(tail, kEdgeBytes); ++i) visit(i);
    for (std::size_t i = kEdgeBytes; i < tail; i += stride_) visit(i);
    for (std::size_t i = tail; i < length; ++i) visit(i);
  }

  bool Intact(Block const& b, std::size_t length) const {
    bool intact = true;
    ForEachPatternByte(b.usable, [&](std::size_t i) {
      intact &= i >= length || b.p[i] == PatternByte(b.seed, i);
    });
    return intact;
  }

  // Null is right only for a request too large for any heap, or one the limit refused.
  void ExpectRefused(std::size_t requested) {
    bool too_large = requested >= kTooLarge;
    Expect(!too_large || dlmalloc_footprint() == footprint_before_,
           "a request too large took memory");
    Expect(too_large || (limit_ != 0 && error_memory_limit() == -1),
           "a request failed, not by the limit");
  }

  // Checks a new or resized block and makes it live. A mapped chunk has 8 bytes of
  // overhead, any other 4; a fresh block has exactly the rounded size.
  void* Fresh(void* p, std::size_t requested, std::size_t alignment, bool exact) {
    if (p == nullptr) {
      ExpectRefused(requested);
      return p;
    }
    auto bytes = static_cast<unsigned char*>(p);
    std::size_t usable = dlmalloc_usable_size(p);
    bool mapped = mem::heap::MappingSizeOf(p) != 0;
    Expect(requested < kTooLarge, "a request too large was served");
    Expect(reinterpret_cast<std::uintptr_t>(p) % alignment == 0, "a misaligned block");
    Expect(usable >= requested && usable % 16 == (mapped ? 8u : 12u), "a usable size off the grid");
    Expect(!exact || usable == (mapped ? MappedUsableFor(requested) : ChunkSizeFor(requested) - 4),
           "a fresh block without the rounded size");
    std::uint32_t seed = next_seed_++;
    ForEachPatternByte(usable, [&](std::size_t i) { bytes[i] = PatternByte(seed, i); });
    blocks_.push_back(Block{bytes, usable, seed});
    return p;
  }

  // A mapped block moves when it grows or gets small; with at most two granules of slack it
  // stays as it is; shrinking further, its mapping becomes a segment of the heap in place.
  // Staying needs no system memory, so the limit cannot refuse it.
  void ExpectMappedResize(Block const& old, void* p, std::size_t n, std::size_t old_mapping) {
    std::size_t chunk = old.usable + 8;
    std::size_t nb = ChunkSizeFor(n);
    if (nb < kSmallestMappedResize || chunk < nb + 4) {
      Expect(p != old.p, "a mapped block that had to move stayed");
    } else if (chunk - nb <= 2 * kGranularity) {
      Expect(p == old.p && mem::heap::MappingSizeOf(p) == old_mapping,
             "a mapped block with little slack did not stay as it was");
    } else {
      Expect(p == old.p && mem::heap::MappingSizeOf(p) == 0 && dlmalloc_usable_size(p) == nb - 4 &&
                 dlmalloc_footprint() == footprint_before_,
             "a shrinking mapped block did not become an ordinary chunk in place");
    }
  }

  void Begin() {
    footprint_before_ = dlmalloc_footprint();
    ++operation_;
  }

  void* End(void* result) {
    std::vector<void*> live;
    for (Block const& block : blocks_) live.push_back(block.p);
    mem::heap::HeapCheck check = mem::heap::CheckHeap(live.data(), live.size());
    if (!Expect(check.ok, std::string("heap check: ") + check.problem)) return result;
    std::size_t footprint = dlmalloc_footprint();
    // The footprint grows only through the limit check.
    Expect(limit_ == 0 || footprint_before_ >= limit_ || footprint < limit_,
           "the footprint passed the memory limit");
    dl_mallinfo info = dlmallinfo();
    Expect(info.arena + info.hblkhd == footprint && info.uordblks + info.fordblks == footprint,
           "the statistics miss the footprint");
    Expect(info.usmblks == dlmalloc_max_footprint() && info.usmblks >= footprint,
           "the maximum footprint is wrong");
    Expect(info.fordblks == check.free_bytes + kTopFoot && info.ordblks == check.free_chunks + 1,
           "free bytes or chunks disagree with the walk");
    Expect(dlfragmentationinfo() == check.largest_free, "the largest free chunk is wrong");
    // Beyond the mapped blocks, hblkhd holds what the walk skips: each segment's 8-byte
    // lead, and the last 24 bytes (fenceposts) of each segment but the first.
    std::size_t mapped = 0;
    std::size_t in_use = foreign_in_use_;
    for (Block const& block : blocks_) {
      std::size_t mapping = mem::heap::MappingSizeOf(block.p);
      mapped += mapping;
      in_use += mapping == 0 ? block.usable + 4 : 0;
    }
    Expect(info.hblkhd == mapped + 8 * check.segment_count + 24 * (check.segment_count - 1),
           "mapped bytes and overhead disagree with the blocks");
    // Live blocks that overlapped would count twice here.
    Expect(check.in_use_bytes == in_use, "the chunks in use are not the live blocks");
    for (std::size_t i = 0; operation_ % kFullContentCheckEvery == 0 && i < blocks_.size(); ++i) {
      Expect(Intact(blocks_[i], blocks_[i].usable), "a block lost its bytes");
    }
    return result;
  }

  std::size_t max_live_bytes_;
  std::size_t max_live_blocks_;
  std::size_t stride_;
  Choose choose_;
  Report report_;
  std::size_t foreign_in_use_;  // chunks in use that are not the model's
  std::vector<Block> blocks_;
  std::size_t limit_ = 0;
  std::size_t footprint_before_ = 0;
  std::uint32_t next_seed_ = 1;
  long operation_ = 0;
  bool ok_ = true;
};

}  // namespace heap_test

#endif
