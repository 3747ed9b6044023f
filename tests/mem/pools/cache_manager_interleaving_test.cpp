// The memory cache manager's wait for room under every order of its steps: two or three
// threads allocate while one purge worker runs passes, and a scripted scheduler decides
// who moves next. Each allocating thread stops inside the wake callback, the only place
// where the manager hands control to the client, so one thread runs at a time and a
// schedule is a list of choices: "let thread i run to its next wake or to its end", or
// "run one pass of the worker". All schedules are tried up to a depth, each finished
// round-robin.
//
// The rule checked: no allocation waits without end, and one returns null only when no
// room could be made: with n purgeable blocks and nothing else free, exactly min(n,
// threads) allocations succeed. Afterwards every byte is accounted for.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_items.h"
#include "varururor/mem/memory_cache_manager.h"
#include "varururor/mem/tracker.h"

namespace {

constexpr unsigned kOnePageBlock = 4096 + 48;
constexpr int kCapacityBlocks = 4;
constexpr int kMaxSteps = 60;  // far beyond what any allocation needs when it cannot hang

class Scheduler {
 public:
  enum class State { kNotStarted, kRunning, kParked, kDone };

  explicit Scheduler(int threads) : states_(threads, State::kNotStarted), go_(threads, false) {}

  // The wake callback: the calling allocation thread stops until it is chosen again.
  static void Wake(void* argument) {
    if (self_index_ < 0) return;  // the test's own thread, filling the capacity
    static_cast<Scheduler*>(argument)->Park(State::kParked);
  }

  // Body of allocation thread i: waits to be chosen first, ends as done.
  void Enter(int i) {
    self_index_ = i;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return go_[i]; });
    go_[i] = false;
    states_[i] = State::kRunning;
  }
  void Leave(int i) {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[i] = State::kDone;
    changed_.notify_all();
  }

  // Lets thread i run until it stops in the wake callback or ends.
  void Step(int i) {
    std::unique_lock<std::mutex> lock(mutex_);
    go_[i] = true;
    states_[i] = State::kRunning;
    changed_.notify_all();
    bool const stopped = changed_.wait_for(
        lock, std::chrono::seconds(20), [&] { return states_[i] != State::kRunning && !go_[i]; });
    if (!stopped) {
      // Blocked somewhere other than the client's callback: nothing could move it on.
      std::fprintf(stderr, "allocation thread %d neither stops at a wake nor ends\n", i);
      std::abort();
    }
  }

  bool Done(int i) {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_[i] == State::kDone;
  }

 private:
  void Park(State state) {
    int const i = self_index_;
    std::unique_lock<std::mutex> lock(mutex_);
    states_[i] = state;
    changed_.notify_all();
    changed_.wait(lock, [&] { return go_[i]; });
    go_[i] = false;
    states_[i] = State::kRunning;
  }

  static thread_local int self_index_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<State> states_;
  std::vector<bool> go_;
};

thread_local int Scheduler::self_index_ = -1;

struct Scenario {
  char const* name;
  int threads;
  int purgeable;  // of the kCapacityBlocks blocks that fill the capacity
};

struct Outcome {
  bool finished = false;  // every allocation ended within kMaxSteps
  int successes = 0;
  bool accounted = false;  // nothing in use once everything is freed
  // The choices taken, for the failure message.
  std::string trace;
};

