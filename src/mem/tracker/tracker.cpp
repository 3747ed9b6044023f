#include "mem/tracker/tracker.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "mem/heap_table.h"
#include "mem/tracker/thread_state.h"
#include "plat/output_file.h"

using mem::tracker::Kind;

namespace mem::tracker {
namespace {

// Room for a base name and either file suffix.
constexpr int kFileNameBytes = kBaseNameBytes + 32;

// A name error switches tracking off; a tracker already finished stays finished.
void SwitchTrackingOff() {
  if (tracking::g_mode == tracking::kOn) tracking::g_mode = tracking::kOff;
}

char const* WatchLine(Kind kind) {
  switch (kind) {
    case kFree:
      return "mem_Tracker  --  transaction %d  --  free\n";
    case kRealloc:
      return "mem_Tracker  --  transaction %d  --  realloc\n";
    case kCalloc:
      return "mem_Tracker  --  transaction %d  --  calloc\n";
    case kRelease:
      return "mem_Tracker  --  transaction %d  --  release\n";
    case kAcquire:
      return "mem_Tracker  --  transaction %d  --  acquire\n";
    default:
      // A watched malloc is passed over without a line.
      return nullptr;
  }
}

// Writes "->" and the name at the end of a path; the caller has checked the room.
void AppendPhase(char* end, char const* name, std::size_t length) {
  end[0] = '-';
  end[1] = '>';
  std::memcpy(end + 2, name, length);
  end[2 + length] = '\0';
}

std::int32_t BlockWord(void const* block) {
  return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(block));
}

}  // namespace
}  // namespace mem::tracker

using namespace mem::tracker;

mem_Tracker* mem_Tracker::instance_ = nullptr;

mem_Tracker* mem_Tracker::Create() {
  void* block = mem::g_heap_table.malloc(sizeof(mem_Tracker));
  if (block == nullptr) return nullptr;
  instance_ = new (block) mem_Tracker;
  return instance_;
}

void mem_Tracker::Destroy() {
  mem_Tracker* tracker = instance_;
  if (tracker == nullptr) return;
  if (mem::tracking::g_mode == mem::tracking::kOn) tracker->WritePhaseFile();
  tracker->Flush();
  mem::tracking::g_mode = mem::tracking::kFinished;
  instance_ = nullptr;
  tracker->~mem_Tracker();
  mem::g_heap_table.free(tracker);
}

mem_Tracker::mem_Tracker() : has_output_dir_(0), next_phase_id_(0), untracked_(0) {
  base_name_[0] = '\0';
  output_dir_[0] = '\0';
  for (PhaseStack& stack : stacks_) {
    stack.depth = 0;
    stack.excess = 0;
    std::strcpy(stack.path, kRootPhase);
  }
  plat::InitializeCriticalSection(&lock_);
  for (Record& record : buffer_.records) record = {0, 0, -1, -1, -1, -1, -1};
  buffer_.count = 0;
  file_sequence_ = 0;
  watched_count_ = 0;
  next_watched_ = 0;
  transaction_ = 0;
  next_thread_number_ = 0;
  active_ = 1;
  stopped_ = 0;
  untracked_count_ = 0;
  mem::tracking::DecideMode();
  phases_.Add(kRootPhase, 0);
  next_phase_id_ = 1;
  ReadOutputDirectory();
  SetOutputName(kDefaultOutputName);
  ReadWatchedTransactions();
  std::fill(current_phase_, current_phase_ + kMaxThreads, 0);
}

mem_Tracker::~mem_Tracker() { plat::DeleteCriticalSection(&lock_); }

void mem_Tracker::ReadOutputDirectory() {
  char const* dir = std::getenv("KOV_MEM_OUTPUTDIR");
  if (dir == nullptr) return;
  has_output_dir_ = 1;
  if (std::strlen(dir) >= static_cast<std::size_t>(kOutputDirBytes)) {
    SwitchTrackingOff();
    std::fprintf(stderr, "ERROR: Name of output directory given for ");
    std::fprintf(stderr, "memory tracking is too long.\n");
    std::fprintf(stderr, "Name must be under %d", kOutputDirBytes);
    std::fprintf(stderr, " characters.\n\n");
  }
  // A directory too long is cut to what the field holds; tracking is off by then.
  std::snprintf(output_dir_, sizeof output_dir_, "%s", dir);
}

