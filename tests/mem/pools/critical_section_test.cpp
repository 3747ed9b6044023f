// The lock object: the held flag refuses a try from anybody, the holder included.
#include <gtest/gtest.h>

#include <thread>

#include "mem/pools/critical_section.h"

namespace {

int TryFromAnotherThread(mem_CriticalSection* lock) {
  int result = -1;
  std::thread([&] {
    result = lock->TryEnter();
    if (result == 1) lock->Leave();
  }).join();
  return result;
}

TEST(CriticalSectionThreads, ConstructedHeldRefusesOthersUntilLeave) {
  auto* lock = new mem_CriticalSection(1);
  EXPECT_EQ(TryFromAnotherThread(lock), 0);
  EXPECT_EQ(lock->TryEnter(), 0);  // the holder too
  lock->Leave();
  EXPECT_EQ(TryFromAnotherThread(lock), 1);
  delete lock;
}

TEST(CriticalSectionThreads, EnterLeaveThenAnyThreadMayTry) {
  mem_CriticalSection* lock = new mem_CriticalSection(0);
  lock->Enter();
  EXPECT_EQ(lock->TryEnter(), 0);
  EXPECT_EQ(TryFromAnotherThread(lock), 0);
  lock->Leave();
  EXPECT_EQ(lock->TryEnter(), 1);
  lock->Leave();
  EXPECT_EQ(TryFromAnotherThread(lock), 1);
  // Nested entries: the first Leave clears the flag, the section stays held.
  lock->Enter();
  lock->Enter();
  lock->Leave();
  EXPECT_EQ(TryFromAnotherThread(lock), 0);
  lock->Leave();
  EXPECT_EQ(TryFromAnotherThread(lock), 1);
  delete lock;
}

}  // namespace
