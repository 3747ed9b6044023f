// The ten slot sizes of fixed-slot pages, shared by the thread-block pool and the
// memory clusters.
#ifndef VARURUROR_MEM_BLOCKS_SIZE_CLASSES_H
#define VARURUROR_MEM_BLOCKS_SIZE_CLASSES_H

#include <cstdint>

namespace mem::blocks {

constexpr int kClassCount = 10;
constexpr unsigned kWordBytes = 4;
// Requests up to this many bytes have a class; larger ones are not served from slots.
constexpr unsigned kLargestSlotBytes = 128;

constexpr unsigned kSlotWords[kClassCount] = {1, 2, 4, 8, 12, 16, 20, 24, 28, 32};

// 1-4 bytes: class 0, 5-8: class 1, then one class per 16 bytes up to 128.
constexpr int ClassOf(unsigned bytes) {
  if (bytes == 0) bytes = 1;
  return bytes <= 8 ? static_cast<int>((bytes - 1) / 4) : static_cast<int>((bytes - 1) / 16 + 2);
}

static_assert(ClassOf(0) == 0 && ClassOf(4) == 0 && ClassOf(5) == 1 && ClassOf(8) == 1 &&
                  ClassOf(9) == 2 && ClassOf(16) == 2 && ClassOf(17) == 3 && ClassOf(32) == 3 &&
                  ClassOf(33) == 4 && ClassOf(128) == 9,
              "class boundaries");
static_assert(kSlotWords[ClassOf(kLargestSlotBytes)] * kWordBytes == kLargestSlotBytes,
              "the largest class holds the largest request");

}  // namespace mem::blocks

#endif
