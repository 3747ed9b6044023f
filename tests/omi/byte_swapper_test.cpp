// Byte-order conversion of every width, every route, against bytes worked out by hand.
#include "varururor/omi/byte_swapper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

template <typename T>
void ExpectEveryRoute(std::mt19937& random) {
  int const n = 37;
  std::vector<T> values(n);
  for (T& v : values)
    v = static_cast<T>((static_cast<unsigned long long>(random()) << 32) | random());
  std::vector<char> external(values.size() * sizeof(T));
  omi_SwapperGuts::ExternalizeArray(external.data(), values.data(), n);
  for (std::size_t i = 0; i < external.size(); ++i) {
    unsigned shift = 8 * (sizeof(T) - 1 - i % sizeof(T));  // the first byte the highest
    ASSERT_EQ(static_cast<unsigned char>(external[i]), (values[i / sizeof(T)] >> shift) & 0xFF);
  }
  std::vector<T> back(values.size());
  // In place: the array converted where it lies, then back.
  std::vector<T> in_place = values;
  char* bytes = reinterpret_cast<char*>(in_place.data());
  omi_SwapperGuts::ExternalizeArray(bytes, in_place.data(), n);
  EXPECT_EQ(0, std::memcmp(bytes, external.data(), external.size()));
  omi_SwapperGuts::InternalizeArray(bytes, in_place.data(), n);
  EXPECT_EQ(in_place, values);
  // A swapper for big-endian data (any type but the machine's order) converts; one copies.
  std::vector<char> out(external.size());
  omi_Swapper big(static_cast<omi_Swapper::EndianType>(7));
  big.Externalize(out.data(), values.data(), n);
  EXPECT_EQ(out, external);
  big.Internalize(external.data(), back.data(), n);
  EXPECT_EQ(back, values);
  omi_Swapper native(omi_Swapper::kMachineOrder);
  native.Externalize(out.data(), values.data(), n);
  EXPECT_EQ(0, std::memcmp(out.data(), values.data(), out.size()));
  native.Internalize(external.data(), back.data(), n);
  EXPECT_EQ(0, std::memcmp(back.data(), external.data(), out.size()));
  // No elements: nothing is touched.
  std::vector<T> kept = back;
  for (int none : {0, -3}) {
    omi_SwapperGuts::ExternalizeArray(out.data(), values.data(), none);
    omi_SwapperGuts::InternalizeArray(out.data(), back.data(), none);
    native.Internalize(out.data(), back.data(), none);
  }
  EXPECT_EQ(back, kept);
  EXPECT_EQ(0, std::memcmp(out.data(), values.data(), out.size()));
}

TEST(ByteSwapper, EveryWidthEveryRoute) {
  std::mt19937 random(11);
  ExpectEveryRoute<unsigned short>(random);
  ExpectEveryRoute<unsigned int>(random);
  ExpectEveryRoute<unsigned long long>(random);
}

TEST(ByteSwapper, CopyBytesMovesOverlapsAndANegativeCountCopiesNothing) {
  char text[] = "0123456789";
  omi_SwapperGuts::CopyBytes(text + 2, text, 7);
  EXPECT_STREQ(text, "0101234569");
  omi_SwapperGuts::CopyBytes(text, "abc", -4);
  EXPECT_STREQ(text, "0101234569");
}

}  // namespace
