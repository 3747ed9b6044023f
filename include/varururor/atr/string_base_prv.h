// A string handle without the restrictions of atr_StringBase, for code that needs to
// hold text and hand it to a string class of its own.
#ifndef VARURUROR_ATR_STRING_BASE_PRV_H
#define VARURUROR_ATR_STRING_BASE_PRV_H

#include "varururor/atr/string_base.h"
#include "varururor/frame/export.h"

class VR_API atr_StringBasePrv : public atr_StringBase {
 public:
  atr_StringBasePrv();
  // Share other's text.
  atr_StringBasePrv(atr_StringBase const& other);
  atr_StringBasePrv(atr_StringBasePrv const& other) = default;
  // Copies s; null reads as "".
  atr_StringBasePrv(char const* s);
  ~atr_StringBasePrv();

  unsigned int Length() const;
  atr_StringBasePrv& operator=(atr_StringBasePrv const& other);
  // target drops its own text and shares this one.
  void AssignTo(atr_StringBase& target) const;
};

#endif
