// The reference-count protocol that every module's initialize/finalize pair follows.
#ifndef VARURUROR_FRAME_START_COUNTER_H
#define VARURUROR_FRAME_START_COUNTER_H

namespace frame {

// A module's start counter. Plain integers without a lock: start-up and shutdown run
// on one thread while no other uses the library. Finalizing more often than
// initializing drives the counter below zero, and a later initialize then only counts.
class StartCounter {
 public:
  // True when this call really starts the module (0 -> 1); then 1 is added to the total.
  bool Start(int& started_modules) {
    int old = count_;
    count_ = old + 1;
    if (old != 0) return false;
    ++started_modules;
    return true;
  }

  // True when this call really stops the module (1 -> 0); then 1 is taken off the total.
  bool Stop(int& started_modules) {
    int old = count_;
    count_ = old - 1;
    if (old != 1) return false;
    --started_modules;
    return true;
  }

  int count() const { return count_; }

 private:
  int count_ = 0;
};

}  // namespace frame

#endif
