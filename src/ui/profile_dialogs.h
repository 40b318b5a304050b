// The operator's dialogs of profile detection: "PROFILEPOINTSETUP" (method,
// display of the points, depth window), its "PROFILEFILTER" (advanced filter
// settings), "PROFILETILTANGLE" (mounting tilt) and "DEVICEOFFSETS" (offsets
// of the sonar head and GPS antenna). Each runs through RunModalDialog and
// returns 1 on Ok; what follows a dialog is up to the command that opened it.
#pragma once

int RunProfilePointSetupDialog();
int RunProfileFilterDialog();
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

// Control identifiers (scripts in tests name them).
enum ProfileFilterDialogId {
  kPfMaxPoints = 1100, kPfMaxPointsSpin, kPfSegments, kPfSegmentsSpin, kPfThirdCount,
  kPfThirdCountSpin, kPfFillBeams, kPfMainFilter, kPfFlatBottom, kPfShortOutliers,
  kPfPercent, kPfPercentSpin, kPfBackground, kPfBackgroundSpin, kPfShowRemoved, kPfDefaults
};
