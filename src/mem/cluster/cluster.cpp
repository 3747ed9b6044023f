#include "mem/cluster/cluster.h"

#include <emmintrin.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "varururor/mem/allocator.h"

using mem::blocks::kSlotWords;
using mem::blocks::kWordBytes;
using mem::cluster::HandlePage;
using mem::cluster::HandlePosition;
using mem::cluster::kNoHandle;

namespace {
char const kClusterTag[] = "mem_Cluster";

// The room marks of the pages (one bit a page) live in two words of the cluster's memory
// that nothing else uses: after the variable region's record, before the zero tag that
// stands for "no block before the first". The record cannot grow, and keeping them next
// to the region's record puts them on a line that allocation reads anyway.
constexpr int kRoomMaskWord = sizeof(mem::cluster::VariableRegion) / sizeof(std::uint32_t);
static_assert(kRoomMaskWord * sizeof(std::uint32_t) == sizeof(mem::cluster::VariableRegion) &&
                  kRoomMaskWord + 2 <= mem::cluster::VariableRegion::kHeaderWords -
                                           mem::cluster::VariableRegion::kTagWords,
              "the room marks fit between the region's record and the first block's tags");
static_assert(mem_Cluster::kPageCount == 64, "one bit a page");

constexpr std::uint64_t PageBit(int page) { return std::uint64_t{1} << page; }

int HighestPage(std::uint64_t pages) {
  return static_cast<int>(sizeof pages * 8) - 1 - __builtin_clzll(pages);
}
}  // namespace

mem_Cluster::mem_Cluster(int number) : mem_Block(nullptr, 0, mem_BlockCluster), number_(number) {
  for (int size_class = 0; size_class < kClassCount; ++size_class) {
    current_page_[size_class] = kNoPage;
    next_link_[size_class] = kNoLink;
    previous_link_[size_class] = kNoLink;
  }
  std::memset(page_type_, kVariableClass, sizeof page_type_);
}

mem_Cluster::~mem_Cluster() = default;

mem_Cluster* mem_Cluster::Create(int number, void* storage, mem_Allocator& allocator) {
  auto* cluster = new (storage) mem_Cluster(number);
  if (cluster->TakeMemory(allocator)) return cluster;
  cluster->~mem_Cluster();
  return nullptr;
}

bool mem_Cluster::TakeMemory(mem_Allocator& allocator) {
  void* memory = allocator.Malloc(kClusterTag, kBytes);
  if (memory == nullptr) return false;
  SetUp(static_cast<std::uint32_t*>(memory));
  return true;
}

void mem_Cluster::SetUp(std::uint32_t* memory) {
  SetMemory(memory, kWords);
  new (memory) VariableRegion(kWords);
  SetRoomMask(0);
  std::memset(page_type_, kVariableClass, sizeof page_type_);
  for (int size_class = 0; size_class < kFixedClassCount; ++size_class)
    current_page_[size_class] = kNoPage;
  current_page_[kVariableClass] = 0;
}

void mem_Cluster::Release(mem_Allocator& allocator) {
  if (memory_ == nullptr) return;
  std::uint32_t* memory = memory_;
  SetMemory(nullptr, 0);
  std::memset(page_type_, kVariableClass, sizeof page_type_);
  allocator.Free(kClusterTag, memory);
}

int mem_Cluster::NewPage(int size_class) {
  VariableRegion& variable = Variable();
  // The page under the highest fixed pages first, so that the pages gather at the top
  // and the variable region stays in one piece below them.
  int page = kPageCount - 1;
  while (page > 0 && page_type_[page] != kVariableClass) --page;
  int start = variable.CutPage((page + 1) * kPageWords);
  if (start == mem::blocks::Region::kNoSlot && variable.LargestSize() > kPageWords)
    start = variable.CutPage(variable.LargestPosition() + variable.LargestSize());
  if (start == mem::blocks::Region::kNoSlot) return kNoPage;
  page = start / kPageWords;
  new (memory_ + start)
      FixedRegion(start, size_class, kFixedLength, static_cast<int>(kSlotWords[size_class]));
  page_type_[page] = static_cast<std::int8_t>(size_class);
  current_page_[size_class] = page;
  MarkRoom(page);
  return page;
}

std::uint64_t mem_Cluster::RoomMask() const {
  std::uint64_t mask;
  std::memcpy(&mask, memory_ + kRoomMaskWord, sizeof mask);
  return mask;
}

void mem_Cluster::SetRoomMask(std::uint64_t mask) {
  std::memcpy(memory_ + kRoomMaskWord, &mask, sizeof mask);
}

