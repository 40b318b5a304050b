// The navigation sensors' dialogs. "COMPORTSETUP" lists the serial devices
// present (by device name, plus a device named outright in the settings),
// the line settings of each reader and the GPS sentence and probe type; its
// "Ok" refuses one device for both readers, then closes the readers, stores
// the choices and opens each enabled device that has a port again.
// "SOUNDVELOCITY" edits the speed of sound in the display unit within the
// limits converted to that unit. Owns only the dialogs' working copies.
#include "ui/nav_dialogs.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "console/cycle_lock.h"
#include "console/menu_ids.h"
#include "console/ping_cycle.h"
#include "files/sonar_file.h"
#include "nav/com_ports.h"
#include "nav/gps.h"
#include "nav/sound_velocity.h"
#include "platform/dialog.h"
#include "settings/settings.h"
#include "ui/modal.h"

namespace {

// ============================================================ ComPort Setup

constexpr const char* kBitRates[] = {"4800", "9600", "19200", "38400", "57600", "115200"};
constexpr const char* kDataBits[] = {"5", "6", "7", "8"};
constexpr const char* kParities[] = {"Even", "Odd", "None"};
constexpr const char* kStopBits[] = {"1", "2"};
constexpr const char* kNotAvailable = " N/A";
constexpr int kReopenDelayMs = 250;

// The devices the lists offer: the present ports, then a device a settings
// key names that is not among them. Both lists show the same devices, so
// one device chosen twice is one path.
struct DeviceChoices {
  int count = 0;
  char paths[serial::kMaxPorts + 2][serial::kPathChars] = {};
};

struct ComSetup {
  DeviceChoices devices;
  // What "Ok" accepted, applied after the dialog closed.
  int gpsEnable = 0, svEnable = 0;
  int gpsChoice = -1, svChoice = -1;  // index into devices
  int gpsLine[4] = {}, svLine[4] = {};
  int headingType = 1, deviceType = 0;
};
ComSetup s_com;

void AddDevice(DeviceChoices* d, const char* path) {
  if (path == nullptr || path[0] == '\0' || d->count >= serial::kMaxPorts + 2) return;
  for (int i = 0; i < d->count; ++i)
    if (std::strcmp(d->paths[i], path) == 0) return;
  std::snprintf(d->paths[d->count++], serial::kPathChars, "%s", path);
}

int DeviceIndex(const char* path) {
  for (int i = 0; i < s_com.devices.count; ++i)
    if (std::strcmp(s_com.devices.paths[i], path) == 0) return i;
  return -1;
}

// The name a device is listed by: the last part of its path.
void DeviceName(const char* path, char* out, int size) {
  const char* slash = std::strrchr(path, '/');
  std::snprintf(out, static_cast<size_t>(size), "%s", slash ? slash + 1 : path);
}

struct DeviceIds {
  int enable, port, lines[4], radios[3], radioCount;
};
constexpr DeviceIds kGpsIds = {kIdGpsEnable, kIdGpsPort, {kIdGpsBitRate, kIdGpsDataBits, kIdGpsParity, kIdGpsStopBits},
                               {kIdGpsGll, kIdGpsGga, kIdGpsRmc}, 3};
constexpr DeviceIds kSvIds = {kIdSvEnable, kIdSvPort, {kIdSvBitRate, kIdSvDataBits, kIdSvParity, kIdSvStopBits},
                              {kIdSvDigibar, kIdSvSbe37, 0}, 2};

void FillList(plat::Dialog& d, int id, const char* const* items, int n, int selection) {
  plat::ClearItems(d, id);
  for (int i = 0; i < n; ++i) plat::AddItem(d, id, items[i]);
  plat::SetSelection(d, id, selection >= 0 && selection < n ? selection : 0);
  plat::SetEnabled(d, id, 1);
}

int Available(plat::Dialog& d, const DeviceIds& ids) {
  return s_com.devices.count > 0 && plat::IsChecked(d, ids.enable);
}

// A device shows its lists while it is enabled and a device can be chosen;
// otherwise every list reads " N/A" and its radio buttons stay as they are.
void ShowDevice(plat::Dialog& d, const DeviceIds& ids, int portChoice, const int* line) {
  const int available = Available(d, ids);
  if (!available) {
    for (int id : {ids.port, ids.lines[0], ids.lines[1], ids.lines[2], ids.lines[3]}) {
      plat::ClearItems(d, id);
      plat::AddItem(d, id, kNotAvailable);
      plat::SetSelection(d, id, 0);
      plat::SetEnabled(d, id, 0);
    }
  } else {
    plat::ClearItems(d, ids.port);
    for (int i = 0; i < s_com.devices.count; ++i) {
      char name[plat::kItemLen];
      DeviceName(s_com.devices.paths[i], name, sizeof name);
      plat::AddItem(d, ids.port, name);
    }
    plat::SetSelection(d, ids.port, portChoice >= 0 && portChoice < s_com.devices.count ? portChoice : 0);
    plat::SetEnabled(d, ids.port, 1);
    FillList(d, ids.lines[0], kBitRates, 6, line[0]);
    FillList(d, ids.lines[1], kDataBits, 4, line[1]);
    FillList(d, ids.lines[2], kParities, 3, line[2]);
    FillList(d, ids.lines[3], kStopBits, 2, line[3]);
  }
  for (int i = 0; i < ids.radioCount; ++i) plat::SetEnabled(d, ids.radios[i], available);
}

void ReadLines(plat::Dialog& d, const DeviceIds& ids, int* line) {
  for (int i = 0; i < 4; ++i) line[i] = plat::GetSelection(d, ids.lines[i]);
}

// The device chosen for a reader as the settings name it now: a named
// device first, else the index into the present list.
int CurrentChoice(const char* named, int index) {
  if (named[0]) return DeviceIndex(named);
  return index >= 0 && index < g_comPorts.present.count ? index : -1;
}

void AddDeviceControls(plat::Dialog& d, const DeviceIds& ids, int captionId, const char* caption,
                       const char* enable, int radioCaptionId, const char* radioCaption,
                       const char* const* radioTexts, int group) {
  plat::AddControl(d, captionId, plat::kStatic, "");
  plat::SetText(d, captionId, caption);
  plat::AddControl(d, ids.enable, plat::kCheck, enable);
  plat::AddControl(d, ids.port, plat::kDropDown, "ComPort:");
  plat::AddControl(d, ids.lines[0], plat::kDropDown, "Bits per second:");
  plat::AddControl(d, ids.lines[1], plat::kDropDown, "Data bits:");
  plat::AddControl(d, ids.lines[2], plat::kDropDown, "Parity:");
  plat::AddControl(d, ids.lines[3], plat::kDropDown, "Stop bits:");
  plat::AddControl(d, radioCaptionId, plat::kStatic, "");
  plat::SetText(d, radioCaptionId, radioCaption);
  for (int i = 0; i < ids.radioCount; ++i)
    plat::AddControl(d, ids.radios[i], plat::kRadio, radioTexts[i])->buddy = group;
}

}  // namespace

