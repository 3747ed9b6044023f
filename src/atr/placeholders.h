// The placeholder grammar of message texts, shared by translation and by the dictionary
// checker: "%%" is a percent sign; "%", an optional decimal position and "$", a run of
// the characters 0-9 l . -, and one conversion letter out of E X c d e f g o s u x is a
// placeholder. Any other "%" sequence loses the "%", its position and "$", and its run,
// and the text goes on with the character that spoiled it; a final "%" is dropped.
#ifndef VARURUROR_ATR_PLACEHOLDERS_H
#define VARURUROR_ATR_PLACEHOLDERS_H

namespace atr {

// The position of a placeholder written without one ("%s").
constexpr int kUnnumbered = -1;

// Receives what the scanner finds, in text order.
class PlaceholderSink {
 public:
  // Literal bytes of the text; an escaped percent sign arrives as one "%".
  virtual void Literal(char const* text, int length) = 0;
  // A placeholder: its position (kUnnumbered when it has none; a written position too
  // large for an int counts as the largest int), its run of flag, width, precision and
  // length characters, and its conversion letter.
  virtual void Slot(int position, char const* flags, int flags_length, char letter) = 0;
  // Bytes of a malformed "%" sequence, or a final "%", that the text loses.
  virtual void Dropped(char const* text, int length) {}

 protected:
  ~PlaceholderSink() = default;
};

// Scans the first length bytes of text.
void ScanPlaceholders(char const* text, int length, PlaceholderSink& sink);

// An upper bound of the placeholders in the first length bytes of text: the "%" signs
// that some character other than "%" follows.
int CountPlaceholderBound(char const* text, int length);

// The stored format of a placeholder: "%", its run without length characters, and its
// letter; terminated. out needs flags_length + 3 bytes. Returns the length.
int StoredFormat(char* out, char const* flags, int flags_length, char letter);

// Numbers the placeholders whose position is kUnnumbered, in text order: each takes the
// smallest number from 1 to count that no placeholder carries yet; those left when the
// numbers up to count are used take count + 1, count + 2, ...
void NumberPlaceholders(int* positions, int count);

// Whether c is one of the conversion letters.
bool IsConversionLetter(char c);

}  // namespace atr

#endif
