// What memtrack finds in a run: per phase and per thread totals, the peak of live bytes,
// the blocks still live at the end, and a thinned series of live bytes for a plot.
#ifndef MEMTRACK_ANALYSIS_H
#define MEMTRACK_ANALYSIS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "block_map.h"
#include "mem/tracker/record_format.h"

namespace memtrack {

struct Totals {
  std::int64_t operations = 0;
  std::int64_t allocated = 0;  // bytes
  std::int64_t freed = 0;      // bytes of blocks seen allocated
};

struct PhaseTotals : Totals {
  // The highest live bytes of the process reached by an operation of this phase.
  std::int64_t peak_live = -1;
  std::int32_t peak_transaction = -1;
  // The phase's own: bytes of the blocks it allocated that are live, and their highest.
  std::int64_t own_live = 0;
  std::int64_t own_peak = 0;
  // The first and last transaction of the phase's operations.
  std::int32_t first_transaction = -1;
  std::int32_t last_transaction = -1;
};

struct PlotPoint {
  std::int32_t transaction;
  std::int64_t live;
  std::int32_t phase;
};

// The most points a plot keeps; neighbours are merged, keeping their highest.
constexpr std::size_t kMaxPlotPoints = 4096;

class Analysis {
 public:
  explicit Analysis(std::map<std::int32_t, std::string> phases);

  void Add(mem::tracker::Record const& record);
  // Gathers the leaks; call once after the last record.
  void Finish();

  // A phase's path; ids missing from the phase file get a name of their own.
  std::string PhasePath(std::int32_t id) const;

  std::map<std::int32_t, std::string> const& phases() const { return phases_; }
  std::map<std::int32_t, PhaseTotals> const& by_phase() const { return by_phase_; }
  std::map<std::int32_t, Totals> const& by_thread() const { return by_thread_; }
  std::vector<Block> const& leaks() const { return leaks_; }
  std::vector<PlotPoint> const& plot() const { return plot_; }
  std::int64_t records() const { return records_; }
  std::int64_t live() const { return live_; }
  std::int64_t peak_live() const { return peak_live_; }
  std::int32_t peak_transaction() const { return peak_transaction_; }
  // Releases of blocks the run never saw allocated (made before tracking, or untracked).
  std::int64_t unmatched_releases() const { return unmatched_releases_; }
  // Places where a transaction number did not follow the one before.
  std::int64_t transaction_gaps() const { return transaction_gaps_; }

 private:
  void Allocate(mem::tracker::Record const& record, std::int32_t size);
  // Makes block live, counted for the phase that allocated it.
  void PutLive(Block const& block);
  // Ends a block; the bytes it held, or -1 when it was not live.
  std::int64_t EndBlock(std::uint32_t pointer);
  void Plot(std::int32_t transaction, std::int32_t phase);

  std::map<std::int32_t, std::string> phases_;
  std::map<std::int32_t, PhaseTotals> by_phase_;
  std::map<std::int32_t, Totals> by_thread_;
  BlockMap live_blocks_;
  // Blocks handed on by mem_Release: no longer the run's, until mem_Acquire takes them back.
  BlockMap released_blocks_;
  std::vector<Block> leaks_;
  std::vector<PlotPoint> plot_;
  std::int32_t plot_stride_ = 1;
  std::int32_t plot_in_bucket_ = 0;
  std::int64_t records_ = 0;
  std::int64_t live_ = 0;
  std::int64_t peak_live_ = 0;
  std::int32_t peak_transaction_ = -1;
  std::int64_t unmatched_releases_ = 0;
  std::int64_t transaction_gaps_ = 0;
  bool any_record_ = false;
  std::int32_t last_transaction_ = 0;
};

// Per phase path, two runs side by side.
struct PhaseDiff {
  std::string path;
  PhaseTotals first;
  PhaseTotals second;
};
std::vector<PhaseDiff> DiffByPhase(Analysis const& first, Analysis const& second);

}  // namespace memtrack

#endif
