// The ping cycle. Head mode runs it on the acquisition thread for every
// completed ping; File mode runs it from the playback step for every record
// read. The record waits in g_pingRecord (return data); the stages run in a
// fixed order because each reads what the one before produced:
//   decode -> (live: recording) -> head type -> (file: take the played
//   record's settings) -> beams and profile, or the beam-test raster -> draw
//   and show -> sidescan line -> outputs and XTF -> finish the record.
// Owns: the values of the last played record that decide when tables are
// rebuilt, the frequency-refresh memory, and the per-ping timings that
// playback pacing reads.
#include "console/ping_cycle.h"

#include "console/cycle_lock.h"
#include "console/diagnostics.h"
#include "console/external_control.h"
#include "console/menu_ids.h"

#include <cstring>

#include "files/recording.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/sound_velocity.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "imaging/track_plot.h"
#include "imaging/waterfall.h"
#include "nav/track.h"
#include "platform/platform.h"
#include "platform/work_split.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "processing/xtf.h"
#include "settings/settings.h"
#include "video/capture.h"

PerPingState g_perPing;

namespace {

constexpr int kRejectPauseMs = 50;
constexpr int kDisplayBeamTest = 4;

double NowMs() { return plat::CounterMs(0, plat::CounterNow()); }

void RebuildDisplayTables() { (void)BuildDisplayTables(); }

// Between decoding and beamforming the element samples belong to the ping
// being processed; a reset there (a played record's new range, a new head
// type) must clear the histories but not the ping itself, or the first ping
// of every new setting would be formed from silence.
int s_holdDecodedPing = 0;
float s_heldSamples[kElements][kMaxSamples];

void HoldDecodedPing() {
  if (s_holdDecodedPing) std::memcpy(s_heldSamples, g_elementSamples, sizeof s_heldSamples);
}
void RestoreDecodedPing() {
  if (s_holdDecodedPing) std::memcpy(g_elementSamples, s_heldSamples, sizeof s_heldSamples);
}

void ResetChain() {
  HoldDecodedPing();
  ResetProcessing();
  ResetPointHistory();
  g_perPing.historyResetsSeen = g_beamform.historyResets;
  RestoreDecodedPing();
  g_perPing.processingResets++;
}

// File mode: the played record brings its own range, range offset, tilt,
// frequency and data type. A range, offset or frequency change needs new
// display tables; any of them needs the processing histories cleared, since
// pings of the old geometry must not be averaged into the new one.
void TakePlayedSettings() {
  PerPingState& pp = g_perPing;
  const int range = g_settings.Range;
  const int frequency = FrequencyInUseKHz();
  const double tilt = g_settings.ProfileTiltAngle;
  const int type = g_playback.dataType;
  int reset = 0;
  int refreshed = 0;
  // The grid follows the played range offset at once; the pixel map must too.
  if (frequency != pp.lastFrequencyKHz || g_switch.rangeOffset != pp.refreshRangeOffset) {
    pp.lastFrequencyKHz = frequency;
    // The refresh builds the tables for the range already taken over and
    // resets the chain for every setting taken over.
    refreshed = FrequencyAndHeadRefresh();
    reset = 1;
  }
  if (range != pp.lastRange) {
    pp.lastRange = range;
    if (!refreshed) RebuildDisplayTables();
    reset = 1;
  }
  if (tilt != pp.lastTiltDeg) {
    pp.lastTiltDeg = tilt;
    reset = 1;
  }
  if (type != pp.lastDataType) {
    pp.lastDataType = type;
    reset = 1;
  }
  pp.lastGain = g_settings.Gain;
  pp.lastDisplayGain = g_playback.displayGain;
  if (reset && !refreshed) ResetChain();
}

// Settings follow-ups. A frequency read from the file must rebuild the
// geometry and tables; before the pipeline exists a forced refresh is left
// for InitPipeline to carry out.
void FollowFrequency() {
  ForceFrequencyRefresh();
  if (g_perPing.pipelineReady) FrequencyAndHeadRefresh();
}

// Reading the dot size puts detection's blanking distance back to 0.1 m; the
// blanking index derived from it is recomputed at the start of every ping.
void FollowDotSize() { SetMinimumRange(0); }

// Reading the short-outlier switch arms its companion, and deep-outlier
// removal, which has no switch of its own, is on after every reading.
void FollowShortOutliers() {
  g_filter.shortOutlierCompanion = 1;
  g_filter.deepOutlierSw = 1;
}

// The track stores each fix with the swath of the ping in force when it
// arrives (the GPS reader reads these between pings); a played record's
// position is a fix of its own, once per record that carries one.
void HandPingToTrack(int fileMode) {
  SyncTrackOptions();
  const int samples = g_beamGeom.samples;
  const double rangeM = RangeMetersOfStep(g_settings.Range);
  SetTrackPingValues(g_detect.swathValue, g_detect.portExtent, g_detect.starboardExtent, rangeM,
                     samples > 0 ? 1000.0 * rangeM / samples : 0.0);
  PerPingState& pp = g_perPing;
  if (!fileMode || !g_playback.positionPresent || g_playback.positionUpdates == pp.playedPositionsSeen) return;
  pp.playedPositionsSeen = g_playback.positionUpdates;
  const int choice = g_settings.SwathCoverageHeading;
  const double direction = choice == 1 ? g_playback.headingDeg : g_playback.courseDeg;
  (void)AddTrackFix(g_playback.latitude, g_playback.longitude, g_playback.speedKnots, g_playback.courseDeg,
                    direction, choice, 1, g_settings.DisplaySwathCoverage);
}

void TakeQueuedSoundVelocityIntoSettings() {
  double v = 0.0;
  if (!TakeQueuedSoundVelocity(&v)) return;
  g_settings.SoundVelocityMeters = v;
  // The grid's range marks follow the speed of sound.
  if (g_settings.Grid == 1) DrawGrid(plat::kWinMain);
}

// Bottom Following holds a track when this ping's profile has a point; the
// Profile picture then shows the points without mixing the echoes down.
int BottomTrackHeld() {
  if (g_settings.ProfilePointDetection != 1 || g_settings.ProfilePointFilter != 2) return 0;
  const int beams = g_profilePoints.beams < kMaxBeams ? g_profilePoints.beams : kMaxBeams;
  for (int b = 0; b < beams; ++b)
    if (g_profilePoints.Range[b] > 0.0f) return 1;
  return 0;
}

}  // namespace

