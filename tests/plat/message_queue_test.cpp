// Thread message queues: made on first peek, posted to by id, gone with their thread.
#include "plat/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include "plat/thread.h"

namespace {

TEST(MessageQueue, OnlyAThreadThatHasPeekedHasAQueueAndItGoesWithTheThread) {
  unsigned id = 0;
  std::thread([&] {
    id = plat::GetCurrentThreadId();
    EXPECT_FALSE(plat::PostThreadMessage(id, plat::kMessageApplication, 1, 2));
    plat::ThreadMessage message;
    EXPECT_FALSE(plat::PeekMessage(&message, false));
    EXPECT_TRUE(plat::HasMessageQueue(id));
  }).join();
  EXPECT_FALSE(plat::HasMessageQueue(id));
  EXPECT_FALSE(plat::PostThreadMessage(id, plat::kMessageApplication, 1, 2));
  EXPECT_FALSE(plat::PostThreadMessage(0, plat::kMessageApplication, 1, 2));
}

TEST(MessageQueue, AFullQueueRefusesPostsAndPeekKeepsTheMessage) {
  std::thread([] {
    unsigned self = plat::GetCurrentThreadId();
    plat::ThreadMessage message{};
    plat::PeekMessage(&message, false);
    unsigned accepted = 0;
    while (plat::PostThreadMessage(self, 0x8001, accepted, -3)) ++accepted;
    EXPECT_EQ(accepted, plat::kMessageQueueCapacity);
    ASSERT_TRUE(plat::PeekMessage(&message, false));
    ASSERT_TRUE(plat::PeekMessage(&message, true));  // still there, now taken
    EXPECT_EQ(message.message, 0x8001u);
    EXPECT_EQ(message.wparam, 0u);
    EXPECT_EQ(message.lparam, -3);
    EXPECT_TRUE(plat::PostThreadMessage(self, plat::kMessageApplication, 999, 0));
    unsigned drained = 0;
    while (plat::PeekMessage(&message, true)) ++drained;
    EXPECT_EQ(drained, plat::kMessageQueueCapacity);
    EXPECT_EQ(message.wparam, 999u);
  }).join();
}

constexpr unsigned kPosters = 4;
unsigned g_signal_target = 0;
bool g_signal_posted = false;

// The signal handler posts as one more poster.
void PostFromSignal(int) {
  g_signal_posted =
      plat::PostThreadMessage(g_signal_target, plat::kMessageApplication, 0, kPosters);
}

// Several threads post at once, and a signal handler once: each one's messages arrive, in
// its order, before the quit.
TEST(MessageQueue, ManyPostersAndASignalHandlerLoseNothing) {
  constexpr unsigned kEach = 200;  // quick under DRD
  std::atomic<unsigned> reader_id{0};
  std::vector<plat::ThreadMessage> received;
  std::thread reader([&] {
    plat::ThreadMessage message;
    plat::PeekMessage(&message, false);
    reader_id.store(plat::GetCurrentThreadId());
    while (plat::GetMessage(&message) == 1) received.push_back(message);
  });
  while (reader_id.load() == 0) std::this_thread::yield();
  std::vector<std::thread> posters;
  for (unsigned p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      for (unsigned i = 0; i < kEach; ++i) {
        while (!plat::PostThreadMessage(reader_id.load(), plat::kMessageApplication, i, p)) {
          std::this_thread::yield();  // full: the reader catches up
        }
      }
    });
  }
  g_signal_target = reader_id.load();
  auto previous = std::signal(SIGUSR2, PostFromSignal);
  std::raise(SIGUSR2);
  std::signal(SIGUSR2, previous);
  EXPECT_TRUE(g_signal_posted);
  for (std::thread& poster : posters) poster.join();
  plat::PostThreadMessage(reader_id.load(), plat::kMessageQuit, 0, 0);
  reader.join();
  ASSERT_EQ(received.size(), kPosters * kEach + 1);
  unsigned next[kPosters + 1] = {};
  for (plat::ThreadMessage const& message : received) {
    ASSERT_EQ(message.wparam, next[message.lparam]++) << "poster " << message.lparam;
  }
}

}  // namespace