void mem_Tracker::SetOutputName(char const* name) {
  if (name == nullptr) name = "";
  std::size_t const length = std::strlen(name);
  std::size_t const dir_length = has_output_dir_ ? std::strlen(output_dir_) : 0;
  if (length + dir_length >= static_cast<std::size_t>(kMaxBaseNameLength)) {
    SwitchTrackingOff();
    std::fprintf(stderr, "ERROR: Output file names are too long in memory tracking code.\n");
    // The base name stays as it was: a name this long does not fit its field.
    return;
  }
  if (!has_output_dir_) {
    std::memcpy(base_name_, name, length + 1);
    return;
  }
  char const* last_separator = std::strrchr(name, kPathSeparator);
  if (last_separator == nullptr) {
    std::snprintf(base_name_, sizeof base_name_, "%s%c%s", output_dir_, kPathSeparator, name);
    return;
  }
  // The output directory goes below the directory part of the name.
  int const head = static_cast<int>(last_separator - name) + 1;
  std::snprintf(base_name_, sizeof base_name_, "%.*s%s%s", head, name, output_dir_, last_separator);
}

void mem_Tracker::ReadWatchedTransactions() {
  char const* list = std::getenv("KOV_MEM_DBTRANS");
  if (list == nullptr) return;
  char piece[32];
  for (char const* start = list;;) {
    char const* end = std::strchr(start, ',');
    std::size_t const length = end != nullptr ? end - start : std::strlen(start);
    // An empty piece names no transaction.
    if (length > 0) {
      if (watched_count_ == kMaxWatched) {
        std::fprintf(stderr,
                     "memTracker  --  Too many debug transactions specified. First %d will "
                     "be used.\n",
                     kMaxWatched);
        break;
      }
      std::snprintf(piece, sizeof piece, "%.*s", static_cast<int>(length), start);
      watched_[watched_count_++] = std::atoi(piece);
    }
    if (end == nullptr) break;
    start = end + 1;
  }
  std::sort(watched_, watched_ + watched_count_);
}

int mem_Tracker::GiveThreadNumber(int* record) {
  plat::EnterCriticalSection(&lock_);
  if (next_thread_number_ < kMaxThreads) {
    *record = next_thread_number_++;
  } else if (next_thread_number_++ == kMaxThreads) {
    // Numbers are never reused, so one thread too many cannot be told apart: stop
    // rather than record under another thread's number.
    SwitchTrackingOff();
    std::fprintf(stderr, "ERROR: Memory tracking follows at most %d threads; tracking is off.\n",
                 kMaxThreads);
  }
  plat::LeaveCriticalSection(&lock_);
  return *record;
}

int mem_Tracker::PhaseIdOf(char const* path) {
  int id = phases_.LookUp(path);
  if (id != mem_StackHash::kAbsent) return id;
  id = next_phase_id_++;
  if (!phases_.Add(path, id)) {
    std::fprintf(stderr, "ERROR: Memory tracking cannot keep the phase path %s.\n", path);
  }
  return id;
}

void mem_Tracker::EnterPhase(char const* name, int print) {
  int const thread = ThreadNumber();
  if (thread == kNoThreadNumber) return;
  PhaseStack& stack = stacks_[thread];
  if (name == nullptr) name = "";
  // Names are cut to the stack's field.
  std::size_t const length = std::min(std::strlen(name), std::size_t{kPhaseNameBytes - 1});
  std::size_t const path_length = std::strlen(stack.path);
  if (stack.excess > 0 || stack.depth == kMaxPhaseDepth ||
      path_length + 2 + length >= kPhasePathBytes) {
    if (stack.excess++ == 0) {
      std::fprintf(stderr,
                   "ERROR: Memory tracking: phases nest too deep on thread %d; records stay "
                   "in %s.\n",
                   thread, stack.path);
    }
    return;
  }
  char* entry = stack.names[stack.depth++];
  std::memcpy(entry, name, length);
  entry[length] = '\0';
  AppendPhase(stack.path + path_length, entry, length);
  current_phase_[thread] = PhaseIdOf(stack.path);
  if (print != 0) {
    std::fprintf(stderr, "%s  --  ENTER PHASE  --  Monitored TransID = %d --  threadId = %d\n",
                 stack.path, transaction_, thread);
  }
}

