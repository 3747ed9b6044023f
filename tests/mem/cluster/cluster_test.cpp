#include "mem/cluster/cluster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../cachepool/heap_allocator.h"
#include "cluster_checker.h"

namespace {

using Handle = mem_Cluster::Handle;
using cluster_check::CheckCluster;
using cluster_check::FreeBlock;
using cluster_check::Layout;
using mem::cluster::VariableRegion;

constexpr int kFirstFreeWords = mem_Cluster::kWords - VariableRegion::kHeaderWords;

// Creation, release and taking memory again, the printed pages and regions, a full class.
TEST(MemoryCluster, LifePrintAndAFullClass) {
  HeapAllocator allocator;
  alignas(mem_Cluster) unsigned char storage[sizeof(mem_Cluster)];  // as a pool record gives it
  allocator.rations = 0;
  EXPECT_EQ(mem_Cluster::Create(1, storage, allocator), nullptr);
  allocator.rations = 1 << 30;

  mem_Cluster* cluster = mem_Cluster::Create(0x8005, storage, allocator);
  ASSERT_NE(cluster, nullptr);
  EXPECT_EQ(cluster->Allocate(16) & 0xFFFF, 0xBu) << "the number keeps 15 bits";
  cluster->Allocate(200);
  testing::internal::CaptureStdout();
  cluster->Print();
  cluster->PrintRegions();
  std::string expected = "Cluster 32773: alloc=56\n";
  for (int page = 0; page < 63; ++page) expected += "0 ";
  expected +=
      "16 \n"
      "Allocated Regions:\n"
      "VariableRegion: Size=65536, Alloc=1076\n"
      "FixedRegion: AllocCount = 4\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  cluster->Release(allocator);
  EXPECT_EQ(allocator.live_blocks, 0);
  EXPECT_EQ(allocator.last_tag, "mem_Cluster");
  EXPECT_FALSE(cluster->HasMemory());
  cluster->Release(allocator);
  EXPECT_EQ(allocator.live_blocks, 0) << "a cluster without memory gives nothing back";

  allocator.rations = 0;
  EXPECT_FALSE(cluster->TakeMemory(allocator));
  allocator.rations = 1 << 30;
  ASSERT_TRUE(cluster->TakeMemory(allocator));
  CheckCluster(*cluster);
  EXPECT_EQ(cluster->LargestFree(), kFirstFreeWords);
  EXPECT_EQ(cluster->CurrentPage(1), mem_Cluster::kNoPage) << "the old page is forgotten";
  // Full of one class, the cluster finds a slot freed on any page of the class again.
  std::map<int, Handle> one_per_page;
  for (Handle h; (h = cluster->Allocate(128)) != mem::cluster::kNoHandle;)
    one_per_page[mem::cluster::HandlePage(h)] = h;
  EXPECT_EQ(one_per_page.size(), mem_Cluster::kPageCount - 1u);
  for (auto const& entry : one_per_page) EXPECT_FALSE(cluster->Free(entry.second));
  for (auto const& entry : one_per_page)
    EXPECT_NE(cluster->Allocate(128), mem::cluster::kNoHandle) << "page " << entry.first;
  EXPECT_EQ(cluster->Allocate(128), mem::cluster::kNoHandle);
  CheckCluster(*cluster);
  cluster->Release(allocator);
  cluster->~mem_Cluster();
}

// A live item of the model; every byte of it holds fill.
struct Item {
  Handle handle;
  unsigned bytes;
  unsigned char fill;
};

// Where best fit must place a variable block of words words, from the blocks before.
int ExpectedBestFit(Layout const& layout, int words) {
  FreeBlock best{0, -1};
  for (FreeBlock const& block : layout)
    if (block.size >= words && (best.position < 0 || block < best)) best = block;
  return best.position;
}

// Words of a variable block for bytes: the data words and the two tags, in whole granules.
int WordsFor(unsigned bytes) { return ((bytes - 1) / 4 + 3 + 3) / 4 * 4; }

// A new fixed page: the highest variable page's end if free, else the largest block's top.
int ExpectedNewPage(mem_Cluster const& cluster, Layout const& layout) {
  int const page_words = mem_Cluster::kPageWords;
  auto cut = [&](FreeBlock const& block) {
    int start = (block.position + block.size - page_words) / page_words * page_words;
    return start >= block.position ? start / page_words : mem_Cluster::kNoPage;
  };
  int q = mem_Cluster::kPageCount - 1;
  while (cluster.PageType(q) != mem_Cluster::kVariableClass) --q;
  for (FreeBlock const& block : layout) {
    if (block.position + block.size == page_words * (q + 1) && cut(block) != mem_Cluster::kNoPage)
      return cut(block);
  }
  VariableRegion const& region = cluster.Variable();
  if (region.LargestSize() <= page_words) return mem_Cluster::kNoPage;
  return cut({region.LargestSize(), region.LargestPosition()});
}

// A fixed class's next page: its current one with room, else its highest with room, else new.
int ExpectedFixedPage(mem_Cluster const& cluster, Layout const& layout, int size_class) {
  auto has_room = [&cluster](int page) {
    auto const& region = cluster.PageRegion(page);
    int slots = (region.Length() - mem::blocks::FixedRegion::kHeaderWords) / region.SlotWords();
    return region.AllocCount() < slots * region.SlotWords();
  };
  int current = cluster.CurrentPage(size_class);
  if (current != mem_Cluster::kNoPage && has_room(current)) return current;
  for (int page = mem_Cluster::kPageCount - 1; page > 0; --page) {
    if (page != current && cluster.PageType(page) == size_class && has_room(page)) return page;
  }
  return ExpectedNewPage(cluster, layout);
}

// Mostly small items, a third above the fixed classes, a tail to 16 KiB.
unsigned RandomSize(std::mt19937& random) {
  unsigned kind = random() % 10;
  if (kind < 6) return 1 + random() % 128;
  if (kind < 9) return 129 + random() % 1920;
  return 2049 + random() % (16384 - 2048);
}

class ShadowModel {
 public:
  ShadowModel(mem_Cluster& cluster, std::uint32_t seed) : cluster_(cluster), random_(seed) {}

