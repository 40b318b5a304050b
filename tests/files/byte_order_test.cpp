// The shared field helpers against bytes written out by hand: every record
// layout in the console depends on them, so each width and order is checked
// on values whose bytes all differ, on negative values and at the limits.
#include "platform/byte_order.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// A guard byte on each side of the field shows a helper writing past it.
constexpr uint8_t kGuard = 0xA5;

struct PutCase {
  const char* legend;
  void (*put)(uint8_t*);
  std::vector<uint8_t> expected;
};

TEST(ByteOrder, IntegersAndRealsLandInTheirByteOrder) {
  const PutCase cases[] = {
      {"BE16", [](uint8_t* p) { PutBE16(p, 0x1234); }, {0x12, 0x34}},
      {"BE16 negative", [](uint8_t* p) { PutBE16(p, -2); }, {0xFF, 0xFE}},
      {"BE16 drops bits above 16", [](uint8_t* p) { PutBE16(p, 0x7ABCD); }, {0xAB, 0xCD}},
      {"BE24", [](uint8_t* p) { PutBE24(p, 0x123456); }, {0x12, 0x34, 0x56}},
      {"BE24 negative", [](uint8_t* p) { PutBE24(p, -1); }, {0xFF, 0xFF, 0xFF}},
      {"BE32", [](uint8_t* p) { PutBE32(p, 0x12345678u); }, {0x12, 0x34, 0x56, 0x78}},
      {"LE16", [](uint8_t* p) { PutLE16(p, 0x1234); }, {0x34, 0x12}},
      {"LE16 negative int", [](uint8_t* p) { PutLE16(p, static_cast<uint32_t>(-300)); }, {0xD4, 0xFE}},
      {"LE32", [](uint8_t* p) { PutLE32(p, 0x12345678u); }, {0x78, 0x56, 0x34, 0x12}},
      {"LE64", [](uint8_t* p) { PutLE64(p, 0x0102030405060708ull); }, {8, 7, 6, 5, 4, 3, 2, 1}},
      // 1.0f = 0x3F800000, -2.5f = 0xC0200000.
      {"float 1", [](uint8_t* p) { PutFloatLE(p, 1.0f); }, {0x00, 0x00, 0x80, 0x3F}},
      {"float -2.5", [](uint8_t* p) { PutFloatLE(p, -2.5f); }, {0x00, 0x00, 0x20, 0xC0}},
      // 1.0 = 0x3FF0000000000000, -0.1 = 0xBFB999999999999A.
      {"double 1", [](uint8_t* p) { PutDoubleLE(p, 1.0); }, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {"double -0.1",
       [](uint8_t* p) { PutDoubleLE(p, -0.1); },
       {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0xBF}},
  };
  for (const PutCase& c : cases) {
    SCOPED_TRACE(c.legend);
    uint8_t buf[10];
    std::memset(buf, kGuard, sizeof buf);
    c.put(buf + 1);
    const size_t n = c.expected.size();
    EXPECT_EQ(c.expected, std::vector<uint8_t>(buf + 1, buf + 1 + n));
    EXPECT_EQ(kGuard, buf[0]);
    EXPECT_EQ(kGuard, buf[1 + n]);
  }
}

TEST(ByteOrder, ReadersUndoTheWriters) {
  const uint8_t be[] = {0xFE, 0xDC};
  EXPECT_EQ(0xFEDC, GetBE16(be));
  const uint8_t le[] = {0x78, 0x56, 0x34, 0xF2};
  EXPECT_EQ(0xF2345678u, GetLE32(le));
  const float values[] = {0.0f, -0.0f, 1.5f, -1234.5625f, std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::denorm_min()};
  for (float v : values) {
    SCOPED_TRACE(v);
    uint8_t buf[4];
    PutFloatLE(buf, v);
    const float back = GetFloatLE(buf);
    EXPECT_EQ(0, std::memcmp(&v, &back, 4));
  }
  uint8_t buf[4];
  PutFloatLE(buf, std::nanf(""));
  EXPECT_TRUE(std::isnan(GetFloatLE(buf)));
}

TEST(ByteOrder, TextFieldsStopAtTheirWidth) {
  uint8_t field[8];
  std::memset(field, 0, sizeof field);
  PutText(field, "ABCDEFGHIJ", 6);
  EXPECT_EQ(0, std::memcmp(field, "ABCDEF\0\0", 8)) << "a long text is cut at the field width, no NUL added";
  std::memset(field, 'x', sizeof field);
  PutText(field, "AB", 6);
  EXPECT_EQ(0, std::memcmp(field, "ABxxxxxx", 8)) << "a short text leaves the rest of the field alone";

  // A field that fills its width reads back whole and terminated.
  const uint8_t full[4] = {'1', '2', '3', '4'};
  char text[8];
  std::memset(text, 'z', sizeof text);
  FieldText(text, sizeof text, full, 4);
  EXPECT_STREQ("1234", text);
  // The destination's size wins over the field's width.
  FieldText(text, 3, full, 4);
  EXPECT_STREQ("12", text);
  const uint8_t early[4] = {'9', 0, '7', '7'};
  FieldText(text, sizeof text, early, 4);
  EXPECT_STREQ("9", text);
}

TEST(ByteOrder, DecimalFieldsReadUpToTheFirstNonDigit) {
  struct Case {
    const char* legend;
    const char* field;
    int bytes;
    int expected;
  } cases[] = {
      {"whole field", "2026", 4, 2026},
      {"width limits", "123456", 3, 123},
      {"letter ends it", "12:34", 5, 12},
      {"blank field", "  12", 4, 0},
      {"empty", "", 0, 0},
      {"high byte ends it", "4\xB5" "5", 3, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(c.expected, FieldNumber(c.field, c.bytes));
    EXPECT_EQ(c.expected, FieldNumber(reinterpret_cast<const uint8_t*>(c.field), c.bytes));
  }
}

TEST(ByteOrder, RealsToIntegersAreAlwaysDefined) {
  struct Case {
    double v;
    int rounded;
  } rounding[] = {{0.0, 0}, {0.49, 0}, {0.5, 1}, {-0.5, -1}, {2.5, 3}, {-2.5, -3}, {-2.49, -2}, {1e6 + 0.5, 1000001}};
  for (const Case& c : rounding) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(c.rounded, RoundSigned(c.v));
  }
  EXPECT_EQ(5, TruncClamped(5.99, 0, 10));
  EXPECT_EQ(-5, TruncClamped(-5.99, -10, 10)) << "truncation is toward zero";
  EXPECT_EQ(0, TruncClamped(-1.0, 0, 10));
  EXPECT_EQ(10, TruncClamped(1e300, 0, 10));
  EXPECT_EQ(-3, TruncClamped(std::nan(""), -3, 10)) << "NaN takes the low limit";
  EXPECT_EQ(0x7FFF, TruncClamped(std::numeric_limits<double>::infinity(), 0, 0x7FFF));

  EXPECT_EQ(1, ClampInt(-4, 1, 12));
  EXPECT_EQ(12, ClampInt(13, 1, 12));
  EXPECT_EQ(7, ClampInt(7, 1, 12));
  EXPECT_DOUBLE_EQ(-90.0, ClampDouble(-91.0, -90.0, 90.0));
  EXPECT_DOUBLE_EQ(359.9, ClampDouble(400.0, 0.0, 359.9));
  EXPECT_DOUBLE_EQ(12.5, ClampDouble(12.5, 0.0, 359.9));
}

}  // namespace
