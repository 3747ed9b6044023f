// Thread-local storage slots: one pointer per thread per slot, null until set.
#ifndef VARURUROR_PLAT_THREAD_LOCAL_STORAGE_H
#define VARURUROR_PLAT_THREAD_LOCAL_STORAGE_H

namespace plat {

constexpr unsigned kTlsOutOfIndexes = 0xFFFFFFFFu;

unsigned TlsAlloc();  // kTlsOutOfIndexes when no slot is left
bool TlsFree(unsigned index);
void* TlsGetValue(unsigned index);
bool TlsSetValue(unsigned index, void* value);

}  // namespace plat

#endif
