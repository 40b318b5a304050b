// Start-up, run-mode switch and shutdown. These run on the user-interface
// thread; they are the only places where whole subsystems are started and
// stopped, so the order below is the order in which files close and threads
// end. Head mode's acquisition thread and the serial readers join here as
// they are built: each is stopped before the files it writes into close.
// Owns: the run-mode record (switch counts) and the one console reset.
#include "console/run_mode.h"

#include <cstdio>
#include <cstdlib>

#include "console/acquisition.h"
#include "console/command_line.h"
#include "console/conversion.h"
#include "console/cycle_lock.h"
#include "console/diagnostics.h"
#include "console/external_control.h"
#include "console/ping_cycle.h"
#include "console/playback.h"
#include "files/output_file.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/background.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "imaging/track_plot.h"
#include "imaging/waterfall.h"
#include "nav/com_ports.h"
#include "nav/gps.h"
#include "nav/nav_state.h"
#include "nav/sound_velocity.h"
#include "nav/track.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/work_split.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "processing/xtf.h"
#include "settings/settings.h"
#include "video/capture.h"
#include "video/screen_capture.h"

RunModeState g_runMode;

namespace {

constexpr int kPortOpenDelayMs = 250;

// Items that only make sense while a file plays, and those that only make
// sense with a head connected; the run-mode switch enables one set and greys
// the other.
constexpr int kFileOnlyItems[] = {kCmdPlaybackFile,  kCmdConvertK4P, kCmdConvertK4B, kCmdConvertXtf,
                                  kCmdRealtimePlayback, kCmdCopy,     kCmdFastPlayback};
constexpr int kHeadOnlyItems[] = {kCmdRecord, kCmdComPorts, kCmdXdcrUp, kCmdXdcrDown};
// Greyed in File mode and, in Head mode, while no camera is connected;
// "Open Video Window" stays, since it re-creates the capture window (Head
// mode) or asks for the played frames (File mode).
constexpr int kVideoItems[] = {kCmdRecordVideo, kCmdVideoFormat, kCmdVideoRate};

void EnableItems(const int* ids, int count, int enabled) {
  for (int i = 0; i < count; ++i) plat::EnableMenuItem(ids[i], enabled);
}

void SetFileModeMenus() {
  EnableItems(kFileOnlyItems, sizeof kFileOnlyItems / sizeof kFileOnlyItems[0], 1);
  EnableItems(kHeadOnlyItems, sizeof kHeadOnlyItems / sizeof kHeadOnlyItems[0], 0);
  plat::EnableMenuItem(kCmdTimeUtc, 0);
  plat::EnableMenuItem(kCmdTimeLocal, 0);
  plat::EnableMenuItem(kCmdTrackPlotter, 1);
  plat::EnableMenuItem(kCmdSoundVelocity, 1);
  plat::SetWindowTitle(plat::kWinMain, kProductTitle);
  if (!g_player.fileOpen) {
    char title[96];
    std::snprintf(title, sizeof title, "%s - [%s]", kProductTitle, "No File");
    plat::SetWindowTitle(plat::kWinMain, title);
  }
}

void SetHeadModeMenus() {
  EnableItems(kFileOnlyItems, sizeof kFileOnlyItems / sizeof kFileOnlyItems[0], 0);
  EnableItems(kHeadOnlyItems, sizeof kHeadOnlyItems / sizeof kHeadOnlyItems[0], 1);
  plat::CheckMenuItem(kCmdXdcrUp, g_settings.Xdcr == 1);
  plat::CheckMenuItem(kCmdXdcrDown, g_settings.Xdcr == 0);
  // Both time-display items stay greyed: the stamps are always local time.
  plat::CheckMenuItem(kCmdTimeUtc, g_settings.DisplayLocalTime == 0);
  plat::CheckMenuItem(kCmdTimeLocal, g_settings.DisplayLocalTime == 1);
  plat::EnableMenuItem(kCmdTimeUtc, 0);
  plat::EnableMenuItem(kCmdTimeLocal, 0);
  const int gpsEnabled = g_settings.ComPortGPSEnable == 1;
  plat::EnableMenuItem(kCmdTrackPlotter, gpsEnabled);
  if (!gpsEnabled) {
    // Without a receiver there is no track: an open plotter closes as its
    // close box would, so its greyed item and its setting do not claim it is
    // shown (at start-up too, where it is then not shown at all).
    if (g_settings.TrackPlotterWindow) {
      ShowTrackPlotter(0);
      plat::CheckMenuItem(kCmdTrackPlotter, 0);
    }
    plat::ShowWindow(plat::kWinTrackPlotter, 0);
  }
  plat::SetWindowTitle(plat::kWinMain, kProductTitle);
}

void CloseOutputFiles() {
  ClosePointFile();
  CloseBeamFile();
  CloseXtfFile();
}

}  // namespace

