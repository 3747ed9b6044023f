#include "varururor/frame/string_conversion.h"

#include <cstdlib>
#include <new>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

namespace {

constexpr int kFortranStringSize = 80;
// Beyond this the pointer array's size does not fit in 32 bits.
constexpr int kMaxListCount = static_cast<int>(0x7FFFFFFFu / sizeof(char*));

// The one copy rule: drop trailing blanks, keep at most size - 1 characters, terminate.
void CopyFortranString(char* dest, int size, char const* fstr, int len) {
  if (dest == nullptr || size <= 0) return;
  int used = fstr == nullptr || len < 0 ? 0 : len;
  while (used > 0 && fstr[used - 1] == ' ') --used;
  if (used > size - 1) used = size - 1;
  for (int i = 0; i < used; ++i) dest[i] = fstr[i];
  dest[used] = '\0';
}

void FreeList(int made, char** list) {
  for (int i = 0; i < made; ++i) mem_Free(list[i]);
  mem_Free(list);
}

// Unlike the original, a failed element releases what was made so far: nothing leaks.
char** ConvertList(int count, int size, char const* fstrs, int len) {
  if (count < 0 || size <= 0 || count > kMaxListCount) return nullptr;
  char** list;
  try {
    list = static_cast<char**>(mem_OperatorNewThrowBuiltin(count * sizeof(char*)));
  } catch (std::bad_alloc const&) {
    return nullptr;
  }
  int stride = len < 0 ? 0 : len;
  for (int i = 0; i < count; ++i) {
    try {
      list[i] = static_cast<char*>(mem_OperatorNewThrowBuiltin(size));
    } catch (std::bad_alloc const&) {
      FreeList(i, list);
      return nullptr;
    }
    CopyFortranString(list[i], size, fstrs == nullptr ? nullptr : fstrs + i * stride, len);
  }
  return list;
}

}  // namespace

unsigned int omi_strtoSizeT(char const* text) {
  if (text == nullptr) return 0;
  return static_cast<unsigned int>(std::strtoul(text, nullptr, 0));
}

void omi_fortranStringConvert(char* dest, char const* fstr, int len) {
  CopyFortranString(dest, kFortranStringSize, fstr, len);
}

void omi_fortranFileNameConvert(char* dest, int destSize, char const* fstr, int len) {
  CopyFortranString(dest, destSize, fstr, len);
}

char** omi_fortranStringListConvert(int count, char const* fstrs, int len) {
  return ConvertList(count, kFortranStringSize, fstrs, len);
}

char** omi_fortranStringVarListConvert(int count, int size, char const* fstrs, int len) {
  return ConvertList(count, size, fstrs, len);
}

void omi_fortranStringListFree(int count, char** list) {
  if (list == nullptr) return;
  FreeList(count, list);
}
