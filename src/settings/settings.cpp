// The settings file "Orvale.INI": every key of sections "Settings" and
// "Filter Settings" read into g_settings at start-up and written back after
// every menu command and at exit.
//
// One table lists the keys in file order with type, default, accepted range,
// fallback, save format and follow-up; LoadSettings and SaveSettings both walk
// it, so the two can never disagree about order or format. The text comes
// from the profile-file module; the head-dependent limits (range steps, gain,
// pulse, frequency) come from the switch state, which the first reading of
// "Frequency" may widen. This module owns g_settings, the operator's head
// values kept aside while a file plays (g_liveHead), the remembered previous
// values and the settings path.
//
// Anything the file holds is untrusted: integers that overflow, reals that
// are NaN or infinite, and values outside their range all take the key's
// fallback, so no damaged file can put an out-of-range value into the program.
//
// Index: [SECTION] Key table, Conversion, Load, Save, Run-mode copies.
#include "settings/settings.h"

#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/profile_file.h"

Settings g_settings;
LiveHeadCopies g_liveHead;
HeadLimits g_headLimits;
RememberedValues g_remembered;
SettingsFileState g_settingsFile;

static const char kSection[] = "Settings";
static const char kFilterSection[] = "Filter Settings";
static const char kSettingsFileName[] = "Orvale.INI";

void ResetSettings() {
  g_settings = Settings{};
  g_liveHead = LiveHeadCopies{};
  g_remembered = RememberedValues{};
  g_settingsFile = SettingsFileState{};
}

int FormSettingsPath() {
  char dir[kSettingsPathChars + 1];
  if (!::getcwd(dir, sizeof dir)) return 0;
  const size_t len = std::strlen(dir);
  const char* sep = (len > 0 && dir[len - 1] == '/') ? "" : "/";
  char path[kSettingsPathChars + 1];
  const int n = std::snprintf(path, sizeof path, "%s%s%s", dir, sep, kSettingsFileName);
  if (n < 0 || n > kSettingsPathChars) return 0;
  std::memcpy(g_settingsFile.workingDirectory, dir, len + 1);
  std::memcpy(g_settingsFile.path, path, static_cast<size_t>(n) + 1);
  return 1;
}

// ============================================================ [SECTION] Key table

enum KeyKind { kInt = 0, kReal, kText };

// Keys whose limits or handling are not a fixed range.
enum KeySpecial {
  kPlain = 0,
  kFrequencyRule,    // first "Frequency": takes the named head's limits; not written
  kRangeStep,        // limits are the head's min .. max step
  kGainLimit,        // 0 .. the head's max gain
  kPulseLimit,       // the head's min pulse .. 2500
  kOddAverage,       // odd values only
  kFrequencyInUse,   // head's frequency limits, fallback the current one, rounded to 5 kHz
  kAddress,          // any non-empty text
  kDevicePath,       // any text, empty allowed (device paths, the control allow-list)
  kMinDepth,         // 0.1 .. limit - 5 % of the loading range
  kMaxDepth,         // minimum + 5 % of the loading range .. limit
  kAlwaysLocalTime,  // read, then 1 whatever the file held
};

struct KeyRow {
  const char* section;
  const char* key;
  int kind;
  int special;
  int Settings::*intField;
  double Settings::*realField;
  char (Settings::*textField)[kSettingsTextChars + 1];
  int current;       // the default is the value in use when loading starts
  double def;
  int ranged;        // 0: any value
  double lo, hi, fallback;
  const char* format;  // reals: save format
  // File mode writes these from the operator's copies; loading seeds them.
  int LiveHeadCopies::*liveInt;
  double LiveHeadCopies::*liveReal;
};

