// The thread-block switches and the page mark by which the pool's blocks are known.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "mem/thread_block_port.h"
#include "plat/virtual_memory.h"
#include "varururor/varururor.h"

namespace {

using mem::thread_block::g_pool_seen;
using mem::thread_block::g_routing;

class ThreadBlockSwitches : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("KVN_TBMALLOC");
    mem_TBAllocator(0);
  }
  void TearDown() override {
    unsetenv("KVN_TBMALLOC");
    mem_TBAllocator(0);
  }
};

TEST_F(ThreadBlockSwitches, ModesTurnRoutingOnAndOffAndThePoolStaysSeen) {
  mem_TBAllocator(2);
  EXPECT_EQ(g_routing, 1);
  EXPECT_EQ(g_pool_seen, 1);
  mem_TBAllocator(1);  // leaves routing as it was
  EXPECT_EQ(g_routing, 1);
  mem_TBAllocator(0);
  EXPECT_EQ(g_routing, 0);
  EXPECT_EQ(g_pool_seen, 1);
  mem_TBAllocator(1);
  EXPECT_EQ(g_routing, 0);
  mem_TBAllocator(-7);  // any other non-zero mode counts as 1
  EXPECT_EQ(g_routing, 0);
  EXPECT_EQ(g_pool_seen, 1);
}

TEST_F(ThreadBlockSwitches, AValueBeginningWithZeroKeepsRoutingOff) {
  for (char const* value : {"0", "01", "0anything"}) {
    mem_TBAllocator(2);
    setenv("KVN_TBMALLOC", value, 1);
    mem_TBAllocator(2);
    EXPECT_EQ(g_routing, 0) << value;
    mem_TBAllocator(1);
    EXPECT_EQ(g_routing, 0) << value;
  }
  for (char const* value : {"1", "", " 0", "x"}) {
    setenv("KVN_TBMALLOC", value, 1);
    mem_TBAllocator(2);
    EXPECT_EQ(g_routing, 1) << value;
    mem_TBAllocator(0);
  }
}

TEST_F(ThreadBlockSwitches, RoutedAndUnroutedRequestsBothWork) {
  mem_TBAllocator(2);
  void* small = mem_Malloc(128);
  void* large = mem_Malloc(129);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  small = mem_Realloc(small, 64);
  ASSERT_NE(small, nullptr);
  mem_TBAllocator(0);
  mem_Free(small);
  mem_Free(large);
  mem_TBThreadLock(true);
  EXPECT_EQ(mem::thread_block::g_thread_lock, 1);
  mem_TBThreadLock(false);
  EXPECT_EQ(mem::thread_block::g_thread_lock, 0);
}

TEST(PageMark, NeedsTheOwnAddressAndFourMarkBytesAtThePageStart) {
  constexpr std::size_t kPage = 4096;
  auto* page = static_cast<std::uint32_t*>(plat::VirtualAlloc(
      nullptr, 2 * kPage, plat::kMemReserve | plat::kMemCommit, plat::kPageReadWrite));
  ASSERT_NE(page, nullptr);
  char* bytes = reinterpret_cast<char*>(page);
  page[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(page));
  page[1] = 0xABABABABu;
  EXPECT_TRUE(mem::thread_block::CarriesPageMark(bytes + 80));
  EXPECT_TRUE(mem::thread_block::CarriesPageMark(bytes + kPage - 1));
  EXPECT_FALSE(mem::thread_block::CarriesPageMark(bytes + kPage));  // the next page
  for (int byte = 4; byte < 8; ++byte) {
    bytes[byte] = 0x00;
    EXPECT_FALSE(mem::thread_block::CarriesPageMark(bytes + 100)) << byte;
    bytes[byte] = static_cast<char>(0xAB);
  }
  page[0] += 4096;
  EXPECT_FALSE(mem::thread_block::CarriesPageMark(bytes + 100));
  // Pointers into page 0 are never marked, and never read.
  EXPECT_FALSE(mem::thread_block::CarriesPageMark(reinterpret_cast<void*>(0x10)));
  EXPECT_TRUE(plat::VirtualFree(page, 0, plat::kMemRelease));
}

}  // namespace