void UpdateVideoMenus() {
  const int enabled = g_settings.RunMode == 0 && g_video.present;
  EnableItems(kVideoItems, sizeof kVideoItems / sizeof kVideoItems[0], enabled);
  plat::EnableMenuItem(kCmdOpenVideoWindow, 1);
}

// The ping's work is split over two threads unless ORVALE_PING_THREADS=1
// asks for one (for comparisons; the results are the same either way).
// ORVALE_KERNEL_TIER=0, 1 or 2 holds the beamformer to its baseline, AVX2 or
// AVX-512 build (for comparing products between them; a build the
// processor lacks gives the best it has).
void StartPingHelper() {
  const char* env = std::getenv("ORVALE_PING_THREADS");
  plat::StartWorkSplit(env != nullptr && std::atoi(env) == 1 ? 1 : 2);
  const char* tier = std::getenv("ORVALE_KERNEL_TIER");
  if (tier != nullptr && tier[0] >= '0' && tier[0] <= '9') BeamformForceKernelTier(std::atoi(tier));
}

void ResetRunState() {
  ResetRunCounters();
  ForgetPlayedSettings();
  ResetDiagnostics();
  g_perPing.procTimeMs = 0.0;
  g_perPing.plotTimeMs = 0.0;
  g_player.lastPingPeriodMs = 0;
}

void ResetConsole() {
  // A reader left running would feed the freshly reset parser and track.
  CloseGps();
  CloseSoundVelocity();
  ResetSettings();
  ResetSwitchState();
  ResetReturnData();
  ResetNavState();
  ResetGps();
  ResetSoundVelocity();
  ResetComPorts();
  ResetTrack();
  ResetTrackPlot();
  ResetTimeStamps();
  ResetPlaybackCopies();
  ResetBeamform();
  ResetProfileDetect();
  ResetProfileFilter();
  ResetOutputs();
  ResetExternalControl();
  ResetXtf();
  ResetPlayback();
  ResetRecording();
  ResetConversion();
  ResetPerPing();
  ResetWaterfalls();
  ResetDiagnostics();
  ResetCommandLine();
  StopAcquisition();
  // After the acquisition thread: no ping may be splitting work.
  plat::StopWorkSplit();
  // After the acquisition thread: no ping may be taking a frame.
  ResetVideo();
  ResetScreenCapture();
  ResetAcquisition();
  ClearOutputFault();
  net::ResetNet();
  g_runMode = RunModeState{};
}

int CreateConsole(const char* settingsPath) {
  SetStartupHeadLimits();
  if (settingsPath == nullptr || settingsPath[0] == '\0') {
    if (!FormSettingsPath()) return 0;
  } else {
    std::snprintf(g_settingsFile.path, sizeof g_settingsFile.path, "%s", settingsPath);
  }
  return LoadConsoleSettings(g_settingsFile.path);
}

