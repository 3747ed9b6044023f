#include "varururor/omi/byte_swapper.h"

#include <cstring>

static_assert(sizeof(omi_Swapper) == 1, "one byte: whether the external data is big-endian");

namespace {

constexpr unsigned int kByteBits = 8;

// Writes value as size bytes, most significant first. The whole value is read before the
// first byte is written, so an element converted in place is read intact.
template <typename Unsigned>
void PutBigEndian(char* destination, Unsigned value) {
  unsigned char* out = reinterpret_cast<unsigned char*>(destination);
  for (unsigned int i = sizeof(Unsigned); i-- > 0;) {
    out[i] = static_cast<unsigned char>(value);
    value = static_cast<Unsigned>(value >> kByteBits);
  }
}

template <typename Unsigned>
Unsigned GetBigEndian(char const* source) {
  unsigned char const* in = reinterpret_cast<unsigned char const*>(source);
  Unsigned value = 0;
  for (unsigned int i = 0; i < sizeof(Unsigned); ++i) {
    value = static_cast<Unsigned>((value << kByteBits) | in[i]);
  }
  return value;
}

// Source and destination are walked in step, element by element.
template <typename Unsigned>
void Externalize(char* destination, Unsigned const* source, int n) {
  for (int i = 0; i < n; ++i) {
    PutBigEndian<Unsigned>(destination + i * sizeof(Unsigned), source[i]);
  }
}

template <typename Unsigned>
void Internalize(char const* source, Unsigned* destination, int n) {
  for (int i = 0; i < n; ++i)
    destination[i] = GetBigEndian<Unsigned>(source + i * sizeof(Unsigned));
}

}  // namespace

void omi_SwapperGuts::ExternalizeArray(char* destination, unsigned short const* source, int n) {
  Externalize(destination, source, n);
}

void omi_SwapperGuts::InternalizeArray(char const* source, unsigned short* destination, int n) {
  Internalize(source, destination, n);
}

void omi_SwapperGuts::ExternalizeArray(char* destination, unsigned int const* source, int n) {
  Externalize(destination, source, n);
}

void omi_SwapperGuts::InternalizeArray(char const* source, unsigned int* destination, int n) {
  Internalize(source, destination, n);
}

void omi_SwapperGuts::ExternalizeArray(char* destination, unsigned long long const* source, int n) {
  Externalize(destination, source, n);
}

void omi_SwapperGuts::InternalizeArray(char const* source, unsigned long long* destination, int n) {
  Internalize(source, destination, n);
}

// memmove rather than a plain copy: overlapping ranges come out as the source was.
void omi_SwapperGuts::CopyBytes(void* destination, void const* source, int n) {
  if (n > 0) std::memmove(destination, source, static_cast<unsigned int>(n));
}

namespace {

// Data already in the machine's order is copied as it stands. The byte count is unsigned:
// an array that exists fits in the 32-bit address space, however many elements it has.
template <typename Unsigned>
void CopyElements(void* destination, void const* source, int n) {
  if (n > 0) std::memmove(destination, source, static_cast<unsigned int>(n) * sizeof(Unsigned));
}

template <typename Unsigned>
void ExternalizeOrCopy(bool swaps, char* destination, Unsigned const* source, int n) {
  if (swaps) {
    omi_SwapperGuts::ExternalizeArray(destination, source, n);
  } else {
    CopyElements<Unsigned>(destination, source, n);
  }
}

template <typename Unsigned>
void InternalizeOrCopy(bool swaps, char const* source, Unsigned* destination, int n) {
  if (swaps) {
    omi_SwapperGuts::InternalizeArray(source, destination, n);
  } else {
    CopyElements<Unsigned>(destination, source, n);
  }
}

}  // namespace

void omi_Swapper::Externalize(char* destination, unsigned short const* source, int n) const {
  ExternalizeOrCopy(swaps_, destination, source, n);
}

void omi_Swapper::Internalize(char const* source, unsigned short* destination, int n) const {
  InternalizeOrCopy(swaps_, source, destination, n);
}

void omi_Swapper::Externalize(char* destination, unsigned int const* source, int n) const {
  ExternalizeOrCopy(swaps_, destination, source, n);
}

void omi_Swapper::Internalize(char const* source, unsigned int* destination, int n) const {
  InternalizeOrCopy(swaps_, source, destination, n);
}

void omi_Swapper::Externalize(char* destination, unsigned long long const* source, int n) const {
  ExternalizeOrCopy(swaps_, destination, source, n);
}

void omi_Swapper::Internalize(char const* source, unsigned long long* destination, int n) const {
  InternalizeOrCopy(swaps_, source, destination, n);
}
