#include "atr/placeholders.h"

#include <climits>
#include <cstring>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace atr {

namespace {

constexpr char kPercent = '%';
constexpr char kPositionMark = '$';
constexpr char kConversionLetters[] = "EXcdefgosux";
// The only length character the run accepts: printf reads it with the placeholder's
// letter, while the value's own type decides the modifier when it is printed.
constexpr char kLengthCharacter = 'l';
constexpr int kDecimalBase = 10;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsFlagCharacter(char c) { return IsDigit(c) || c == kLengthCharacter || c == '.' || c == '-'; }

// Reads the digits at text[i..end), saturating at INT_MAX; returns the index after them.
int ReadNumber(char const* text, int i, int end, int* value) {
  int n = 0;
  for (; i < end && IsDigit(text[i]); ++i) {
    int digit = text[i] - '0';
    n = n > (INT_MAX - digit) / kDecimalBase ? INT_MAX : n * kDecimalBase + digit;
  }
  *value = n;
  return i;
}

}  // namespace

bool IsConversionLetter(char c) {
  return c != 0 && std::memchr(kConversionLetters, c, sizeof kConversionLetters - 1) != nullptr;
}

void ScanPlaceholders(char const* text, int length, PlaceholderSink& sink) {
  int literal_start = 0;
  int i = 0;
  while (i < length) {
    if (text[i] != kPercent) {
      ++i;
      continue;
    }
    if (i > literal_start) sink.Literal(text + literal_start, i - literal_start);
    int start = i;
    if (i + 1 == length) {
      sink.Dropped(text + i, 1);
      literal_start = i = length;
      break;
    }
    if (text[i + 1] == kPercent) {
      sink.Literal(text + i, 1);
      literal_start = i = i + 2;
      continue;
    }
    // An optional position: digits that "$" closes; otherwise they belong to the run.
    int position = kUnnumbered;
    int j = i + 1;
    int number;
    int after_digits = ReadNumber(text, j, length, &number);
    if (after_digits > j && after_digits < length && text[after_digits] == kPositionMark) {
      position = number;
      j = after_digits + 1;
    }
    int flags = j;
    while (j < length && IsFlagCharacter(text[j])) ++j;
    if (j < length && IsConversionLetter(text[j])) {
      sink.Slot(position, text + flags, j - flags, text[j]);
      literal_start = i = j + 1;
    } else {
      // The text goes on with the character that spoiled the sequence.
      sink.Dropped(text + start, j - start);
      literal_start = i = j;
    }
  }
  if (length > literal_start) sink.Literal(text + literal_start, length - literal_start);
}

int CountPlaceholderBound(char const* text, int length) {
  int bound = 0;
  for (int i = 0; i + 1 < length; ++i) {
    if (text[i] == kPercent && text[i + 1] != kPercent) ++bound;
  }
  return bound;
}

int StoredFormat(char* out, char const* flags, int flags_length, char letter) {
  int n = 0;
  out[n++] = kPercent;
  for (int i = 0; i < flags_length; ++i) {
    // Every length character goes, not only one before the letter: printf would read a
    // wider argument than the value passed.
    if (flags[i] != kLengthCharacter) out[n++] = flags[i];
  }
  out[n++] = letter;
  out[n] = 0;
  return n;
}

void NumberPlaceholders(int* positions, int count) {
  if (count <= 0) return;
  int first_unnumbered = 0;
  while (first_unnumbered < count && positions[first_unnumbered] != kUnnumbered) {
    ++first_unnumbered;
  }
  if (first_unnumbered == count) return;
  // taken[n]: some placeholder carries number n (1..count).
  unsigned int numbers = static_cast<unsigned int>(count) + 1;
  bool* taken = static_cast<bool*>(mem_OperatorNewThrowBuiltin(numbers));
  std::memset(taken, 0, numbers);
  for (int i = 0; i < count; ++i) {
    if (positions[i] >= 1 && positions[i] <= count) taken[positions[i]] = true;
  }
  int next = first_unnumbered;
  int number = 1;
  while (next < count) {
    while (number <= count && taken[number]) ++number;
    positions[next] = number++;
    do {
      ++next;
    } while (next < count && positions[next] != kUnnumbered);
  }
  mem_Free(taken);
}

}  // namespace atr
