// The base of the library's streams: a runtime file (FILE*) with formatting state.
//
// Every stream operation is one stdio call; failures never throw but set state bits
// (0 is good). An operation on a stream without a file sets the failure bit and does
// nothing else.
#ifndef VARURUROR_AIO_IOS_H
#define VARURUROR_AIO_IOS_H

#include <cstdio>

#include "varururor/frame/export.h"

class aio_ostream;

class VR_API aio_ios {
 public:
  // Formatting flags.
  enum : unsigned int {
    left = 0x0002,
    right = 0x0004,  // also the behaviour without left
    dec = 0x0010,
    oct = 0x0020,
    hex = 0x0040,
    basefield = 0x0070,  // oct or hex; anything else is decimal
    showpoint = 0x0100,  // "#" in floating-point output with precision 0
    scientific = 0x0800,
    fixed = 0x1000,
    floatfield = 0x1800,  // scientific or fixed; anything else is general
    widthonce = 0x2000,   // the width applies to the next formatted output only
  };
  // State bits.
  enum : unsigned int { goodbit = 0, eofbit = 0x1, failbit = 0x2, badbit = 0x4 };
  // The origin of a seek.
  enum seek_dir { beg = SEEK_SET, cur = SEEK_CUR, end = SEEK_END };
  // Digits of floating-point output until set otherwise.
  static constexpr int kDefaultPrecision = 6;

  // Closes the file when the stream owns it.
  ~aio_ios();
  aio_ios(aio_ios const&) = delete;
  aio_ios& operator=(aio_ios const&) = delete;

  // Both return the old flags. mask 0: flags |= f; otherwise only the bits of mask
  // are set from f.
  unsigned int setf(int f, int mask);
  unsigned int unsetf(int f);

  // The file's descriptor, -1 without a file.
  int fd() const;
  // Inline for the library's own calls; VR_API on an inline member keeps it exported.
  VR_API FILE* fptr() const { return file_; }
  // fclose the attached file, owned or not, and detach it; true when fclose reported an
  // error. The state is cleared and the stream owns nothing afterwards.
  bool close();
  // Attaches f, closing the current file first when the stream owns it. The state is
  // left as it is.
  aio_ios& attach(FILE* f, bool owns);

  unsigned int rdstate() const { return state_; }
  bool good() const { return state_ == goodbit; }
  bool eof() const { return (state_ & eofbit) != 0; }
  bool fail() const { return (state_ & (failbit | badbit)) != 0; }
  bool bad() const { return (state_ & badbit) != 0; }
  // Back to good, for instance to read on after an end of file.
  void clear() { state_ = goodbit; }

  unsigned int flags() const { return flags_; }
  int precision() const { return precision_; }
  int width() const { return width_; }

 protected:
  aio_ios() = default;

  void setstate(unsigned int bits) { state_ |= bits; }
  // An input call failed: failure, and bad when the file's error indicator is set,
  // else end of file when its end-of-file indicator is.
  void input_failed() {
    unsigned int more = std::ferror(file_) ? badbit : std::feof(file_) ? eofbit : goodbit;
    state_ |= failbit | more;
  }
  // An output call failed: failure, and bad when the file's error indicator is set.
  void output_failed() { state_ |= failbit | (std::ferror(file_) ? badbit : goodbit); }
  // After a formatted output (result of fprintf): a negative result is a failure, and an
  // output with a width uses up a width meant for one output only.
  void output_done(int result, bool with_width) {
    if (result < 0) output_failed();
    if (!with_width || (flags_ & widthonce) == 0) return;
    flags_ &= ~static_cast<unsigned int>(widthonce);
    width_ = 0;
  }

 private:
  friend aio_ostream& aio_setprecision(aio_ostream& s, int n);
  friend aio_ostream& aio_setwidth(aio_ostream& s, int n);

  FILE* file_ = nullptr;
  unsigned int flags_ = 0;
  unsigned int state_ = goodbit;
  int precision_ = kDefaultPrecision;
  int width_ = 0;
  bool owns_ = false;
};
static_assert(sizeof(aio_ios) == 24, "file, flags, state, precision, width, owns");

#endif
