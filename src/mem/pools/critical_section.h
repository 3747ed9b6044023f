// The library's lock object: a platform critical section and a held flag, so that a
// try-lock refuses at once while anybody, the caller included, holds the lock.
//
// Its storage comes from the heap table's malloc and free entries, so lock objects are
// neither tracked nor routed to the thread-block pool. Not exported: clients lock
// through mem_MemoryItem.
#ifndef VARURUROR_MEM_POOLS_CRITICAL_SECTION_H
#define VARURUROR_MEM_POOLS_CRITICAL_SECTION_H

#include <cstddef>

#include "plat/critical_section.h"

class mem_CriticalSection {
 public:
  // held starts at start; with 1 the constructing thread holds the lock at once.
  explicit mem_CriticalSection(int start);
  ~mem_CriticalSection();
  mem_CriticalSection(mem_CriticalSection const&) = delete;
  mem_CriticalSection& operator=(mem_CriticalSection const&) = delete;

  static void* operator new(std::size_t size);
  static void operator delete(void* p);
  // Construction inside storage that the owner already has (a block header).
  static void* operator new(std::size_t, void* place) { return place; }
  static void operator delete(void*, void*) {}

  void Enter();
  // Clears held even when an outer Enter of the same thread is still open.
  void Leave();
  // 1 when the lock was free and is now held; 0 while anybody holds it, the caller too.
  int TryEnter();

 private:
  friend struct mem_CriticalSectionLayout;
  plat::CriticalSection section_;
  int held_;  // read outside the critical section by TryEnter: atomic accesses only
};

// Holds a lock for the life of a scope.
class mem_CriticalSectionGuard {
 public:
  explicit mem_CriticalSectionGuard(mem_CriticalSection* lock) : lock_(lock) { lock_->Enter(); }
  ~mem_CriticalSectionGuard() { lock_->Leave(); }
  mem_CriticalSectionGuard(mem_CriticalSectionGuard const&) = delete;
  mem_CriticalSectionGuard& operator=(mem_CriticalSectionGuard const&) = delete;

 private:
  mem_CriticalSection* lock_;
};

#endif
