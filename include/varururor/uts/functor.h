// A test function as the harness sees it, and the functor that binds a member function.
//
// The harness calls the first virtual slot to run a test and reads the class and function
// names (the first and second fields) for its messages. It never runs a functor's
// destructor: it gives the memory back with mem_Free, so functors are allocated through
// the library (the operators below) and hold nothing that needs destroying.
#ifndef VARURUROR_UTS_FUNCTOR_H
#define VARURUROR_UTS_FUNCTOR_H

#include <type_traits>

#include "varururor/mem/allocation.h"
#include "varururor/mem/operators.h"

class uts_Functor {
 public:
  uts_Functor(char const* class_name, char const* function_name)
      : className(class_name), functionName(function_name) {}

  // Runs the test function; failures are counted by the monitor, exceptions by the caller.
  virtual void operator()() = 0;

  // Functors are small (the mix-in for at most 128 bytes), released with mem_Free.
  static void* operator new(unsigned int size) { return mem_OperatorNewTinyThrow(size); }
  static void operator delete(void* p) { mem_Free(p); }

  char const* className;
  char const* functionName;

 protected:
  // Not virtual and protected: the harness releases functors without destroying them.
  ~uts_Functor() = default;
};
static_assert(sizeof(uts_Functor) == 12, "call slot in the virtual table, class name, function name");

// Runs object->function(); made by UTS_ADD_TEST (see assertions.h).
template <class T>
class uts_MemberFunctor final : public uts_Functor {
 public:
  typedef void (T::*Function)();

  uts_MemberFunctor(T* object, Function function, char const* class_name,
                    char const* function_name)
      : uts_Functor(class_name, function_name), object_(object), function_(function) {
    static_assert(std::is_trivially_destructible<uts_MemberFunctor>::value,
                  "released with mem_Free, never destroyed");
  }

  void operator()() override { (object_->*function_)(); }

 private:
  T* object_;
  Function function_;
};

#endif
