// Reading a translation dictionary file. A line is an entry when it holds the marker
// "'] = r'": the key is the text between the line's first quote and the marker, the value
// the text behind it up to the closing quote before the line end, as in
//     tr['Open file'] = r'Datei öffnen'
// Both are UTF-8 with backslash escapes. Every other line is ignored. The loader and the
// dictionary checker read through the same code, so the checker reports exactly what the
// loader does.
#ifndef VARURUROR_ATR_DICTIONARY_READER_H
#define VARURUROR_ATR_DICTIONARY_READER_H

#include <cstdio>

namespace atr {

// Lines are read in pieces of at most this many bytes, terminator included; a longer
// line is read as several lines.
constexpr int kDictionaryLineBytes = 8192;

// The dictionary file's lines, read as fgets into a buffer of kDictionaryLineBytes reads
// them, while keeping count of the real lines.
class DictionaryLines {
 public:
  // file stays open and owned by the caller.
  explicit DictionaryLines(std::FILE* file);
  ~DictionaryLines();
  DictionaryLines(DictionaryLines const&) = delete;
  DictionaryLines& operator=(DictionaryLines const&) = delete;

  // Reads the next piece; false at the end of the file or on a read error.
  bool Next();
  // Back to the start of the file.
  void Rewind();

  // The piece, terminated. As with fgets, its text ends at its first NUL byte.
  char* text() { return line_; }
  // Bytes read into the piece, NUL bytes included.
  int length() const { return length_; }
  // The piece is the end of its line: a line feed closes it, or the file ends behind it.
  bool ends_line() const { return ends_line_; }
  // The line the piece belongs to, from 1.
  int line_number() const { return line_number_; }

 private:
  bool Fill();

  std::FILE* file_;
  char* block_;
  int block_fill_;
  int block_position_;
  int length_;
  bool ends_line_;
  int line_number_;
  int next_line_number_;
  char line_[kDictionaryLineBytes];
};

// What SplitEntryLine makes of a line.
enum class LineKind {
  kOther,           // no marker: not an entry
  kEntry,           // key and value found
  kNoKey,           // the first quote of the line is the marker's own
  kNoClosingQuote,  // the value does not end with a quote before the line end
};

// An entry taken apart, pointing into the line.
struct EntryLine {
  char* key;
  int key_length;
  char* value;
  int value_length;  // closing quote and line end left out
};

// Finds key and value on a terminated line. The line end is "\n" or "\r\n" (as the text
// mode of a file on Windows reads both), or nothing on a last line; an entry whose value
// lacks its closing quote is not taken, since cutting a character that is no quote would
// shorten the translation.
LineKind SplitEntryLine(char* line, EntryLine* entry);

// Resolves backslash escapes in the first length bytes of text, in place, left to right,
// and terminates the result; returns its length. An escape that makes a NUL byte ends the
// text as a C string there.
int ResolveEscapes(char* text, int length);

// First pass: the entry lines whose value is valid UTF-8, an upper bound of the entries
// that ReadEntries hands on.
int CountEntries(DictionaryLines& lines);

// What the second pass tells, line by line.
class DictionaryListener {
 public:
  // Every piece, before anything is taken from it (the piece is intact).
  virtual void Piece(DictionaryLines& lines, LineKind kind) {}
  // An entry whose translation is not valid UTF-8: skipped. key as far as resolved.
  virtual void InvalidUtf8(char const* key, int line_number) = 0;
  // An entry whose translation is its key: skipped.
  virtual void Identity(char const* key, int line_number) {}
  // Whether NotRepresentable is wanted: it costs one more conversion per entry.
  virtual bool ChecksRepresentable() const = 0;
  // A translation with characters the locale's encoding lacks; it is still handed on.
  virtual void NotRepresentable(char const* key, int line_number) = 0;
  // An entry to store: key and value with escapes resolved (their lengths count the
  // bytes resolved, NUL bytes that escapes made included), the value still UTF-8;
  // converted_length is the value's length in the locale's encoding with '?' for what the
  // encoding lacks.
  virtual void Entry(char const* key, int key_length, char const* value, int value_length,
                     int converted_length, int line_number) = 0;

 protected:
  ~DictionaryListener() = default;
};

// Second pass, from the current position of lines.
void ReadEntries(DictionaryLines& lines, DictionaryListener& listener);

}  // namespace atr

#endif
