// Process-wide single objects, created on first use and destroyed on request.
#ifndef VARURUROR_FRAME_SINGLETON_H
#define VARURUROR_FRAME_SINGLETON_H

#include "varururor/frame/export.h"

template <typename T>
class omi_SingletonBase {
 public:
  // Destroys the object, if there is one, and frees its memory; the next
  // omi_Singleton<T>::Instance() creates a fresh one.
  static void Finalize();

 protected:
  // The current object, null before first use.
  static T* Instance();
};

template <typename T>
class omi_Singleton : public omi_SingletonBase<T> {
 public:
  // The object, created on first use.
  static T& Instance();
};

class omi_AlertListener;

template <>
VR_API void omi_SingletonBase<omi_AlertListener>::Finalize();
template <>
VR_API omi_AlertListener* omi_SingletonBase<omi_AlertListener>::Instance();
template <>
VR_API omi_AlertListener& omi_Singleton<omi_AlertListener>::Instance();

#endif