// What every row of the table sets: a key of the main section, its kind, a
// default, a range and the value taken when the file gives one outside it.
static KeyRow BaseRow(const char* key, int kind, int special, double def, double lo, double hi,
                      double fallback) {
  KeyRow r{};
  r.section = kSection;
  r.key = key;
  r.kind = kind;
  r.special = special;
  r.def = def;
  r.ranged = 1;
  r.lo = lo;
  r.hi = hi;
  r.fallback = fallback;
  return r;
}
static KeyRow Int(const char* key, int Settings::*field, double def, double lo, double hi,
                  double fallback, int special = kPlain) {
  KeyRow r = BaseRow(key, kInt, special, def, lo, hi, fallback);
  r.intField = field;
  return r;
}
static KeyRow Current(KeyRow r) {
  r.current = 1;
  return r;
}
static KeyRow Live(KeyRow r, int LiveHeadCopies::*field) {
  r.liveInt = field;
  return r;
}
static KeyRow Live(KeyRow r, double LiveHeadCopies::*field) {
  r.liveReal = field;
  return r;
}
static KeyRow Filter(KeyRow r) {
  r.section = kFilterSection;
  return r;
}
static KeyRow AnyInt(const char* key, int Settings::*field, double def) {
  KeyRow r = Int(key, field, def, 0, 0, def);
  r.ranged = 0;
  return r;
}
static KeyRow Real(const char* key, double Settings::*field, double def, double lo, double hi,
                   double fallback, const char* format, int special = kPlain) {
  KeyRow r = BaseRow(key, kReal, special, def, lo, hi, fallback);
  r.realField = field;
  r.format = format;
  return r;
}
static KeyRow Text(const char* key, char (Settings::*field)[kSettingsTextChars + 1]) {
  KeyRow r = BaseRow(key, kText, kAddress, 0, 0, 0, 0);
  r.ranged = 0;
  r.textField = field;
  r.current = 1;
  return r;
}

static KeyRow DevicePath(const char* key, char (Settings::*field)[kSettingsTextChars + 1]) {
  KeyRow r = Text(key, field);
  r.special = kDevicePath;
  return r;
}

using S = Settings;
using L = LiveHeadCopies;

