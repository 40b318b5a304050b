// The nine-value median/MAD filter shared by the altitude and the sound
// velocity probe: which candidates it believes and which it replaces.
#include <gtest/gtest.h>

#include "processing/median_filter.h"

namespace {

TEST(MedianFilter, MedianOfOddCounts) {
  const double v[9] = {5, -1, 3, 9, 7, 2, 8, 4, 6};
  EXPECT_EQ(MedianOfValues(v, 9), 5.0);
  EXPECT_EQ(MedianOfValues(v, 3), 3.0);
  EXPECT_EQ(MedianOfValues(v, 1), 5.0);
  // Even or out-of-range counts are refused with 0.
  EXPECT_EQ(MedianOfValues(v, 4), 0.0);
  EXPECT_EQ(MedianOfValues(v, 0), 0.0);
  EXPECT_EQ(MedianOfValues(v, 11), 0.0);
}

TEST(MedianFilter, CandidateAgainstTheMedianAbsoluteDeviation) {
  const struct {
    const char* legend;
    double values[9];
    double expected;
  } cases[] = {
      // MAD 0: nothing differs from the median by less than 0, so even an
      // equal candidate comes back as the median (the same value).
      {"steady readings, new spike", {1510, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500}, 1500},
      {"history still zero", {1500, 1500, 1500, 1500, 0, 0, 0, 0, 0}, 0},
      {"fifth reading", {1500, 1500, 1500, 1500, 1500, 0, 0, 0, 0}, 1500},
      // Median 10, deviations 0..4 -> MAD 2, limit 2.9652.
      {"candidate inside", {12, 6, 7, 8, 9, 10, 11, 13, 14}, 12},
      {"candidate at three deviations", {13, 6, 7, 8, 9, 10, 11, 12, 14}, 10},
      {"candidate just inside", {12.9, 6, 7, 8, 9, 10, 11, 12, 14}, 12.9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_DOUBLE_EQ(OutlierFilterNine(c.values), c.expected);
  }
}

}  // namespace
