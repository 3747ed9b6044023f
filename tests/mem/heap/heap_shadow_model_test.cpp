// A long random sequence of heap operations checked against a shadow model of the live
// blocks: every block keeps its bytes, no two blocks overlap, alignment and usable sizes
// are as stated, the footprint and the statistics agree with the heap walk, and the full
// heap check passes after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "heap_test_support.h"

namespace heap_test {
namespace {

constexpr std::size_t kMaxLiveBytes = 48 * kMiB;
constexpr std::size_t kMaxLiveBlocks = 120;
constexpr int kSteps = 3000;
constexpr int kFullContentCheckEvery = 50;

struct LiveBlock {
  char* p;
  std::size_t usable;  // all of it carries the block's pattern
  std::uint32_t seed;
};

class ShadowModel {
 public:
  explicit ShadowModel(std::uint32_t seed) : rng_(seed), next_seed_(seed * 1000) {}

  void Run() {
    for (step_ = 0; step_ < kSteps && !::testing::Test::HasFatalFailure(); ++step_) {
      std::size_t footprint_before = dlmalloc_footprint();
      Step();
      CheckAfterStep(footprint_before);
    }
    for (LiveBlock const& block : blocks_) {
      EXPECT_TRUE(Intact(block.p, block.usable, block.seed));
      dlfree(block.p);
    }
    blocks_.clear();
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
    dlmalloc_trim(0);
    EXPECT_TRUE(HeapConsistent(std::vector<void*>{}));
  }

 private:
  std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : rng_() % bound; }

  std::size_t RandomSize() {
    std::size_t roll = Below(100);
    if (roll < 30) return Below(33);
    if (roll < 55) return Below(513);
    if (roll < 75) return Below(16 * kKiB);
    if (roll < 85) return 16 * kKiB + Below(240 * kKiB);
    if (roll < 95) return 200 * kKiB + Below(1300 * kKiB);
    return 1500 * kKiB + Below(4500 * kKiB);
  }

  std::size_t LiveBytes() const {
    std::size_t total = 0;
    for (LiveBlock const& block : blocks_) total += block.usable;
    return total;
  }

  void Step() {
    if (blocks_.size() >= kMaxLiveBlocks || LiveBytes() > kMaxLiveBytes) {
      Free();
      return;
    }
    std::size_t roll = Below(100);
    if (roll < 30) {
      Malloc();
    } else if (roll < 37) {
      Calloc();
    } else if (roll < 57) {
      Realloc();
    } else if (roll < 64) {
      Memalign();
    } else if (roll < 94) {
      Free();
    } else if (roll < 97) {
      Trim();
    } else {
      ChangeLimit();
    }
  }

  // A null result is right only when the memory limit refused the request.
  bool Refused(void* p, char const* what) {
    if (p != nullptr) return false;
    EXPECT_NE(limit_, 0u) << what << " failed without a memory limit, step " << step_;
    EXPECT_EQ(error_memory_limit(), -1) << what << " failed, but not by the limit, step " << step_;
    return true;
  }

  void Adopt(void* p) {
    LiveBlock block{static_cast<char*>(p), dlmalloc_usable_size(p), next_seed_++};
    Fill(block.p, block.usable, block.seed);
    blocks_.push_back(block);
  }

  // Usable sizes as stated: a mapped chunk has 8 bytes of overhead, any other 4.
  void ExpectUsable(void* p, std::size_t requested, bool fresh) {
    std::size_t usable = dlmalloc_usable_size(p);
    bool mapped = mem::heap::MappingSizeOf(p) != 0;
    EXPECT_GE(usable, requested) << "step " << step_;
    EXPECT_EQ(usable % 16, mapped ? 8u : 12u) << "step " << step_;
    if (fresh) {
      EXPECT_EQ(usable, mapped ? MappedUsableFor(requested) : ChunkSizeFor(requested) - 4)
          << requested << " bytes, step " << step_;
    }
  }

  void Malloc() {
    std::size_t n = RandomSize();
    void* p = dlmalloc(n);
    if (Refused(p, "dlmalloc")) return;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    ExpectUsable(p, n, true);
    Adopt(p);
  }

  void Calloc() {
    std::size_t size = 1 + Below(64);
    std::size_t count = RandomSize() / size;
    void* p = dlcalloc(count, size);
    if (Refused(p, "dlcalloc")) return;
    EXPECT_TRUE(AllZero(p, count * size)) << count << " x " << size << ", step " << step_;
    ExpectUsable(p, count * size, true);
    Adopt(p);
  }

  void Memalign() {
    static constexpr std::size_t kAlignments[] = {0, 8, 16, 32, 48, 64, 100, 256, 4096, 65536};
    std::size_t alignment = kAlignments[Below(std::size(kAlignments))];
    std::size_t effective = 16;
    while (effective < alignment) effective <<= 1;
    std::size_t n = RandomSize();
    void* p = dlmemalign(alignment, n);
    if (Refused(p, "dlmemalign")) return;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % effective, 0u) << alignment;
    ExpectUsable(p, n, alignment <= 16);
    Adopt(p);
  }