// Every key in file order. "Frequency" appears twice: its first reading only
// widens the head limits that "Range" is checked against right after it.
static const KeyRow kKeys[] = {
    Int("Grid", &S::Grid, 1, 0, 1, 1),
    Int("Colors", &S::Colors, 0, 0, 8, 0),
    Live(Current(Int("Xdcr", &S::Xdcr, 1, 0, 1, 1)), &L::Xdcr),
    Current(Int("Units", &S::Units, 0, 0, 2, 0)),
    Current(Int("Frequency", &S::Frequency, 260, 0, 0, 0, kFrequencyRule)),
    Live(Current(Int("Range", &S::Range, 5, 2, 11, 5, kRangeStep)), &L::Range),
    Current(Int("RunMode", &S::RunMode, 0, 0, 1, 0)),
    Live(Int("Gain", &S::Gain, 3, 0, 20, 3, kGainLimit), &L::Gain),
    Int("ComPortGPSEnable", &S::ComPortGPSEnable, 1, 0, 1, 1),
    Int("ComPortGPS", &S::ComPortGPS, 0, 0, 31, 0),
    Int("ComPortGPS_bits_per_second", &S::ComPortGPS_bits_per_second, 0, 0, 5, 0),
    Int("ComPortGPS_data_bits", &S::ComPortGPS_data_bits, 3, 0, 3, 3),
    Int("ComPortGPS_parity", &S::ComPortGPS_parity, 2, 0, 2, 2),
    Int("ComPortGPS_stop_bits", &S::ComPortGPS_stop_bits, 0, 0, 1, 0),
    Int("GPSHeadingType", &S::GPSHeadingType, 1, 0, 2, 1),
    Int("ComPortSVEnable", &S::ComPortSVEnable, 1, 0, 1, 1),
    Int("ComPortSV", &S::ComPortSV, 2, 0, 31, 2),
    Int("ComPortSV_bits_per_second", &S::ComPortSV_bits_per_second, 2, 0, 5, 2),
    Int("ComPortSV_data_bits", &S::ComPortSV_data_bits, 3, 0, 3, 3),
    Int("ComPortSV_parity", &S::ComPortSV_parity, 2, 0, 2, 2),
    Int("ComPortSV_stop_bits", &S::ComPortSV_stop_bits, 0, 0, 1, 0),
    Int("SVDeviceType", &S::SVDeviceType, 0, 0, 1, 0),
    DevicePath("ComPortGPSDevice", &S::ComPortGPSDevice),
    DevicePath("ComPortSVDevice", &S::ComPortSVDevice),
    Live(Int("PulseLength", &S::PulseLength, 180, 30, 2500, 180, kPulseLimit), &L::PulseLength),
    Real("PulseLengthMultiplier", &S::PulseLengthMultiplier, 1.0, 1.0, 2.0, 1.0, "%3.1f"),
    Int("SwitchDelay", &S::SwitchDelay, 0, 0, 500, 0),
    Current(Int("DisplayType", &S::DisplayType, 0, 0, 4, 0)),
    Int("DiagnosticsWindow", &S::DiagnosticsWindow, 0, 0, 1, 0),
    Int("TrackPlotterWindow", &S::TrackPlotterWindow, 0, 0, 1, 0),
    Int("AltitudeWindow", &S::AltitudeWindow, 1, 0, 1, 1),
    Int("AvgFilter", &S::AvgFilter, 1, 0, 1, 1),
    Current(Int("AvgFilterIndex", &S::AvgFilterIndex, 5, 3, 25, 3, kOddAverage)),
    Current(Int("Frequency", &S::Frequency, 260, 240, 260, 260, kFrequencyInUse)),
    Current(Int("ProcessingMode", &S::ProcessingMode, 3, 0, 3, 3)),
    Int("RecordVideo", &S::RecordVideo, 1, 0, 1, 1),
    Real("RecordVideoRate", &S::RecordVideoRate, 3.0, 0.1, 20.0, 3.0, "%f"),
    DevicePath("VideoDevice", &S::VideoDevice),
    Int("AutoFilename", &S::AutoFilename, 1, 0, 1, 1),
    Int("HalfRange", &S::HalfRange, 0, 0, 1, 0),
    Current(Int("DisplayGain", &S::DisplayGain, 50, 1, 100, 25)),
    Int("ProfileWaterfall", &S::ProfileWaterfall, 0, 0, 1, 0),
    Int("ProfileWaterfallOffset", &S::ProfileWaterfallOffset, 20, 0, 500, 20),
    Int("ProfileWaterfallSpan", &S::ProfileWaterfallSpan, 200, 0, 500, 200),
    Int("RealtimePlayback", &S::RealtimePlayback, 1, 0, 1, 1),
    Int("PlaybackDelay", &S::PlaybackDelay, 0, 0, 2000, 0),
    Int("PlaybackDelayX", &S::PlaybackDelayX, 1000, 0, 1000, 1000),
    Text("IPAddress_Sonar1", &S::IPAddress_Sonar1),
    Text("IPAddress_Output1", &S::IPAddress_Output1),
    Current(AnyInt("RemotePort_Output1", &S::RemotePort_Output1, 4040)),
    Current(Int("RemotePort_Sonar1", &S::RemotePort_Sonar1, 4040, 1, 65535, 4040)),
    Live(Real("ProfileTiltAngle", &S::ProfileTiltAngle, 0.0, -90.0, 90.0, 0.0, "%f"),
         &L::ProfileTiltAngle),
    Current(Int("ProfilePointDetection", &S::ProfilePointDetection, 0, 0, 1, 0)),
    Int("ProfilePointType", &S::ProfilePointType, 0, 0, 1, 0),
    Int("ProfilePointDotSize", &S::ProfilePointDotSize, 0, 0, 1, 0),
    Real("ProfileMinDepthBelowSonar", &S::ProfileMinDepthBelowSonar, 0.1, 0.1, 0, 0.2, "%f",
         kMinDepth),
    Real("ProfileMaxDepthBelowSonar", &S::ProfileMaxDepthBelowSonar, kProfileDepthLimitM, 0,
         kProfileDepthLimitM, kProfileDepthLimitM, "%f", kMaxDepth),
    Int("ProfileDisplayType", &S::ProfileDisplayType, 0, 0, 3, 2),
    Live(Real("SoundVelocityMeters", &S::SoundVelocityMeters, 1500.0, 1400.0, 2000.0, 1500.0,
              "%06.1f"),
         &L::SoundVelocityMeters),
    Live(Real("SonarXOffsetMeters", &S::SonarXOffsetMeters, 0.0, -100.0, 100.0, 0.0, "%5.3f"),
         &L::SonarXOffsetMeters),
    Live(Real("SonarYOffsetMeters", &S::SonarYOffsetMeters, 0.0, -100.0, 100.0, 0.0, "%5.3f"),
         &L::SonarYOffsetMeters),
    Live(Real("SonarDepthMeters", &S::SonarDepthMeters, 0.0, -100.0, 6000.0, 0.0, "%5.3f"),
         &L::SonarDepthMeters),
    Current(Int("StepSize", &S::StepSize, 1, 0, 2, 2)),
    Int("SectorSize", &S::SectorSize, 3, 0, 5, 3),
    Int("SignalLevel", &S::SignalLevel, 0, 0, 1, 1),
    Current(Int("Persistence", &S::Persistence, 0, 0, 600, 3)),
    Int("ProfileGrid", &S::ProfileGrid, 1, 0, 1, 1),
    Current(Int("GainEqualization", &S::GainEqualization, 0, 0, 1, 0)),
    Int("RollCorrection", &S::RollCorrection, 1, 0, 1, 1),
    Real("PitchOffset", &S::PitchOffset, 0.0, -30.0, 30.0, 0.0, "%3.1f"),
    Real("RollOffset", &S::RollOffset, 0.0, -30.0, 30.0, 0.0, "%3.1f"),
    Real("HeadingOffset", &S::HeadingOffset, 0.0, -180.0, 180.0, 0.0, "%3.1f"),
    Int("AutoFilenameType", &S::AutoFilenameType, 0, 0, 1, 0),
    Current(Int("DataOutputType", &S::DataOutputType, 0, 0, 2, 0)),
    Int("ExternalTriggerControl", &S::ExternalTriggerControl, 0, 0, 3, 0),
    Int("ExternalTriggerXmitDelay", &S::ExternalTriggerXmitDelay, 0, 0, 10000, 0),
    Current(Int("ProfilePointFilter", &S::ProfilePointFilter, 2, 0, 2, 2)),
    Current(Int("ProfilePointIntensityOutput", &S::ProfilePointIntensityOutput, 1, 0, 1, 1)),
    Filter(Int("ProfilePointFilter_g_ol_fil_val", &S::ProfilePointFilter_g_ol_fil_val, 50, 10,
               500, 50)),
    Filter(Int("ProfilePointFilter_g_pre_filter_sw", &S::ProfilePointFilter_g_pre_filter_sw, 1, 0,
               1, 0)),
    Filter(Int("ProfilePointFilter_g_main_filter_sw", &S::ProfilePointFilter_g_main_filter_sw, 1,
               0, 1, 1)),
    Filter(Int("ProfilePointFilter_g_short_outliers_sw",
               &S::ProfilePointFilter_g_short_outliers_sw, 1, 0, 1, 1)),
    Filter(Int("ProfilePointFilter_g_show_outliers_sw", &S::ProfilePointFilter_g_show_outliers_sw,
               0, 0, 1, 0)),
    Filter(Int("ProfilePointFilter_g_fill_beams_sw", &S::ProfilePointFilter_g_fill_beams_sw, 1, 0,
               1, 1)),
    Filter(Int("ProfilePointFilter_g_along_track_avg_sw",
               &S::ProfilePointFilter_g_along_track_avg_sw, 1, 0, 1, 1)),
    Filter(Real("ProfilePointFilter_g_bgd_lev", &S::ProfilePointFilter_g_bgd_lev, 0.10, 0.1,
                1.000001, 0.1, "%4.2f")),
    AnyInt("AltitudeWindowX", &S::AltitudeWindowX, 10),
    AnyInt("AltitudeWindowY", &S::AltitudeWindowY, 62),
    AnyInt("TrackPlotterWindowX", &S::TrackPlotterWindowX, 754),
    AnyInt("TrackPlotterWindowY", &S::TrackPlotterWindowY, 390),
    Int("DisplaySwathCoverage", &S::DisplaySwathCoverage, 0, 0, 1, 0),
    Int("SwathCoverageHeading", &S::SwathCoverageHeading, 1, 0, 1, 1),
    Int("IntegratedRoll", &S::IntegratedRoll, 0, 0, 1, 0),
    Int("TrackPlotterZoom", &S::TrackPlotterZoom, 5, 0, 11, 5),
    Int("MaximumFilesize", &S::MaximumFilesize, 500, 100, 1000, 500),
    Int("UseInternalPitchRollHeading", &S::UseInternalPitchRollHeading, 0, 0, 1, 0),
    Int("DisplayLocalTime", &S::DisplayLocalTime, 0, 0, 0, 0, kAlwaysLocalTime),
    // Empty: every sender may command the console.
    DevicePath("ExternalControlAllow", &S::ExternalControlAllow),
};

