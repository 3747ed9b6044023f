#include "analysis.h"

#include <algorithm>

namespace memtrack {

using mem::tracker::Record;

Analysis::Analysis(std::map<std::int32_t, std::string> phases) : phases_(std::move(phases)) {}

std::string Analysis::PhasePath(std::int32_t id) const {
  auto it = phases_.find(id);
  if (it != phases_.end()) return it->second;
  return std::string(mem::tracker::kRootPhase) + "->(phase " + std::to_string(id) +
         " missing from the phase file)";
}

void Analysis::Allocate(Record const& record, std::int32_t size) {
  if (record.pointer == 0) return;  // a failed allocation holds nothing
  // A block at an address still live was freed unseen: the new one replaces it.
  EndBlock(record.pointer);
  PutLive({record.pointer, size, record.transaction, record.thread, record.phase});
}

void Analysis::PutLive(Block const& block) {
  live_blocks_.Put(block);
  live_ += block.size;
  PhaseTotals& owner = by_phase_[block.phase];
  owner.own_live += block.size;
  owner.own_peak = std::max(owner.own_peak, owner.own_live);
}

std::int64_t Analysis::EndBlock(std::uint32_t pointer) {
  Block* block = live_blocks_.Find(pointer);
  if (block == nullptr) return -1;
  std::int64_t const size = block->size;
  live_ -= size;
  by_phase_[block->phase].own_live -= size;
  live_blocks_.Erase(block);
  return size;
}

void Analysis::Add(Record const& record) {
  ++records_;
  // Compared in 64 bits: a crafted file may hold any number, INT_MAX included.
  if (any_record_ && record.transaction != std::int64_t{last_transaction_} + 1) {
    ++transaction_gaps_;
  }
  any_record_ = true;
  last_transaction_ = record.transaction;
  PhaseTotals& phase = by_phase_[record.phase];
  if (phase.operations == 0) phase.first_transaction = record.transaction;
  phase.last_transaction = record.transaction;
  Totals& thread = by_thread_[record.thread];
  ++phase.operations;
  ++thread.operations;
  std::int64_t allocated = 0;
  std::int64_t freed = 0;
  // Sizes are unsigned requests; a negative field is read as the unsigned size it holds.
  std::int32_t const size = record.size < 0 ? 0 : record.size;
  switch (record.kind) {
    case mem::tracker::kRealloc:
      if (record.pointer == 0 && record.size != 0) break;  // failed: the old block stays
      if (record.old_pointer != 0) {
        std::int64_t const ended = EndBlock(record.old_pointer);
        if (ended >= 0) freed = ended;
      }
      Allocate(record, size);
      if (record.pointer != 0) allocated = size;
      break;
    case mem::tracker::kMalloc:
    case mem::tracker::kNew:
    case mem::tracker::kCalloc:
    case mem::tracker::kValloc:
      Allocate(record, size);
      if (record.pointer != 0) allocated = size;
      break;
    case mem::tracker::kRelease: {
      Block* block = live_blocks_.Find(record.pointer);
      if (block == nullptr) {
        ++unmatched_releases_;
        break;
      }
      Block const kept = *block;
      freed = EndBlock(record.pointer);
      released_blocks_.Put(kept);
      break;
    }
    case mem::tracker::kAcquire: {
      Block* block = released_blocks_.Find(record.pointer);
      if (block == nullptr) break;  // acquiring a block the run did not hand on
      Block const taken = *block;
      released_blocks_.Erase(block);
      PutLive(taken);
      allocated = taken.size;
      break;
    }
    default: {  // free, delete
      if (record.pointer == 0) break;
      std::int64_t const ended = EndBlock(record.pointer);
      if (ended >= 0) {
        freed = ended;
      } else if (Block* handed_on = released_blocks_.Find(record.pointer)) {
        released_blocks_.Erase(handed_on);
      } else {
        ++unmatched_releases_;
      }
      break;
    }
  }
  phase.allocated += allocated;
  thread.allocated += allocated;
  phase.freed += freed;
  thread.freed += freed;
  if (live_ > phase.peak_live) {
    phase.peak_live = live_;
    phase.peak_transaction = record.transaction;
  }
  if (live_ > peak_live_ || peak_transaction_ < 0) {
    peak_live_ = live_;
    peak_transaction_ = record.transaction;
  }
  Plot(record.transaction, record.phase);
}

// Keeps the highest point of each stretch of plot_stride_ records; when the series is
// full, neighbours merge and the stretch doubles.
void Analysis::Plot(std::int32_t transaction, std::int32_t phase) {
  if (plot_in_bucket_ == 0) {
    plot_.push_back({transaction, live_, phase});
  } else if (live_ > plot_.back().live) {
    plot_.back() = {transaction, live_, phase};
  }
  if (++plot_in_bucket_ < plot_stride_) return;
  plot_in_bucket_ = 0;
  if (plot_.size() < kMaxPlotPoints) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < plot_.size(); i += 2) {
    PlotPoint best = plot_[i];
    if (i + 1 < plot_.size() && plot_[i + 1].live > best.live) best = plot_[i + 1];
    plot_[kept++] = best;
  }
  plot_.resize(kept);
  plot_stride_ *= 2;
}

void Analysis::Finish() {
  leaks_.clear();
  live_blocks_.ForEach([this](Block const& block) { leaks_.push_back(block); });
  std::sort(leaks_.begin(), leaks_.end(), [](Block const& a, Block const& b) {
    return a.size != b.size ? a.size > b.size : a.transaction < b.transaction;
  });
}

std::vector<PhaseDiff> DiffByPhase(Analysis const& first, Analysis const& second) {
  std::map<std::string, PhaseDiff> by_path;
  for (auto const& [id, totals] : first.by_phase()) {
    PhaseDiff& diff = by_path[first.PhasePath(id)];
    diff.first = totals;
  }
  for (auto const& [id, totals] : second.by_phase()) {
    PhaseDiff& diff = by_path[second.PhasePath(id)];
    diff.second = totals;
  }
  std::vector<PhaseDiff> diffs;
  for (auto& [path, diff] : by_path) {
    diff.path = path;
    diffs.push_back(diff);
  }
  return diffs;
}

}  // namespace memtrack