void mem_Tracker::ExitPhase(int print) {
  int const thread = ThreadNumber();
  if (thread == kNoThreadNumber) return;
  PhaseStack& stack = stacks_[thread];
  if (stack.excess > 0) {
    --stack.excess;
    return;
  }
  if (print != 0) {
    std::fprintf(stderr, "%s  --  EXIT PHASE  -- Monitored TransID = %d -- threadId = %d\n",
                 stack.path, transaction_, thread);
  }
  if (stack.depth == 0) return;
  --stack.depth;
  std::size_t length = std::strlen(kRootPhase);
  std::memcpy(stack.path, kRootPhase, length + 1);
  for (int level = 0; level < stack.depth; ++level) {
    std::size_t const name_length = std::strlen(stack.names[level]);
    AppendPhase(stack.path + length, stack.names[level], name_length);
    length += 2 + name_length;
  }
  current_phase_[thread] = PhaseIdOf(stack.path);
}

void mem_Tracker::PrintTransaction(char const* label) const {
  std::fprintf(stderr, "%s  --  Monitored TransId = %d\n", label != nullptr ? label : "",
               transaction_);
}

void mem_Tracker::StopTracking() {
  active_ = 0;
  stopped_ = 1;
}

// Called under the lock, before the record is added.
void mem_Tracker::Watch(Kind kind) {
  // Numbers already passed (duplicates in the list) are skipped so later ones still fire.
  while (next_watched_ < watched_count_ && watched_[next_watched_] < transaction_) {
    ++next_watched_;
  }
  if (next_watched_ == watched_count_ || watched_[next_watched_] != transaction_) return;
  ++next_watched_;
  char const* line = WatchLine(kind);
  if (line == nullptr) return;
  std::fprintf(stderr, line, transaction_);
  std::fflush(stderr);
}

// Called under the lock, for a thread with a number.
void mem_Tracker::Add(int thread, Kind kind, void const* block, void const* old_block,
                      std::int32_t size) {
  Watch(kind);
  buffer_.records[buffer_.count++] = {static_cast<std::uint32_t>(BlockWord(block)),
                                      static_cast<std::uint32_t>(BlockWord(old_block)),
                                      kind,
                                      transaction_++,
                                      size,
                                      thread,
                                      current_phase_[thread]};
  if (buffer_.count == static_cast<std::uint32_t>(kRecordsPerFile)) Flush();
}

void mem_Tracker::RecordAllocation(Kind kind, void const* block, std::int32_t size) {
  int const thread = ThreadNumber();
  if (thread == kNoThreadNumber) return;
  plat::EnterCriticalSection(&lock_);
  if (active_ != 0) {
    Add(thread, kind, block, nullptr, size);
  } else if (block != nullptr) {
    // A null result is no block: it must not hide a later free of null.
    untracked_.Add(BlockWord(block), 1);
    ++untracked_count_;
  }
  plat::LeaveCriticalSection(&lock_);
}

void mem_Tracker::RecordRelease(Kind kind, void const* block) {
  int const thread = ThreadNumber();
  if (thread == kNoThreadNumber) return;
  plat::EnterCriticalSection(&lock_);
  if (stopped_ != 0 && untracked_count_ > 0 &&
      untracked_.LookUp(BlockWord(block)) != mem_PtrHash::kEmpty) {
    if (kind == kFree) {
      untracked_.Delete(BlockWord(block));
      --untracked_count_;
    }
  } else {
    Add(thread, kind, block, nullptr, kReleaseSize);
  }
  plat::LeaveCriticalSection(&lock_);
}

