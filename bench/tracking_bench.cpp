// The cost of allocation tracking, and the speed of memtrack.
//
//   bench_tracking [DIR]
//
// 1. Allocation throughput through mem_Malloc/mem_Free with tracking off and on. The mode
//    is decided once per process, so each measurement runs in a child (this program again,
//    with KOV_MEM_TRACK set or not); best of several runs. Record files go to DIR.
// 2. A tracked run of 10 million records, then memtrack's time to analyse it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "varururor/varururor.h"

namespace {

constexpr int kBatch = 64;
constexpr int kMeasuredOperations = 4000000;
constexpr int kRecordsForMemtrack = 10000000;
constexpr int kRepeats = 3;

// Batches of blocks of mixed sizes, allocated then freed; returns operations made.
long long Churn(long long operations) {
  void* blocks[kBatch];
  long long done = 0;
  unsigned size = 24;
  while (done < operations) {
    for (void*& block : blocks) {
      size = (size * 1103515245u + 12345u) % 2000u + 8u;
      block = mem_Malloc(size);
    }
    for (void* block : blocks) mem_Free(block);
    done += 2 * kBatch;
  }
  return done;
}

// In the child: nanoseconds per operation, on stdout.
int Measure(long long operations) {
  int total = 0;
  mem_initialize(total);
  Churn(operations / 10);  // warm the heap
  auto const start = std::chrono::steady_clock::now();
  long long const done = Churn(operations);
  auto const stop = std::chrono::steady_clock::now();
  std::printf("%.2f\n", std::chrono::duration<double, std::nano>(stop - start).count() / done);
  mem_finalize(total);
  return 0;
}

// In the child: a tracked run of `records` records in nested phases.
int MakeRun(long long records) {
  int total = 0;
  mem_initialize(total);
  mem_Tracker_Interface::SetOutputName("bench10m");
  mem_Tracker_Interface::EnterPhase("solve", 0);
  long long const start = mem_Tracker_Interface::CurrTransactionId();
  for (int step = 0; mem_Tracker_Interface::CurrTransactionId() - start < records; ++step) {
    mem_Tracker_Interface::EnterPhase(step % 2 == 0 ? "assemble" : "factor", 0);
    long long const left = records - (mem_Tracker_Interface::CurrTransactionId() - start);
    Churn(left < 2 * kBatch * 1000 ? left : 2 * kBatch * 1000);
    mem_Tracker_Interface::ExitPhase(0);
  }
  mem_Tracker_Interface::ExitPhase(0);
  mem_finalize(total);
  return 0;
}

double RunChild(std::string const& command) {
  std::FILE* pipe = popen(command.c_str(), "r");
  double value = -1;
  if (pipe == nullptr || std::fscanf(pipe, "%lf", &value) != 1) value = -1;
  if (pipe != nullptr) pclose(pipe);
  return value;
}

double Seconds(std::string const& command) {
  auto const start = std::chrono::steady_clock::now();
  int const status = std::system(command.c_str());
  auto const stop = std::chrono::steady_clock::now();
  return status == 0 ? std::chrono::duration<double>(stop - start).count() : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--measure") == 0) return Measure(std::atoll(argv[2]));
  if (argc == 3 && std::strcmp(argv[1], "--make-run") == 0) return MakeRun(std::atoll(argv[2]));
  std::string const dir = argc > 1 ? argv[1] : "/tmp";
  std::string const self_path = argv[0];

  double best_off = 1e30;
  double best_on = 1e30;
  for (int i = 0; i < kRepeats; ++i) {
    double off = RunChild("env -u KOV_MEM_TRACK " + self_path + " --measure " +
                          std::to_string(kMeasuredOperations));
    double on = RunChild("env KOV_MEM_TRACK=1 KOV_MEM_OUTPUTDIR=" + dir + " " + self_path +
                         " --measure " + std::to_string(kMeasuredOperations));
    if (off < 0 || on < 0) {
      std::fprintf(stderr, "bench_tracking: a measuring child failed\n");
      return 1;
    }
    if (off < best_off) best_off = off;
    if (on < best_on) best_on = on;
  }
  std::printf("mem_Malloc/mem_Free, %d operations, best of %d\n", kMeasuredOperations, kRepeats);
  std::printf("  tracking off: %8.2f ns per operation\n", best_off);
  std::printf("  tracking on:  %8.2f ns per operation (record files in %s)\n", best_on,
              dir.c_str());
  std::printf("  ratio on/off: %8.2f\n", best_on / best_off);
  std::system(
      ("rm -f " + dir + "/unknownMemTrack.memT* " + dir + "/unknownMemTrack.phaseStack").c_str());

  if (Seconds("env KOV_MEM_TRACK=1 KOV_MEM_OUTPUTDIR=" + dir + " " + self_path + " --make-run " +
              std::to_string(kRecordsForMemtrack)) < 0) {
    std::fprintf(stderr, "bench_tracking: the tracked run failed\n");
    return 1;
  }
  double best_read = 1e30;
  for (int i = 0; i < kRepeats; ++i) {
    double seconds = Seconds(std::string(MEMTRACK_PATH) + " " + dir + "/bench10m > /dev/null");
    if (seconds < 0) {
      std::fprintf(stderr, "bench_tracking: memtrack failed\n");
      return 1;
    }
    if (seconds < best_read) best_read = seconds;
  }
  std::printf("memtrack on %d records (%d files), best of %d: %.3f s\n", kRecordsForMemtrack,
              (kRecordsForMemtrack + 131071) / 131072, kRepeats, best_read);
  std::system(("rm -f " + dir + "/bench10m.memT* " + dir + "/bench10m.phaseStack").c_str());
  return 0;
}
