// Identifiers of the main window's commands. The menu resource, the command
// table of the user interface and the console's own enabling and greying of
// items all use these numbers, so they are defined once, here, below all of
// them.
#pragma once

enum MenuCommand {
  kCmdHead = 1,
  kCmdFile = 2,
  kCmdPlaybackFile = 10,
  kCmdConvertK4P = 11,
  kCmdConvertK4B = 12,
  kCmdConvertXtf = 13,
  kCmdRealtimePlayback = 14,
  kCmdRecord = 15,
  kCmdCopy = 16,
  kCmdFastPlayback = 17,
  kCmdExit = 18,
  kCmdMaximumFileSize = 20,
  kCmdColorFirst = 80,  // 80..88, `Colors` = id - 80
  kCmdColorLast = 88,
  kCmdAbout = 100,
  kCmdComPorts = 106,
  kCmdOpenVideoWindow = 170,
  kCmdRecordVideo = 173,
  kCmdVideoFormat = 174,
  kCmdVideoRate = 175,
  kCmdVideoFrame = 176,
  kCmdXdcrUp = 200,
  kCmdXdcrDown = 201,
  kCmdIpAddress = 205,
  kCmdGrid = 206,
  kCmdSaveScreen = 207,
  kCmdAutoFilename = 208,
  kCmdUnitsFirst = 210,  // 210..212, `Units` = id - 210
  kCmdUnitsLast = 212,
  kCmdFileNameDateNumber = 220,
  kCmdFileNameDateTime = 221,
  kCmdTimeUtc = 230,
  kCmdTimeLocal = 231,
  kCmdSetSwitches = 310,
  kCmdDisplayFirst = 400,  // 400..404, `DisplayType` = id - 400
  kCmdDisplayLast = 404,
  kCmdAveragingOff = 510,
  kCmdProfileWaterfall = 550,
  kCmdRemoveBackground = 560,
  kCmdDecayTime = 565,
  kCmdGridCircular = 570,
  kCmdGridRectangular = 571,
  kCmdProfileTilt = 580,
  kCmdAltitudeWindow = 590,
  kCmdDiagnostics = 600,
  kCmdDisplaySwathCoverage = 618,
  kCmdLoadSwathCoverage = 617,
  kCmdClearTrackPlotter = 619,
  kCmdTrackPlotter = 620,
  kCmdSidescanWindow = 621,
  kCmdEchoSounderWindow = 622,
  kCmdIntensityWindow = 623,
  kCmdGainEqualization = 659,
  kCmdRollCorrection = 660,
  kCmdSignalLevel = 690,
  kCmdSignalLevel2 = 691,
  kCmdBeamwidthFirst = 750,  // 750..753, `ProcessingMode` = id - 750
  kCmdBeamwidthLast = 753,
  kCmdBeamsFirst = 760,  // 760..762, `StepSize` = id - 760
  kCmdBeamsLast = 762,
  kCmdSectorFirst = 770,  // 770..775, `SectorSize` = id - 770
  kCmdSectorLast = 775,
  kCmdSoundVelocity = 820,
  kCmdDeviceOffsets = 830,
  kCmdProfilePointSetup = 870,
  kCmdHeadConfigFirst = 900,  // 900..913, head configuration index = id - 900
  kCmdHeadConfigLast = 913,
  kCmdDataOutput = 970,
};
