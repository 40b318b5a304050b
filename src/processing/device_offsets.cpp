// Mounting offsets of the sonar head and the GPS antenna. The values live in
// memory for the session only; this module owns them and the limits they are
// checked against, so the dialog that edits them only converts units.
#include "processing/device_offsets.h"

DeviceOffsets g_deviceOffsets;

void ResetDeviceOffsets() { g_deviceOffsets = DeviceOffsets{}; }

static const DeviceOffsetLimit kLimits[kOffFieldCount] = {
    {"Starboard Offset", 100.0, 1, nullptr}, {"Forward Offset", 100.0, 1, nullptr},
    {"Vertical Offset", 100.0, 1, nullptr},  {"Yaw Offset", 45.0, 0, "degrees"},
    {"Pitch Offset", 45.0, 0, "degrees"},    {"Roll Offset", 45.0, 0, "degrees"},
    {"Latency", 5.0, 0, "seconds"},
};

static const char* const kDeviceNames[kDeviceCount] = {"Sonar Head Offsets", "GPS Antenna Offsets"};

static int ClampField(int field) {
  if (field < 0) return 0;
  return field >= kOffFieldCount ? kOffFieldCount - 1 : field;
}

const DeviceOffsetLimit& DeviceOffsetLimitOf(int field) { return kLimits[ClampField(field)]; }

const char* DeviceOffsetName(int device) {
  return kDeviceNames[device == kDeviceGpsAntenna ? kDeviceGpsAntenna : kDeviceSonarHead];
}