void mem_Tracker::RecordRealloc(void const* block, void const* old_block, std::int32_t size) {
  int const thread = ThreadNumber();
  if (thread == kNoThreadNumber) return;
  plat::EnterCriticalSection(&lock_);
  if (old_block != nullptr && stopped_ != 0 && untracked_count_ > 0 &&
      untracked_.LookUp(BlockWord(old_block)) != mem_PtrHash::kEmpty) {
    if (block != old_block) {
      untracked_.Delete(BlockWord(old_block));
      --untracked_count_;
      if (block != nullptr) {
        untracked_.Add(BlockWord(block), 1);
        ++untracked_count_;
      }
    }
  } else if (active_ != 0) {
    Add(thread, kRealloc, block, old_block, size);
  }
  plat::LeaveCriticalSection(&lock_);
}

// Here rather than in the front end's port, so that the record functions are inlined.
void mem_Tracker::Report(mem::tracking::Operation operation, void const* block,
                         void const* old_block, unsigned size) {
  using mem::tracking::Operation;
  auto const recorded_size = static_cast<std::int32_t>(size);
  switch (operation) {
    case Operation::kMalloc:
      return RecordAllocation(kMalloc, block, recorded_size);
    case Operation::kCalloc:
      return RecordAllocation(kCalloc, block, recorded_size);
    case Operation::kRealloc:
      return RecordRealloc(block, old_block, recorded_size);
    case Operation::kFree:
      return RecordRelease(kFree, block);
    case Operation::kRelease:
      return RecordRelease(kRelease, block);
    case Operation::kAcquire:
      return RecordRelease(kAcquire, block);
  }
}

void mem_Tracker::Flush() {
  if (transaction_ > 0) {
    char name[kFileNameBytes];
    std::snprintf(name, sizeof name, kRecordFileFormat, base_name_, file_sequence_);
    int const fd = plat::CreateOutputFile(name);
    if (fd < 0) {
      std::fprintf(stderr, "\nUnable to open memory tracking file.\n");
      std::fprintf(stderr, "  FileName: %s", name);
      if (has_output_dir_) {
        std::fprintf(stderr, "  Does the output directory %s exist?\n", output_dir_);
      }
      std::fflush(stderr);
    } else {
      unsigned const bytes = kCountBytes + buffer_.count * sizeof(Record);
      if (!plat::WriteOutputFile(fd, 0, &buffer_, bytes)) {
        std::fprintf(stderr, "\nUnable to write memory tracking file.\n  FileName: %s\n", name);
      }
      plat::CloseOutputFile(fd);
    }
  }
  buffer_.count = 0;
  ++file_sequence_;
}

void mem_Tracker::WritePhaseFile() {
  char name[kFileNameBytes];
  std::snprintf(name, sizeof name, kPhaseFileFormat, base_name_);
  auto* entry = static_cast<char*>(mem::g_heap_table.malloc(kPhaseEntryBytes));
  int const fd = entry != nullptr ? plat::CreateOutputFile(name) : -1;
  if (fd < 0) {
    std::fprintf(stderr, "\nUnable to open memory tracking file.\n  FileName: %s\n", name);
    if (entry != nullptr) mem::g_heap_table.free(entry);
    return;
  }
  bool written = true;
  std::uint32_t count = 0;
  for (int slot = 0; slot < mem_StackHash::kSlots; ++slot) {
    char const* path;
    int id;
    if (!phases_.Entry(slot, &path, &id)) continue;
    std::memset(entry, 0, kPhaseEntryBytes);
    std::memcpy(entry, &id, sizeof id);
    std::strncpy(entry + sizeof id, path, kPhasePathBytes - 1);
    written = written && plat::WriteOutputFile(fd, kCountBytes + count * kPhaseEntryBytes, entry,
                                               kPhaseEntryBytes);
    ++count;
  }
  // The count goes in last, at the start, once the entries are down.
  written = written && plat::WriteOutputFile(fd, 0, &count, sizeof count);
  if (!written) {
    std::fprintf(stderr, "\nUnable to write memory tracking file.\n  FileName: %s\n", name);
  }
  plat::CloseOutputFile(fd);
  mem::g_heap_table.free(entry);
}
