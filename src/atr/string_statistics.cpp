#include "atr/string_statistics.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace atr {

StringStatistics* g_string_statistics = nullptr;

namespace {

// Mean and standard deviation from a count and the sums of values and their squares.
struct Spread {
  double mean;
  double sigma;
};

Spread SpreadOf(double factor, float sum, float sum_of_squares) {
  double mean = factor * sum;
  double variance = factor * sum_of_squares - mean * mean;
  // Rounding can push the variance of equal values a hair below zero.
  return Spread{mean, std::isgreater(variance, 0.0) ? std::sqrt(variance) : 0.0};
}

}  // namespace

void StartStringStatistics() {
  if (std::getenv("ATR_SUMMARY") == nullptr) return;
  // The no-throw form: start-up is a C entry point, and a failure just leaves no record.
  void* block = mem_OperatorNewTinyNoThrow(sizeof(StringStatistics), std::nothrow);
  if (block == nullptr) return;
  std::memset(block, 0, sizeof(StringStatistics));
  g_string_statistics = static_cast<StringStatistics*>(block);
}

void FinishStringStatistics(std::FILE* out) {
  StringStatistics* s = g_string_statistics;
  if (s == nullptr) return;
  g_string_statistics = nullptr;
  double factor = s->strings_created == 0 ? 0.0 : 1.0 / s->strings_created;
  Spread length = SpreadOf(factor, s->sum_lengths, s->sum_squared_lengths);
  Spread spare = SpreadOf(factor, s->sum_spare, s->sum_squared_spare);
  std::fprintf(out,
               "%8d Reps Created\n%8d Strings Created\n%8d Extension Failures\n%8d Active\n"
               "%8d Bytes in use\n%8d Maximum active\n%8d Maximum bytes in use\n"
               "%8.1f Mean length\n%8.1f Sigma length\n%8.1f Mean spare\n%8.1f Sigma spare\n",
               s->reps_created, s->strings_created, s->extension_failures, s->active,
               s->bytes_in_use, s->maximum_active, s->maximum_bytes_in_use, length.mean,
               length.sigma, spare.mean, spare.sigma);
  mem_Free(s);
}

void RecordCreated(StringStatistics* s, int capacity) {
  if (capacity > 0) {
    ++s->strings_created;
  } else {
    ++s->reps_created;
  }
  ++s->active;
  s->bytes_in_use += capacity;
  if (s->active > s->maximum_active) s->maximum_active = s->active;
  if (s->bytes_in_use > s->maximum_bytes_in_use) s->maximum_bytes_in_use = s->bytes_in_use;
}

void RecordReleased(StringStatistics* s, int capacity, int length) {
  if (capacity != 0) {
    float l = static_cast<float>(length);
    float spare = static_cast<float>(capacity - length);
    s->sum_lengths += l;
    s->sum_squared_lengths += l * l;
    s->sum_spare += spare;
    s->sum_squared_spare += spare * spare;
  }
  --s->active;
  s->bytes_in_use -= capacity;
}

}  // namespace atr
