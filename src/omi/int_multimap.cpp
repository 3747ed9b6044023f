#include "varururor/omi/int_multimap.h"

#include <cstddef>

template <typename T>
omi_IntMultiMapLinkBlock<T>::omi_IntMultiMapLinkBlock(int link_count)
    : links(nullptr), next(nullptr) {
  static_assert(sizeof(Link) == 8 && offsetof(Link, value) == 0 && offsetof(Link, next) == 4,
                "a link is the value, then the next link");
  static_assert(sizeof(omi_IntMultiMapLinkBlock) == 8 &&
                    offsetof(omi_IntMultiMapLinkBlock, links) == 0 &&
                    offsetof(omi_IntMultiMapLinkBlock, next) == 4,
                "the links, then the next block");
  if (link_count > 0) {
    links = static_cast<Link*>(
        mem_OperatorNewThrowBuiltin(static_cast<unsigned int>(link_count) * sizeof(Link)));
  }
}

template <typename T>
omi_IntMultiMapLinkBlock<T>::~omi_IntMultiMapLinkBlock() {
  mem_Free(links);
}

template <typename T>
omi_IntMultiMap<T>::omi_IntMultiMap()
    : value_count_(0),
      handed_out_(0),
      blocks_(nullptr),
      links_used_(kLinksPerBlock),
      last_(nullptr),
      changes_(0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static_assert(sizeof(omi_IntMultiMap) == 36, "the table, five 32-bit fields, the changes");
  static_assert(offsetof(omi_IntMultiMap, value_count_) == 12 &&
                    offsetof(omi_IntMultiMap, handed_out_) == 16 &&
                    offsetof(omi_IntMultiMap, blocks_) == 20 &&
                    offsetof(omi_IntMultiMap, links_used_) == 24 &&
                    offsetof(omi_IntMultiMap, last_) == 28 &&
                    offsetof(omi_IntMultiMap, changes_) == 32,
                "value count, links handed out, blocks, links used, last link, changes");
#pragma GCC diagnostic pop
}

template <typename T>
omi_IntMultiMap<T>::~omi_IntMultiMap() {
  FreeLinkBlocks(blocks_);
}

template <typename T>
bool omi_IntMultiMap<T>::Insert(int key, T const& value) {
  Link* link = TakeLink();
  link->value = value;
  void** head = Find(key);
  if (head != nullptr) {
    link->next = static_cast<Link*>(*head);
    *head = link;
  } else {
    link->next = nullptr;
    // Should the table fail to grow, the link stays handed out unused: wasted, not lost.
    omi_IntTable<void*>::Insert(key, link);
  }
  ++value_count_;
  return true;
}

template <typename T>
bool omi_IntMultiMap<T>::IsMember(int key, T const& value) const {
  for (Link const* link = Values(key); link != nullptr; link = link->next) {
    if (link->value == value) return true;
  }
  return false;
}

template <typename T>
void omi_IntMultiMap<T>::Clear() {
  ++changes_;
  FreeLinkBlocks(blocks_);
  blocks_ = nullptr;
  omi_IntTable<void*>::Clear();
  value_count_ = 0;
  handed_out_ = 0;
  links_used_ = kLinksPerBlock;
  last_ = nullptr;
}

template <typename T>
unsigned int omi_IntMultiMap<T>::LinkBlockCount() const {
  unsigned int count = 0;
  for (LinkBlock const* block = blocks_; block != nullptr; block = block->next) ++count;
  return count;
}

template <typename T>
typename omi_IntMultiMap<T>::Link* omi_IntMultiMap<T>::TakeLink() {
  Link* link;
  if (links_used_ >= static_cast<int>(kLinksPerBlock)) {
    // Nothing changes before the block is had.
    LinkBlock* block = new LinkBlock(kLinksPerBlock);
    block->next = blocks_;
    blocks_ = block;
    links_used_ = 0;
    link = block->links;
  } else {
    link = last_ + 1;
  }
  ++links_used_;
  ++handed_out_;
  last_ = link;
  return link;
}

template <typename T>
void omi_IntMultiMap<T>::FreeLinkBlocks(LinkBlock* blocks) {
  while (blocks != nullptr) {
    LinkBlock* next = blocks->next;
    delete blocks;
    blocks = next;
  }
}

template <typename T>
void omi_IntMultiMap<T>::KeepOldBlocks(LinkBlock* old_blocks, unsigned int old_handed_out,
                                       int old_links_used, Link* old_last) {
  handed_out_ += old_handed_out;
  if (blocks_ == nullptr) {
    // No new block was taken: the old newest block is the newest again.
    blocks_ = old_blocks;
    links_used_ = old_links_used;
    last_ = old_last;
    return;
  }
  LinkBlock* tail = blocks_;
  while (tail->next != nullptr) tail = tail->next;
  tail->next = old_blocks;
}

template class omi_IntMultiMapLinkBlock<int>;
template class omi_IntMultiMapLinkBlock<void*>;
template class omi_IntMultiMap<int>;
template class omi_IntMultiMap<void*>;