int ComPortSetupHandler(plat::Dialog& d, int event, int id, int) {
  const Settings& s = g_settings;
  if (event == plat::kDlgInit) {
    constexpr const char* nmea[] = {"GLL", "GGA", "RMC"};
    constexpr const char* types[] = {"Digibar Pro", "SBE 37"};
    AddDeviceControls(d, kGpsIds, kIdGpsCaption, "GPS Input", "GPS Enabled", kIdGpsNmeaCaption, "NMEA Position",
                      nmea, 1);
    AddDeviceControls(d, kSvIds, kIdSvCaption, "Sound Velocity Input", "Sound Velocity Enabled", kIdSvTypeCaption,
                      "Device Type", types, 2);
    plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
    plat::AddControl(d, kIdComDefaults, plat::kButton, "Defaults");
    plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
    plat::SetChecked(d, kIdGpsEnable, s.ComPortGPSEnable == 1);
    plat::SetChecked(d, kIdSvEnable, s.ComPortSVEnable == 1);
    plat::SetEnabled(d, kIdGpsEnable, s_com.devices.count > 0);
    plat::SetEnabled(d, kIdSvEnable, s_com.devices.count > 0);
    plat::SetChecked(d, kGpsIds.radios[s.GPSHeadingType >= 0 && s.GPSHeadingType <= 2 ? s.GPSHeadingType : 1], 1);
    plat::SetChecked(d, kSvIds.radios[s.SVDeviceType == 1 ? 1 : 0], 1);
    const int gpsLine[4] = {s.ComPortGPS_bits_per_second, s.ComPortGPS_data_bits, s.ComPortGPS_parity,
                            s.ComPortGPS_stop_bits};
    const int svLine[4] = {s.ComPortSV_bits_per_second, s.ComPortSV_data_bits, s.ComPortSV_parity,
                           s.ComPortSV_stop_bits};
    ShowDevice(d, kGpsIds, CurrentChoice(s.ComPortGPSDevice, s.ComPortGPS), gpsLine);
    // The probe's index means "the next free port" until it was assigned.
    const int svIndex = CurrentChoice(s.ComPortSVDevice, s.ComPortSV);
    ShowDevice(d, kSvIds, svIndex >= 0 ? svIndex : (g_comPorts.present.count > 1 ? 1 : 0), svLine);
    return 1;
  }
  if (event != plat::kDlgCommand) return 0;
  if (id == kIdGpsEnable || id == kIdSvEnable) {
    // Turning a reader on shows its lists with the stored line settings.
    const DeviceIds& ids = id == kIdGpsEnable ? kGpsIds : kSvIds;
    const int gpsLine[4] = {s.ComPortGPS_bits_per_second, s.ComPortGPS_data_bits, s.ComPortGPS_parity,
                            s.ComPortGPS_stop_bits};
    const int svLine[4] = {s.ComPortSV_bits_per_second, s.ComPortSV_data_bits, s.ComPortSV_parity,
                           s.ComPortSV_stop_bits};
    const int choice = id == kIdGpsEnable ? CurrentChoice(s.ComPortGPSDevice, s.ComPortGPS)
                                          : CurrentChoice(s.ComPortSVDevice, s.ComPortSV);
    ShowDevice(d, ids, choice, id == kIdGpsEnable ? gpsLine : svLine);
    return 1;
  }
  if (id == kIdComDefaults) {
    // Line settings only; the ports stay as chosen.
    if (Available(d, kGpsIds)) {
      plat::SetSelection(d, kIdGpsBitRate, 0);
      plat::SetSelection(d, kIdGpsDataBits, 3);
      plat::SetSelection(d, kIdGpsParity, 2);
      plat::SetSelection(d, kIdGpsStopBits, 0);
    }
    if (Available(d, kSvIds)) {
      plat::SetSelection(d, kIdSvBitRate, 3);
      plat::SetSelection(d, kIdSvDataBits, 3);
      plat::SetSelection(d, kIdSvParity, 2);
      plat::SetSelection(d, kIdSvStopBits, 0);
    }
    return 1;
  }
  if (id == plat::kIdOk) {
    plat::SetCursor(plat::kCursorWait);
    const int gpsOn = Available(d, kGpsIds), svOn = Available(d, kSvIds);
    const int gpsChoice = gpsOn ? plat::GetSelection(d, kIdGpsPort) : -1;
    const int svChoice = svOn ? plat::GetSelection(d, kIdSvPort) : -1;
    if (ComPortsConflict(gpsOn && gpsChoice >= 0, gpsChoice >= 0 ? s_com.devices.paths[gpsChoice] : nullptr,
                         svOn && svChoice >= 0, svChoice >= 0 ? s_com.devices.paths[svChoice] : nullptr)) {
      plat::SetCursor(plat::kCursorArrow);
      plat::MessageBox(kComPortSetupCaption, kComPortsSameText, plat::kIconWarning);
      return 1;
    }
    s_com.gpsEnable = plat::IsChecked(d, kIdGpsEnable);
    s_com.svEnable = plat::IsChecked(d, kIdSvEnable);
    s_com.gpsChoice = gpsChoice;
    s_com.svChoice = svChoice;
    if (gpsOn) ReadLines(d, kGpsIds, s_com.gpsLine);
    if (svOn) ReadLines(d, kSvIds, s_com.svLine);
    s_com.headingType = plat::IsChecked(d, kIdGpsGll) ? 0 : plat::IsChecked(d, kIdGpsRmc) ? 2 : 1;
    s_com.deviceType = plat::IsChecked(d, kIdSvSbe37) ? 1 : 0;
    plat::SetCursor(plat::kCursorArrow);
    plat::EndDialog(d, 1);
    return 1;
  }
  if (id == plat::kIdCancel) {
    plat::EndDialog(d, 0);
    return 1;
  }
  return 0;
}

