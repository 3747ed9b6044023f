// A map from signed 32-bit keys to any number of 4-byte values: an omi_IntTable<void*>
// whose value for a key is the head of a singly linked list of that key's values.
//
// Links are carved out of blocks of 256, so that 255 insertions in 256 allocate nothing.
// A removal only unlinks; when more than 256 links have been handed out and at least three
// of them per live value, the map rebuilds its lists into fresh blocks. Instantiated for int
// and void*; values are compared by value.
#ifndef VARURUROR_OMI_INT_MULTIMAP_H
#define VARURUROR_OMI_INT_MULTIMAP_H

#include <new>

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"
#include "varururor/omi/int_table.h"
#include "varururor/omi/int_table_iterator.h"

// One value of a key's list.
template <typename T>
struct omi_IntMultiMapLink {
  T value;
  omi_IntMultiMapLink* next;  // null at the end of the list
};

// An array of links taken in one allocation; the blocks of a map form a list, newest first.
template <typename T>
class VR_API omi_IntMultiMapLinkBlock : public mem_AllocationOperatorsTiny {
 public:
  using Link = omi_IntMultiMapLink<T>;

  // A block of link_count links (none when link_count is 0 or less).
  explicit omi_IntMultiMapLinkBlock(int link_count);
  omi_IntMultiMapLinkBlock(omi_IntMultiMapLinkBlock const&) = delete;
  omi_IntMultiMapLinkBlock& operator=(omi_IntMultiMapLinkBlock const&) = delete;
  ~omi_IntMultiMapLinkBlock();

  Link* links;
  omi_IntMultiMapLinkBlock* next;
};

template <typename T>
class omi_IntMultiMapIterator;

// The map is an omi_IntTable<void*> to its clients too: it can be passed where a table is
// read, visited with omi_IntTableIterator<void*> (each value a key's head link) and asked
// IsPresent. A value stored through the table's own Insert is not a list: only the map's
// members may change it.
template <typename T>
class VR_API omi_IntMultiMap : public omi_IntTable<void*> {
 public:
  using Link = omi_IntMultiMapLink<T>;
  using LinkBlock = omi_IntMultiMapLinkBlock<T>;
  // Orders the rebuilt lists: a link goes before the first link n of its new list for which
  // order(n, link) is not negative.
  using OrderFunction = int (*)(Link const*, Link const*);

  enum : unsigned int {
    kLinksPerBlock = 256,
    // A rebuild needs more than kLinksPerBlock links handed out and at least this many per
    // live value.
    kRebuildRatio = 3
  };

  omi_IntMultiMap();
  omi_IntMultiMap(omi_IntMultiMap const&) = delete;
  omi_IntMultiMap& operator=(omi_IntMultiMap const&) = delete;
  ~omi_IntMultiMap() override;

  // Adds value in front of key's list; a value already there is stored again. Always true.
  bool Insert(int key, T const& value);
  bool IsMember(int key, T const& value) const;
  // Frees every link block and empties both tables.
  void Clear();

  // Removes key and all its values; false when the key is absent.
  bool Remove(int key) {
    void** head = Find(key);
    if (head == nullptr) return false;
    for (Link const* link = static_cast<Link const*>(*head); link != nullptr; link = link->next) {
      --value_count_;
    }
    omi_IntTable<void*>::Remove(key);
    FinishRemoval();
    return true;
  }
  // Removes every link of key that holds value; false when there was none.
  bool Remove(int key, T const& value) {
    void** head = Find(key);
    if (head == nullptr) return false;
    unsigned int before = value_count_;
    Link* kept = nullptr;
    Link** tail = &kept;
    for (Link* link = static_cast<Link*>(*head); link != nullptr; link = link->next) {
      if (link->value == value) {
        --value_count_;
      } else {
        *tail = link;
        tail = &link->next;
      }
    }
    if (value_count_ == before) return false;
    *tail = nullptr;
    *head = kept;
    if (kept == nullptr) omi_IntTable<void*>::Remove(key);
    FinishRemoval();
    return true;
  }