  void Realloc() {
    if (blocks_.empty()) return Malloc();
    std::size_t index = Below(blocks_.size());
    LiveBlock old = blocks_[index];
    // Up or down, by a little or across the size classes.
    std::size_t n = Below(2) == 0 ? RandomSize() : old.usable / 2 + Below(old.usable + 64);
    void* p = dlrealloc(old.p, n);
    if (n == 0) {
      EXPECT_EQ(p, nullptr);
      blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
      return;
    }
    if (Refused(p, "dlrealloc")) {
      EXPECT_TRUE(Intact(old.p, old.usable, old.seed)) << "after a refused realloc";
      return;
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    EXPECT_TRUE(Intact(p, std::min(old.usable, n), old.seed))
        << old.usable << " -> " << n << " bytes, step " << step_;
    ExpectUsable(p, n, false);
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
    Adopt(p);
  }

  void Free() {
    if (blocks_.empty()) return;
    std::size_t index = Below(blocks_.size());
    LiveBlock block = blocks_[index];
    EXPECT_TRUE(Intact(block.p, block.usable, block.seed)) << "step " << step_;
    dlfree(block.p);
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
  }

  void Trim() {
    static constexpr std::size_t kPads[] = {0, 4096, kMiB};
    std::size_t footprint = dlmalloc_footprint();
    int released = dlmalloc_trim(kPads[Below(std::size(kPads))]);
    ASSERT_TRUE(released == 0 || released == 1);
    if (released == 1) {
      EXPECT_LT(dlmalloc_footprint(), footprint);
    } else {
      EXPECT_EQ(dlmalloc_footprint(), footprint);
    }
  }

  void ChangeLimit() {
    limit_ = Below(3) == 0 ? 0 : dlmalloc_footprint() + 1 + Below(8 * kMiB);
    dlmallopt(DL_M_MEMORY_LIMIT, static_cast<int>(limit_));
  }

  void CheckAfterStep(std::size_t footprint_before) {
    std::vector<void*> live;
    for (LiveBlock const& block : blocks_) live.push_back(block.p);
    mem::heap::HeapCheck check = mem::heap::CheckHeap(live.data(), live.size());
    ASSERT_TRUE(check.ok) << "step " << step_ << ": " << check.problem;

    std::size_t footprint = dlmalloc_footprint();
    // The footprint grows only through the limit check.
    if (limit_ != 0 && footprint_before < limit_) {
      EXPECT_LT(footprint, limit_) << "step " << step_;
    }
    dl_mallinfo info = dlmallinfo();
    EXPECT_EQ(info.arena + info.hblkhd, footprint);
    EXPECT_EQ(info.uordblks + info.fordblks, footprint);
    EXPECT_EQ(info.usmblks, dlmalloc_max_footprint());
    EXPECT_GE(info.usmblks, footprint);
    EXPECT_EQ(info.fordblks, check.free_bytes + kTopFoot);
    EXPECT_EQ(info.ordblks, check.free_chunks + 1);
    // Beyond the mapped blocks, hblkhd holds what the walk skips: each segment's 8-byte
    // lead, and the last 24 bytes (fenceposts) of each segment but the first.
    std::size_t mapped = 0;
    for (void* p : live) mapped += mem::heap::MappingSizeOf(p);
    EXPECT_EQ(info.hblkhd, mapped + 8 * check.segment_count + 24 * (check.segment_count - 1))
        << "step " << step_;
    EXPECT_EQ(dlfragmentationinfo(), check.largest_free);

    std::vector<LiveBlock> sorted = blocks_;
    std::sort(sorted.begin(), sorted.end(),
              [](LiveBlock const& a, LiveBlock const& b) { return a.p < b.p; });
    for (std::size_t i = 1; i < sorted.size(); ++i) {
      ASSERT_LE(sorted[i - 1].p + sorted[i - 1].usable, sorted[i].p)
          << "blocks overlap, step " << step_;
    }
    if (step_ % kFullContentCheckEvery == 0) {
      for (LiveBlock const& block : blocks_) {
        ASSERT_TRUE(Intact(block.p, block.usable, block.seed)) << "step " << step_;
      }
    }
  }

  std::mt19937 rng_;
  std::uint32_t next_seed_;
  std::vector<LiveBlock> blocks_;
  std::size_t limit_ = 0;
  int step_ = 0;
};

class HeapShadowModel : public HeapTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(HeapShadowModel, RandomOperationsKeepEveryBlockIntact) { ShadowModel(GetParam()).Run(); }

INSTANTIATE_TEST_SUITE_P(Seeds, HeapShadowModel, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
}  // namespace heap_test