// ============================================================ [SECTION] Conversion

// Decimal integer by the leading-digits rule: blanks, an optional sign, then
// digits; anything else ends the number, and text without digits reads 0.
// Returns 0 when the digits overflow an int (the value is then saturated).
static int ParseLeadingInt(const char* text, int* value) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  int negative = 0;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long v = 0;
  int overflow = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (!overflow) {
      v = v * 10 + (*p - '0');
      if (v > static_cast<long long>(INT_MAX) + 1) overflow = 1;
    }
  }
  if (negative) v = -v;
  if (overflow || v > INT_MAX || v < INT_MIN) {
    *value = negative ? INT_MIN : INT_MAX;
    return 0;
  }
  *value = static_cast<int>(v);
  return 1;
}

// Real by strtod's rule (text that is no number reads 0.0). Returns 0 for NaN
// and infinities, which no key accepts.
static int ParseReal(const char* text, double* value) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  *value = (end == text) ? 0.0 : v;
  return std::isfinite(*value) ? 1 : 0;
}

// Written as comparisons that are false for NaN, so NaN is never "in range".
static int InRange(double v, double lo, double hi) { return v >= lo && v <= hi; }

// Nearest multiple of 5 kHz, as the frequency entry stores it.
static int RoundFrequency(int f) {
  return 5 * static_cast<int>(std::trunc(static_cast<double>(f) * 0.2 + 0.5));
}

