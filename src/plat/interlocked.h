// Interlocked operations on 32-bit words: full barriers, results as the callers expect
// them (the new value for increment and decrement, the old value for compare-exchange).
#ifndef VARURUROR_PLAT_INTERLOCKED_H
#define VARURUROR_PLAT_INTERLOCKED_H

namespace plat {

inline long InterlockedIncrement(long volatile* target) {
  return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}

inline long InterlockedDecrement(long volatile* target) {
  return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}

inline long InterlockedExchange(long volatile* target, long value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

// Stores exchange when *target equals comparand; returns what *target held before.
inline long InterlockedCompareExchange(long volatile* target, long exchange, long comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

template <typename T>
inline T* InterlockedCompareExchangePointer(T* volatile* target, T* exchange, T* comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

}  // namespace plat

#endif