void FollowLoadedSettings() {
  FollowFrequency();
  FollowDotSize();
  FollowShortOutliers();
  // DataOutputType and SignalLevel need no follow-up: the outputs and the
  // renderer read the keys themselves (type 2 is "beam output enabled", 1 the
  // signal-level strip), so there are no companion flags to fall out of step.
}

int LoadConsoleSettings(const char* path) {
  int storedKHz = 0;
  if (PeekStoredFrequency(path, &storedKHz)) TakeStoredFrequencyHead(storedKHz);
  const int read = LoadSettings(path);
  FollowLoadedSettings();
  return read;
}

void ResetProcessingChain() { ResetChain(); }

void ClearPicture() {
  ClearImage();
  if (g_scan.geom.mode >= 0) DrawGrid(plat::kWinMain);
}

void ClearAndShowPicture() {
  ClearPicture();
  BlitImage(plat::kWinMain);
}

static int FormBeams() {
  const int formed = ProcessPing();
  if (!formed) return 0;
  // A change of averaging, detection or method cleared the beamformer's
  // histories inside ProcessPing; detection's own go with them.
  if (g_beamform.historyResets != g_perPing.historyResetsSeen) {
    g_perPing.historyResetsSeen = g_beamform.historyResets;
    ResetPointHistory();
  }
  return formed;
}

int FormBeamsAndProfile() {
  const int formed = FormBeams();
  if (formed && g_settings.ProfilePointDetection == 1) DetectProfile();
  return formed;
}

// Detection and its products: the points, their intensities, the output
// beams and the altitude. Reads the formed fan and the first-pass I/Q;
// writes only detection's own state.
static void DetectAndSummarise(int formed) {
  const int detection = g_settings.ProfilePointDetection == 1;
  if (formed && detection) DetectProfile();
  if (g_settings.ProfilePointIntensityOutput == 1) ComputePointIntensity();
  if (detection) {
    BuildProfileOutput();
    UpdateAltitude();
  }
}

// The echoes of the picture read the formed fan, the tables and the
// settings and write only the picture's buffers; detection reads the fan
// and writes only its own state. So they run side by side on the ping's two
// threads (the drawing on the caller, whose cache holds the last rows the
// beamformer wrote), or one after the other without the helper. What
// detection adds to the picture is drawn after both.
// A detection that marks the fan runs first, on the caller. Either way the
// drawing runs inside this split, so its own split of the walk stays
// inline: measured here, splitting the walk alone lost to one thread (the
// beam floats have to move between the cores' caches).
struct DetectAndDrawJob {
  int formed;
  int detectFirst;
};