namespace {

// A listed port is kept as its index in the present list (the setting's
// meaning); a device only a settings key named stays named by its path.
void StorePort(int choice, int* index, char* named) {
  if (choice < 0) return;
  if (choice < g_comPorts.present.count) {
    *index = choice;
    named[0] = '\0';
  } else {
    // Only a settings key put it in the list, so it fits a key.
    std::snprintf(named, kSettingsTextChars + 1, "%.80s", s_com.devices.paths[choice]);
  }
}

// The readers wait outside the console lock, so the head pings on while
// the devices settle.
void WaitBeforeOpening() {
  const int levels = SuspendCycleLock();
  plat::SleepMs(kReopenDelayMs);
  ResumeCycleLock(levels);
}

}  // namespace

void ApplyComPortSetup() {
  Settings& s = g_settings;
  plat::SetCursor(plat::kCursorWait);
  CloseGps();
  CloseSoundVelocity();
  s.GPSHeadingType = s_com.headingType;
  s.SVDeviceType = s_com.deviceType;
  if (s_com.devices.count > 0) {
    s.ComPortGPSEnable = s_com.gpsEnable;
    s.ComPortSVEnable = s_com.svEnable;
  }
  if (s_com.gpsChoice >= 0) {
    StorePort(s_com.gpsChoice, &s.ComPortGPS, s.ComPortGPSDevice);
    s.ComPortGPS_bits_per_second = s_com.gpsLine[0];
    s.ComPortGPS_data_bits = s_com.gpsLine[1];
    s.ComPortGPS_parity = s_com.gpsLine[2];
    s.ComPortGPS_stop_bits = s_com.gpsLine[3];
  }
  if (s_com.svChoice >= 0) {
    StorePort(s_com.svChoice, &s.ComPortSV, s.ComPortSVDevice);
    s.ComPortSV_bits_per_second = s_com.svLine[0];
    s.ComPortSV_data_bits = s_com.svLine[1];
    s.ComPortSV_parity = s_com.svLine[2];
    s.ComPortSV_stop_bits = s_com.svLine[3];
  }
  AssignPorts(g_comPorts.present);
  ClearProbeActive();
  if (g_comPorts.gpsPresent) {
    WaitBeforeOpening();
    (void)OpenGpsPort();
  }
  if (g_comPorts.svPresent) {
    WaitBeforeOpening();
    (void)OpenSoundVelocityPort();
  }
  plat::EnableMenuItem(kCmdTrackPlotter, s.ComPortGPSEnable == 1);
  plat::SetCursor(plat::kCursorArrow);
}

