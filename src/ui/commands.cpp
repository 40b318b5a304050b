// The main window's command set. The table below is the one description of
// the menu: identifier, item text, popup and submenu, radio group, run-mode
// limit and the state its check mark follows; the Qt menu is built from it
// and CheckMarksFromSettings walks it. RunCommand carries a command out by
// calling the console and domain modules directly, then sets the check marks
// of the command's group and writes the settings file back, so the file is
// always current and not only at exit.
//
// Index: [SECTION] Table, Check marks, Follow-ups, Dispatch.
#include "ui/commands.h"

#include <cstdio>

#include "console/conversion.h"
#include "console/cycle_lock.h"
#include "console/ping_cycle.h"
#include "console/playback.h"
#include "console/run_mode.h"
#include "files/recording.h"
#include "head/switch_command.h"
#include "imaging/background.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "imaging/track_plot.h"
#include "imaging/waterfall.h"
#include "platform/dialog.h"
#include "processing/outputs.h"
#include "ui/display_dialogs.h"
#include "ui/ip_address_dialog.h"
#include "ui/modal.h"
#include "ui/nav_dialogs.h"
#include "ui/output_dialogs.h"
#include "ui/profile_dialogs.h"
#include "ui/recording_dialogs.h"
#include "ui/switch_dialogs.h"
#include "ui/video_dialogs.h"
#include "video/capture.h"
#include "video/screen_capture.h"

CommandState g_commands;

void ResetCommands() { g_commands = CommandState{}; }

// ============================================================ [SECTION] Table

const MenuPopup kMenuPopups[kMenuPopupCount] = {
    {"&File", 0},          {"&Color Table", 0},   {"&Setup", 0},  {"&Options", 0},
    {"Com &Ports", 106},   {"&Mode", 0},          {"&Profile Setup", 0},
    {"&Data Output", 970}, {"&Video", 0},         {"&About", 100},
};

