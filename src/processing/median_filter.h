// The nine-value outlier filter shared by the altitude (profile detection) and
// the sound-velocity probe input: a new reading is believed when it lies close
// to the median of the last nine, measured in median absolute deviations.
#pragma once

constexpr int kOutlierFilterValues = 9;
constexpr double kMadScale = 1.4826;  // MAD to standard deviation for normal data

// Median of `count` values (count odd, 1..kOutlierFilterValues); 0 for a bad count.
double MedianOfValues(const double* values, int count);

// values[0] is the candidate (the newest reading), values[1..8] its company.
// Returns the candidate when |candidate - median| < 1.4826 * MAD, else the median.
double OutlierFilterNine(const double values[kOutlierFilterValues]);
