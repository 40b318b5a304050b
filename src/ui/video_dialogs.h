// Dialogs of the camera: "VIDEORECORDRATE", the frames a second embedded in
// recordings, and "VIDEOFORMAT", the capture formats the camera offers.
#pragma once

// "VIDEORECORDRATE": edits RecordVideoRate (0.1 ... 20.0 frames a second).
// Returns 1 when stored.
int RunVideoRateDialog();
// "VIDEOFORMAT": picks one of the camera's formats; the capture window
// follows. Returns 1 when the camera took a new format.
int RunVideoFormatDialog();

// Control identifiers.
enum {
  kIdVideoRate = 1701,
  kIdVideoRateSpin = 1702,
  kIdVideoRateDefault = 1703,
  kIdVideoRateUnit = 1704,
  kIdVideoFormatList = 1711,
};
constexpr double kVideoRateMin = 0.1;
constexpr double kVideoRateMax = 20.0;
constexpr double kVideoRateDefault = 3.0;
