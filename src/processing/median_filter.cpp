// Median and median-absolute-deviation test over nine readings. The altitude
// of profile detection and the sound-velocity probe reader both pass their
// newest reading through it; neither keeps state here, each owns its history.
#include "processing/median_filter.h"

#include <cmath>

double MedianOfValues(const double* values, int count) {
  if (count < 1 || count > kOutlierFilterValues || (count & 1) == 0) return 0.0;
  // Insertion sort of a copy: nine values, no allocation, and NaN-free input
  // keeps the order total.
  double v[kOutlierFilterValues];
  for (int i = 0; i < count; ++i) {
    double x = values[i];
    int j = i;
    while (j > 0 && v[j - 1] > x) {
      v[j] = v[j - 1];
      --j;
    }
    v[j] = x;
  }
  return v[count / 2];
}

double OutlierFilterNine(const double values[kOutlierFilterValues]) {
  const double median = MedianOfValues(values, kOutlierFilterValues);
  double deviations[kOutlierFilterValues];
  for (int i = 0; i < kOutlierFilterValues; ++i) deviations[i] = std::fabs(values[i] - median);
  const double mad = MedianOfValues(deviations, kOutlierFilterValues);
  const double candidate = values[0];
  return std::fabs(candidate - median) < kMadScale * mad ? candidate : median;
}