  // Rebuilds every list into fresh link blocks, keys in ascending order, each list ordered
  // by order (null: every link goes to the front, which reverses each list). Should memory
  // run out part way, the map keeps its old blocks beside the new ones and every list
  // stays whole; the exception (std::bad_alloc, or one from order) is then passed on.
  void Compact(OrderFunction order) {
    if (order == nullptr) order = NoOrder;
    ++changes_;
    LinkBlock* old_blocks = blocks_;
    unsigned int old_handed_out = handed_out_;
    int old_links_used = links_used_;
    Link* old_last = last_;
    blocks_ = nullptr;
    handed_out_ = 0;
    links_used_ = kLinksPerBlock;
    last_ = nullptr;
    try {
      omi_IntTableIterator<void*> keys(*this);
      for (keys.First(); !keys.IsDone(); keys.Next()) {
        void** head = Find(keys.CurrentKey());
        Link* rebuilt = nullptr;
        for (Link const* old = static_cast<Link const*>(*head); old != nullptr; old = old->next) {
          Link* link = TakeLink();
          link->value = old->value;
          Link** place = &rebuilt;
          while (*place != nullptr && order(*place, old) < 0) place = &(*place)->next;
          link->next = *place;
          *place = link;
        }
        // Written only when the list is whole, so a failure leaves the old list in place.
        *head = rebuilt;
      }
    } catch (...) {
      KeepOldBlocks(old_blocks, old_handed_out, old_links_used, old_last);
      throw;
    }
    FreeLinkBlocks(old_blocks);
  }
  void Compact() { Compact(NoOrder); }

  // The head of key's list, or null when the key is absent.
  Link const* Values(int key) const {
    void* const* head = Find(key);
    return head == nullptr ? nullptr : static_cast<Link const*>(*head);
  }
  unsigned int KeyCount() const { return Count(); }
  // The number of values in all lists.
  unsigned int ValueCount() const { return value_count_; }
  // Links taken from link blocks since the last rebuild or clear, removed ones included.
  unsigned int LinksHandedOut() const { return handed_out_; }
  unsigned int LinkBlockCount() const;
  // Counts the changes after which an iterator's current link may be gone: removals,
  // rebuilds and clears (insertions leave every link where it is).
  unsigned int Changes() const { return changes_; }

 private:
  friend class omi_IntMultiMapIterator<T>;

  static int NoOrder(Link const*, Link const*) { return 0; }

  // Exported although private: the inline members call them.
  Link* TakeLink();
  static void FreeLinkBlocks(LinkBlock* blocks);
  // After a failed rebuild: the old blocks go behind the new ones, whose lists are in use.
  void KeepOldBlocks(LinkBlock* old_blocks, unsigned int old_handed_out, int old_links_used,
                     Link* old_last);
  // After a removal: an empty map is cleared; a wasteful one is rebuilt, unless memory for
  // the rebuild cannot be had, in which case it stays as it is until a later removal.
  void FinishRemoval() {
    ++changes_;
    if (value_count_ == 0) {
      Clear();
      return;
    }
    if (handed_out_ <= kLinksPerBlock || handed_out_ / value_count_ < kRebuildRatio) return;
    try {
      Compact();
    } catch (std::bad_alloc const&) {
      // The rebuild is only a saving; the map is whole without it.
    }
  }

  unsigned int value_count_;
  unsigned int handed_out_;
  LinkBlock* blocks_;
  int links_used_;  // in the newest block
  Link* last_;      // the last link handed out, in the newest block
  // Beyond the five fields of the list structure: lets an iterator used after a change
  // step only over links that still exist (see Changes).
  unsigned int changes_;
};

extern template class omi_IntMultiMapLinkBlock<int>;
extern template class omi_IntMultiMapLinkBlock<void*>;
extern template class omi_IntMultiMap<int>;
extern template class omi_IntMultiMap<void*>;

#endif
