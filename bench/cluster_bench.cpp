// Memory per object in clusters: a mix of object sizes heavy in 16-128 bytes with a tail
// to 4 KiB is placed in as many clusters as it needs, then churned: each step frees a random object
// and places a new one. Counters, as ratios over the bytes requested by the live objects:
//   usage_overhead  cluster usage (words in use, slot and block rounding, tags) - 1
//   space_overhead  the clusters' 256 KiB each - 1 (adds the free room and page tails)
//   glibc_chunk_overhead  the same objects in glibc malloc: their chunks' bytes - 1
//   glibc_overhead  glibc's in-use arena bytes for them - 1
// "fill_" counters are taken when the objects have just been placed, the others after
// the churn. Two placements: the last cluster that served first, then each other in
// turn (/0), or the first cluster with room, counted from the oldest (/1); a new
// cluster when none has room.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "mem/cluster/cluster.h"
#include "varururor/mem/allocator.h"

namespace {

using Handle = mem_Cluster::Handle;

// Clusters' memory straight from the C library, so that the library need not be started.
class SystemAllocator : public mem_Allocator {
 public:
  SystemAllocator() : mem_Allocator(nullptr) {}
  void* Malloc(char const*, unsigned int size) override { return std::malloc(size); }
  void Free(char const*, void* p) override { std::free(p); }
};

struct alignas(mem_Cluster) ClusterStorage {
  unsigned char bytes[sizeof(mem_Cluster)];
};

// 70% 16-128 bytes, 20% to 512, 8% to 2 KiB, 2% to 4 KiB.
unsigned MixedSize(std::mt19937& random) {
  unsigned kind = random() % 100;
  if (kind < 70) return 16 + random() % 113;
  if (kind < 90) return 129 + random() % 384;
  if (kind < 98) return 513 + random() % 1536;
  return 2049 + random() % 2048;
}

enum class Placement { kLastServedFirst, kOldestFirst };

class ClusterSet {
 public:
  explicit ClusterSet(Placement placement) : placement_(placement) {}

  ~ClusterSet() {
    for (auto& storage : storage_) {
      auto* cluster = reinterpret_cast<mem_Cluster*>(storage.get());
      cluster->Release(allocator_);
      cluster->~mem_Cluster();
    }
  }

  Handle Allocate(unsigned bytes) {
    if (!clusters_.empty()) {
      Handle handle = mem::cluster::kNoHandle;
      if (placement_ == Placement::kLastServedFirst) {
        handle = clusters_[current_]->Allocate(bytes);
        if (handle != mem::cluster::kNoHandle) return handle;
      }
      for (std::size_t i = 0; i < clusters_.size(); ++i) {
        if (placement_ == Placement::kLastServedFirst && i == current_) continue;
        handle = clusters_[i]->Allocate(bytes);
        if (handle != mem::cluster::kNoHandle) {
          current_ = i;
          return handle;
        }
      }
    }
    storage_.push_back(std::make_unique<ClusterStorage>());
    // Numbers start at 1, as a cache pool keeps 0 for none.
    clusters_.push_back(mem_Cluster::Create(static_cast<int>(clusters_.size()) + 1,
                                            storage_.back().get(), allocator_));
    current_ = clusters_.size() - 1;
    return clusters_.back()->Allocate(bytes);
  }

  void Free(Handle handle) { clusters_[mem::cluster::HandleNumber(handle) - 1]->Free(handle); }

  double UsageBytes() const {
    double words = 0;
    for (mem_Cluster* cluster : clusters_) words += cluster->Usage();
    return words * 4;
  }
  double SpaceBytes() const { return static_cast<double>(clusters_.size()) * mem_Cluster::kBytes; }

 private:
  Placement placement_;
  SystemAllocator allocator_;
  std::vector<std::unique_ptr<ClusterStorage>> storage_;
  std::vector<mem_Cluster*> clusters_;
  std::size_t current_ = 0;
};

struct Object {
  Handle handle;
  void* pointer;
  unsigned bytes;
};

double ArenaInUse() { return static_cast<double>(mallinfo2().uordblks); }

// A chunk is its usable bytes and the size word before them.
double ChunkBytes(std::vector<Object> const& live) {
  double bytes = 0;
  for (Object const& object : live)
    bytes += malloc_usable_size(object.pointer) + sizeof(std::size_t);
  return bytes;
}

void BM_ClusterMixedSizes(benchmark::State& state) {
  std::size_t const objects = static_cast<std::size_t>(state.range(0));
  auto const placement = static_cast<Placement>(state.range(1));
  std::size_t const churn_steps = 4 * objects;
  // A fixed threshold keeps the clusters' 256 KiB out of the arena that glibc_overhead reads.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  for (auto _ : state) {
    std::mt19937 random(2026);
    ClusterSet clusters(placement);
    std::vector<Object> live(objects);
    double requested = 0;
    double arena_before = ArenaInUse();
    for (Object& object : live) {
      object.bytes = MixedSize(random);
      object.handle = clusters.Allocate(object.bytes);
      object.pointer = std::malloc(object.bytes);
      requested += object.bytes;
    }
    state.counters["fill_usage_overhead"] = clusters.UsageBytes() / requested - 1;
    state.counters["fill_space_overhead"] = clusters.SpaceBytes() / requested - 1;
    state.counters["fill_glibc_overhead"] = (ArenaInUse() - arena_before) / requested - 1;
    state.counters["fill_glibc_chunk_overhead"] = ChunkBytes(live) / requested - 1;
    for (std::size_t step = 0; step < churn_steps; ++step) {
      Object& object = live[random() % objects];
      clusters.Free(object.handle);
      std::free(object.pointer);
      requested -= object.bytes;
      object.bytes = MixedSize(random);
      object.handle = clusters.Allocate(object.bytes);
      object.pointer = std::malloc(object.bytes);
      requested += object.bytes;
    }
    state.counters["usage_overhead"] = clusters.UsageBytes() / requested - 1;
    state.counters["space_overhead"] = clusters.SpaceBytes() / requested - 1;
    state.counters["glibc_overhead"] = (ArenaInUse() - arena_before) / requested - 1;
    state.counters["glibc_chunk_overhead"] = ChunkBytes(live) / requested - 1;
    state.counters["requested_MiB"] = requested / (1 << 20);
    for (Object& object : live) std::free(object.pointer);
  }
}
BENCHMARK(BM_ClusterMixedSizes)->Args({30000, 0})->Args({30000, 1})->Unit(benchmark::kMillisecond);

// Time per operation of the churn alone, with the clusters only.
void BM_ClusterChurn(benchmark::State& state) {
  std::size_t const objects = 30000;
  std::mt19937 random(7);
  ClusterSet clusters(static_cast<Placement>(state.range(0)));
  std::vector<Handle> live(objects);
  for (Handle& handle : live) handle = clusters.Allocate(MixedSize(random));
  for (auto _ : state) {
    Handle& handle = live[random() % objects];
    clusters.Free(handle);
    handle = clusters.Allocate(MixedSize(random));
    benchmark::DoNotOptimize(handle);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_ClusterChurn)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
