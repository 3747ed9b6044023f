// The operator-new family: the debugging size check, failure by exception or null,
// the new-handler loop, and the mix-ins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "child_process.h"
#include "varururor/varururor.h"

namespace {

// More than any heap of a 32-bit process can give.
constexpr unsigned kImpossible = 0xFFFFFF00u;

void Set(char const* variable, char const* value) { setenv(variable, value, 1); }

TEST(SizeCheck, OnAbortsWhenAClassUsesTheMixInForTheOtherSize) {
  char const* kNormalMessage =
      "KOVRIN class with sizeof\\(class\\) < 129 should use mem_AllocationOperatorsTiny\n";
  char const* kTinyMessage =
      "KOVRIN class with sizeof\\(class\\) > 128 should use mem_AllocationOperators\n";
  EXPECT_ABORT_IN_CHILD(kNormalMessage, {
    Set("KVN_DEBUG_MEMSIZE", "ON");
    mem_OperatorNewThrow(128);
  });
  EXPECT_ABORT_IN_CHILD(kNormalMessage, {
    Set("KVN_DEBUG_MEMSIZE", "ONLY");
    mem_OperatorNewNoThrow(1, std::nothrow);
  });
  EXPECT_ABORT_IN_CHILD(kTinyMessage, {
    Set("KVN_DEBUG_MEMSIZE", "ON");
    mem_OperatorNewTinyThrow(129);
  });
  EXPECT_ABORT_IN_CHILD(kTinyMessage, {
    Set("KVN_DEBUG_MEMSIZE", "ON");
    mem_OperatorNewTinyNoThrow(4096, std::nothrow);
  });
}

TEST(SizeCheck, OnAllowsFittingSizesAndSizeZero) {
  EXPECT_IN_CHILD("^ok=1$", {
    Set("KVN_DEBUG_MEMSIZE", "ON");
    void* blocks[] = {mem_OperatorNewThrow(129),
                      mem_OperatorNewThrow(0),
                      mem_OperatorNewTinyThrow(128),
                      mem_OperatorNewTinyThrow(0),
                      mem_OperatorNewNoThrow(1000, std::nothrow),
                      mem_OperatorNewTinyNoThrow(1, std::nothrow),
                      mem_OperatorNewThrowBuiltin(1),
                      mem_OperatorNewNoThrowBuiltin(1000)};
    int all = 1;
    for (void* p : blocks) {
      all &= p != nullptr;
      mem_Free(p);
    }
    std::fprintf(stderr, "ok=%d", all);
  });
}

TEST(SizeCheck, OtherValuesLeaveTheCheckOff) {
  for (char const* value : {"on", "", "O", "oN", "OFF", " ON"}) {
    EXPECT_IN_CHILD("^ok=1$",
                    {
                      Set("KVN_DEBUG_MEMSIZE", value);
                      void* a = mem_OperatorNewThrow(1);
                      void* b = mem_OperatorNewTinyThrow(4096);
                      std::fprintf(stderr, "ok=%d", a != nullptr && b != nullptr);
                      mem_Free(a);
                      mem_Free(b);
                    })
        << "KVN_DEBUG_MEMSIZE=\"" << value << "\"";
  }
}

// The check is decided at each function's first call: setting the variable later
// changes nothing for a function already called.
TEST(SizeCheck, IsReadOncePerFunction) {
  EXPECT_IN_CHILD("^survived$", {
    mem_Free(mem_OperatorNewThrow(8));
    Set("KVN_DEBUG_MEMSIZE", "ON");
    mem_Free(mem_OperatorNewThrow(8));
    std::fprintf(stderr, "survived");
  });
}

int g_handler_calls = 0;

void CountingHandler() {
  if (++g_handler_calls == 3) std::set_new_handler(nullptr);
}

TEST(OperatorNew, ThrowingFormsThrowBadAllocationWithoutTheNewHandler) {
  g_handler_calls = 0;
  std::set_new_handler(CountingHandler);
  try {
    mem_OperatorNewThrow(kImpossible);
    ADD_FAILURE() << "no exception";
  } catch (std::bad_alloc const& failure) {
    EXPECT_STREQ(failure.what(), "bad allocation");
  }
  EXPECT_THROW(mem_OperatorNewTinyThrow(kImpossible), std::bad_alloc);
  EXPECT_EQ(mem_OperatorNewNoThrow(kImpossible, std::nothrow), nullptr);
  EXPECT_EQ(mem_OperatorNewTinyNoThrow(kImpossible, std::nothrow), nullptr);
  EXPECT_EQ(g_handler_calls, 0);
  std::set_new_handler(nullptr);
}

TEST(OperatorNew, BuiltinFormsRunTheNewHandlerUntilItIsRemoved) {
  g_handler_calls = 0;
  std::set_new_handler(CountingHandler);
  try {
    mem_OperatorNewThrowBuiltin(kImpossible);
    ADD_FAILURE() << "no exception";
  } catch (std::bad_alloc const& failure) {
    EXPECT_STREQ(failure.what(), "bad allocation");
  }
  EXPECT_EQ(g_handler_calls, 3);

  g_handler_calls = 0;
  std::set_new_handler(CountingHandler);
  EXPECT_EQ(mem_OperatorNewNoThrowBuiltin(kImpossible), nullptr);
  EXPECT_EQ(g_handler_calls, 3);
  EXPECT_EQ(mem_OperatorNewNoThrowBuiltin(kImpossible), nullptr);
  EXPECT_EQ(g_handler_calls, 3);
}

TEST(OperatorNew, BuiltinTakesOneByteForZero) {
  void* p = mem_OperatorNewThrowBuiltin(0);
  ASSERT_NE(p, nullptr);
  static_cast<char*>(p)[0] = 1;
  mem_Free(p);
}

struct Large : mem_AllocationOperators {
  char bytes[200];
};
struct Small : mem_AllocationOperatorsTiny {
  int value = 7;
};

TEST(MixIns, ClassesAllocateThroughTheLibrary) {
  Large* large = new Large;
  Small* small = new Small;
  std::memset(large->bytes, 1, sizeof large->bytes);
  EXPECT_EQ(small->value, 7);
  delete large;
  delete small;

  int* numbers = new (mem_BuiltInAllocTag) int[1000];
  for (int i = 0; i < 1000; ++i) numbers[i] = i;
  EXPECT_EQ(numbers[999], 999);
  mem_Free(numbers);
}

TEST(MixIns, UnderTheSizeCheckEachMixInTakesItsOwnSizes) {
  EXPECT_IN_CHILD("^fine$", {
    Set("KVN_DEBUG_MEMSIZE", "ON");
    delete new Large;
    delete new Small;
    std::fprintf(stderr, "fine");
  });
}

}  // namespace