  void Allocate() {
    unsigned bytes = RandomSize(random_);
    int size_class = mem_Cluster::ClassOfSize(bytes);
    int words = WordsFor(bytes);
    bool fixed = size_class != mem_Cluster::kVariableClass;
    int expected =
        fixed ? ExpectedFixedPage(cluster_, layout_, size_class) : ExpectedBestFit(layout_, words);
    Handle handle = cluster_.Allocate(bytes);
    if (handle == mem::cluster::kNoHandle) {
      ++failures;
      EXPECT_EQ(expected, -1) << bytes << " bytes had room";
      return;
    }
    EXPECT_EQ(mem::cluster::HandleNumber(handle), cluster_.Number());
    EXPECT_EQ(cluster_.ClassOf(handle), size_class);
    if (fixed) {
      EXPECT_EQ(mem::cluster::HandlePage(handle), expected) << bytes;
      EXPECT_EQ(cluster_.CurrentPage(size_class), expected);
      EXPECT_EQ(cluster_.Size(handle),
                size_class < 2 ? 4u * (size_class + 1) : 16u * (size_class - 1));
    } else {
      int position = mem::cluster::HandlePosition(handle);
      int fit_size = -1;
      for (FreeBlock const& block : layout_)
        if (block.position == position) fit_size = block.size;
      // An exact fit may be any block of its size; a rest that can stand alone is split off.
      EXPECT_TRUE(fit_size == words || position == expected) << bytes << " bytes";
      int block_words = fit_size - words >= 35 ? words : fit_size;
      EXPECT_EQ(cluster_.Variable().BlockSize(position), block_words) << bytes << " bytes";
      EXPECT_EQ(cluster_.Size(handle), 4u * block_words - 8);
    }
    auto fill = static_cast<unsigned char>(random_());
    std::memset(cluster_.Address(handle), fill, bytes);
    items.push_back({handle, bytes, fill});
  }

  void Free() {
    std::size_t index = random_() % items.size();
    Handle handle = items[index].handle;
    items[index] = items.back();
    items.pop_back();
    EXPECT_EQ(cluster_.Free(handle), items.empty());
  }

  // One random step; grow_percent of the steps allocate, the rest free.
  void Step(unsigned grow_percent) {
    if (items.empty() || random_() % 100 < grow_percent)
      Allocate();
    else
      Free();
  }

  // The cluster's structure and every live item's bytes.
  void Check() {
    layout_ = CheckCluster(cluster_);
    for (Item const& item : items) {
      auto const* bytes = static_cast<unsigned char const*>(cluster_.Address(item.handle));
      ASSERT_TRUE(std::all_of(bytes, bytes + item.bytes, [&](auto b) { return b == item.fill; }))
          << "an item's bytes changed: " << std::hex << item.handle;
    }
  }

  std::vector<Item> items;
  int failures = 0;

 private:
  mem_Cluster& cluster_;
  std::mt19937 random_;
  Layout layout_;
};

// Phases fill the cluster until requests fail and drain it; all is checked after each step.
TEST(MemoryCluster, RandomSequenceAgainstShadowModel) {
  HeapAllocator allocator;
  alignas(mem_Cluster) unsigned char storage[sizeof(mem_Cluster)];  // as a pool record gives it
  mem_Cluster* cluster = mem_Cluster::Create(5, storage, allocator);
  ASSERT_NE(cluster, nullptr);
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    ShadowModel model(*cluster, seed);
    model.Check();
    for (int phase = 0; phase < 6 && !HasFailure(); ++phase) {
      for (int step = 0; step < 1500 && !HasFailure(); ++step) {
        model.Step(phase % 2 == 0 ? 75 : 30);
        model.Check();
      }
    }
    EXPECT_GT(model.failures, 0) << "the cluster was never full";
    while (!model.items.empty() && !HasFailure()) {
      model.Free();
      model.Check();
    }
    EXPECT_EQ(cluster->LargestFree(), kFirstFreeWords) << "one free block, no fixed page";
  }
  cluster->Release(allocator);
  cluster->~mem_Cluster();
  EXPECT_EQ(allocator.live_blocks, 0);
}

}  // namespace
