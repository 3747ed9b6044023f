#include "plat/float_control.h"

namespace plat {

unsigned GetX87ControlWord() {
  unsigned short control;
  __asm__ __volatile__("fnstcw %0" : "=m"(control));
  return control;
}

void SetX87ControlWord(unsigned control) {
  unsigned short word = static_cast<unsigned short>(control);
  __asm__ __volatile__("fldcw %0" : : "m"(word));
}

void ClearX87Exceptions() { __asm__ __volatile__("fnclex"); }

unsigned GetMxcsr() {
  unsigned value;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  return value;
}

void SetMxcsr(unsigned value) { __asm__ __volatile__("ldmxcsr %0" : : "m"(value)); }

}  // namespace plat
