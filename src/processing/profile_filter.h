// Profile point filters: the clean-up of raw bottom detections inside one
// ping (segment outlier removal, flat-bottom filter, gap fill, main filter,
// marks of removed points) and the ping-to-ping averaging of the points.
// All of it works in place on g_profilePoints (processing/profile_detect.h).
#pragma once

#include "settings/constants.h"

constexpr int kMaxSegments = 10;       // segments of the outlier removal
constexpr int kDepthBins = 10;         // 50-sample depth bins per segment
constexpr int kPointAvgSlots = 30;     // point-averaging ring
constexpr int kPointAvgMin = 3;        // averaging depth limits of the points
constexpr int kPointAvgMax = 9;
constexpr float kFilterRangeLimit = 499.0f;  // deepest range the filters produce

struct ProfileFilterState {
  // "Advanced Filter Settings" values that have no INI key (memory only).
  int maxPoints = 10;            // "Max. Points:" 1..10
  int segments = 7;              // "No. of Segments:" 1..10
  int thirdCount = 10;           // hidden control 1..10; no filter reads it
  int deepOutlierSw = 1;         // set whenever the settings are read and by "Defaults"
  int shortOutlierCompanion = 1; // set after the short-outlier key is read

  // Sort by across-track position, rebuilt before each outlier removal.
  float SortedAcross[kMaxBeams] = {};
  int SortedBeam[kMaxBeams] = {};
  // Per segment of the latest outlier removal (for tests and diagnostics).
  int segmentCount = 0;
  int histogram[kMaxSegments][kDepthBins] = {};
  int modeDepth[kMaxSegments] = {};
  int modeCount[kMaxSegments] = {};
  int pointCount[kMaxSegments] = {};
  int binned[kMaxSegments] = {};      // 1 when any point fell in a depth bin
  int firstPosition[kMaxSegments] = {};
  int lastPosition[kMaxSegments] = {};

  // Point-averaging ring: persists across pings; cleared by ResetPointHistory.
  float ring[kPointAvgSlots][kMaxBeams] = {};
  float ringSum[kMaxBeams] = {};
  int ringSlot = 0;
};
extern ProfileFilterState g_filter;

// Clears everything, the in-memory dialog values back to their initial values.
void ResetProfileFilter();
// Clears the averaging ring, sums and slot (detection switched, method or
// AvgFilterIndex changed, ResetProcessing).
void ResetPointHistory();

// Bottom Following's chain: deep outliers, short outliers, flat-bottom
// filter, gap fill, main filter, each when its switch is on.
void FilterBottomFollowing();
// Maximum Return's gap fill.
void FillGapsMaximumReturn();
// Dims the picture and marks the points removed this ping.
void MarkRemovedPoints();
// Ring average of the ranges; replaces them for Bottom Following only.
void AveragePoints();

// ---- the stages, for tests
void SortByAcross();
enum SegmentMode { kSegmentDeep = 0, kSegmentShort = 1 };
void RemoveSegmentOutliers(int mode);
void FlatBottomFilter();
void FillGapsBottomFollowing();
void MainFilter();
