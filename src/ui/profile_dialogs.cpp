// Dialogs of profile detection, on the platform dialog model: the Profile
// Point Setup (method, point display, depth window in the operator's unit),
// its Advanced Filter Settings, the Profile Tilt Angle and the Device Offsets.
// Values come from and go to g_settings, the filter module's in-memory
// values and g_deviceOffsets (the tilt dialog also marks g_playback's
// operator flag in File mode). The limits are the domain modules'; these
// handlers convert units, show the refusals and store what passed.
//
// Index: [units] [Profile Point Setup] [Advanced Filter Settings]
//        [Profile Tilt Angle] [Device Offsets]
#include "ui/profile_dialogs.h"
#include "ui/modal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "files/sonar_file.h"
#include "platform/dialog.h"
#include "processing/beamform.h"
#include "processing/device_offsets.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "settings/settings.h"

// ================================================================ [units]
static constexpr double kFeetPerMetre = 3.2808398950131231941;
static constexpr double kYardsPerMetre = 1.093613298337707665;

static int UnitIndex() { return std::clamp(g_settings.Units, 0, 2); }

static double ToUnit(double metres) {
  switch (UnitIndex()) {
    case 1: return metres * kFeetPerMetre;
    case 2: return metres * kYardsPerMetre;
    default: return metres;
  }
}

static double FromUnit(double value) {
  switch (UnitIndex()) {
    case 1: return value * 0.3048;
    case 2: return value * 0.9144;
    default: return value;
  }
}

static const char* UnitWord() {
  static const char* const kWords[] = {"Meters", "Feet", "Yards"};
  return kWords[UnitIndex()];
}

static void SetValue(plat::Dialog& d, int id, const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  plat::SetText(d, id, text);
}

// Reads an edit field; text that is not a number reads as 0, which every
// range check below refuses.
static double ReadValue(plat::Dialog& d, int id) {
  double v = 0.0;
  return plat::GetDouble(d, id, &v) ? v : 0.0;
}

// ================================================================ [Profile Point Setup]
static void CheckRadio(plat::Dialog& d, int first, int count, int index) {
  for (int i = 0; i < count; ++i) plat::SetChecked(d, first + i, i == index);
}

static int CheckedRadio(plat::Dialog& d, int first, int count, int fallback) {
  for (int i = 0; i < count; ++i)
    if (plat::IsChecked(d, first + i)) return i;
  return fallback;
}

static void AddRadio(plat::Dialog& d, int id, const char* label, int group) {
  plat::AddControl(d, id, plat::kRadio, label)->buddy = group;
}

