// A memory cluster: 256 KiB taken from an allocator, in which a cache pool places its
// items and names them by cluster handles (cluster_handle.h). Items of up to 128 bytes
// live in 4 KiB pages of one size class, each run by a fixed region whose record is at
// the start of its page; larger items, and the pages themselves, are cut from the
// variable region that spans the whole cluster. Positions and sizes are in words.
//
// A cluster takes no lock: its cache pool serialises its use.
#ifndef VARURUROR_MEM_CLUSTER_CLUSTER_H
#define VARURUROR_MEM_CLUSTER_CLUSTER_H

#include <cstdint>

#include "mem/blocks/block.h"
#include "mem/blocks/region.h"
#include "mem/blocks/size_classes.h"
#include "mem/cluster/cluster_handle.h"
#include "mem/cluster/variable_region.h"

class mem_Allocator;

class mem_Cluster : public mem_Block {
 public:
  using Handle = mem::cluster::Handle;
  using FixedRegion = mem::blocks::FixedRegion;
  using VariableRegion = mem::cluster::VariableRegion;

  static constexpr unsigned kBytes = 0x40000;
  static constexpr int kWords = 0x10000;
  static constexpr int kPageWords = 1024;
  static constexpr int kPageCount = kWords / kPageWords;
  // Ten fixed classes, and the variable class for anything above 128 bytes.
  static constexpr int kFixedClassCount = mem::blocks::kClassCount;
  static constexpr int kVariableClass = VariableRegion::kVariableClass;
  static constexpr int kClassCount = kFixedClassCount + 1;
  static constexpr int kNoPage = -1;
  // A fixed page's region: its record at the page's first word, length kFixedLength; the
  // page's last two words are tags of the variable region.
  static constexpr int kFixedLength = kPageWords - VariableRegion::kTagWords;

  // Builds the cluster numbered number in storage (at least sizeof(mem_Cluster) bytes)
  // and takes its memory from allocator under the tag "mem_Cluster". Null when there is
  // no memory; the record is then destroyed and the storage is the caller's again.
  static mem_Cluster* Create(int number, void* storage, mem_Allocator& allocator);

  ~mem_Cluster() override;
  // Gives the memory back to allocator if the cluster holds any; the record stays, to
  // take memory again later.
  void Release(mem_Allocator& allocator) override;
  // "Cluster %d: alloc=%d\n", then the slot bytes of every page's class (0 for a variable
  // page), each followed by a space, then "\n"; on the standard output.
  void Print() const override;
  // "Allocated Regions:\n", then each page's region print in page order; a run of
  // variable pages prints the variable region once.
  void PrintRegions() const;

  // For a record whose memory was given back: takes 256 KiB again and sets the cluster
  // up as new (all pages variable). The list links are left to the cache pool. False
  // when there is no memory.
  bool TakeMemory(mem_Allocator& allocator);
  bool HasMemory() const { return memory_ != nullptr; }

  // A handle for an item of bytes, or kNoHandle when the cluster has no room.
  Handle Allocate(unsigned bytes);
  // True when the cluster holds nothing any more.
  bool Free(Handle handle);
  // The item grown to hold bytes: the same handle when it is big enough, else moved
  // (within the variable region when both sizes are above 128 bytes, else to a new item
  // with the old bytes copied). kNoHandle when there is no room; the item is then untouched.
  Handle Resize(Handle handle, unsigned bytes);
  // The class of the handle's page: 0-9 for a fixed page, kVariableClass otherwise.
  int ClassOf(Handle handle) const { return page_type_[mem::cluster::HandlePage(handle)]; }
  // The bytes an item may use: its class's slot size, or the data bytes of its block.
  unsigned Size(Handle handle) const;
  // The size in words of the variable region's largest free block.
  int LargestFree() const { return Variable().LargestSize(); }
  // Allocated words: the variable region's, with each fixed page counting only its
  // items instead of its page block.
  int Usage() const;
  static int ClassOfSize(unsigned bytes) {
    return bytes > mem::blocks::kLargestSlotBytes ? kVariableClass : mem::blocks::ClassOf(bytes);
  }

  void* Address(Handle handle) const { return memory_ + mem::cluster::HandlePosition(handle); }
  int Number() const { return number_; }
  Handle HandleAt(int position) const { return mem::cluster::MakeHandle(number_, position); }

  // The cache pool's links of its per-class cluster lists (cluster numbers, kNoLink for
  // none); set to kNoLink at creation and otherwise only touched by the pool.
  int NextLink(int size_class) const { return next_link_[size_class]; }
  int PreviousLink(int size_class) const { return previous_link_[size_class]; }
  void SetNextLink(int size_class, int number) { next_link_[size_class] = number; }
  void SetPreviousLink(int size_class, int number) { previous_link_[size_class] = number; }

  // The class of page's items (0-9), or kVariableClass for a page of the variable region.
  int PageType(int page) const { return page_type_[page]; }
  // The page a class allocates from first, or kNoPage; always page 0 for the variable class.
  int CurrentPage(int size_class) const { return current_page_[size_class]; }
  VariableRegion& Variable() const { return *reinterpret_cast<VariableRegion*>(memory_); }
  // The region of a fixed page.
  FixedRegion& PageRegion(int page) const {
    return *reinterpret_cast<FixedRegion*>(memory_ + page * kPageWords);
  }
  // A page's room mark: set when the page is cut or one of its slots is freed, dropped
  // when an allocation on it fails or it goes back to the variable region. So an unmarked
  // page never has a free slot, and allocation passes over it; a marked one may be full.
  bool MayHaveRoom(int page) const { return (RoomMask() >> page & 1) != 0; }

 private:
  explicit mem_Cluster(int number);
  // Sets up fresh memory: one variable region over the whole cluster, no fixed pages.
  void SetUp(std::uint32_t* memory);
  // A fresh page of a fixed class cut from the variable region; kNoPage when none fits.
  int NewPage(int size_class);
  int AllocateFixed(int size_class);
  // The room marks of all pages, bit p for page p (see MayHaveRoom).
  std::uint64_t RoomMask() const;
  void SetRoomMask(std::uint64_t mask);
  void MarkRoom(int page) { SetRoomMask(RoomMask() | std::uint64_t{1} << page); }
  void ClearRoom(int page) { SetRoomMask(RoomMask() & ~(std::uint64_t{1} << page)); }
  // Bit p set when page p is a fixed page of size_class.
  std::uint64_t PagesOfClass(int size_class) const;

  int number_;
  int current_page_[kClassCount];
  int next_link_[kClassCount];
  int previous_link_[kClassCount];
  std::int8_t page_type_[kPageCount];
};
static_assert(sizeof(mem_Cluster) == 224,
              "the block, the number, three arrays of 11 words, 64 page types");

#endif