// Number formatting and parsing in the "C" convention whatever the process
// locale says: a decimal comma must never reach the file.
struct CNumericLocale {
  locale_t c = nullptr;
  locale_t previous = nullptr;
  CNumericLocale() {
    c = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    if (c) previous = ::uselocale(c);
  }
  ~CNumericLocale() {
    if (c) {
      ::uselocale(previous);
      ::freelocale(c);
    }
  }
};

// ============================================================ [SECTION] Load

// The depth window's limits are taken against the range in metres in force
// while the file is read: the start-up one. The step just read from the file
// comes into use only when the display tables are built after loading.
static constexpr double kLoadingRangeM = 50.0;

static void LoadInt(const ProfileFile& f, const KeyRow& row) {
  int& field = g_settings.*row.intField;
  const int def = row.current ? field : static_cast<int>(row.def);
  char defText[16];
  std::snprintf(defText, sizeof defText, "%d", def);
  char text[kProfileValueChars + 1];
  ProfileGetString(f, row.section, row.key, defText, text, sizeof text);
  int v = 0;
  const int readable = ParseLeadingInt(text, &v);

  double lo = row.lo, hi = row.hi, fallback = row.fallback;
  switch (row.special) {
    case kFrequencyRule:
      // The stored frequency names the head the operator last used; the
      // console takes that head's limits (PeekStoredFrequency) before the
      // loader runs, so "Range" and the frequency are read against them.
      return;
    case kRangeStep:
      lo = g_headLimits.minStep;
      hi = g_headLimits.maxStep;
      break;
    case kGainLimit:
      hi = g_headLimits.maxGain;
      break;
    case kPulseLimit:
      lo = g_headLimits.minPulse;
      break;
    case kFrequencyInUse:
      lo = g_headLimits.freqMinKHz;
      hi = g_headLimits.freqMaxKHz;
      fallback = def;
      break;
    default:
      break;
  }
  if (!row.ranged) {
    if (!readable) v = def;
  } else if (!readable || !InRange(v, lo, hi) || (row.special == kOddAverage && v % 2 == 0)) {
    v = static_cast<int>(fallback);
  }
  if (row.special == kFrequencyInUse) v = RoundFrequency(v);
  if (row.special == kAlwaysLocalTime) v = 1;
  field = v;
}