static void ProfileSetupInit(plat::Dialog& d) {
  std::snprintf(d.title, sizeof d.title, "%s", "Profile Point Setup");
  AddRadio(d, kPsHighMix, "High Mix", 1);
  AddRadio(d, kPsMedMix, "Med Mix", 1);
  AddRadio(d, kPsLowMix, "Low Mix", 1);
  AddRadio(d, kPsPointsOnly, "Points Only", 1);
  AddRadio(d, kPsSmallDots, "Small Dots", 2);
  AddRadio(d, kPsLargeDots, "Large Dots", 2);
  AddRadio(d, kPsEnable, "Enable", 3);
  AddRadio(d, kPsDisable, "Disable", 3);
  AddRadio(d, kPsFirstReturn, "First Return", 4);
  AddRadio(d, kPsMaximumReturn, "Maximum Return", 4);
  AddRadio(d, kPsBottomFollowing, "Bottom Following", 4);
  plat::AddControl(d, kPsArtificialBottom, plat::kCheck, "Artificial Bottom");
  plat::AddControl(d, kPsMinDepth, plat::kEdit, "Minimum Depth:");
  plat::AddControl(d, kPsMinDepthSpin, plat::kSpin, "")->buddy = kPsMinDepth;
  plat::AddControl(d, kPsMaxDepth, plat::kEdit, "Maximum Depth:");
  plat::AddControl(d, kPsMaxDepthSpin, plat::kSpin, "")->buddy = kPsMaxDepth;
  plat::AddControl(d, kPsMinUnit, plat::kStatic, "");
  plat::AddControl(d, kPsMaxUnit, plat::kStatic, "");
  plat::AddControl(d, kPsBelowSonar, plat::kStatic, "");
  plat::AddControl(d, kPsAdvanced, plat::kButton, "Advanced Filter Settings...");
  plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
  plat::AddControl(d, kPsDefaults, plat::kButton, "Defaults");
  plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
  plat::SetText(d, kPsMinUnit, UnitWord());
  plat::SetText(d, kPsMaxUnit, UnitWord());
  plat::SetText(d, kPsBelowSonar, "(below sonar)");

  const Settings& s = g_settings;
  CheckRadio(d, kPsHighMix, 4, std::clamp(s.ProfileDisplayType, 0, 3));
  CheckRadio(d, kPsSmallDots, 2, s.ProfilePointDotSize == 1);
  CheckRadio(d, kPsEnable, 2, s.ProfilePointDetection == 1 ? 0 : 1);
  CheckRadio(d, kPsFirstReturn, 3, std::clamp(s.ProfilePointFilter, 0, 2));
  plat::SetChecked(d, kPsArtificialBottom, s.ProfilePointType == 1);

  const double rangeM = DetectionRangeM();
  double maxM = s.ProfileMaxDepthBelowSonar;
  if (maxM < s.ProfileMinDepthBelowSonar + 0.05 * rangeM) maxM = rangeM;
  if (maxM > kProfileDepthLimitM) maxM = kProfileDepthLimitM;
  SetValue(d, kPsMinDepth, "%4.1f", ToUnit(s.ProfileMinDepthBelowSonar));
  SetValue(d, kPsMaxDepth, "%4.1f", ToUnit(maxM));
}

// Checks both depths in the operator's unit; on a failure shows the message,
// puts both fields back as parsed and returns 0.
static int ProfileSetupValidate(plat::Dialog& d, double* minOut, double* maxOut) {
  const double range = ToUnit(DetectionRangeM());
  const double limit = ToUnit(kProfileDepthLimitM);
  const double minimum = ReadValue(d, kPsMinDepth);
  const double maximum = ReadValue(d, kPsMaxDepth);
  char text[160];
  text[0] = 0;
  if (minimum < 0.1 || minimum > limit - 0.05 * range) {
    std::snprintf(text, sizeof text, "Minimum Depth is out of range!\nUse 0.1 to %3.1f %s.",
                  limit - 0.05 * range, UnitWord());
  } else if (maximum < minimum + 0.05 * range) {
    std::snprintf(text, sizeof text,
                  "Maximum Depth must be at least %d %s greater than Minimum Depth!",
                  static_cast<int>(0.05 * range + 0.5), UnitWord());
  } else if (maximum < 0.5 || maximum > limit) {
    std::snprintf(text, sizeof text, "Maximum Depth is out of range!\nUse 0.5 to %3.1f %s.",
                  limit, UnitWord());
  }
  if (text[0]) {
    plat::MessageBox("Profile Setup", text, plat::kIconWarning);
    SetValue(d, kPsMinDepth, "%4.1f", minimum);
    SetValue(d, kPsMaxDepth, "%4.1f", maximum);
    return 0;
  }
  *minOut = minimum;
  *maxOut = maximum;
  return 1;
}

