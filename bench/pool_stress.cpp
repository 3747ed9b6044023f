// Stress of the memory pools under a tight cache-manager limit: threads rebuild purgeable
// tables and hold a few blocks nobody can purge, while a purge worker answers the
// manager's wakes. The work is sized so that room can always be made: no thread ever
// pins more than a third of its share of the limit, so every allocation must succeed.
//
//   bench_pool_stress <threads> <shared|separate> <limit-bytes> <seconds>
//   (KOV_CACHEMANAGER_USEFREELIST=1 turns the free lists on)
//
// Prints one line of counts. Exit status 0 only when there was no give-up, no damaged
// block, no stall (no operation finished for kStallSeconds) and the accounting is exact
// at the end (nothing in use in the manager, every pool at 0). scripts/pool-stress runs
// the matrix.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "purge_thread.h"
#include "varururor/varururor.h"

namespace {

constexpr unsigned kPage = 4096;
constexpr unsigned kHeader = 48;
constexpr unsigned kMaxPages = 256;  // the largest class with a free list
constexpr int kPinnedPerThread = 3;  // a table in use and two held blocks
constexpr int kHeldBlocks = 2;
constexpr int kLastPriority = 22;
constexpr int kStallSeconds = 30;
constexpr char const* kReportFile = "pool_stress_report.txt";

std::atomic<int> g_clients_done{0};
std::atomic<long> g_operations{0}, g_rebuilds{0}, g_purged{0}, g_give_ups{0}, g_damaged{0};

// The page counts of the size classes up to 256 pages: a request of that many pages is
// charged exactly pages * 4096 + 48.
std::vector<unsigned> ClassPages(unsigned max_pages) {
  std::vector<unsigned> pages{1};
  for (unsigned i = 1; (1u << i) <= max_pages; ++i) {
    pages.push_back(1u << i);
    if (3u << (i - 1) <= max_pages && (3u << (i - 1)) > (1u << i)) pages.push_back(3u << (i - 1));
  }
  return pages;
}

unsigned char PatternByte(std::uint32_t seed, unsigned i) {
  return static_cast<unsigned char>((seed * 2654435761u + i * 40503u) >> 13);
}

void Fill(unsigned char* data, unsigned size, std::uint32_t seed) {
  for (unsigned i = 0; i < size; i += 61) data[i] = PatternByte(seed, i);
  data[size - 1] = PatternByte(seed, size - 1);
}

bool Intact(unsigned char const* data, unsigned size, std::uint32_t seed) {
  for (unsigned i = 0; i < size; i += 61)
    if (data[i] != PatternByte(seed, i)) return false;
  return data[size - 1] == PatternByte(seed, size - 1);
}

class Table : public mem_MemoryItem {
 public:
  Table(mem_MemoryPool* pool, unsigned size, std::uint32_t seed)
      : pool_(pool), size_(size), seed_(seed) {}

  // With the table locked and off the lists.
  void Use() {
    if (data_ == nullptr) {
      data_ = static_cast<unsigned char*>(pool_->Alloc(size_));
      if (data_ == nullptr) {
        ++g_give_ups;
        return;
      }
      ++g_rebuilds;
      Fill(data_, size_, seed_);
    }
    if (!Intact(data_, size_, seed_)) ++g_damaged;
  }
  unsigned int AllocSize() const override { return pool_->AllocSize(data_); }
  // Called by the manager's purge.
  unsigned int FreeBulkData() override {
    unsigned const freed = DropByClient();
    if (freed != 0) ++g_purged;
    return freed;
  }
  unsigned int DropByClient() {
    if (data_ == nullptr) return 0;
    if (!Intact(data_, size_, seed_)) ++g_damaged;
    unsigned const freed = pool_->Free(data_);
    data_ = nullptr;
    return freed;
  }