static void DetectAndDrawPart(void* ctx, int part, int parts) {
  const DetectAndDrawJob* job = static_cast<const DetectAndDrawJob*>(ctx);
  if (parts == 1 || job->detectFirst) {
    if (part != 0) return;
    DetectAndSummarise(job->formed);
    RenderPingEchoes(plat::kWinMain);
    return;
  }
  if (part == 1)
    DetectAndSummarise(job->formed);
  else
    RenderPingEchoes(plat::kWinMain);
}

void ResetPerPing() { g_perPing = PerPingState{}; }

void ForgetPlayedSettings() {
  PerPingState& pp = g_perPing;
  pp.lastRange = 1000;
  pp.lastGain = 1000;
  pp.lastFrequencyKHz = -1;
  pp.lastDisplayGain = -1;
  pp.lastDataType = -1;
  pp.lastTiltDeg = 1000.0;
}

void ForceFrequencyRefresh() { g_perPing.refreshFrequencyKHz = -1; }

// A head that derives its sector from the element spacing leaves the operator
// no sector to choose; otherwise the six sector items are offered again,
// except while beam output is on, when they keep the state they have.
static void FollowSectorChoice() {
  int enabled = 0;
  if (!g_beamGeom.sectorFromSpacing) {
    if (g_settings.DataOutputType == kOutputBeams) return;
    enabled = 1;
  }
  for (int id = kCmdSectorFirst; id <= kCmdSectorLast; ++id) plat::EnableMenuItem(id, enabled);
}

// The items each display mode allows, and the Altitude window, which belongs
// to Profile mode. Only a change of mode touches them, so a rebuild for a new
// range does not raise the window again.
static void FollowBuiltMode() {
  const int mode = g_scan.geom.mode;
  if (mode < 0 || mode == g_perPing.menusBuiltMode) return;
  const int wasProfile = g_perPing.menusBuiltMode == kModeProfile;
  g_perPing.menusBuiltMode = mode;
  const int profile = mode == kModeProfile;
  plat::EnableMenuItem(kCmdRemoveBackground, mode == kModeSector);
  for (const int id : {kCmdRollCorrection, kCmdProfileTilt, kCmdAltitudeWindow, kCmdGridCircular, kCmdGridRectangular})
    plat::EnableMenuItem(id, profile);
  // The window's setting follows its visibility; what it was in Profile mode
  // is remembered for the return.
  if (profile && g_remembered.previousAltitudeWindow) {
    g_settings.AltitudeWindow = 1;
    plat::ShowWindow(plat::kWinAltitude, 1);
    plat::CheckMenuItem(kCmdAltitudeWindow, 1);
  }
  if (!profile && wasProfile) {
    g_remembered.previousAltitudeWindow = g_settings.AltitudeWindow;
    g_settings.AltitudeWindow = 0;
    plat::ShowWindow(plat::kWinAltitude, 0);
    plat::CheckMenuItem(kCmdAltitudeWindow, 0);
  }
}

int BuildDisplayTables() {
  const int built = BuildDisplayMode(plat::kWinMain);
  g_perPing.tableRebuilds++;
  FollowBuiltMode();
  return built;
}

int ApplyRequestedDisplayMode() {
  CycleLock lock;
  if (g_settings.RunMode != 0 || g_scan.geom.mode < 0 || g_scan.geom.mode == g_settings.DisplayType) return 0;
  g_remembered.previousDisplayType = g_settings.DisplayType;
  UpdateProfileOffsetY();
  const int built = BuildDisplayTables();
  ClearAndShowPicture();
  return built;
}

int FrequencyAndHeadRefresh() {
  PerPingState& pp = g_perPing;
  const int frequency = FrequencyInUseKHz();
  if (frequency == pp.refreshFrequencyKHz && g_switch.rangeOffset == pp.refreshRangeOffset) return 0;
  pp.refreshFrequencyKHz = frequency;
  pp.refreshRangeOffset = g_switch.rangeOffset;
  // The chain's reset below clears the histories and computes the geometry
  // again; the sector items and the profile's centre need it before that.
  ComputeBeamGeometry();
  FollowSectorChoice();
  CentreProfile();
  // The beam slots still hold the old geometry's samples; the first picture
  // of the new one must not interpolate between them.
  // In Beam Test the slots already hold the raster of the ping being
  // processed, which is kept like its element samples.
  if (!(s_holdDecodedPing && g_settings.DisplayType == kDisplayBeamTest))
    std::memset(g_scan.BeamSampleBuffer, 0, sizeof g_scan.BeamSampleBuffer);
  ResetChain();
  // The build clears the picture; a build refused while another runs must
  // not leave the old geometry's picture.
  if (!BuildDisplayTables()) ClearImage();
  pp.frequencyRefreshes++;
  return 1;
}

