// Critical sections: recursive locks owned by a thread, with try-enter.
#ifndef VARURUROR_PLAT_CRITICAL_SECTION_H
#define VARURUROR_PLAT_CRITICAL_SECTION_H

namespace plat {

// Opaque storage for the system lock; its size is checked where the lock is implemented.
// 24 bytes, the size of the i386 system mutex: the memory cache manager's 48-byte block
// header holds a lock built on one.
struct CriticalSection {
  alignas(8) unsigned char storage[24];
};

void InitializeCriticalSection(CriticalSection* section);
void DeleteCriticalSection(CriticalSection* section);
void EnterCriticalSection(CriticalSection* section);
void LeaveCriticalSection(CriticalSection* section);
bool TryEnterCriticalSection(CriticalSection* section);

}  // namespace plat

#endif