std::uint64_t mem_Cluster::PagesOfClass(int size_class) const {
  // Sixteen page types at a time: this runs on nearly every small allocation.
  constexpr int kTypesPerCompare = 16;
  __m128i const wanted = _mm_set1_epi8(static_cast<char>(size_class));
  std::uint32_t half[2] = {0, 0};
  for (int first = 0; first < kPageCount; first += kTypesPerCompare) {
    __m128i types = _mm_loadu_si128(reinterpret_cast<__m128i const*>(page_type_ + first));
    auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(types, wanted)));
    half[first / 32] |= bits << first % 32;
  }
  return std::uint64_t{half[1]} << 32 | half[0];
}

int mem_Cluster::AllocateFixed(int size_class) {
  int current = current_page_[size_class];
  std::uint64_t others = PagesOfClass(size_class);
  if (current != kNoPage) {
    int index = PageRegion(current).Allocate();
    if (index != mem::blocks::Region::kNoSlot) return index;
    ClearRoom(current);
    others &= ~PageBit(current);
  }
  // The other pages of the class, highest first, each made current as it is tried. Only
  // pages marked as having room are tried: an unmarked page is full, and trying it would
  // only have made it current for a moment, so the outcome is that of trying them all.
  std::uint64_t candidates = others & RoomMask();
  while (candidates != 0) {
    int page = HighestPage(candidates);
    candidates &= ~PageBit(page);
    current_page_[size_class] = page;
    int index = PageRegion(page).Allocate();
    if (index != mem::blocks::Region::kNoSlot) return index;
    ClearRoom(page);
  }
  int page = NewPage(size_class);
  if (page != kNoPage) return PageRegion(page).Allocate();
  // No room at all: the class is left on its lowest other page, the last one that trying
  // them all would have made current.
  if (others != 0) current_page_[size_class] = __builtin_ctzll(others);
  return mem::blocks::Region::kNoSlot;
}

mem_Cluster::Handle mem_Cluster::Allocate(unsigned bytes) {
  int size_class = ClassOfSize(bytes);
  int position =
      size_class == kVariableClass ? Variable().Allocate(bytes) : AllocateFixed(size_class);
  return position == mem::blocks::Region::kNoSlot ? kNoHandle : HandleAt(position);
}

bool mem_Cluster::Free(Handle handle) {
  int page = HandlePage(handle);
  int type = page_type_[page];
  if (type == kVariableClass) return Variable().Free(HandlePosition(handle));
  FixedRegion& region = PageRegion(page);
  if (!region.Free(HandlePosition(handle))) {
    MarkRoom(page);
    return false;
  }
  // The empty page goes back to the variable region and merges with its free neighbours.
  if (current_page_[type] == page) current_page_[type] = kNoPage;
  ClearRoom(page);
  region.~FixedRegion();
  page_type_[page] = kVariableClass;
  return Variable().Free(page * kPageWords);
}

unsigned mem_Cluster::Size(Handle handle) const {
  int type = page_type_[HandlePage(handle)];
  if (type != kVariableClass) return kSlotWords[type] * kWordBytes;
  int words = Variable().BlockSize(HandlePosition(handle));
  return static_cast<unsigned>(words - VariableRegion::kTagWords) * kWordBytes;
}

mem_Cluster::Handle mem_Cluster::Resize(Handle handle, unsigned bytes) {
  unsigned size = Size(handle);
  if (bytes <= size) return handle;
  if (size > mem::blocks::kLargestSlotBytes && bytes > mem::blocks::kLargestSlotBytes) {
    int position = Variable().Resize(HandlePosition(handle), bytes);
    return position == mem::blocks::Region::kNoSlot ? kNoHandle : HandleAt(position);
  }
  Handle moved = Allocate(bytes);
  if (moved == kNoHandle) return kNoHandle;
  std::memcpy(Address(moved), Address(handle), size);
  Free(handle);
  return moved;
}

int mem_Cluster::Usage() const {
  if (memory_ == nullptr) return 0;
  int usage = Variable().AllocatedWords();
  for (int page = 0; page < kPageCount; ++page)
    if (page_type_[page] != kVariableClass) usage += PageRegion(page).AllocCount() - kPageWords;
  return usage;
}

void mem_Cluster::Print() const {
  std::printf("Cluster %d: alloc=%d\n", number_, Usage());
  for (int page = 0; page < kPageCount; ++page) {
    int type = page_type_[page];
    std::printf("%d ",
                type == kVariableClass ? 0 : static_cast<int>(kSlotWords[type] * kWordBytes));
  }
  std::printf("\n");
}

void mem_Cluster::PrintRegions() const {
  std::printf("Allocated Regions:\n");
  if (memory_ == nullptr) return;
  bool in_variable_run = false;
  for (int page = 0; page < kPageCount; ++page) {
    if (page_type_[page] != kVariableClass) {
      PageRegion(page).Print();
      in_variable_run = false;
    } else if (!in_variable_run) {
      Variable().Print();
      in_variable_run = true;
    }
  }
}
