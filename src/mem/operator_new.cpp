// The operator-new family, its debugging size check, and the allocation mix-ins.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "varururor/mem/operators.h"

namespace {

// Classes of at most this many bytes belong with mem_AllocationOperatorsTiny.
constexpr unsigned kTinyClassLimit = 128;

// Each function's check state: not yet read, then on or off for the process.
enum SizeCheckState : int { kCheckOff = 0, kCheckOn = 1, kCheckUnread = 2 };
enum class MixIn { kNormal, kTiny };

int g_throw_check = kCheckUnread;
int g_nothrow_check = kCheckUnread;
int g_tiny_throw_check = kCheckUnread;
int g_tiny_nothrow_check = kCheckUnread;

// The failure of every allocating operator: std::bad_alloc with its message.
class BadAllocation : public std::bad_alloc {
 public:
  char const* what() const noexcept override { return "bad allocation"; }
};

[[noreturn]] void WrongMixIn(char const* comparison, char const* mix_in) {
  std::fputs("KOVRIN class with sizeof(class) ", stderr);
  std::fputs(comparison, stderr);
  std::fputs(" should use ", stderr);
  std::fputs(mix_in, stderr);
  std::abort();
}

// Aborts when KVN_DEBUG_MEMSIZE asks for the check (a value beginning with "ON") and
// a non-zero size does not fit the mix-in in use.
void CheckSize(int& state, unsigned size, MixIn form) {
  if (state == kCheckUnread) {
    char const* setting = std::getenv("KVN_DEBUG_MEMSIZE");
    state = setting != nullptr && std::strncmp(setting, "ON", 2) == 0 ? kCheckOn : kCheckOff;
  }
  if (state != kCheckOn || size == 0) return;
  if (form == MixIn::kNormal && size <= kTinyClassLimit) {
    WrongMixIn("< 129", "mem_AllocationOperatorsTiny\n");
  }
  if (form == MixIn::kTiny && size > kTinyClassLimit) {
    WrongMixIn("> 128", "mem_AllocationOperators\n");
  }
}

void* CheckedMalloc(int& state, unsigned size, MixIn form) {
  if (state != kCheckOff) CheckSize(state, size, form);
  return mem_Malloc(size);
}

void* OrThrow(void* p) {
  if (p == nullptr) throw BadAllocation();
  return p;
}

// The standard loop: run the new handler while one is installed.
void* BuiltinLoop(unsigned size, bool throw_without_handler) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* p = mem_Malloc(size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      if (throw_without_handler) throw BadAllocation();
      return nullptr;
    }
    handler();
  }
}

}  // namespace

void* mem_OperatorNewThrow(unsigned int size) {
  return OrThrow(CheckedMalloc(g_throw_check, size, MixIn::kNormal));
}

void* mem_OperatorNewNoThrow(unsigned int size, std::nothrow_t const&) {
  return CheckedMalloc(g_nothrow_check, size, MixIn::kNormal);
}

void* mem_OperatorNewTinyThrow(unsigned int size) {
  return OrThrow(CheckedMalloc(g_tiny_throw_check, size, MixIn::kTiny));
}

void* mem_OperatorNewTinyNoThrow(unsigned int size, std::nothrow_t const&) {
  return CheckedMalloc(g_tiny_nothrow_check, size, MixIn::kTiny);
}

void* mem_OperatorNewThrowBuiltin(unsigned int size) { return BuiltinLoop(size, true); }

void* mem_OperatorNewNoThrowBuiltin(unsigned int size) { return BuiltinLoop(size, false); }

void* mem_AllocationOperators::operator new(unsigned int size) {
  return mem_OperatorNewThrow(size);
}

void mem_AllocationOperators::operator delete(void* p) { mem_Free(p); }

void* mem_AllocationOperatorsTiny::operator new(unsigned int size) {
  return mem_OperatorNewTinyThrow(size);
}

void mem_AllocationOperatorsTiny::operator delete(void* p) { mem_Free(p); }

void* operator new[](unsigned int size, mem_BuiltInAlloc) {
  return mem_OperatorNewThrowBuiltin(size);
}