namespace {

using S = Settings;


constexpr const char* kDataFrom = "&Data From...";
constexpr const char* kXdcrPosition = "&Xdcr Position";
constexpr const char* kSectorSize = "Sector Size";
constexpr const char* kBeamwidth = "Beamwidth";
constexpr const char* kBeams = "&Beams";
constexpr const char* kAveraging = "&Averaging";
constexpr const char* kGridType = "&Grid Type";
constexpr const char* kUnits = "Units";
constexpr const char* kFilenameType = "Automatic Filename &Type";

const CommandRow kCommands[] = {
    // ---- "&File"
    {1, "&Head", kPopupFile, kDataFrom, kGroupDataSource, kAnyMode, kCheckEquals, &S::RunMode, 0},
    {2, "&File", kPopupFile, kDataFrom, kGroupDataSource, kAnyMode, kCheckEquals, &S::RunMode, 1},
    {15, "&Record Start...\t  Ctrl+S", kPopupFile, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {10, "&Playback File...", kPopupFile, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {17, "&Fast Playback", kPopupFile, nullptr, kNoGroup, kFileOnly, kNoCheck, nullptr, 0},
    {14, "&Use Realtime Playback Speed", kPopupFile, nullptr, kNoGroup, kFileOnly, kCheckOn, &S::RealtimePlayback, 0},
    {16, "&Copy Start...", kPopupFile, nullptr, kNoGroup, kFileOnly, kNoCheck, nullptr, 0},
    {11, "Convert .K41 Sonar File(s) To .K4&P Format...", kPopupFile, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {12, "Convert .K41 Sonar File(s) To .K4&B Format...", kPopupFile, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {13, "Convert .K41 Sidescan To .&XTF Format...", kPopupFile, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {207, "&Save Screen...", kPopupFile, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {18, "E&xit", kPopupFile, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    // ---- "&Color Table"
    {80, "Norm &Hi", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 0},
    {81, "Norm &Lo", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 1},
    {82, "Gr&een", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 2},
    {83, "&Grey", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 3},
    {84, "&Rev Grey", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 4},
    {85, "&Brown/Yellow", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 5},
    {86, "Green/Bl&ue", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 6},
    {87, "Green/&Yellow", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 7},
    {88, "Blu&e", kPopupColorTable, nullptr, kGroupColorTable, kAnyMode, kCheckEquals, &S::Colors, 8},
    // ---- "&Setup"
    {205, "&IP Address...", kPopupSetup, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {200, "&Up", kPopupSetup, kXdcrPosition, kGroupXdcr, kAnyMode, kCheckEquals, &S::Xdcr, 1},
    {201, "&Down", kPopupSetup, kXdcrPosition, kGroupXdcr, kAnyMode, kCheckEquals, &S::Xdcr, 0},
    {210, "&Meters", kPopupSetup, kUnits, kGroupUnits, kAnyMode, kCheckEquals, &S::Units, 0},
    {211, "&Feet", kPopupSetup, kUnits, kGroupUnits, kAnyMode, kCheckEquals, &S::Units, 1},
    {212, "&Yards", kPopupSetup, kUnits, kGroupUnits, kAnyMode, kCheckEquals, &S::Units, 2},
    {230, "&UTC", kPopupSetup, nullptr, kGroupTimeDisplay, kAnyMode, kCheckEquals, &S::DisplayLocalTime, 0},
    {231, "&Local", kPopupSetup, nullptr, kGroupTimeDisplay, kAnyMode, kCheckEquals, &S::DisplayLocalTime, 1},
    {208, "&Automatic Filenames (.K41)", kPopupSetup, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::AutoFilename, 0},
    {220, "Date-&Number (ddmmmyyyy-nnnn.K41)", kPopupSetup, kFilenameType, kGroupFileNameType, kAnyMode, kCheckEquals, &S::AutoFilenameType, 0},
    {221, "Date-&Time (ddmmmyyyy-hhmmss.K41)", kPopupSetup, kFilenameType, kGroupFileNameType, kAnyMode, kCheckEquals, &S::AutoFilenameType, 1},
    {20, "Set &Maximum Filesize...", kPopupSetup, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {820, "&Sound Velocity...", kPopupSetup, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    // ---- "&Options"
    {206, "&Grid", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::Grid, 0},
    {770, "30 Deg", kPopupOptions, kSectorSize, kGroupSectorSize, kAnyMode, kCheckEquals, &S::SectorSize, 0},
    {771, "60 Deg", kPopupOptions, kSectorSize, kGroupSectorSize, kAnyMode, kCheckEquals, &S::SectorSize, 1},
    {772, "90 Deg", kPopupOptions, kSectorSize, kGroupSectorSize, kAnyMode, kCheckEquals, &S::SectorSize, 2},
    {773, "120 Deg", kPopupOptions, kSectorSize, kGroupSectorSize, kAnyMode, kCheckEquals, &S::SectorSize, 3},
    {774, "100 Deg", kPopupOptions, kSectorSize, kGroupSectorSize, kAnyMode, kCheckEquals, &S::SectorSize, 4},
    {775, "110 Deg", kPopupOptions, kSectorSize, kGroupSectorSize, kAnyMode, kCheckEquals, &S::SectorSize, 5},
    {750, "&Wide", kPopupOptions, kBeamwidth, kGroupBeamwidth, kAnyMode, kCheckEquals, &S::ProcessingMode, 0},
    {751, "Nor&mal", kPopupOptions, kBeamwidth, kGroupBeamwidth, kAnyMode, kCheckEquals, &S::ProcessingMode, 1},
    {752, "&Narrow", kPopupOptions, kBeamwidth, kGroupBeamwidth, kAnyMode, kCheckEquals, &S::ProcessingMode, 2},
    {753, "Narrow &Mixed", kPopupOptions, kBeamwidth, kGroupBeamwidth, kAnyMode, kCheckEquals, &S::ProcessingMode, 3},
    {760, "480", kPopupOptions, kBeams, kGroupBeams, kAnyMode, kCheckEquals, &S::StepSize, 0},
    {761, "240", kPopupOptions, kBeams, kGroupBeams, kAnyMode, kCheckEquals, &S::StepSize, 1},
    {762, "120", kPopupOptions, kBeams, kGroupBeams, kAnyMode, kCheckEquals, &S::StepSize, 2},
    {510, "&Off", kPopupOptions, kAveraging, kGroupAveraging, kAnyMode, kCheckAveraging, nullptr, 1},
    {512, "&3 Shot", kPopupOptions, kAveraging, kGroupAveraging, kAnyMode, kCheckAveraging, nullptr, 3},
    {514, "&5 Shot", kPopupOptions, kAveraging, kGroupAveraging, kAnyMode, kCheckAveraging, nullptr, 5},
    {516, "&7 Shot", kPopupOptions, kAveraging, kGroupAveraging, kAnyMode, kCheckAveraging, nullptr, 7},
    {518, "&9 Shot", kPopupOptions, kAveraging, kGroupAveraging, kAnyMode, kCheckAveraging, nullptr, 9},
    {524, "&15 Shot", kPopupOptions, kAveraging, kGroupAveraging, kAnyMode, kCheckAveraging, nullptr, 15},
    {534, "&25 Shot", kPopupOptions, kAveraging, kGroupAveraging, kAnyMode, kCheckAveraging, nullptr, 25},
    {560, "&Remove Background", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckBackground, nullptr, 0},
    {659, "Gain &Equalization", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::GainEqualization, 0},
    {620, "Display &Track Plotter", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::TrackPlotterWindow, 0},
    {619, "&Clear Track Plotter", kPopupOptions, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {618, "Display &Swath Coverage", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::DisplaySwathCoverage, 0},
    {617, "&Load Swath Coverage From LOG File", kPopupOptions, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {621, "&Sidescan Window", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckWindow, nullptr, plat::kWinSidescan},
    {622, "&Echo Sounder Window", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckWindow, nullptr, plat::kWinEchoSounder},
    {623, "&Intensity Window", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckWindow, nullptr, plat::kWinIntensity},
    {690, "Signal Level", kPopupOptions, nullptr, kGroupSignalLevel, kAnyMode, kCheckOn, &S::SignalLevel, 0},
    {600, "&Diagnostics", kPopupOptions, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::DiagnosticsWindow, 0},
    // ---- direct "Com &Ports"
    {106, "Com &Ports", kPopupComPorts, nullptr, kNoGroup, kHeadOnly, kNoCheck, nullptr, 0},
    // ---- "&Mode"
    {400, "&Sector", kPopupMode, nullptr, kGroupDisplayMode, kAnyMode, kCheckEquals, &S::DisplayType, 0},
    {401, "&Linear", kPopupMode, nullptr, kGroupDisplayMode, kAnyMode, kCheckEquals, &S::DisplayType, 1},
    {402, "Perspecti&ve", kPopupMode, nullptr, kGroupDisplayMode, kAnyMode, kCheckEquals, &S::DisplayType, 2},
    {403, "&Profile", kPopupMode, nullptr, kGroupDisplayMode, kAnyMode, kCheckEquals, &S::DisplayType, 3},
    {404, "&Beam Test", kPopupMode, nullptr, kGroupDisplayMode, kAnyMode, kCheckEquals, &S::DisplayType, 4},
    // ---- "&Profile Setup"
    {870, "&Profile Point Setup", kPopupProfileSetup, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {660, "&Roll Correction", kPopupProfileSetup, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::RollCorrection, 0},
    {580, "Profile Tilt Angle...", kPopupProfileSetup, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {590, "Display Altitude", kPopupProfileSetup, nullptr, kNoGroup, kAnyMode, kCheckOn, &S::AltitudeWindow, 0},
    {570, "&Circular", kPopupProfileSetup, kGridType, kGroupGridType, kAnyMode, kCheckEquals, &S::ProfileGrid, 0},
    {571, "&Rectangular", kPopupProfileSetup, kGridType, kGroupGridType, kAnyMode, kCheckEquals, &S::ProfileGrid, 1},
    // ---- direct "&Data Output"
    {970, "&Data Output", kPopupDataOutput, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    // ---- "&Video"
    {170, "Open Video &Window", kPopupVideo, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {174, "Change Video &Format", kPopupVideo, nullptr, kNoGroup, kHeadOnly, kNoCheck, nullptr, 0},
    {173, "&Record Video Enable", kPopupVideo, nullptr, kNoGroup, kHeadOnly, kCheckOn, &S::RecordVideo, 0},
    {175, "&Video Recording Rate...", kPopupVideo, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    // ---- direct "&About"
    {100, "&About", kPopupAbout, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    // ---- commands without a menu item
    {310, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {550, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {565, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {691, nullptr, kNoMenu, nullptr, kGroupSignalLevel, kAnyMode, kCheckSignal2, nullptr, 0},
    {830, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {176, nullptr, kNoMenu, nullptr, kNoGroup, kHeadOnly, kNoCheck, nullptr, 0},
    {900, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {901, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {902, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {903, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {904, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {905, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {906, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {907, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {908, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {909, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {910, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {911, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {912, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
    {913, nullptr, kNoMenu, nullptr, kNoGroup, kAnyMode, kNoCheck, nullptr, 0},
};
constexpr int kCommandCount = static_cast<int>(sizeof kCommands / sizeof kCommands[0]);

}  // namespace

const CommandRow* CommandTable(int* count) {
  if (count) *count = kCommandCount;
  return kCommands;
}

const CommandRow* FindCommand(int id) {
  for (const CommandRow& row : kCommands)
    if (row.id == id) return &row;
  return nullptr;
}

// ============================================================ [SECTION] Check marks

static int WindowShown(int window) {
  switch (window) {
    case plat::kWinSidescan: return WaterfallShown(kSidescanWaterfall);
    case plat::kWinEchoSounder: return WaterfallShown(kEchoSounderWaterfall);
    case plat::kWinIntensity: return WaterfallShown(kIntensityWaterfall);
    default: return 0;
  }
}

int CommandChecked(const CommandRow& row) {
  switch (row.check) {
    case kCheckEquals: return g_settings.*row.field == row.value;
    case kCheckOn: return g_settings.*row.field != 0;
    case kCheckAveraging:
      if (row.value == 1) return g_settings.AvgFilter == 0;
      return g_settings.AvgFilter == 1 && g_settings.AvgFilterIndex == row.value;
    case kCheckWindow: return WindowShown(row.value);
    case kCheckSignal2: return g_commands.signalLevel2;
    case kCheckBackground: return g_background.enabled;
    default: return 0;
  }
}

void CheckMarksFromSettings() {
  for (const CommandRow& row : kCommands)
    if (row.text && row.check != kNoCheck) plat::CheckMenuItem(row.id, CommandChecked(row));
}

// The check marks a command may have moved: its whole radio group, or itself.
static void RefreshChecks(const CommandRow& command) {
  for (const CommandRow& row : kCommands) {
    if (row.check == kNoCheck) continue;
    const int same = command.group != kNoGroup ? row.group == command.group : row.id == command.id;
    if (same) plat::CheckMenuItem(row.id, CommandChecked(row));
  }
}

// ============================================================ [SECTION] Follow-ups

void ClearAndRedrawImage() { ClearAndShowPicture(); }

static void RedrawGridAndBlit() {
  DrawGrid(plat::kWinMain);
  BlitImage(plat::kWinMain);
}

static void ForceRebuild() {
  ForceFrequencyRefresh();
  FrequencyAndHeadRefresh();
}

static int Toggle(int& value) {
  value = value ? 0 : 1;
  return value;
}

// Switching a window the settings do not record.
static void ToggleWindow(int window, int& shown) {
  // The waterfall module holds the truth, so a reset of either layer cannot
  // leave the menu check and the window disagreeing.
  shown = !WaterfallShown(WaterfallOfWindow(window));
  plat::ShowWindow(window, shown);
  // The waterfall builds its picture (and restarts the Sidescan's skipped
  // pings) or frees it with the window.
  SetWaterfallShown(WaterfallOfWindow(window), shown);
  if (shown) plat::InvalidateWindow(window);
}

static void SelectColours(int table) {
  const int old = g_settings.Colors;
  g_settings.Colors = table;
  SelectColorTable(plat::kWinMain, table);
  // "Rev Grey" draws the grid dark on light: entering or leaving it must
  // repaint the grid in the new colours.
  if (old == 4 || table == 4) RedrawGridAndBlit();
}

static void SelectAveraging(int index) {
  g_settings.AvgFilter = index > 1 ? 1 : 0;
  g_settings.AvgFilterIndex = index;
  ResetProcessingChain();
}

// The profile picture is moved down for steep tilts in Profile mode, so the
// fan stays on screen; the tables are rebuilt around the new offset.
static void FollowTiltChange() {
  UpdateProfileOffsetY();
  BuildDisplayTables();
}

// File mode draws the new mode at once; Head mode leaves it to the
// acquisition loop, which takes DisplayType between pings.
static void SelectDisplayMode(int mode) {
  g_settings.DisplayType = mode;
  if (g_settings.RunMode != 1) return;
  g_remembered.previousDisplayType = mode;
  if (g_scan.geom.mode == mode) return;
  UpdateProfileOffsetY();
  BuildDisplayTables();
  ClearAndRedrawImage();
}

static void SetSwitches() {
  if (g_settings.RunMode == 1) {
    RunDisplaySwitchesDialog();
    return;
  }
  const int range = g_settings.Range;
  if (!RunSetSwitchesDialog()) return;
  if (g_settings.Range != range) plat::InvalidateWindow(plat::kWinMain);
  FrequencyAndHeadRefresh();
  // Gain panel and transmit box are painted from the settings.
  plat::InvalidateWindow(plat::kWinMain);
}

static void SwitchToHead() {
  if (g_settings.RunMode != 1) return;
  plat::ShowWindow(plat::kWinPlayback, 0);
  g_settings.RunMode = 0;
  SetRunMode();
  plat::InvalidateWindow(plat::kWinMain);
}

// The Diagnostics window is hidden while the mode changes and comes back
// afterwards if it was open.
static void SwitchToFile() {
  if (g_settings.RunMode != 0) return;
  const int diagnostics = g_settings.DiagnosticsWindow;
  if (diagnostics) plat::ShowWindow(plat::kWinDiagnostics, 0);
  g_settings.RunMode = 1;
  SetRunMode();
  if (diagnostics) plat::ShowWindow(plat::kWinDiagnostics, 1);
  plat::InvalidateWindow(plat::kWinMain);
}

static void SelectHeadConfiguration(int index) {
  g_switch.headTypeSetting = index;
  if (index == 9) {
    g_settings.Frequency = 1700;
    g_switch.playbackFrequencyKHz = 1700;
    g_headLimits.freqMinKHz = 1000;
    g_headLimits.freqMaxKHz = 3000;
    g_headLimits.maxStep = 3;
    g_headLimits.FrequencyCoefficient = 170;
    g_headLimits.minStep = 2;
  } else {
    g_settings.Frequency = 260;
    g_switch.playbackFrequencyKHz = 260;
    g_headLimits.freqMinKHz = 50;
    g_headLimits.freqMaxKHz = 1000;
    g_headLimits.maxStep = 16;
    g_headLimits.FrequencyCoefficient = 10;
    g_headLimits.minStep = 5;
  }
  ForceRebuild();
}

static void RunPersistenceCommand() {
  if (g_settings.DisplayType == kModeProfile) return;
  const int before = g_settings.Persistence;
  if (RunPersistenceDialog() && before != 0 && g_settings.Persistence == 0) ClearAndRedrawImage();
}

static void SelectSignalLevel(int second) {
  if (second) {
    Toggle(g_commands.signalLevel2);
    if (g_commands.signalLevel2) g_settings.SignalLevel = 0;
  } else {
    Toggle(g_settings.SignalLevel);
    if (g_settings.SignalLevel) g_commands.signalLevel2 = 0;
  }
  g_commands.signalLevelShown = g_settings.SignalLevel || g_commands.signalLevel2;
  ClearAndRedrawImage();
}

// Head mode re-creates the capture window; File mode asks for the frames the
// played file carries.
static void OpenVideo() {
  if (g_settings.RunMode == 1) {
    RequestVideoPlayback();
    return;
  }
  (void)OpenVideoWindow();
  UpdateVideoMenus();
}

static int AboutHandler(plat::Dialog& d, int event, int id, int) {
  if (event == plat::kDlgInit) {
    plat::AddControl(d, 1001, plat::kStatic, "");
    plat::SetText(d, 1001, "Orvale Multibeam Sonar " ORVALE_VERSION);
    plat::AddControl(d, plat::kIdOk, plat::kButton, "OK");
    return 1;
  }
  if (event == plat::kDlgCommand && (id == plat::kIdOk || id == plat::kIdCancel)) {
    plat::EndDialog(d, 1);
    return 1;
  }
  return 0;
}

static void ShowAbout() {
  plat::Dialog d;
  d.resource = "ABOUTBOX";
  std::snprintf(d.title, sizeof d.title, "About");
  RunModalDialog(d, AboutHandler);
}

// ============================================================ [SECTION] Dispatch

static int Perform(int id) {
  Settings& s = g_settings;
  if (id >= 80 && id <= 88) return SelectColours(id - 80), 1;
  if (id >= 210 && id <= 212) {
    s.Units = id - 210;
    RedrawGridAndBlit();
    plat::InvalidateWindow(plat::kWinMain);
    return 1;
  }
  if (id >= 770 && id <= 775) return s.SectorSize = id - 770, ForceRebuild(), 1;
  if (id >= 750 && id <= 753) return s.ProcessingMode = id - 750, 1;
  if (id >= 760 && id <= 762) return s.StepSize = id - 760, ForceRebuild(), 1;
  if (id == 510 || id == 512 || id == 514 || id == 516 || id == 518 || id == 524 || id == 534)
    return SelectAveraging(id == 510 ? 1 : id - 509), 1;
  if (id >= 400 && id <= 404) return SelectDisplayMode(id - 400), 1;
  if (id >= 900 && id <= 913) return SelectHeadConfiguration(id - 900), 1;
  switch (id) {
    case 1: return SwitchToHead(), 1;
    case 2: return SwitchToFile(), 1;
    case 18: return plat::RequestClose(), 1;
    case 10: return ChoosePlaybackFile(), 1;
    case 17: return ToggleFastPlayback(), 1;
    case 14: return ToggleRealtimePlayback(), 1;
    case 15:
      if (Recording()) OperatorStopRecording();
      else OperatorStartRecording();
      return 1;
    case 20: return RunMaximumFileSizeDialog(), 1;
    case 16:
      if (g_player.copying) StopCopy();
      else StartCopy();
      return 1;
    case 11: return StartBatch(kConvertK4P), 1;
    case 12: return StartBatch(kConvertK4B), 1;
    case 13: return StartBatch(kConvertXtf), 1;
    case 200:
    case 201:
      s.Xdcr = id == 200 ? 1 : 0;
      ClearAndRedrawImage();
      return 1;
    case 230:
    case 231: return s.DisplayLocalTime = id - 230, 1;
    case 208: return Toggle(s.AutoFilename), 1;
    case 220:
    case 221: return s.AutoFilenameType = id - 220, 1;
    case 206: return Toggle(s.Grid), RedrawGridAndBlit(), 1;
    case 560:
      SetBackgroundRemoval(!g_background.enabled);
      if (g_background.enabled) ClearImage();
      else ClearAndRedrawImage();
      plat::InvalidateWindow(plat::kWinMain);
      return 1;
    case 659: return Toggle(s.GainEqualization), 1;
    case 618: return Toggle(s.DisplaySwathCoverage), UpdateTrackPlot(), 1;
    case 620: return ShowTrackPlotter(!s.TrackPlotterWindow), 1;
    case 619: return ClearTrackPlotter(), 1;
    case 617: return LoadSwathCoverage(g_settingsFile.workingDirectory), 1;
    case 106: return RunComPortSetupDialog(), 1;
    case 820: return RunSoundVelocityCommand(), 1;
    case 621: return ToggleWindow(plat::kWinSidescan, g_commands.sidescanShown), 1;
    case 622: return ToggleWindow(plat::kWinEchoSounder, g_commands.echoSounderShown), 1;
    case 623: return ToggleWindow(plat::kWinIntensity, g_commands.intensityShown), 1;
    case 690: return SelectSignalLevel(0), 1;
    case 691: return SelectSignalLevel(1), 1;
    case 600: return plat::ShowWindow(plat::kWinDiagnostics, Toggle(s.DiagnosticsWindow)), 1;
    case 870:
      RunProfilePointSetupDialog();
      ClearAndRedrawImage();
      ResetProcessingChain();
      return 1;
    case 660: return Toggle(s.RollCorrection), 1;
    case 580: return RunProfileTiltAngleDialog(), FollowTiltChange(), 1;
    case 590:
      plat::ShowWindow(plat::kWinAltitude, Toggle(s.AltitudeWindow));
      g_remembered.previousAltitudeWindow = s.AltitudeWindow;
      return 1;
    case 570:
    case 571:
      s.ProfileGrid = id - 570;
      ClearAndRedrawImage();
      plat::InvalidateWindow(plat::kWinMain);
      return 1;
    case 970:
      // Output changes what the sector items may do and what the tables
      // serve, so turning it on rebuilds them.
      if (RunDataOutputDialog() == 1 && s.DataOutputType != kOutputNone) ForceRebuild();
      return 1;
    case 173: return Toggle(s.RecordVideo), 1;
    case 170: return OpenVideo(), 1;
    case 174: return g_video.present && RunVideoFormatDialog(), 1;
    case 175: return RunVideoRateDialog(), 1;
    case 176: return g_video.present && SaveSingleFrame(), 1;
    case 207: return SaveScreen(), 1;
    case 100: return ShowAbout(), 1;
    case 205: return RunIpAddressDialog(), 1;
    case 310: return SetSwitches(), 1;
    case 550:
      if (Toggle(s.ProfileWaterfall)) ClearImage();
      else ClearAndRedrawImage();
      plat::InvalidateWindow(plat::kWinMain);
      return 1;
    case 565: return RunPersistenceCommand(), 1;
    case 830: return RunDeviceOffsetsDialog(), 1;
    default: return 0;
  }
}

int RunCommand(int id) {
  const CommandRow* row = FindCommand(id);
  if (!row) return 0;
  // The command lands between pings; a dialog it opens gives the lock up
  // while it waits for the operator.
  CycleLock lock;
  int acted = 0;
  const int fileMode = g_settings.RunMode == 1;
  const int allowed = !(row->modeLimit == kHeadOnly && fileMode) && !(row->modeLimit == kFileOnly && !fileMode);
  if (allowed) {
    acted = Perform(id);
    RefreshChecks(*row);
    // The GPS reader reads the run mode and the swath choices as it stores fixes.
    SyncTrackOptions();
  }
  g_commands.commandsRun++;
  if (g_settingsFile.path[0]) SaveSettings(g_settingsFile.path);
  return acted;
}
