// The library's operator-new family and the allocation-operator mix-ins.
//
// With KVN_DEBUG_MEMSIZE set to a value that begins with "ON", the non-Builtin
// functions check that a class uses the mix-in for its size: mem_AllocationOperators
// for classes over 128 bytes, mem_AllocationOperatorsTiny for the rest. A class that
// uses the wrong one aborts the process with a message on standard error.
#ifndef VARURUROR_MEM_OPERATORS_H
#define VARURUROR_MEM_OPERATORS_H

#include <new>

#include "varururor/frame/export.h"
#include "varururor/mem/allocation.h"

// Throw std::bad_alloc ("bad allocation") when the block cannot be had; no new handler.
VR_API void* mem_OperatorNewThrow(unsigned int size);
VR_API void* mem_OperatorNewTinyThrow(unsigned int size);
// Null when the block cannot be had.
VR_API void* mem_OperatorNewNoThrow(unsigned int size, std::nothrow_t const&);
VR_API void* mem_OperatorNewTinyNoThrow(unsigned int size, std::nothrow_t const&);
// The standard operator-new loop (a size of 0 takes 1 byte; the new handler runs while
// one is installed); no size check. The NoThrow form returns null when no handler is left.
VR_API void* mem_OperatorNewThrowBuiltin(unsigned int size);
VR_API void* mem_OperatorNewNoThrowBuiltin(unsigned int size);

// Derive from this for class-level new and delete through the library (classes over 128 bytes).
class VR_API mem_AllocationOperators {
 public:
  static void* operator new(unsigned int size);
  static void operator delete(void* p);
};

// The same for classes of at most 128 bytes.
class VR_API mem_AllocationOperatorsTiny {
 public:
  static void* operator new(unsigned int size);
  static void operator delete(void* p);
};

// A tag: new (mem_BuiltInAlloc()) T[n] takes the array through mem_OperatorNewThrowBuiltin.
enum mem_BuiltInAlloc { mem_BuiltInAllocTag };

VR_API void* operator new[](unsigned int size, mem_BuiltInAlloc);
// Called only when a constructor throws during new (mem_BuiltInAlloc()) T[n].
inline void operator delete[](void* p, mem_BuiltInAlloc) noexcept { mem_Free(p); }

#endif