static void LoadReal(const ProfileFile& f, const KeyRow& row) {
  double& field = g_settings.*row.realField;
  char defText[40];
  std::snprintf(defText, sizeof defText, "%.17g", row.def);
  char text[kProfileValueChars + 1];
  ProfileGetString(f, row.section, row.key, defText, text, sizeof text);
  double v = 0.0;
  const int finite = ParseReal(text, &v);
  if (!finite) v = row.fallback;
  // The depth window follows the same rule as the detection's own dialog:
  // the minimum first, then the maximum against that minimum.
  if (row.special == kMinDepth) {
    double max = kProfileDepthLimitM;
    ApplyProfileDepthLimits(&v, &max, kLoadingRangeM);
  } else if (row.special == kMaxDepth) {
    double min = g_settings.ProfileMinDepthBelowSonar;
    ApplyProfileDepthLimits(&min, &v, kLoadingRangeM);
  } else if (!InRange(v, row.lo, row.hi)) {
    v = row.fallback;
  }
  field = v;
}

static void LoadText(const ProfileFile& f, const KeyRow& row) {
  char* field = g_settings.*row.textField;
  char text[kProfileValueChars + 1];
  ProfileGetString(f, row.section, row.key, field, text, sizeof text);
  // An empty address would leave nothing to connect to; the built-in one
  // stays. An empty device path means "use the port index".
  if (text[0] || row.special == kDevicePath) std::snprintf(field, kSettingsTextChars + 1, "%s", text);
}

int PeekStoredFrequency(const char* path, int* kHz) {
  if (kHz == nullptr) return 0;
  CNumericLocale numeric;
  ProfileFile f;
  if (!ProfileLoad(f, path)) return 0;
  char text[kProfileValueChars + 1];
  ProfileGetString(f, kSection, "Frequency", "", text, sizeof text);
  return ParseLeadingInt(text, kHz);
}

int LoadSettings(const char* path) {
  CNumericLocale numeric;
  ProfileFile f;
  const int read = ProfileLoad(f, path);
  for (const KeyRow& row : kKeys) {
    if (row.kind == kInt) LoadInt(f, row);
    if (row.kind == kReal) LoadReal(f, row);
    if (row.kind == kText) LoadText(f, row);
    if (row.liveInt) g_liveHead.*row.liveInt = g_settings.*row.intField;
    if (row.liveReal) g_liveHead.*row.liveReal = g_settings.*row.realField;
    if (row.intField == &S::RunMode) g_remembered.previousRunMode = g_settings.RunMode;
    if (row.intField == &S::DisplayType) g_remembered.previousDisplayType = g_settings.DisplayType;
    if (row.intField == &S::AltitudeWindow)
      g_remembered.previousAltitudeWindow = g_settings.AltitudeWindow;
  }
  g_liveHead.FrequencyCoefficient = g_headLimits.FrequencyCoefficient;
  return read;
}

