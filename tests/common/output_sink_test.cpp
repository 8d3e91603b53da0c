#include "common/output_sink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace onpu {
namespace {

std::string decimal(int64_t value) {
  char text[24];
  return std::string(text, write_decimal(text, value));
}

TEST(WriteDecimal, EveryDigitCountAtItsEdges) {
  EXPECT_EQ(decimal(0), "0");
  EXPECT_EQ(decimal(9), "9");
  EXPECT_EQ(decimal(10), "10");
  EXPECT_EQ(decimal(99), "99");
  EXPECT_EQ(decimal(100), "100");
  EXPECT_EQ(decimal(999), "999");
  EXPECT_EQ(decimal(1000), "1000");
  EXPECT_EQ(decimal(9999), "9999");
  EXPECT_EQ(decimal(10000), "10000");
  EXPECT_EQ(decimal(2147483647), "2147483647");
  EXPECT_EQ(decimal(std::numeric_limits<int64_t>::max()), "9223372036854775807");
}

TEST(WriteDecimal, NegativeNumbersGetAMinusSign) {
  EXPECT_EQ(decimal(-1), "-1");
  EXPECT_EQ(decimal(-100), "-100");
  EXPECT_EQ(decimal(-2147483648LL), "-2147483648");
  EXPECT_EQ(decimal(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(TextBuffer, TextLargerThanTheBufferArrivesWholeAndInOrder) {
  StringSink sink;
  {
    TextBuffer buffer(sink);
    buffer.append("head,");
    buffer.append(std::string(1 << 19, 'x'));
    for (int i = 0; i < 100000; ++i) buffer.append_int(i % 10);
    buffer.flush();
  }
  ASSERT_EQ(sink.text.size(), 5u + (1u << 19) + 100000u);
  EXPECT_EQ(sink.text.substr(0, 6), "head,x");
  EXPECT_EQ(sink.text.substr(sink.text.size() - 10), "0123456789");
}

}  // namespace
}  // namespace onpu
