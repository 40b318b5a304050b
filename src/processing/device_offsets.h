// Mounting offsets of the sonar head and the GPS antenna: three distances,
// three angles and a latency per device, kept in memory only (no key of the
// settings file holds them), with the limits each value must respect.
#pragma once

enum DeviceOffsetDevice { kDeviceSonarHead = 0, kDeviceGpsAntenna = 1, kDeviceCount = 2 };
enum DeviceOffsetField {
  kOffStarboard = 0, kOffForward, kOffVertical, kOffYaw, kOffPitch, kOffRoll, kOffLatency,
  kOffFieldCount
};

// Seven floats per device: starboard, forward, vertical in metres; yaw, pitch,
// roll in degrees; latency in seconds. Written by the user-interface thread
// (the "Device Offsets" dialog); cleared by ResetDeviceOffsets.
struct DeviceOffsets {
  float values[kDeviceCount][kOffFieldCount] = {};
};
extern DeviceOffsets g_deviceOffsets;
void ResetDeviceOffsets();

// What bounds one field: a symmetric limit in metres, degrees or seconds, the
// name the refusal message gives it, and whether it is a length (shown and
// typed in the operator's unit) or carries the fixed unit word.
struct DeviceOffsetLimit {
  const char* name;
  double limit;
  int isLength;
  const char* fixedUnit;
};
const DeviceOffsetLimit& DeviceOffsetLimitOf(int field);
// Name of a device as the dialog lists it ("Sonar Head Offsets", ...).
const char* DeviceOffsetName(int device);