static int ProfileSetupHandler(plat::Dialog& d, int event, int id, int delta) {
  switch (event) {
    case plat::kDlgInit:
      ProfileSetupInit(d);
      return 1;
    case plat::kDlgSpin: {
      const int edit = id == kPsMinDepthSpin ? kPsMinDepth : id == kPsMaxDepthSpin ? kPsMaxDepth : 0;
      if (!edit) return 0;
      const double v = std::max(0.0, ReadValue(d, edit) + 0.1 * delta);
      SetValue(d, edit, "%4.1f", v);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == kPsAdvanced) {
        RunProfileFilterDialog();
        return 1;
      }
      if (id == kPsDefaults) {
        CheckRadio(d, kPsEnable, 2, 0);
        CheckRadio(d, kPsSmallDots, 2, 0);
        CheckRadio(d, kPsHighMix, 4, 2);
        CheckRadio(d, kPsFirstReturn, 3, 2);
        plat::SetChecked(d, kPsArtificialBottom, 0);
        SetValue(d, kPsMinDepth, "%4.1f", 0.1);
        SetValue(d, kPsMaxDepth, "%4.1f", ToUnit(kProfileDepthLimitM));
        g_settings.ProfilePointFilter_g_along_track_avg_sw = 1;
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      if (id == plat::kIdOk) {
        double minimum = 0.0, maximum = 0.0;
        if (!ProfileSetupValidate(d, &minimum, &maximum)) return 1;
        Settings& s = g_settings;
        s.ProfileDisplayType = CheckedRadio(d, kPsHighMix, 4, s.ProfileDisplayType);
        s.ProfilePointDotSize = CheckedRadio(d, kPsSmallDots, 2, s.ProfilePointDotSize);
        s.ProfilePointDetection = CheckedRadio(d, kPsEnable, 2, 1 - s.ProfilePointDetection) == 0;
        s.ProfilePointFilter = CheckedRadio(d, kPsFirstReturn, 3, s.ProfilePointFilter);
        s.ProfilePointType = plat::IsChecked(d, kPsArtificialBottom);
        s.ProfileMinDepthBelowSonar = FromUnit(minimum);
        s.ProfileMaxDepthBelowSonar = FromUnit(maximum);
        plat::EndDialog(d, 1);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

int RunProfilePointSetupDialog() {
  plat::Dialog d;
  d.resource = "PROFILEPOINTSETUP";
  return RunModalDialog(d, ProfileSetupHandler);
}

// ================================================================ [Advanced Filter Settings]
// "Advanced Filter Settings". The percentage and the background level change
// only through their spin buttons, so the handler keeps them as working
// values and ignores text typed into those fields.
struct FilterDialogWork {
  int percent = 10;
  double background = 0.10;
};
static FilterDialogWork s_work;

static int SampleCountForPercent() {
  const int n = g_beamGeom.samples;
  return n > 0 ? n : 500;
}

static void ShowPercent(plat::Dialog& d) { plat::SetInt(d, kPfPercent, s_work.percent); }

static void ShowBackground(plat::Dialog& d) {
  char text[16];
  std::snprintf(text, sizeof text, "%4.2f", s_work.background);
  plat::SetText(d, kPfBackground, text);
}

static void FillFilterDialog(plat::Dialog& d, int maxPoints, int segments, int third, int fill,
                             int mainSw, int flat, int shortSw, int show) {
  plat::SetInt(d, kPfMaxPoints, maxPoints);
  plat::SetInt(d, kPfSegments, segments);
  plat::SetInt(d, kPfThirdCount, third);
  plat::SetChecked(d, kPfFillBeams, fill);
  plat::SetChecked(d, kPfMainFilter, mainSw);
  plat::SetChecked(d, kPfFlatBottom, flat);
  plat::SetChecked(d, kPfShortOutliers, shortSw);
  plat::SetChecked(d, kPfShowRemoved, show);
  ShowPercent(d);
  ShowBackground(d);
}

static void SpinCount(plat::Dialog& d, int id, int delta) {
  int v = 0;
  if (!plat::GetInt(d, id, &v)) v = 1;
  plat::SetInt(d, id, std::clamp(v + delta, 1, 10));
}

static int FilterDialogHandler(plat::Dialog& d, int event, int id, int delta) {
  const Settings& s = g_settings;
  switch (event) {
    case plat::kDlgInit: {
      std::snprintf(d.title, sizeof d.title, "%s", "Advanced Filter Settings");
      plat::AddControl(d, kPfMaxPoints, plat::kEdit, "Max. Points:");
      plat::AddControl(d, kPfMaxPointsSpin, plat::kSpin, "")->buddy = kPfMaxPoints;
      plat::AddControl(d, kPfSegments, plat::kEdit, "No. of Segments:");
      plat::AddControl(d, kPfSegmentsSpin, plat::kSpin, "")->buddy = kPfSegments;
      // The template carries a third count without a visible control.
      plat::AddControl(d, kPfThirdCount, plat::kEdit, "")->visible = 0;
      plat::AddControl(d, kPfThirdCountSpin, plat::kSpin, "")->visible = 0;
      plat::FindControl(d, kPfThirdCountSpin)->buddy = kPfThirdCount;
      plat::AddControl(d, kPfFillBeams, plat::kCheck, "Fill between beams");
      plat::AddControl(d, kPfMainFilter, plat::kCheck, "Main Filter");
      plat::AddControl(d, kPfFlatBottom, plat::kCheck, "Flat Bottom Filter");
      plat::AddControl(d, kPfShortOutliers, plat::kCheck, "Remove short outliers:");
      plat::AddControl(d, kPfPercent, plat::kEdit, "above");
      plat::AddControl(d, kPfPercentSpin, plat::kSpin, "% of range")->buddy = kPfPercent;
      plat::AddControl(d, kPfBackground, plat::kEdit, "Background Level:");
      plat::AddControl(d, kPfBackgroundSpin, plat::kSpin, "(for Artificial Bottom)")->buddy =
          kPfBackground;
      plat::AddControl(d, kPfShowRemoved, plat::kCheck, "Show removed points");
      plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
      plat::AddControl(d, kPfDefaults, plat::kButton, "Defaults");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      s_work.percent = std::clamp(s.ProfilePointFilter_g_ol_fil_val * 100 / SampleCountForPercent(),
                                  2, 100);
      s_work.background = std::clamp(s.ProfilePointFilter_g_bgd_lev, 0.10, 1.00);
      FillFilterDialog(d, g_filter.maxPoints, g_filter.segments, g_filter.thirdCount,
                       s.ProfilePointFilter_g_fill_beams_sw, s.ProfilePointFilter_g_main_filter_sw,
                       s.ProfilePointFilter_g_pre_filter_sw, s.ProfilePointFilter_g_short_outliers_sw,
                       s.ProfilePointFilter_g_show_outliers_sw);
      return 1;
    }
    case plat::kDlgSpin:
      if (id == kPfMaxPointsSpin) SpinCount(d, kPfMaxPoints, delta);
      else if (id == kPfSegmentsSpin) SpinCount(d, kPfSegments, delta);
      else if (id == kPfThirdCountSpin) SpinCount(d, kPfThirdCount, delta);
      else if (id == kPfPercentSpin) {
        s_work.percent = std::clamp(s_work.percent + delta, 2, 100);
        ShowPercent(d);
      } else if (id == kPfBackgroundSpin) {
        // Whole hundredths, so repeated steps land on the printed values.
        const int hundredths = static_cast<int>(std::lround(s_work.background * 100.0)) + delta;
        s_work.background = std::clamp(hundredths, 10, 100) / 100.0;
        ShowBackground(d);
      } else {
        return 0;
      }
      return 1;
    case plat::kDlgCommand:
      if (id == kPfDefaults) {
        s_work.percent = 10;
        s_work.background = 0.10;
        g_filter.deepOutlierSw = 1;
        FillFilterDialog(d, 10, 7, 10, 1, 1, 1, 1, 0);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      if (id == plat::kIdOk) {
        int maxPoints = 0, segments = 0, third = g_filter.thirdCount;
        const int maxOk = plat::GetInt(d, kPfMaxPoints, &maxPoints) && maxPoints >= 1 &&
                          maxPoints <= 10;
        const int segOk = plat::GetInt(d, kPfSegments, &segments) && segments >= 1 &&
                          segments <= 10;
        if (!maxOk || !segOk) {
          plat::MessageBox("Advanced Filter Settings",
                           !maxOk ? "Max. Points is out of range!\nUse 1 to 10."
                                  : "No. of Segments is out of range!\nUse 1 to 10.",
                           plat::kIconWarning);
          plat::SetInt(d, kPfMaxPoints, g_filter.maxPoints);
          return 1;
        }
        if (!plat::GetInt(d, kPfThirdCount, &third) || third < 1 || third > 10)
          third = g_filter.thirdCount;
        g_filter.maxPoints = maxPoints;
        g_filter.segments = segments;
        g_filter.thirdCount = third;
        Settings& w = g_settings;
        w.ProfilePointFilter_g_fill_beams_sw = plat::IsChecked(d, kPfFillBeams);
        w.ProfilePointFilter_g_main_filter_sw = plat::IsChecked(d, kPfMainFilter);
        w.ProfilePointFilter_g_pre_filter_sw = plat::IsChecked(d, kPfFlatBottom);
        w.ProfilePointFilter_g_short_outliers_sw = plat::IsChecked(d, kPfShortOutliers);
        w.ProfilePointFilter_g_show_outliers_sw = plat::IsChecked(d, kPfShowRemoved);
        // Kept inside the key's range so the settings file reads it back.
        const int samples =
            static_cast<int>(s_work.percent * 0.01 * SampleCountForPercent());
        w.ProfilePointFilter_g_ol_fil_val = std::clamp(samples, 10, 500);
        w.ProfilePointFilter_g_bgd_lev = s_work.background;
        plat::EndDialog(d, 1);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

int RunProfileFilterDialog() {
  plat::Dialog d;
  d.resource = "PROFILEFILTER";
  return RunModalDialog(d, FilterDialogHandler);
}

// ================================================================ [Profile Tilt Angle]
static int TiltHandler(plat::Dialog& d, int event, int id, int delta) {
  Settings& s = g_settings;
  switch (event) {
    case plat::kDlgInit: {
      std::snprintf(d.title, sizeof d.title, "%s", "Profile Tilt Angle");
      plat::AddControl(d, kTiltStored, plat::kStatic, "");
      plat::AddControl(d, kTiltValue, plat::kEdit, "");
      plat::AddControl(d, kTiltSpin, plat::kSpin, "")->buddy = kTiltValue;
      plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
      plat::AddControl(d, kTiltDefault, plat::kButton, "Default");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      const double stored = s.RunMode == 1 ? g_playback.tiltDeg : s.ProfileTiltAngle;
      SetValue(d, kTiltStored, "(%3.1f) :", stored);
      SetValue(d, kTiltValue, "%3.1f", s.ProfileTiltAngle);
      return 1;
    }
    case plat::kDlgSpin: {
      if (id != kTiltSpin) return 0;
      // Tenths of a degree, so steps land on the printed values.
      const long tenths = std::lround(ReadValue(d, kTiltValue) * 10.0) + delta;
      SetValue(d, kTiltValue, "%3.1f", std::clamp(tenths, -900L, 900L) / 10.0);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == kTiltDefault) {
        SetValue(d, kTiltValue, "%3.1f", 0.0);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      if (id == plat::kIdOk) {
        double tilt = 0.0;
        if (!plat::GetDouble(d, kTiltValue, &tilt) || tilt < -90.0 || tilt > 90.0) {
          plat::MessageBox("Profile Tilt Angle",
                           "Profile Tilt Angle is out of range!\nUse -90 to 90 Degrees.",
                           plat::kIconWarning);
          SetValue(d, kTiltValue, "%3.1f", s.ProfileTiltAngle);
          return 1;
        }
        const double previous = s.ProfileTiltAngle;
        s.ProfileTiltAngle = tilt;
        if (s.RunMode == 1 && tilt != previous) g_playback.operatorChangedTilt = 1;
        plat::EndDialog(d, 1);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

int RunProfileTiltAngleDialog() {
  plat::Dialog d;
  d.resource = "PROFILETILTANGLE";
  return RunModalDialog(d, TiltHandler);
}

// ================================================================ [Device Offsets]
// The dialog edits a working copy of both devices; switching the device keeps
// what was typed for the other one, and "Ok" checks and stores both.
struct OffsetsWork {
  double shown[kDeviceCount][kOffFieldCount] = {};  // in the shown unit
  int device = 0;
};
static OffsetsWork s_offsets;

static void ShowDevice(plat::Dialog& d) {
  for (int f = 0; f < kOffFieldCount; ++f)
    SetValue(d, kDoStarboard + f, "%4.2f", s_offsets.shown[s_offsets.device][f]);
}

static void ReadDevice(plat::Dialog& d) {
  for (int f = 0; f < kOffFieldCount; ++f)
    s_offsets.shown[s_offsets.device][f] = ReadValue(d, kDoStarboard + f);
}

static int DeviceOffsetsHandler(plat::Dialog& d, int event, int id, int /*delta*/) {
  const int devices = g_settings.ComPortGPSEnable ? kDeviceCount : 1;
  switch (event) {
    case plat::kDlgInit: {
      std::snprintf(d.title, sizeof d.title, "%s", "Device Offsets");
      plat::AddControl(d, kDoDevice, plat::kDropDown, "");
      for (int i = 0; i < devices; ++i) plat::AddItem(d, kDoDevice, DeviceOffsetName(i));
      plat::SetSelection(d, kDoDevice, 0);
      static const char* const kLabels[kOffFieldCount] = {
          "Starboard", "Forward", "Vertical", "Yaw", "Pitch", "Roll", "Latency"};
      for (int f = 0; f < kOffFieldCount; ++f)
        plat::AddControl(d, kDoStarboard + f, plat::kEdit, kLabels[f]);
      for (int f = 0; f < 3; ++f) {
        plat::AddControl(d, kDoStarboardUnit + f, plat::kStatic, "");
        plat::SetText(d, kDoStarboardUnit + f, UnitWord());
      }
      plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      for (int dev = 0; dev < kDeviceCount; ++dev)
        for (int f = 0; f < kOffFieldCount; ++f) {
          const double v = g_deviceOffsets.values[dev][f];
          s_offsets.shown[dev][f] = DeviceOffsetLimitOf(f).isLength ? ToUnit(v) : v;
        }
      s_offsets.device = 0;
      ShowDevice(d);
      return 1;
    }
    case plat::kDlgCommand:
      if (id == kDoDevice) {
        ReadDevice(d);
        s_offsets.device = std::clamp(plat::GetSelection(d, kDoDevice), 0, devices - 1);
        ShowDevice(d);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      if (id == plat::kIdOk) {
        ReadDevice(d);
        for (int dev = 0; dev < devices; ++dev) {
          for (int f = 0; f < kOffFieldCount; ++f) {
            const DeviceOffsetLimit& lim = DeviceOffsetLimitOf(f);
            const double limit = lim.isLength ? ToUnit(lim.limit) : lim.limit;
            const double v = s_offsets.shown[dev][f];
            if (v >= -limit && v <= limit) continue;
            char text[160];
            std::snprintf(text, sizeof text, "%s is out of range!\nUse %3.1f to %3.1f %s.",
                          lim.name, -limit, limit, lim.isLength ? UnitWord() : lim.fixedUnit);
            plat::MessageBox(DeviceOffsetName(dev), text, plat::kIconWarning);
            s_offsets.device = dev;
            plat::SetSelection(d, kDoDevice, dev);
            ShowDevice(d);
            return 1;
          }
        }
        for (int dev = 0; dev < devices; ++dev)
          for (int f = 0; f < kOffFieldCount; ++f) {
            const double v = s_offsets.shown[dev][f];
            g_deviceOffsets.values[dev][f] =
                static_cast<float>(DeviceOffsetLimitOf(f).isLength ? FromUnit(v) : v);
          }
        plat::EndDialog(d, 1);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

int RunDeviceOffsetsDialog() {
  plat::Dialog d;
  d.resource = "DEVICEOFFSETS";
  return RunModalDialog(d, DeviceOffsetsHandler);
}