// ============================================================ Sound Velocity

namespace {

double s_shownValue = 0.0;  // the current value in the shown unit, put back after a refusal

void ShowSpeed(plat::Dialog& d, double shown) {
  char text[32];
  FormatSoundVelocity(shown, text, sizeof text);
  plat::SetText(d, kIdSpeedOfSound, text);
}

// The edit's text is the working value; a text without a number reads 0,
// which "Ok" refuses with the limits rather than quietly keeping the old value.
double WorkingValue(plat::Dialog& d) {
  double v = 0.0;
  if (!ParseSoundVelocityText(plat::GetText(d, kIdSpeedOfSound), &v)) v = 0.0;
  return v;
}

}  // namespace

int SoundVelocityHandler(plat::Dialog& d, int event, int id, int delta) {
  const int units = g_settings.Units;
  const double factor = SoundVelocityUnitFactor(units);
  switch (event) {
    case plat::kDlgInit: {
      const double reference = g_settings.RunMode == 1 && g_playback.soundSpeedPresent ? g_playback.soundSpeed
                                                                                       : g_settings.SoundVelocityMeters;
      char now[40];
      std::snprintf(now, sizeof now, "(%06.1f) :", reference * factor);
      plat::AddControl(d, kIdSpeedOfSoundNow, plat::kStatic, "Speed of Sound");
      plat::SetText(d, kIdSpeedOfSoundNow, now);
      plat::AddControl(d, kIdSpeedOfSound, plat::kEdit, "");
      plat::AddControl(d, kIdSpeedOfSoundSpin, plat::kSpin, "")->buddy = kIdSpeedOfSound;
      plat::AddControl(d, kIdSpeedOfSoundUnit, plat::kStatic, "");
      plat::SetText(d, kIdSpeedOfSoundUnit, SoundVelocityUnitText(units));
      plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
      plat::AddControl(d, kIdSpeedOfSoundDefault, plat::kButton, "Default");
      plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
      ShowSpeed(d, s_shownValue);
      return 1;
    }
    case plat::kDlgSpin:
      if (id != kIdSpeedOfSoundSpin) return 0;
      ShowSpeed(d, WorkingValue(d) + (delta > 0 ? 0.1 : -0.1));
      return 1;
    case plat::kDlgCommand: {
      if (id == kIdSpeedOfSoundDefault) {
        ShowSpeed(d, kSoundVelocityDefault * factor);
        return 1;
      }
      if (id == plat::kIdOk) {
        double metres = 0.0;
        char message[128];
        if (!ValidateSoundVelocity(WorkingValue(d), units, &metres, message, sizeof message)) {
          plat::MessageBox(kSoundVelocityCaption, message, plat::kIconWarning);
          ShowSpeed(d, s_shownValue);
          return 1;
        }
        g_settings.SoundVelocityMeters = metres;
        plat::EndDialog(d, 1);
        return 1;
      }
      if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
        return 1;
      }
      return 0;
    }
    default: return 0;
  }
}

