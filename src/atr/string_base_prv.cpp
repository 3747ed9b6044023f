#include "varururor/atr/string_base_prv.h"

atr_StringBasePrv::atr_StringBasePrv() = default;

atr_StringBasePrv::atr_StringBasePrv(atr_StringBase const& other) : atr_StringBase(other) {}

atr_StringBasePrv::atr_StringBasePrv(char const* s) : atr_StringBase(s) {}

atr_StringBasePrv::~atr_StringBasePrv() = default;

unsigned int atr_StringBasePrv::Length() const {
  return static_cast<unsigned int>(atr_StringBase::Length());
}

atr_StringBasePrv& atr_StringBasePrv::operator=(atr_StringBasePrv const& other) {
  atr_StringBase::operator=(other);
  return *this;
}

void atr_StringBasePrv::AssignTo(atr_StringBase& target) const { target = *this; }
