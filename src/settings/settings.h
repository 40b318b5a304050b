// The operator's settings: one field per key of "Orvale.INI", named as the key,
// holding the value in use, and the loading and saving of that file.
//
// In File mode the played record's values replace some of these while a file
// plays (range, gain, pulse length, tilt, sound speed, offsets, Xdcr); the
// operator's own values wait in g_liveHead and are what the settings file gets.
#pragma once

#include <cstddef>

constexpr int kSettingsPathChars = 260;   // longest settings path and working directory
constexpr int kSettingsTextChars = 80;    // longest text value (addresses)

struct Settings {
  // ---- section "Settings", in reading order ----
  int Grid = 1;
  int Colors = 0;
  int Xdcr = 1;                 // 1 up, 0 down
  int Units = 0;                // 0 metres, 1 feet, 2 yards
  int Range = 5;                // range step, index into the range table
  int RunMode = 0;              // 0 Head, 1 File
  int Gain = 3;                 // start gain, dB
  int ComPortGPSEnable = 1;
  int ComPortGPS = 0;
  int ComPortGPS_bits_per_second = 0;
  int ComPortGPS_data_bits = 3;
  int ComPortGPS_parity = 2;
  int ComPortGPS_stop_bits = 0;
  int GPSHeadingType = 1;
  int ComPortSVEnable = 1;
  int ComPortSV = 2;
  int ComPortSV_bits_per_second = 2;
  int ComPortSV_data_bits = 3;
  int ComPortSV_parity = 2;
  int ComPortSV_stop_bits = 0;
  int SVDeviceType = 0;
  // Device paths that name the GPS and probe ports directly (empty: use the
  // index into the present-port list); such a path counts as present.
  char ComPortGPSDevice[kSettingsTextChars + 1] = "";
  char ComPortSVDevice[kSettingsTextChars + 1] = "";
  // The camera: "test" for the built-in test camera, a device path, or empty
  // for the first capture device of /dev/video0 ... /dev/video9.
  char VideoDevice[kSettingsTextChars + 1] = "";
  int PulseLength = 180;        // microseconds
  double PulseLengthMultiplier = 1.0;
  int SwitchDelay = 0;
  int DisplayType = 0;          // 0 Sector, 1 Linear, 2 Perspective, 3 Profile, 4 Beam Test
  int DiagnosticsWindow = 0;
  int TrackPlotterWindow = 0;
  int AltitudeWindow = 1;
  int AvgFilter = 1;
  int AvgFilterIndex = 5;
  int Frequency = 260;          // operator's operating frequency, kHz, multiple of 5
  int ProcessingMode = 3;       // 0 Wide, 1 Normal, 2 Narrow, 3 Narrow Mixed
  int RecordVideo = 1;
  double RecordVideoRate = 3.0;
  int AutoFilename = 1;
  int HalfRange = 0;
  int DisplayGain = 50;
  int ProfileWaterfall = 0;
  int ProfileWaterfallOffset = 20;
  int ProfileWaterfallSpan = 200;
  int RealtimePlayback = 1;
  int PlaybackDelay = 0;
  int PlaybackDelayX = 1000;
  char IPAddress_Sonar1[kSettingsTextChars + 1] = "192.168.0.2";
  char IPAddress_Output1[kSettingsTextChars + 1] = "192.168.0.100";
  int RemotePort_Output1 = 4040;
  // TCP port of the head; a simulator on another loopback port stands in for it.
  int RemotePort_Sonar1 = 4040;
  double ProfileTiltAngle = 0.0;
  int ProfilePointDetection = 0;
  int ProfilePointType = 0;
  int ProfilePointDotSize = 0;
  double ProfileMinDepthBelowSonar = 0.1;
  double ProfileMaxDepthBelowSonar = 100.0;
  int ProfileDisplayType = 0;
  double SoundVelocityMeters = 1500.0;
  double SonarXOffsetMeters = 0.0;
  double SonarYOffsetMeters = 0.0;
  double SonarDepthMeters = 0.0;
  int StepSize = 1;             // 0: 480 beams, 1: 240, 2: 120
  int SectorSize = 3;           // 0..5: 30, 60, 90, 120, 100, 110 degrees
  int SignalLevel = 0;
  int Persistence = 0;          // seconds
  int ProfileGrid = 1;
  int GainEqualization = 0;
  int RollCorrection = 1;
  double PitchOffset = 0.0;
  double RollOffset = 0.0;
  double HeadingOffset = 0.0;
  int AutoFilenameType = 0;
  int DataOutputType = 0;
  int ExternalTriggerControl = 0;
  int ExternalTriggerXmitDelay = 0;
  int ProfilePointFilter = 2;   // 0 First Return, 1 Maximum Return, 2 Bottom Following
  int ProfilePointIntensityOutput = 1;
  // ---- section "Filter Settings" ----
  int ProfilePointFilter_g_ol_fil_val = 50;
  int ProfilePointFilter_g_pre_filter_sw = 1;
  int ProfilePointFilter_g_main_filter_sw = 1;
  int ProfilePointFilter_g_short_outliers_sw = 1;
  int ProfilePointFilter_g_show_outliers_sw = 0;
  int ProfilePointFilter_g_fill_beams_sw = 1;
  int ProfilePointFilter_g_along_track_avg_sw = 1;
  double ProfilePointFilter_g_bgd_lev = 0.10;
  // ---- section "Settings" again ----
  int AltitudeWindowX = 10;
  int AltitudeWindowY = 62;
  int TrackPlotterWindowX = 754;
  int TrackPlotterWindowY = 390;
  int DisplaySwathCoverage = 0;
  int SwathCoverageHeading = 1;
  int IntegratedRoll = 0;
  int TrackPlotterZoom = 5;
  int MaximumFilesize = 500;    // MBytes
  int UseInternalPitchRollHeading = 0;
  int DisplayLocalTime = 1;
  // Addresses and CIDR ranges ("127.0.0.1, 10.1.0.0/16") whose control
  // datagrams are served; empty serves every sender.
  char ExternalControlAllow[kSettingsTextChars + 1] = "";
};

