// mem_Tracker: records every operation of the allocation front end, numbered, with the
// calling thread and its current phase, into a buffer written out to numbered files.
// One per process, in one block taken straight from the heap so that it is not tracked.
#ifndef VARURUROR_MEM_TRACKER_TRACKER_H
#define VARURUROR_MEM_TRACKER_TRACKER_H

#include <cstdint>

#include "mem/tracker/record_format.h"
#include "mem/tracker/stack_hash.h"
#include "mem/tracker/thread_state.h"
#include "mem/tracking_port.h"
#include "plat/critical_section.h"
#include "varururor/mem/ptr_hash.h"

namespace mem::tracker {

constexpr int kMaxThreads = 64;
constexpr int kMaxPhaseDepth = 1024;
constexpr int kPhaseNameBytes = 128;
constexpr int kBaseNameBytes = 2048;
constexpr int kOutputDirBytes = 1024;
// A base name must stay under this many characters, so that the suffixes still fit.
constexpr int kMaxBaseNameLength = 2037;
constexpr int kMaxWatched = 50;
constexpr char kDefaultOutputName[] = "unknownMemTrack";
// Our path separator where the tracker composes directory and name.
constexpr char kPathSeparator = '/';

}  // namespace mem::tracker

class mem_Tracker {
 public:
  // The tracker, made on first call; null only when the heap cannot hold it.
  static mem_Tracker* Get() { return instance_ != nullptr ? instance_ : Create(); }
  // Writes the phase file (tracking on) and the last records, ends tracking for the
  // process and frees the tracker.
  static void Destroy();

  void SetOutputName(char const* name);
  int TransactionCounter() const { return transaction_; }
  // The calling thread's number, given on first need; kNoThreadNumber past the limit.
  int ThreadNumber() {
    int* record = mem::tracker::CallingThreadRecord();
    if (record == nullptr) return mem::tracker::kNoThreadNumber;
    return *record != mem::tracker::kNoThreadNumber ? *record : GiveThreadNumber(record);
  }

  void EnterPhase(char const* name, int print);
  void ExitPhase(int print);
  void PrintTransaction(char const* label) const;
  void StartTracking() { active_ = 1; }
  void StopTracking();

  // One operation of the front end, recorded by the rules for its kind.
  void Report(mem::tracking::Operation operation, void const* block, void const* old_block,
              unsigned size);

 private:
  struct PhaseStack {
    char names[mem::tracker::kMaxPhaseDepth][mem::tracker::kPhaseNameBytes];
    char path[mem::tracker::kPhasePathBytes];
    int depth;
    int excess;  // phases entered past what the stack holds; their exits only count down
  };

  // A plain word, as the mode: the first tracked use must not race with creation.
  static mem_Tracker* instance_;

  static mem_Tracker* Create();
  mem_Tracker();
  ~mem_Tracker();
  int GiveThreadNumber(int* record);
  void RecordAllocation(mem::tracker::Kind kind, void const* block, std::int32_t size);
  void RecordRelease(mem::tracker::Kind kind, void const* block);
  void RecordRealloc(void const* block, void const* old_block, std::int32_t size);
  void ReadOutputDirectory();
  void ReadWatchedTransactions();
  void Watch(mem::tracker::Kind kind);
  void Add(int thread, mem::tracker::Kind kind, void const* block, void const* old_block,
           std::int32_t size);
  void Flush();
  void WritePhaseFile();
  int PhaseIdOf(char const* path);

  char base_name_[mem::tracker::kBaseNameBytes];
  int has_output_dir_;
  char output_dir_[mem::tracker::kOutputDirBytes];
  PhaseStack stacks_[mem::tracker::kMaxThreads];
  int next_phase_id_;
  int current_phase_[mem::tracker::kMaxThreads];
  mem_StackHash phases_;
  plat::CriticalSection lock_;
  mem::tracker::FileImage buffer_;
  int file_sequence_;
  int watched_[mem::tracker::kMaxWatched];
  int watched_count_;
  int next_watched_;
  int transaction_;
  int next_thread_number_;
  int active_;
  int stopped_;
  int untracked_count_;
  mem_PtrHash untracked_;
};

#endif