void InitPipeline() {
  ResetScanConvert();
  SelectColorTable(plat::kWinMain, g_settings.Colors);
  CentreProfile();
  ClearImage();
  g_perPing.pipelineReady = 1;
  ForceFrequencyRefresh();
  FrequencyAndHeadRefresh();
}

int ProcessDecodedRecord() {
  // A change from the operator lands between pings, never inside one.
  CycleLock lock;
  PerPingState& pp = g_perPing;
  if (!pp.pipelineReady) InitPipeline();
  const int fileMode = g_settings.RunMode == 1;
  // A speed of sound a remote sent during the last ping.
  ExternalControlBeforePing();

  // Decode; a rejected record is shown, recorded and output nowhere.
  if (!DecodePing(BeamTestDestination())) {
    pp.pingsRejected++;
    if (pp.pauseOnReject) plat::SleepMs(kRejectPauseMs);
    UpdateDiagnostics();
    FinishPing();
    if (!fileMode) g_switch.pingInProgress.store(0);
    return 0;
  }
  pp.pingsDecoded++;

  // Live: a speed of sound the probe or external control queued, which
  // the record carries; then the ping is recorded as soon as it decodes,
  // before anything can hold it up, with the camera's latest frame after it
  // when one is due (a copy; the camera's thread did the rest).
  if (!fileMode) TakeQueuedSoundVelocityIntoSettings();
  if (!fileMode && Recording()) {
    const uint8_t* frame = nullptr;
    const int frameLength = VideoFrameDue(VideoCaptureOpen()) ? TakeEmbeddedFrame(&frame) : 0;
    (void)RecordPing(frame, frameLength);
  }

  // Follow the head type the ping reports.
  s_holdDecodedPing = 1;
  ApplyReportedHeadType(g_ping.headType);
  if (g_switch.processingResetRequested.exchange(0)) {
    ForceFrequencyRefresh();
    FrequencyAndHeadRefresh();
  }

  // File mode: the played record's settings.
  if (fileMode) TakePlayedSettings();
  s_holdDecodedPing = 0;

  // Beams and profile, then the picture.
  const int mode = g_settings.DisplayType;
  double plotStart;
  if (mode == kDisplayBeamTest) {
    g_render.bottomTrackActive = 0;
    plotStart = NowMs();
    pp.procTimeMs = 0.0;
    RenderPing(plat::kWinMain);
  } else {
    const double procStart = NowMs();
    DetectAndDrawJob job{FormBeams(), DetectionWritesBeams()};
    // Real-time pacing takes the forming as processing and everything from
    // detection on as drawing, since the two now overlap.
    plotStart = NowMs();
    pp.procTimeMs = plotStart - procStart;
    plat::RunSplit(DetectAndDrawPart, &job);
    g_render.bottomTrackActive = BottomTrackHeld();
    RenderPingOverlays(plat::kWinMain);
  }
  HandPingToTrack(fileMode);

  // Show the picture (fast playback hides the records of an averaged group).
  if (pp.screenUpdate) BlitImage(plat::kWinMain);

  // The sidescan line feeds the XTF file as well as its window; the
  // waterfalls hand their pictures over without waiting for a repaint.
  if (mode != kDisplayBeamTest && (XtfFileOpen() || WaterfallShown(kSidescanWaterfall)))
    BuildSidescanLine();
  UpdateWaterfalls();
  UpdateTrackPlot();
  pp.plotTimeMs = NowMs() - plotStart;

  // File mode: the frame the played record carries, when asked for.
  if (fileMode) ShowPlayedFrame();

  // Outputs and the XTF ping.
  RunOutputSequence(mode);
  ExternalControlAfterPing();

  // The diagnostics rows take the header before the record is
  // invalidated, so that it is decoded at most once.
  UpdateDiagnostics();
  FinishPing();
  pp.pingsProcessed++;
  if (!fileMode) g_switch.pingInProgress.store(0);
  return 1;
}