 private:
  mem_MemoryPool* pool_;
  unsigned size_;
  std::uint32_t seed_;
  unsigned char* data_ = nullptr;
};

struct Held {
  unsigned char* data;
  unsigned size;
  std::uint32_t seed;
};

struct Setup {
  int threads;
  bool shared;
  unsigned limit;
  int seconds;
  std::vector<unsigned> pages;  // the sizes a thread asks for, in pages
  int tables_per_thread;
};

void Client(Setup const& setup, mem_MemoryCacheManager* manager, int index,
            std::chrono::steady_clock::time_point end,
            std::vector<std::unique_ptr<Table>>* tables) {
  mem_MemoryPool* pool = mem_MemoryContainer::Instance().GetPool(setup.shared ? 1 : index + 1);
  std::mt19937 random(static_cast<unsigned>(index) * 7919u + 1u);
  auto pick_size = [&] { return setup.pages[random() % setup.pages.size()] * kPage; };
  for (int i = 0; i < setup.tables_per_thread; ++i)
    tables->emplace_back(new Table(pool, pick_size(), random()));
  std::vector<Held> held;
  while (std::chrono::steady_clock::now() < end) {
    if (random() % 4 != 0) {
      Table& table = *(*tables)[random() % tables->size()];
      manager->RemoveItem(&table, 0);
      table.Lock();
      table.Use();
      if (random() % 16 == 0) table.DropByClient();
      table.Unlock();
      int const priority = static_cast<int>(random() % (kLastPriority + 1));
      auto const policy = static_cast<mem_CachePolicyEnm>(random() % 8 == 0 ? 3 : random() % 2);
      manager->AddItem(priority, policy, &table, &table);
    } else {
      if (held.size() == static_cast<std::size_t>(kHeldBlocks)) {
        Held const& oldest = held.front();
        if (!Intact(oldest.data, oldest.size, oldest.seed)) ++g_damaged;
        pool->Free(oldest.data);
        held.erase(held.begin());
      }
      unsigned const size = pick_size();
      auto* data = static_cast<unsigned char*>(pool->Alloc(size));
      if (data == nullptr) {
        ++g_give_ups;
      } else {
        std::uint32_t const seed = random();
        Fill(data, size, seed);
        held.push_back(Held{data, size, seed});
      }
    }
    ++g_operations;
  }
  for (Held const& h : held) {
    if (!Intact(h.data, h.size, h.seed)) ++g_damaged;
    pool->Free(h.data);
  }
  ++g_clients_done;
}

// The pools' and the manager's counts from the memory report: all must be 0.
bool ReportShowsNothingInUse() {
  std::FILE* file = std::fopen(kReportFile, "r");
  if (file == nullptr) return false;
  bool clean = true;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    char const* current = std::strstr(line, "current ");
    char const* manager = std::strstr(line, "MEMORY IN USE ");
    if (current != nullptr && std::strtod(current + 8, nullptr) != 0.0) clean = false;
    if (manager != nullptr && std::strtod(manager + 14, nullptr) != 0.0) clean = false;
  }
  std::fclose(file);
  return clean;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <threads> <shared|separate> <limit-bytes> <seconds>\n", argv[0]);
    return 2;
  }
  Setup setup;
  setup.threads = std::atoi(argv[1]);
  setup.shared = std::string(argv[2]) == "shared";
  setup.limit = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  setup.seconds = std::atoi(argv[4]);
  if (setup.threads < 1 || setup.limit < 64 * kPage || setup.seconds < 1) return 2;
  // Room can always be made: every thread pins at most kPinnedPerThread blocks, and the
  // largest request still fits beside all of them.
  unsigned const largest_charge = setup.limit / (kPinnedPerThread * setup.threads + 1);
  unsigned max_pages = (largest_charge - kHeader) / kPage;
  if (max_pages > kMaxPages) max_pages = kMaxPages;
  setup.pages = ClassPages(max_pages);
  double average = 0;
  for (unsigned p : setup.pages) average += p * kPage;
  average /= setup.pages.size();
  // Twice the limit in tables, so that purging never stops.
  setup.tables_per_thread = static_cast<int>(2.0 * setup.limit / average / setup.threads) + 2;

  int started = 0;
  UTI_VaruRuror_initialize(started);
  mem_MemoryContainer& container = mem_MemoryContainer::Instance();
  mem_MemoryCacheManager& manager = container.CacheManager();
  manager.SetMemoryLimit(setup.limit);
  for (int id = 1; id <= (setup.shared ? 1 : setup.threads); ++id)
    container.CreatePool(id)->SetMemoryLimit(0, 0xFFFFFFFFu, 0.0);

  std::vector<std::vector<std::unique_ptr<Table>>> tables(setup.threads);
  long passes = 0;
  {
    PurgeThread worker(&manager);
    worker.Start(setup.threads);
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(setup.seconds);
    std::vector<std::thread> clients;
    for (int i = 0; i < setup.threads; ++i)
      clients.emplace_back(Client, std::cref(setup), &manager, i, end, &tables[i]);
    // The watchdog: kStallSeconds without a finished operation is a hang.
    long last = -1;
    int quiet = 0;
    while (g_clients_done.load() < setup.threads) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      long const now = g_operations.load();
      quiet = now == last ? quiet + 1 : 0;
      last = now;
      if (quiet >= kStallSeconds) {
        std::printf("HANG: no operation finished for %d seconds\n", kStallSeconds);
        std::fflush(stdout);
        std::_Exit(3);
      }
    }
    for (std::thread& client : clients) client.join();
    for (auto& list : tables) {
      for (auto& table : list) {
        manager.RemoveItem(table.get(), 0);
        table->DropByClient();
      }
    }
    worker.Stop();
    passes = worker.Passes();
  }
  manager.SetNumWorkerThreads(0, nullptr, nullptr, nullptr);
  manager.ClearFreeList();
  container.OpenDbFile(kReportFile);
  container.MemoryReport();
  bool const exact = ReportShowsNothingInUse();
  for (auto& list : tables) list.clear();
  container.CleanUpPools();
  mem_MemoryContainer::Finalize();
  UTI_VaruRuror_finalize(started);

  bool const ok = g_give_ups == 0 && g_damaged == 0 && exact;
  std::printf(
      "threads %d, %s pools, limit %.1f MiB, free lists %s, %d s: operations %ld, rebuilds %ld, "
      "purged %ld, worker passes %ld, give-ups %ld, damaged %ld, accounting %s -> %s\n",
      setup.threads, setup.shared ? "shared" : "separate", setup.limit / 1048576.0,
      std::getenv("KOV_CACHEMANAGER_USEFREELIST") != nullptr ? "on" : "off", setup.seconds,
      g_operations.load(), g_rebuilds.load(), g_purged.load(), passes, g_give_ups.load(),
      g_damaged.load(), exact ? "exact" : "WRONG", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
