// The lock object: the held flag refuses a try from anybody, the holder included.
#include "mem/pools/critical_section.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

int TryFromAnotherThread(mem_CriticalSection* lock) {
  int result = -1;
  std::thread([&] {
    result = lock->TryEnter();
    if (result == 1) lock->Leave();
  }).join();
  return result;
}

TEST(CriticalSectionThreads, TheHeldFlagRefusesEveryTryUntilLeave) {
  mem_CriticalSection held(1);  // constructed held
  EXPECT_EQ(TryFromAnotherThread(&held), 0);
  EXPECT_EQ(held.TryEnter(), 0);  // the holder too
  held.Leave();
  EXPECT_EQ(TryFromAnotherThread(&held), 1);
  // Nested entries: the first Leave clears the flag, the section stays held.
  held.Enter();
  held.Enter();
  held.Leave();
  EXPECT_EQ(TryFromAnotherThread(&held), 0);
  held.Leave();
  EXPECT_EQ(TryFromAnotherThread(&held), 1);
}

}  // namespace
