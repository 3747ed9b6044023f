#include "mem/blocks/block.h"

#include <cstdio>
#include <new>

#include "mem/blocks/size_classes.h"
#include "varururor/mem/allocator.h"

namespace {
char const kBlockTag[] = "mem_Block";
char const kFixedBlockTag[] = "mem_FixedBlock";
}  // namespace

mem_Block::mem_Block(std::uint32_t* memory, int words, mem_BlockOwnership ownership)
    : memory_(memory), words_(words), ownership_(ownership) {}

mem_Block::~mem_Block() = default;

void mem_Block::SetMemory(std::uint32_t* memory, int words) {
  memory_ = memory;
  words_ = words;
  if (ownership_ != mem_BlockCluster)
    ownership_ = memory != nullptr ? mem_BlockOwns : mem_BlockBorrows;
}

void mem_Block::Release(mem_Allocator& allocator) {
  if (ownership_ == mem_BlockOwns) {
    std::uint32_t* memory = memory_;
    memory_ = nullptr;
    words_ = 0;
    allocator.Free(kBlockTag, memory);
  }
  this->~mem_Block();
  allocator.Free(kBlockTag, this);
}

void mem_Block::Print() const { std::printf("mem_Block: Size = %d\n", words_); }

mem_FixedBlock::mem_FixedBlock(std::uint32_t* memory, int words, int id)
    : mem_Block(memory, words, mem_BlockFixed), id_(id), region_offset_(kRegionOffset) {}

mem_FixedBlock* mem_FixedBlock::ConstructIn(std::uint32_t* memory, int words, int id,
                                            int size_class, int slot_words) {
  auto* block = new (memory) mem_FixedBlock(memory, words, id);
  new (memory + kRegionOffset)
      mem::blocks::FixedRegion(kRegionOffset, size_class, words - kRegionOffset, slot_words);
  return block;
}

mem_FixedBlock* mem_FixedBlock::Create(int id, mem_Allocator& allocator, int size_class,
                                       unsigned item_size) {
  using mem::blocks::kClassCount;
  using mem::blocks::kSlotWords;
  using mem::blocks::kWordBytes;
  int slot_words;
  if (size_class >= kClassCount) {
    size_class = kOversizeClass;
    slot_words = static_cast<int>((item_size - 1) / kWordBytes + 1);
  } else {
    slot_words = static_cast<int>(kSlotWords[size_class]);
  }
  void* page = allocator.Malloc(kFixedBlockTag, kPageWords * kWordBytes);
  if (page == nullptr) return nullptr;
  return ConstructIn(static_cast<std::uint32_t*>(page), kPageWords, id, size_class, slot_words);
}

// The record lives in the memory, so giving the memory back ends the record too.
void mem_FixedBlock::Release(mem_Allocator& allocator) {
  void* memory = memory_;
  this->~mem_FixedBlock();
  allocator.Free(kFixedBlockTag, memory);
}