// Runs one schedule: the choices in prefix, then round-robin. A choice c below the thread
// count steps thread c (or the next one not done); c equal to it runs a worker pass.
Outcome RunSchedule(Scenario const& scenario, std::vector<int> const& prefix) {
  mem_MemoryCacheManager manager("interleave");
  manager.SetMemoryLimit(kCapacityBlocks * kOnePageBlock);
  manager.SetWorkerPatience(0);  // a thread that finds no pass started runs one at once  // a
                                 // thread that finds no pass started runs one at once
  Scheduler scheduler(scenario.threads);
  manager.SetNumWorkerThreads(scenario.threads, Scheduler::Wake, nullptr, &scheduler);

  std::vector<std::unique_ptr<BulkItem>> items;
  std::vector<void*> held;
  for (int i = 0; i < kCapacityBlocks; ++i) {
    if (i < scenario.purgeable) {
      items.emplace_back(new BulkItem(&manager, "", nullptr));
      items.back()->Build(1);
      manager.AddItem(i % 23, mem_MemoryCachePolicyTail, items.back().get(), items.back().get());
    } else {
      unsigned charged = 0;
      held.push_back(manager.Alloc(1, charged, false));
    }
  }

  std::vector<void*> results(scenario.threads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < scenario.threads; ++i) {
    threads.emplace_back([&, i] {
      scheduler.Enter(i);
      unsigned charged = 0;
      results[i] = manager.Alloc(1, charged, false);
      scheduler.Leave(i);
    });
  }

  Outcome outcome;
  auto all_done = [&] {
    for (int i = 0; i < scenario.threads; ++i)
      if (!scheduler.Done(i)) return false;
    return true;
  };
  int next = 0;
  for (int step = 0; step < kMaxSteps && !all_done(); ++step) {
    int choice;
    if (step < static_cast<int>(prefix.size())) {
      choice = prefix[step];
    } else {
      choice = next;
      next = (next + 1) % (scenario.threads + 1);
    }
    if (choice == scenario.threads) {
      manager.PurgeTask();
      outcome.trace += 'W';
      continue;
    }
    while (scheduler.Done(choice)) choice = (choice + 1) % scenario.threads;
    outcome.trace += static_cast<char>('0' + choice);
    scheduler.Step(choice);
  }
  outcome.finished = all_done();
  if (!outcome.finished) {
    // A hang: free the blocks nobody can purge, so that the stuck threads find room.
    for (void* p : held) manager.Free(p);
    held.clear();
    while (!all_done())
      for (int i = 0; i < scenario.threads; ++i)
        if (!scheduler.Done(i)) scheduler.Step(i);
  }
  for (std::thread& thread : threads) thread.join();

  for (void* p : results) {
    if (p != nullptr) ++outcome.successes;
    manager.Free(p);
  }
  for (void* p : held) manager.Free(p);
  for (auto& item : items) {
    manager.RemoveItem(item.get(), 0);
    item->FreeBulkData();
  }
  outcome.accounted = manager.MemoryInUse() == 0;
  return outcome;
}

// Every prefix of the given depth over the choices, each finished round-robin.
void ExploreAllOrders(Scenario const& scenario, int depth) {
  int const choices = scenario.threads + 1;
  int const expected = std::min(scenario.purgeable, scenario.threads);
  std::vector<int> prefix(depth, 0);
  int failures = 0;
  for (;;) {
    Outcome const outcome = RunSchedule(scenario, prefix);
    bool const ok = outcome.finished && outcome.successes == expected && outcome.accounted;
    if (!ok && ++failures <= 3) {
      ADD_FAILURE() << scenario.name << ", schedule " << outcome.trace << ": "
                    << (outcome.finished ? "" : "an allocation hung; ") << outcome.successes
                    << " of " << scenario.threads << " allocations succeeded, " << expected
                    << " could" << (outcome.accounted ? "" : "; bytes left in use");
    }
    int position = depth - 1;
    while (position >= 0 && ++prefix[position] == choices) prefix[position--] = 0;
    if (position < 0) break;
  }
  EXPECT_EQ(failures, 0) << scenario.name;
}

TEST(CacheManagerInterleaving, NoHangAndNoGiveUpWhileRoomCanBeMade) {
  mem_Tracker_Interface::IsTrackingActive();  // decided before the threads, as start-up does
  Scenario const scenarios[] = {{"two threads, nothing purgeable", 2, 0},
                                {"two threads, one purgeable block", 2, 1},
                                {"two threads, all purgeable", 2, kCapacityBlocks},
                                {"three threads, nothing purgeable", 3, 0},
                                {"three threads, two purgeable blocks", 3, 2},
                                {"three threads, all purgeable", 3, kCapacityBlocks}};
  for (Scenario const& scenario : scenarios)
    ExploreAllOrders(scenario, scenario.threads == 2 ? 6 : 5);
}

}  // namespace
