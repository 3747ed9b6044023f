// Byte-order conversion: big-endian reading of each width, the round trip (so writing is
// big-endian too), conversion in place, counts of 0 and below, and the swapper's choice
// between conversion and copying.
#include "varururor/omi/byte_swapper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<unsigned char> Bytes(char const* p, std::size_t n) {
  return std::vector<unsigned char>(reinterpret_cast<unsigned char const*>(p),
                                    reinterpret_cast<unsigned char const*>(p) + n);
}

TEST(ByteSwapper, InternalizeReadsBigEndian) {
  char const in[] = {'\x80', '\x01', '\x02', '\x03', '\x04', '\x05', '\x06', '\xFF'};
  unsigned short s[2];
  omi_SwapperGuts::InternalizeArray(in, s, 2);
  EXPECT_EQ(s[0], 0x8001);
  EXPECT_EQ(s[1], 0x0203);
  unsigned int i[2];
  omi_SwapperGuts::InternalizeArray(in, i, 2);
  EXPECT_EQ(i[0], 0x80010203u);
  EXPECT_EQ(i[1], 0x040506FFu);
  unsigned long long l;
  omi_SwapperGuts::InternalizeArray(in, &l, 1);
  EXPECT_EQ(l, 0x80010203040506FFull);
}

template <typename T>
void RoundTrip(std::mt19937& random) {
  std::vector<T> values(37);
  for (T& v : values)
    v = static_cast<T>((static_cast<unsigned long long>(random()) << 32) | random());
  std::vector<char> external(values.size() * sizeof(T));
  std::vector<T> back(values.size());
  omi_SwapperGuts::ExternalizeArray(external.data(), values.data(),
                                    static_cast<int>(values.size()));
  omi_SwapperGuts::InternalizeArray(external.data(), back.data(), static_cast<int>(back.size()));
  EXPECT_EQ(back, values);
  // In place: the array converted where it lies, then back.
  std::vector<T> in_place = values;
  char* bytes = reinterpret_cast<char*>(in_place.data());
  omi_SwapperGuts::ExternalizeArray(bytes, in_place.data(), static_cast<int>(in_place.size()));
  EXPECT_EQ(0, std::memcmp(bytes, external.data(), external.size()));
  omi_SwapperGuts::InternalizeArray(bytes, in_place.data(), static_cast<int>(in_place.size()));
  EXPECT_EQ(in_place, values);
}

TEST(ByteSwapper, RoundTripOfEveryWidth) {
  std::mt19937 random(11);
  RoundTrip<unsigned short>(random);
  RoundTrip<unsigned int>(random);
  RoundTrip<unsigned long long>(random);
}

TEST(ByteSwapper, NoElementsTouchNothing) {
  unsigned int values[1] = {0x01020304u};
  char out[4] = {'a', 'b', 'c', 'd'};
  omi_SwapperGuts::ExternalizeArray(out, values, 0);
  omi_SwapperGuts::ExternalizeArray(out, values, -3);
  omi_SwapperGuts::InternalizeArray(out, values, -1);
  omi_SwapperGuts::CopyBytes(out, values, -4);
  EXPECT_EQ(std::string(out, 4), "abcd");
  EXPECT_EQ(values[0], 0x01020304u);
}

TEST(ByteSwapper, CopyBytesCopiesEveryLengthAndOverlaps) {
  char source[11];
  for (int i = 0; i < 11; ++i) source[i] = static_cast<char>('A' + i);
  for (int n = 0; n <= 11; ++n) {
    char out[11] = {};
    omi_SwapperGuts::CopyBytes(out, source, n);
    EXPECT_EQ(std::string(out, n), std::string(source, n));
    EXPECT_EQ(std::string(out + n, 11 - n), std::string(11 - n, '\0'));
  }
  char overlap[] = "0123456789";
  omi_SwapperGuts::CopyBytes(overlap + 2, overlap, 7);
  EXPECT_STREQ(overlap, "0101234569");
}

TEST(ByteSwapper, SwapperConvertsOnlyBigEndianData) {
  unsigned int value = 0x11223344u;
  char out[4];
  omi_Swapper big(omi_Swapper::kBigEndian);
  EXPECT_TRUE(big.Swaps());
  big.Externalize(out, &value, 1);
  EXPECT_EQ(Bytes(out, 4), (std::vector<unsigned char>{0x11, 0x22, 0x33, 0x44}));
  unsigned int back = 0;
  big.Internalize(out, &back, 1);
  EXPECT_EQ(back, value);

  omi_Swapper native(omi_Swapper::kMachineOrder);
  EXPECT_FALSE(native.Swaps());
  native.Externalize(out, &value, 1);
  EXPECT_EQ(0, std::memcmp(out, &value, 4));
  unsigned long long wide[2] = {1, 2};
  char wide_out[16];
  native.Externalize(wide_out, wide, 2);
  unsigned long long wide_back[2] = {};
  native.Internalize(wide_out, wide_back, 2);
  EXPECT_EQ(wide_back[1], 2u);
  EXPECT_TRUE(omi_Swapper(static_cast<omi_Swapper::EndianType>(7)).Swaps()) << "any non-zero type";
}

}  // namespace