const char* SettingOutOfRange() {
  for (const KeyRow& row : kKeys) {
    double lo = row.lo, hi = row.hi;
    switch (row.special) {
      case kFrequencyRule: continue;
      case kRangeStep: lo = g_headLimits.minStep, hi = g_headLimits.maxStep; break;
      case kGainLimit: hi = g_headLimits.maxGain; break;
      case kPulseLimit: lo = g_headLimits.minPulse; break;
      case kFrequencyInUse: lo = g_headLimits.freqMinKHz, hi = g_headLimits.freqMaxKHz; break;
      default: break;
    }
    if (row.kind == kText) {
      if (row.special == kAddress && (g_settings.*row.textField)[0] == '\0') return row.key;
      continue;
    }
    if (row.kind == kReal) {
      const double v = g_settings.*row.realField;
      if (row.special == kMinDepth) {
        if (!ProfileMinDepthValid(v, kLoadingRangeM)) return row.key;
      } else if (row.special == kMaxDepth) {
        if (!ProfileMaxDepthValid(v, g_settings.ProfileMinDepthBelowSonar, kLoadingRangeM)) return row.key;
      } else if (!InRange(v, lo, hi)) {
        return row.key;
      }
      continue;
    }
    const int v = g_settings.*row.intField;
    if (row.special == kAlwaysLocalTime) {
      if (v != 1) return row.key;
      continue;
    }
    if (row.special == kFrequencyInUse && v % 5 != 0) return row.key;
    // A rounded frequency may sit up to 2 kHz beyond a limit off the grid.
    if (row.special == kFrequencyInUse && (v < RoundFrequency(static_cast<int>(lo)) ||
                                           v > RoundFrequency(static_cast<int>(hi))))
      return row.key;
    if (row.special == kFrequencyInUse) continue;
    if (row.ranged && !InRange(v, lo, hi)) return row.key;
    if (row.special == kOddAverage && v % 2 == 0) return row.key;
  }
  return nullptr;
}

// ============================================================ [SECTION] Depth window

int ProfileMinDepthValid(double minM, double rangeM) {
  return minM >= 0.1 && minM <= kProfileDepthLimitM - 0.05 * rangeM;
}

int ProfileMaxDepthValid(double maxM, double minM, double rangeM) {
  return maxM >= minM + 0.05 * rangeM && maxM <= kProfileDepthLimitM;
}

void ApplyProfileDepthLimits(double* minM, double* maxM, double rangeM) {
  if (!ProfileMinDepthValid(*minM, rangeM)) *minM = 0.2;
  if (!ProfileMaxDepthValid(*maxM, *minM, rangeM)) *maxM = kProfileDepthLimitM;
}

// ============================================================ [SECTION] Save

int SaveSettings(const char* path) {
  CNumericLocale numeric;
  ProfileFile f;
  ProfileLoad(f, path);
  if (!f.writable) return 0;
  const int fileMode = g_settings.RunMode == 1;
  for (const KeyRow& row : kKeys) {
    if (row.special == kFrequencyRule) continue;
    char text[kSettingsTextChars + 64];
    if (row.kind == kInt) {
      int v = g_settings.*row.intField;
      if (fileMode && row.liveInt) v = g_liveHead.*row.liveInt;
      std::snprintf(text, sizeof text, "%d", v);
    } else if (row.kind == kReal) {
      double v = g_settings.*row.realField;
      if (fileMode && row.liveReal) v = g_liveHead.*row.liveReal;
      std::snprintf(text, sizeof text, row.format, v);
    } else {
      std::snprintf(text, sizeof text, "%s", g_settings.*row.textField);
    }
    ProfileSetString(f, row.section, row.key, text);
  }
  return ProfileSave(f, path);
}
