// Profile point detection: finds the bottom in every formed beam of BeamImage
// (owned by the beamformer) and keeps the point set, the output arrays read by
// the display and the point writers, the altitude and the swath extents.
#include "processing/profile_detect.h"

ProfilePointSet g_profilePoints;
int g_profileOutputCount = 0;
int32_t g_pointRangeTenths[kMaxBeams] = {};
ProfileOutputBeam g_profileOutputBeam[kMaxBeams];
int g_pointIntensity[kMaxBeams] = {};
ProfileDetectState g_detect;
DeviceOffsets g_deviceOffsets;
void (*g_tiltChangedHook)() = nullptr;

void ResetProfileDetect() {
  const float level = g_detect.detectionLevelPct;
  const float minRange = g_detect.minimumRangeM;
  g_detect = ProfileDetectState{};
  g_detect.detectionLevelPct = level;
  g_detect.minimumRangeM = minRange;
  g_profilePoints = ProfilePointSet{};
  g_profileOutputCount = 0;
  for (int i = 0; i < kMaxBeams; ++i) {
    g_pointRangeTenths[i] = 0;
    g_profileOutputBeam[i] = ProfileOutputBeam{};
    g_pointIntensity[i] = 0;
  }
}
