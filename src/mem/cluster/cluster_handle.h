// Cluster handles: an item in a cluster is named by 32 bits instead of a pointer, so that
// its address follows from the cluster's number. Bit 0 is set in every valid handle,
// bits 1-15 hold the cluster number and bits 16-31 the item's word position in the
// cluster's memory; the top six bits are thus the item's page. 0 means failure.
#ifndef VARURUROR_MEM_CLUSTER_CLUSTER_HANDLE_H
#define VARURUROR_MEM_CLUSTER_CLUSTER_HANDLE_H

namespace mem::cluster {

using Handle = unsigned;

constexpr Handle kNoHandle = 0;
constexpr Handle kValidBit = 1;
constexpr int kNumberShift = 1;
constexpr unsigned kNumberMask = 0x7FFF;
constexpr int kPositionShift = 16;
// A page is 1024 words, so the page of a 16-bit word position is its top six bits.
constexpr int kPageShift = 26;

constexpr Handle MakeHandle(int number, int position) {
  return (static_cast<unsigned>(position) << kPositionShift) |
         ((static_cast<unsigned>(number) & kNumberMask) << kNumberShift) | kValidBit;
}
constexpr bool IsClusterHandle(Handle handle) { return (handle & kValidBit) != 0; }
constexpr int HandleNumber(Handle handle) {
  return static_cast<int>((handle >> kNumberShift) & kNumberMask);
}
constexpr int HandlePosition(Handle handle) { return static_cast<int>(handle >> kPositionShift); }
constexpr int HandlePage(Handle handle) { return static_cast<int>(handle >> kPageShift); }

static_assert(MakeHandle(5, 1030) == 0x0406000Bu, "word 1030 of cluster 5");
static_assert(HandlePage(MakeHandle(5, 1030)) == 1 && HandleNumber(0x0406000Bu) == 5 &&
                  HandlePosition(0x0406000Bu) == 1030,
              "fields read back");

}  // namespace mem::cluster

#endif
