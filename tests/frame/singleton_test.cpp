// The alert listener's process-wide slot: created on first use, destroyed by the
// system-services module's shutdown, created afresh after it.
#include <gtest/gtest.h>

#include "varururor/varururor.h"

namespace {

// The current listener without creating one (the base's Instance is protected).
struct ListenerSlot : omi_SingletonBase<omi_AlertListener> {
  static omi_AlertListener* Current() { return omi_SingletonBase<omi_AlertListener>::Instance(); }
};

TEST(AlertListenerSingleton, LivesFromFirstUseUntilFinalize) {
  omi_SingletonBase<omi_AlertListener>::Finalize();
  EXPECT_EQ(ListenerSlot::Current(), nullptr);

  omi_AlertListener& first = omi_Singleton<omi_AlertListener>::Instance();
  EXPECT_EQ(ListenerSlot::Current(), &first);
  EXPECT_EQ(&omi_Singleton<omi_AlertListener>::Instance(), &first);

  omi_SingletonBase<omi_AlertListener>::Finalize();
  EXPECT_EQ(ListenerSlot::Current(), nullptr);
  omi_SingletonBase<omi_AlertListener>::Finalize();  // nothing left to destroy
  EXPECT_EQ(ListenerSlot::Current(), nullptr);
}

TEST(AlertListenerSingleton, LibraryShutdownDestroysItAndTheNextUseMakesAFreshOne) {
  int total = 0;
  UTI_VaruRuror_initialize(total);
  omi_Singleton<omi_AlertListener>::Instance();
  ASSERT_NE(ListenerSlot::Current(), nullptr);
  UTI_VaruRuror_finalize(total);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(ListenerSlot::Current(), nullptr);
  omi_AlertListener& fresh = omi_Singleton<omi_AlertListener>::Instance();
  EXPECT_EQ(ListenerSlot::Current(), &fresh);
  omi_SingletonBase<omi_AlertListener>::Finalize();
}

}  // namespace
