#include "mem/pools/critical_section.h"

#include <new>

#include "mem/heap_table.h"
#include "plat/race_annotations.h"

struct mem_CriticalSectionLayout {
  static_assert(offsetof(mem_CriticalSection, section_) == 0, "the critical section first");
  static_assert(offsetof(mem_CriticalSection, held_) == sizeof(plat::CriticalSection),
                "then the held word");
  static_assert(sizeof(mem_CriticalSection) == 32, "24-byte section, held word, padding");
};

mem_CriticalSection::mem_CriticalSection(int start) : held_(start) {
  plat::DeclareAtomicWord(&held_, sizeof held_);
  plat::InitializeCriticalSection(&section_);
  if (start == 1) plat::EnterCriticalSection(&section_);
}

mem_CriticalSection::~mem_CriticalSection() { plat::DeleteCriticalSection(&section_); }

void* mem_CriticalSection::operator new(std::size_t size) {
  void* p = mem::g_heap_table.malloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void mem_CriticalSection::operator delete(void* p) { mem::g_heap_table.free(p); }

void mem_CriticalSection::Enter() {
  plat::EnterCriticalSection(&section_);
  __atomic_store_n(&held_, 1, __ATOMIC_RELAXED);
}

void mem_CriticalSection::Leave() {
  __atomic_store_n(&held_, 0, __ATOMIC_RELAXED);
  plat::LeaveCriticalSection(&section_);
}

int mem_CriticalSection::TryEnter() {
  if (__atomic_load_n(&held_, __ATOMIC_RELAXED) != 0) return 0;
  if (!plat::TryEnterCriticalSection(&section_)) return 0;
  __atomic_store_n(&held_, 1, __ATOMIC_RELAXED);
  return 1;
}
