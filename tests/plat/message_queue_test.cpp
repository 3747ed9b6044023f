// Thread message queues: made on first peek, posted to by id, gone with their thread.
#include "plat/message_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "plat/thread.h"

namespace {

// A thread's first peek makes its queue, which holds a fixed number of messages, keeps a
// peeked message, and goes with the thread.
TEST(MessageQueue, AQueueFromTheFirstPeekFillsKeepsAPeekedMessageAndGoesWithItsThread) {
  unsigned id = 0;
  std::thread([&] {
    id = plat::GetCurrentThreadId();
    EXPECT_FALSE(plat::PostThreadMessage(id, plat::kMessageApplication, 1, 2));
    plat::ThreadMessage message{};
    EXPECT_FALSE(plat::PeekMessage(&message, false));
    EXPECT_TRUE(plat::HasMessageQueue(id));
    unsigned accepted = 0;
    while (plat::PostThreadMessage(id, 0x8001, accepted, -3)) ++accepted;
    EXPECT_EQ(accepted, plat::kMessageQueueCapacity);
    ASSERT_TRUE(plat::PeekMessage(&message, false));
    ASSERT_TRUE(plat::PeekMessage(&message, true));  // still there, now taken
    EXPECT_EQ(message.message, 0x8001u);
    EXPECT_EQ(message.wparam, 0u);
    EXPECT_EQ(message.lparam, -3);
    EXPECT_TRUE(plat::PostThreadMessage(id, plat::kMessageApplication, 999, 0));
    unsigned drained = 0;
    while (plat::PeekMessage(&message, true)) ++drained;
    EXPECT_EQ(drained, plat::kMessageQueueCapacity);
    EXPECT_EQ(message.wparam, 999u);
  }).join();
  EXPECT_FALSE(plat::HasMessageQueue(id));
  EXPECT_FALSE(plat::PostThreadMessage(id, plat::kMessageApplication, 1, 2));
  EXPECT_FALSE(plat::PostThreadMessage(0, plat::kMessageApplication, 1, 2));
}

// Several threads post at once while this thread reads: each one's messages arrive, in its
// order. (Posting from a signal handler is checked by the alert listener's tests.)
TEST(MessageQueue, ManyPostersLoseNothing) {
  constexpr unsigned kPosters = 4;
  constexpr unsigned kEach = 200;  // quick under DRD
  plat::ThreadMessage message;
  plat::PeekMessage(&message, false);
  unsigned const self = plat::GetCurrentThreadId();
  std::vector<std::thread> posters;
  for (unsigned p = 0; p < kPosters; ++p) {
    posters.emplace_back([p, self] {
      for (unsigned i = 0; i < kEach; ++i) {
        EXPECT_TRUE(plat::PostThreadMessage(self, plat::kMessageApplication, i, p));
      }
    });
  }
  unsigned next[kPosters] = {};
  for (unsigned n = 0; n < kPosters * kEach; ++n) {
    EXPECT_EQ(plat::GetMessage(&message), 1);
    EXPECT_EQ(message.wparam, next[message.lparam]++) << "poster " << message.lparam;
  }
  for (std::thread& poster : posters) poster.join();
}

}  // namespace
