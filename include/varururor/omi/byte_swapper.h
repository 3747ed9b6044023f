// Conversion of arrays of unsigned 16-, 32- and 64-bit integers between the machine's byte
// order and the external representation, which is big-endian: most significant byte first.
//
// The conversions are written with shifts, so they give the external order whatever the
// machine's; on x86 each element is a byte reversal. A count of 0 or less does nothing.
// Source and destination must not overlap, except that converting an array in place
// (destination equal to source) works for every width.
#ifndef VARURUROR_OMI_BYTE_SWAPPER_H
#define VARURUROR_OMI_BYTE_SWAPPER_H

#include "varururor/frame/export.h"
#include "varururor/mem/operators.h"

class VR_API omi_SwapperGuts {
 public:
  static void ExternalizeArray(char* destination, unsigned short const* source, int n);
  static void InternalizeArray(char const* source, unsigned short* destination, int n);
  static void ExternalizeArray(char* destination, unsigned int const* source, int n);
  static void InternalizeArray(char const* source, unsigned int* destination, int n);
  static void ExternalizeArray(char* destination, unsigned long long const* source, int n);
  static void InternalizeArray(char const* source, unsigned long long* destination, int n);
  // Copies n bytes unchanged.
  static void CopyBytes(void* destination, void const* source, int n);
};

// Reads and writes external data that is either big-endian or already in the machine's
// order, as its endian type says: the conversions of omi_SwapperGuts for the one, plain
// copies for the other.
class VR_API omi_Swapper : public mem_AllocationOperatorsTiny {
 public:
  // Any non-zero type is taken as big-endian.
  enum EndianType { kMachineOrder = 0, kBigEndian = 1 };

  explicit omi_Swapper(EndianType type) : swaps_(type != kMachineOrder) {}

  // Whether the external data is big-endian, so that elements are converted.
  bool Swaps() const { return swaps_; }

  void Externalize(char* destination, unsigned short const* source, int n) const;
  void Internalize(char const* source, unsigned short* destination, int n) const;
  void Externalize(char* destination, unsigned int const* source, int n) const;
  void Internalize(char const* source, unsigned int* destination, int n) const;
  void Externalize(char* destination, unsigned long long const* source, int n) const;
  void Internalize(char const* source, unsigned long long* destination, int n) const;

 private:
  bool swaps_;
};

#endif
