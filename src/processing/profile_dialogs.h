// The operator's dialogs of profile detection: "PROFILEPOINTSETUP" (method,
// display of the points, depth window), "PROFILETILTANGLE" (mounting tilt)
// and "DEVICEOFFSETS" (offsets of the sonar head and GPS antenna, kept in
// memory only). Each runs through plat::RunDialog and returns 1 on Ok.
#pragma once

int RunProfilePointSetupDialog();
int RunProfileTiltAngleDialog();
int RunDeviceOffsetsDialog();

// Control identifiers (scripts in tests name them).
enum ProfileSetupDialogId {
  kPsHighMix = 1200, kPsMedMix, kPsLowMix, kPsPointsOnly,      // radio group 1
  kPsSmallDots, kPsLargeDots,                                  // radio group 2
  kPsEnable, kPsDisable,                                       // radio group 3
  kPsFirstReturn, kPsMaximumReturn, kPsBottomFollowing,        // radio group 4
  kPsArtificialBottom,
  kPsMinDepth, kPsMinDepthSpin, kPsMaxDepth, kPsMaxDepthSpin,
  kPsMinUnit, kPsMaxUnit, kPsBelowSonar, kPsAdvanced, kPsDefaults
};
enum TiltDialogId { kTiltValue = 1300, kTiltSpin, kTiltStored, kTiltDefault };
enum DeviceOffsetsDialogId {
  kDoDevice = 1400,
  kDoStarboard, kDoForward, kDoVertical, kDoYaw, kDoPitch, kDoRoll, kDoLatency,
  kDoStarboardUnit, kDoForwardUnit, kDoVerticalUnit
};

// Device offsets: seven floats per device (starboard, forward, vertical in
// metres; yaw, pitch, roll in degrees; latency in seconds).
enum DeviceOffsetDevice { kDeviceSonarHead = 0, kDeviceGpsAntenna = 1, kDeviceCount = 2 };
enum DeviceOffsetField {
  kOffStarboard = 0, kOffForward, kOffVertical, kOffYaw, kOffPitch, kOffRoll, kOffLatency,
  kOffFieldCount
};
struct DeviceOffsets {
  float values[kDeviceCount][kOffFieldCount] = {};
};
extern DeviceOffsets g_deviceOffsets;
void ResetDeviceOffsets();

// Run after the tilt dialog stored a new tilt (the shell rebuilds the display
// tables for the current range); null: nothing. In File mode the dialog also
// sets g_playback.operatorChangedTilt when the tilt changed.
extern void (*g_tiltChangedHook)();
