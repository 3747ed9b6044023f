#include "varururor/frame/callback.h"

template <typename Result>
omn_Callback<Result>::~omn_Callback() = default;

template class omn_Callback<bool>;
