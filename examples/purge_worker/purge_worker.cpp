// A client of the memory pools: worker threads keep tables of re-creatable data in
// numbered pools under a memory limit, and a purge worker thread, woken by the cache
// manager, asks the tables that are not in use to free their data. A table whose data
// was purged rebuilds it when it is next used.
//
//   vr_purge_worker seconds <n> [threads]      run for n seconds
//   vr_purge_worker iterations <n> [threads]   n uses of a table per thread
//
// At the end it prints its counts and the memory report.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "purge_thread.h"
#include "varururor/varururor.h"

namespace {

constexpr unsigned kLimit = 8u << 20;  // the cache manager's limit: 8 MiB
constexpr unsigned kPoolHigh = 4u << 20;
constexpr double kPoolTolerance = 1.0;  // warn past 8 MiB in one pool: never, under the limit
constexpr int kTablesPerThread = 12;
constexpr int kLastPriority = 22;
constexpr unsigned kPage = 4096;
constexpr unsigned kMinPages = 16;   // 64 KiB
constexpr unsigned kMaxPages = 256;  // 1 MiB
constexpr unsigned kCheckedBytes = 256;
constexpr char const* kReportFile = "purge_worker_report.txt";

std::atomic<long> g_rebuilds{0}, g_purged{0}, g_refused{0}, g_uses{0};

// Re-creatable data: a block from a pool filled from a seed, so that any use can check it.
class Table : public mem_MemoryItem {
 public:
  Table(mem_MemoryPool* pool, unsigned size, std::uint32_t seed)
      : pool_(pool), size_(size), seed_(seed) {}

  // Called with the table locked and off the purge lists.
  bool Use() {
    if (data_ == nullptr && !Rebuild()) return false;
    if (!Intact()) {
      std::fprintf(stderr, "purge_worker: table data damaged\n");
      std::abort();
    }
    ++g_uses;
    return true;
  }
  unsigned int AllocSize() const override { return pool_->AllocSize(data_); }
  unsigned int FreeBulkData() override {
    if (data_ == nullptr) return 0;
    ++g_purged;
    unsigned const freed = pool_->Free(data_);
    data_ = nullptr;
    return freed;
  }

 private:
  bool Rebuild() {
    data_ = static_cast<unsigned char*>(pool_->Alloc(size_));
    if (data_ == nullptr) {
      ++g_refused;
      return false;
    }
    ++g_rebuilds;
    for (unsigned i = 0; i < kCheckedBytes; ++i) data_[i] = Byte(i);
    std::memcpy(data_ + size_ - sizeof seed_, &seed_, sizeof seed_);
    return true;
  }
  bool Intact() const {
    for (unsigned i = 0; i < kCheckedBytes; ++i)
      if (data_[i] != Byte(i)) return false;
    return std::memcmp(data_ + size_ - sizeof seed_, &seed_, sizeof seed_) == 0;
  }
  unsigned char Byte(unsigned i) const { return static_cast<unsigned char>(seed_ * 31 + i); }

  mem_MemoryPool* pool_;
  unsigned size_;
  std::uint32_t seed_;
  unsigned char* data_ = nullptr;
};

struct RunLength {
  bool timed;
  long amount;  // seconds or iterations
};

using Tables = std::vector<std::unique_ptr<Table>>;

// Uses the thread's tables at random; leaves them registered, for the report.
void AllocatingThread(mem_MemoryCacheManager* manager, PurgeThread* worker, int pool_id,
                      RunLength run, std::chrono::steady_clock::time_point end, Tables* result) {
  mem_MemoryPool* pool = mem_MemoryContainer::Instance().GetPool(pool_id);
  std::mt19937 random(static_cast<unsigned>(pool_id));
  Tables& tables = *result;
  for (int i = 0; i < kTablesPerThread; ++i) {
    unsigned const pages = kMinPages + random() % (kMaxPages - kMinPages + 1);
    tables.emplace_back(new Table(pool, pages * kPage, random()));
  }
  for (long i = 0; run.timed ? std::chrono::steady_clock::now() < end : i < run.amount; ++i) {
    Table& table = *tables[random() % tables.size()];
    // Off the lists while in use, so that no purge frees it under our feet; the lock
    // waits for a purge that has already taken it.
    manager->RemoveItem(&table, 0);
    table.Lock();
    table.Use();
    if (random() % 16 == 0) table.FreeBulkData();  // sometimes the client drops data itself
    table.Unlock();
    int const priority = static_cast<int>(random() % (kLastPriority + 1));
    auto const policy = static_cast<mem_CachePolicyEnm>(random() % 8 == 0 ? 3 : random() % 2);
    manager->AddItem(priority, policy, &table, &table);
  }
  worker->AllocatingThreadDone();
}

void ReleaseTables(mem_MemoryCacheManager* manager, Tables* tables) {
  for (auto& table : *tables) {
    manager->RemoveItem(table.get(), 0);
    table->FreeBulkData();
  }
  tables->clear();
}

bool ParseArguments(int argc, char** argv, RunLength* run, int* threads) {
  if (argc < 3) return false;
  std::string const kind = argv[1];
  if (kind != "seconds" && kind != "iterations") return false;
  run->timed = kind == "seconds";
  run->amount = std::strtol(argv[2], nullptr, 10);
  *threads = argc > 3 ? std::atoi(argv[3]) : 2;
  return run->amount > 0 && *threads > 0;
}

}  // namespace

int main(int argc, char** argv) {
  RunLength run;
  int threads = 0;
  if (!ParseArguments(argc, argv, &run, &threads)) {
    std::fprintf(stderr, "usage: %s seconds|iterations <n> [threads]\n", argv[0]);
    return 2;
  }
  int started = 0;
  UTI_VaruRuror_initialize(started);

  mem_MemoryContainer& container = mem_MemoryContainer::Instance();
  mem_MemoryCacheManager& manager = container.CacheManager();
  manager.SetMemoryLimit(kLimit);
  for (int id = 1; id <= threads; ++id)
    container.CreatePool(id)->SetMemoryLimit(kPoolHigh / 2, kPoolHigh, kPoolTolerance);

  PurgeThread worker(&manager);
  worker.Start(threads);
  auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(run.timed ? run.amount : 0);
  std::vector<Tables> tables(threads);
  std::vector<std::thread> workers;
  for (int id = 1; id <= threads; ++id)
    workers.emplace_back(AllocatingThread, &manager, &worker, id, run, end, &tables[id - 1]);
  for (std::thread& thread : workers) thread.join();
  worker.Stop();

  std::printf("threads %d, uses %ld, rebuilds %ld, purged %ld, refused %ld, purge passes %ld\n",
              threads, g_uses.load(), g_rebuilds.load(), g_purged.load(), g_refused.load(),
              worker.Passes());
  // Opened only now: every allocation would write its pool's line to an open report.
  container.OpenDbFile(kReportFile);
  container.MemoryReport();
  manager.MemorySummary();
  for (Tables& list : tables) ReleaseTables(&manager, &list);
  container.CleanUpPools();
  mem_MemoryContainer::Finalize();  // closes the report file
  std::cout << std::ifstream(kReportFile).rdbuf();
  UTI_VaruRuror_finalize(started);
  std::printf("done\n");
  return 0;
}
