// The optional string statistics (ATR_SUMMARY): counts of representations made and
// released, bytes in use, and sums of lengths and spare bytes, reported at shutdown.
#ifndef VARURUROR_ATR_STRING_STATISTICS_H
#define VARURUROR_ATR_STRING_STATISTICS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace atr {

struct StringStatistics {
  std::int32_t reps_created;        // headers without inline text
  std::int32_t strings_created;     // inline blocks
  std::int32_t extension_failures;  // attempts to grow a block in place
  std::int32_t active;
  std::int32_t bytes_in_use;  // sum of the inline capacities
  std::int32_t maximum_active;
  std::int32_t maximum_bytes_in_use;
  float sum_lengths;
  float sum_squared_lengths;
  float sum_spare;
  float sum_squared_spare;
};
static_assert(sizeof(StringStatistics) == 44, "seven counters and four sums");
static_assert(offsetof(StringStatistics, reps_created) == 0 &&
                  offsetof(StringStatistics, strings_created) == 4 &&
                  offsetof(StringStatistics, extension_failures) == 8 &&
                  offsetof(StringStatistics, active) == 12 &&
                  offsetof(StringStatistics, bytes_in_use) == 16 &&
                  offsetof(StringStatistics, maximum_active) == 20 &&
                  offsetof(StringStatistics, maximum_bytes_in_use) == 24 &&
                  offsetof(StringStatistics, sum_lengths) == 28 &&
                  offsetof(StringStatistics, sum_squared_lengths) == 32 &&
                  offsetof(StringStatistics, sum_spare) == 36 &&
                  offsetof(StringStatistics, sum_squared_spare) == 40,
              "the record's fields in their order");

// Null unless ATR_SUMMARY was set at start-up. Updated without a lock, like the counts
// of the strings themselves.
extern StringStatistics* g_string_statistics;

// Makes a zeroed record when ATR_SUMMARY is set; a failed allocation leaves none.
void StartStringStatistics();
// Writes the report to out and frees the record, if there is one.
void FinishStringStatistics(std::FILE* out);

void RecordCreated(StringStatistics* s, int capacity);
void RecordReleased(StringStatistics* s, int capacity, int length);

// capacity: the inline capacity, 0 for a header without inline text. Without a record
// these cost one test.
inline void CountCreated(int capacity) {
  if (StringStatistics* s = g_string_statistics) RecordCreated(s, capacity);
}
inline void CountReleased(int capacity, int length) {
  if (StringStatistics* s = g_string_statistics) RecordReleased(s, capacity, length);
}
inline void CountExtensionFailure() {
  if (StringStatistics* s = g_string_statistics) ++s->extension_failures;
}

}  // namespace atr

#endif
