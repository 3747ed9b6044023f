// Misuse and corruption end the process: each case runs in a child that must abort.
#include <gtest/gtest.h>

#include <csignal>

#include "heap_test_support.h"

namespace heap_test {
namespace {

alignas(16) unsigned char g_never_handed_out[64];

#define EXPECT_HEAP_ABORT(...) \
  EXPECT_EXIT(([&] { __VA_ARGS__; }()), ::testing::KilledBySignal(SIGABRT), "")

TEST(HeapMisuse, DoubleFreeAborts) {
  EXPECT_HEAP_ABORT({
    void* keep = dlmalloc(100);
    void* p = dlmalloc(100);
    void* guard = dlmalloc(100);
    dlfree(p);
    dlfree(p);
    dlfree(keep);
    dlfree(guard);
  });
}

TEST(HeapMisuse, FreeingAPointerNeverHandedOutAborts) {
  EXPECT_HEAP_ABORT({
    dlfree(dlmalloc(100));
    dlfree(g_never_handed_out + 16);
  });
  // Before the heap holds anything, no pointer is one of its blocks.
  EXPECT_HEAP_ABORT(dlfree(g_never_handed_out + 16));
}

TEST(HeapMisuse, FreeingInsideABlockAborts) {
  EXPECT_HEAP_ABORT({
    char* p = static_cast<char*>(dlcalloc(1, 256));
    dlfree(p + 64);
  });
  // Misaligned: the "head" in front of it is user data, here made to look in use.
  EXPECT_HEAP_ABORT({
    char* p = static_cast<char*>(dlmalloc(256));
    std::memset(p, 0x03, 256);
    dlfree(p + 5);
  });
}

TEST(HeapMisuse, ReallocOfAPointerNeverHandedOutAborts) {
  EXPECT_HEAP_ABORT({
    dlfree(dlmalloc(100));
    dlrealloc(g_never_handed_out + 16, 10);
  });
  EXPECT_HEAP_ABORT({
    void* p = dlmalloc(100);
    void* guard = dlmalloc(100);
    dlfree(p);
    dlrealloc(p, 200);
    dlfree(guard);
  });
}

TEST(HeapMisuse, SmashedHeadAborts) {
  EXPECT_HEAP_ABORT({
    std::size_t* p = static_cast<std::size_t*>(dlmalloc(100));
    p[-1] = 0;  // the chunk's head
    dlfree(p);
  });
  // A head that claims a larger chunk: the "chunk" behind it, inside the next block, is
  // in use but does not know this one is.
  EXPECT_HEAP_ABORT({
    std::size_t* p = static_cast<std::size_t*>(dlmalloc(100));
    void* guard = dlmalloc(100);
    std::memset(guard, 0x02, 100);
    p[-1] += 32;
    dlfree(p);
  });
}

TEST(HeapMisuse, OverwrittenFreeListLinksAbort) {
  EXPECT_HEAP_ABORT({
    AdjacentTriple triple(200);
    ASSERT_NE(triple.a, nullptr);
    dlfree(triple.b);
    // Writing through a freed pointer spoils the bin links of its chunk.
    static_cast<void**>(triple.b)[0] = g_never_handed_out;
    static_cast<void**>(triple.b)[1] = g_never_handed_out;
    dlmalloc(200);
  });
  EXPECT_HEAP_ABORT({
    AdjacentTriple triple(5000);
    ASSERT_NE(triple.a, nullptr);
    dlfree(triple.b);
    // A tree chunk whose ring neighbour no longer points back.
    static_cast<void**>(triple.b)[1] = triple.a;
    dlfree(triple.a);
  });
}

}  // namespace
}  // namespace heap_test