void PrepareComPortSetupDialog(plat::Dialog& dialog) {
  s_com = ComSetup{};
  for (int i = 0; i < g_comPorts.present.count; ++i) AddDevice(&s_com.devices, g_comPorts.present.paths[i]);
  AddDevice(&s_com.devices, g_settings.ComPortGPSDevice);
  AddDevice(&s_com.devices, g_settings.ComPortSVDevice);
  dialog = plat::Dialog{};
  dialog.resource = "COMPORTSETUP";
  std::snprintf(dialog.title, sizeof dialog.title, "%s", kComPortSetupCaption);
}

int RunComPortSetupDialog() {
  static plat::Dialog dialog;
  PrepareComPortSetupDialog(dialog);
  if (RunModalDialog(dialog, ComPortSetupHandler) != 1) return 0;
  ApplyComPortSetup();
  return 1;
}

void PrepareSoundVelocityDialog(plat::Dialog& dialog) {
  s_shownValue = g_settings.SoundVelocityMeters * SoundVelocityUnitFactor(g_settings.Units);
  dialog = plat::Dialog{};
  dialog.resource = "SOUNDVELOCITY";
  std::snprintf(dialog.title, sizeof dialog.title, "%s", kSoundVelocityCaption);
}

int RunSoundVelocityDialog() {
  static plat::Dialog dialog;
  PrepareSoundVelocityDialog(dialog);
  return RunModalDialog(dialog, SoundVelocityHandler) == 1;
}

void RunSoundVelocityCommand() {
  const double before = g_settings.SoundVelocityMeters;
  (void)RunSoundVelocityDialog();
  const int fileMode = g_settings.RunMode == 1;
  (void)SoundVelocityDialogClosed(fileMode, g_settings.SoundVelocityMeters);
  // The played records stop overriding the value only when the operator
  // changed it: the probe's last value says nothing about the file's.
  if (fileMode && g_settings.SoundVelocityMeters != before) g_playback.operatorChangedSoundSpeed = 1;
  ForceFrequencyRefresh();
  FrequencyAndHeadRefresh();
}