// The operator's head settings saved when File mode starts and restored when
// Head mode returns, so that playing a file never changes them.
struct LiveHeadCopies {
  int Xdcr = 1;
  int Range = 5;
  int Gain = 3;
  int RangeOffset = 0;
  int FrequencyCoefficient = 10;
  int PulseLength = 180;
  double ProfileTiltAngle = 0.0;
  double SoundVelocityMeters = 1500.0;
  double SonarXOffsetMeters = 0.0;
  double SonarYOffsetMeters = 0.0;
  double SonarDepthMeters = 0.0;
};

extern Settings g_settings;
extern LiveHeadCopies g_liveHead;

// The limits of the connected head that the head-dependent keys are checked
// against while the file is read. The switch-command module owns their
// meaning: it sets the start-up limits, those of every reported head type
// and, before the file is read, those of the head the stored frequency names
// (the console reads it first with PeekStoredFrequency).
struct HeadLimits {
  int minStep = 2;
  int maxStep = 11;
  int maxGain = 20;
  int minPulse = 30;
  int freqMinKHz = 240;
  int freqMaxKHz = 260;
  int headDefaultFreqKHz = 260;
  int FrequencyCoefficient = 10;  // hundredths
};
extern HeadLimits g_headLimits;


// Depth search window limits in metres. The deepest allowed maximum depth is
// the profile depth limit; the minimum must leave 5 % of the range below it.
constexpr double kProfileDepthLimitM = 100.0;
// Minimum depth check: 1 when minM lies in [0.1, limit - 0.05 R].
int ProfileMinDepthValid(double minM, double rangeM);
// Maximum depth check: 1 when maxM lies in [minM + 0.05 R, limit].
int ProfileMaxDepthValid(double maxM, double minM, double rangeM);
// The settings loader's rule for the two keys: a minimum outside its limits
// becomes 0.2, then a maximum outside its limits becomes the depth limit.
void ApplyProfileDepthLimits(double* minM, double* maxM, double rangeM);

// Values the loader remembers beside the settings: the run mode, display mode
// and altitude-window flag in force at the last change, so that the first
// change after start-up is compared against what the file held.
struct RememberedValues {
  int previousRunMode = 0;        // set by LoadSettings and the run-mode switch
  int previousDisplayType = 0;    // set by LoadSettings and the display-mode switch
  int previousAltitudeWindow = 1; // set by LoadSettings and the altitude-window toggle
};
extern RememberedValues g_remembered;

// Where the settings file lives: the working directory recorded at start-up
// (also the directory of automatic recording names) and the file's full path.
struct SettingsFileState {
  char workingDirectory[kSettingsPathChars + 1] = {};
  char path[kSettingsPathChars + 1] = {};
};
extern SettingsFileState g_settingsFile;

// Back to the built-in start-up values: g_settings, g_liveHead, g_remembered,
// the recorded paths.
void ResetSettings();

// Records the working directory and forms "<dir>/Orvale.INI" in
// g_settingsFile. Returns 0 (nothing recorded) when the working directory
// cannot be read or the path would not fit in kSettingsPathChars.
int FormSettingsPath();

// Reads every key in file order into g_settings (the head-dependent limits of
// g_switch must already be the start-up ones), replacing out-of-range,
// unreadable or missing values, and seeds g_liveHead and g_remembered.
// Returns 1 when the file was read, 0 when it was missing or unreadable and
// the defaults stand. Never leaves an out-of-range value behind.
int LoadSettings(const char* path);

// The first key whose value in g_settings the loader would not have kept
// (outside its limits against the head limits in force, an even average, a
// frequency off the 5 kHz grid, an empty address), or nullptr when every key
// holds a value the loader accepts.
const char* SettingOutOfRange();

// Reads only the stored "Frequency" of the file (no checks, nothing stored).
// Returns 1 with *kHz set when the file holds a readable number.
int PeekStoredFrequency(const char* path, int* kHz);

// Writes every key in file order, keeping whatever else the file holds. In
// File mode the operator's head values come from g_liveHead. Returns 1 when
// the file was replaced, 0 when it could not be written (the old file stays).
int SaveSettings(const char* path);

