// A callback object: clients derive from it and put the work in Call.
#ifndef VARURUROR_FRAME_CALLBACK_H
#define VARURUROR_FRAME_CALLBACK_H

#include "varururor/frame/export.h"

template <typename Result>
class omn_Callback {
 public:
  virtual ~omn_Callback();
  virtual Result Call() = 0;
};

// The library defines the destructor of the one instance in use.
extern template class VR_API omn_Callback<bool>;

#endif