int StartConsole(const char* commandLine) {
  // In Head mode the acquisition thread starts half-way through; what
  // follows must not run inside one of its pings.
  CycleLock lock;
  plat::CalibrateDelay();
  // Weight table, perspective constants, beam slots, palette, centred
  // profile, the first tables, and the picture cleared and shown.
  InitPipeline();
  StartPingHelper();
  ResetRunCounters();
  ClearAndShowPicture();
  PrepareVideoPlaybackWindow();
  const int line = ProcessCommandLine(commandLine ? commandLine : "");
  if (line == kCmdClose) return line;
  SetRunMode();
  // The tables are built for what the mode made current.
  ForceFrequencyRefresh();
  FrequencyAndHeadRefresh();
  g_switch.startupComplete = 1;
  g_runMode.started = 1;
  return line;
}

void SetRunMode() {
  CycleLock lock;
  RunModeState& rm = g_runMode;
  const int fileMode = g_settings.RunMode == 1;
  rm.switches++;
  plat::SetCursor(plat::kCursorWait);
  ResetRunState();

  // Everything of the old mode stops before the new one starts. A ping that
  // follows the camera's close finds no capture window and takes no frame.
  CloseVideoWindow();
  CloseVideoPlaybackWindow();
  StopRecording();
  StopCopy();
  ClosePlaybackFile();
  if (!g_commandLine.conversionRun) CloseOutputFiles();
  // The serial readers and the head link end before the output socket is
  // made anew.
  if (fileMode) {
    CloseGps();
    CloseSoundVelocity();
    StopAcquisition();
  }
  CloseOutputSocket();
  OpenOutputSocket();

  if (fileMode) {
    // A recording carries its own settings: the operator's wait aside.
    SaveLiveHeadCopies();
    SetFileModeMenus();
  } else {
    RestoreLiveHeadCopies();
    SetHeadModeMenus();
    // The camera runs before the first ping, so frames are there to embed.
    (void)OpenVideoWindow();
    StartAcquisition();
    // The receivers need a moment after the head link starts before their
    // ports are opened.
    if (g_settings.ComPortGPSEnable == 1 && g_comPorts.gpsPresent) {
      plat::SleepMs(kPortOpenDelayMs);
      if (!OpenGpsPort()) rm.portOpenFailures++;
    }
    if (g_settings.ComPortSVEnable == 1 && g_comPorts.svPresent) {
      plat::SleepMs(kPortOpenDelayMs);
      if (!OpenSoundVelocityPort()) rm.portOpenFailures++;
    }
    FrequencyAndHeadRefresh();
  }

  if (g_settings.RunMode != g_remembered.previousRunMode) {
    g_remembered.previousRunMode = g_settings.RunMode;
    rm.layoutRefreshes++;
    plat::InvalidateRect(plat::kWinMain, 1024, 0, 1033, 777);
    ClearAndShowPicture();
    plat::InvalidateWindow(plat::kWinSidescan);
    plat::InvalidateWindow(plat::kWinEchoSounder);
    plat::InvalidateWindow(plat::kWinIntensity);
    CentreProfile();
  }

  UpdateVideoMenus();
  rm.lastPlaybackOpened = 0;
  if (fileMode) {
    plat::ShowWindow(plat::kWinPlayback, 1);
    rm.lastPlaybackOpened = g_commandLine.conversionRun ? StartCommandLinePlayback() : ChoosePlaybackFile();
  }

  ResetRunState();
  if (g_player.hold) plat::InvalidateWindow(plat::kWinMain);
  plat::SetCursor(plat::kCursorArrow);
}

int ShutdownConsole() {
  CycleLock lock;
  if (g_settings.RunMode == 0) {
    plat::ShowWindow(plat::kWinDiagnostics, 0);
    plat::SetCursor(plat::kCursorWait);
    CloseGps();
    CloseSoundVelocity();
    StopAcquisition();
    plat::SetCursor(plat::kCursorArrow);
  }
  StopRecording();
  if (g_settings.RunMode != 0) {
    StopCopy();
    ClosePlaybackFile();
  }
  CloseOutputFiles();
  plat::StopWorkSplit();
  const int saved = g_settingsFile.path[0] ? SaveSettings(g_settingsFile.path) : 0;
  CloseVideoWindow();
  CloseVideoPlaybackWindow();
  g_video.playbackRequested = 0;
  CloseOutputSocket();
  g_runMode.shutDown = 1;
  return saved;
}
