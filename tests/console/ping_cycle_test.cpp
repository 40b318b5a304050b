// The per-ping processing on played records: the take-over of a record's
// settings (range, tilt) with table rebuilds and processing resets while the
// operator's copies stay untouched, rejected records, Beam Test, and no heap
// allocation per ping along the whole chain with every output open.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/nav_edit.h"
#include "common/alloc_counter.h"
#include "common/chain_fixture.h"
#include "console/conversion.h"
#include "console/playback.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "console/ping_cycle.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/scan_convert.h"
#include "nav/nav_state.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "scene.h"
#include "scene_file.h"
#include "settings/settings.h"

namespace {

using testutil::ReadAll;

class PerPing : public testutil::ChainTest {
 protected:
  PerPing() : ChainTest("orvale_ping") {}
  std::vector<uint8_t> Survey(int pings, int rangeStep, double depthM, double tiltDeg = 0.0, int kHz = 260) {
    SceneParams scene;
    scene.rangeStep = rangeStep;
    scene.frequencyKHz = kHz;
    scene.depthM = depthM;
    SurveyParams survey;
    survey.pingCount = pings;
    const double savedTilt = g_settings.ProfileTiltAngle;
    g_settings.ProfileTiltAngle = tiltDeg;  // the recorder writes the tilt in force
    const std::string tmp = Path("part.K41");
    EXPECT_EQ(WriteSceneFile(tmp.c_str(), scene, survey), pings);
    g_settings.ProfileTiltAngle = savedTilt;
    return ReadAll(tmp);
  }
  std::string WriteBytes(const char* name, const std::vector<uint8_t>& bytes) {
    const std::string path = Path(name);
    testutil::WriteAll(path, bytes);
    return path;
  }
  void EnterFileMode() {
    g_settings.RunMode = 1;
    SaveLiveHeadCopies();
  }
};

TEST_F(PerPing, APlayedRecordWithNewFrequencyAndRangeBuildsTheTablesOnce) {
  std::vector<uint8_t> bytes = Survey(2, 5, 12.0);
  const std::vector<uint8_t> second = Survey(2, 4, 8.0, 0.0, 330);
  bytes.insert(bytes.end(), second.begin(), second.end());
  const std::string path = WriteBytes("freq.K41", bytes);
  EnterFileMode();
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;
  PlaybackStep();
  PlaybackStep();
  const int rebuilds = g_perPing.tableRebuilds;
  const int refreshes = g_perPing.frequencyRefreshes;
  ASSERT_EQ(PlaybackStep(), kStepRecord);
  EXPECT_EQ(g_settings.Range, 4);
  EXPECT_EQ(g_perPing.frequencyRefreshes, refreshes + 1);
  EXPECT_EQ(g_perPing.tableRebuilds, rebuilds + 1);
  EXPECT_EQ(g_perPing.pingsProcessed, 3);
}

TEST_F(PerPing, PlayedRangeAndTiltChangesRebuildAndResetButKeepTheOperatorsCopies) {
  std::vector<uint8_t> bytes = Survey(3, 5, 12.0);             // 30 m
  const std::vector<uint8_t> second = Survey(3, 4, 8.0);       // 20 m
  const std::vector<uint8_t> third = Survey(2, 4, 8.0, 10.0);  // 20 m, tilted
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.insert(bytes.end(), third.begin(), third.end());
  const std::string path = WriteBytes("mixed.K41", bytes);

  g_settings.Range = 9;
  g_settings.Gain = 7;
  g_settings.ProfileTiltAngle = -5.0;
  EnterFileMode();
  const LiveHeadCopies before = g_liveHead;
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;

  ASSERT_EQ(PlaybackStep(), kStepRecord);
  EXPECT_EQ(g_settings.Range, 5);
  const int rebuilds = g_perPing.tableRebuilds;
  const int resets = g_perPing.processingResets;
  PlaybackStep();
  PlaybackStep();
  EXPECT_EQ(g_perPing.tableRebuilds, rebuilds);  // same settings: nothing rebuilt
  EXPECT_EQ(g_perPing.processingResets, resets);
  PlaybackStep();  // first 20 m record
  EXPECT_EQ(g_settings.Range, 4);
  EXPECT_EQ(g_perPing.tableRebuilds, rebuilds + 1);
  EXPECT_EQ(g_perPing.processingResets, resets + 1);
  PlaybackStep();
  PlaybackStep();
  PlaybackStep();  // tilted: processing reset without new tables
  EXPECT_DOUBLE_EQ(g_settings.ProfileTiltAngle, 10.0);
  EXPECT_EQ(g_perPing.tableRebuilds, rebuilds + 1);
  EXPECT_EQ(g_perPing.processingResets, resets + 2);
  EXPECT_EQ(g_perPing.pingsProcessed, 7);

  EXPECT_EQ(g_liveHead.Range, before.Range);
  EXPECT_EQ(g_liveHead.Gain, before.Gain);
  EXPECT_DOUBLE_EQ(g_liveHead.ProfileTiltAngle, before.ProfileTiltAngle);
  RestoreLiveHeadCopies();
  EXPECT_EQ(g_settings.Range, 9);
  EXPECT_EQ(g_settings.Gain, 7);
  EXPECT_DOUBLE_EQ(g_settings.ProfileTiltAngle, -5.0);
}

// A played file whose range offset changes part-way: the pixel map must be
// rebuilt for the new offset (the grid already follows it), so the echoes
// are drawn where the grid says they are.
TEST_F(PerPing, APlayedRangeOffsetChangeRebuildsThePixelMapForIt) {
  constexpr int kRecordBytes = 8192;  // type "U"
  constexpr int kOffset = 10;         // metres, within the 30 m step's maximum
  std::vector<uint8_t> bytes = Survey(3, 5, 12.0);
  const std::vector<uint8_t> later = Survey(3, 5, 12.0);
  bytes.insert(bytes.end(), later.begin(), later.end());
  ASSERT_EQ(bytes.size(), size_t(6 * kRecordBytes));
  for (int k = 3; k < 6; ++k) bytes[size_t(k) * kRecordBytes + 41] = kOffset;
  const std::string path = WriteBytes("offset.K41", bytes);

  EnterFileMode();
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;
  for (int k = 0; k < 3; ++k) ASSERT_EQ(PlaybackStep(), kStepRecord);
  EXPECT_EQ(g_scan.geom.rangeOffset, 0);
  EXPECT_EQ(g_scan.geom.offsetSamples, 0);
  const std::vector<uint8_t> before(reinterpret_cast<const uint8_t*>(g_scan.PixelMap),
                                    reinterpret_cast<const uint8_t*>(g_scan.PixelMap) + sizeof g_scan.PixelMap);
  const int builds = g_scan.builds;

  ASSERT_EQ(PlaybackStep(), kStepRecord);
  EXPECT_EQ(g_switch.rangeOffset, kOffset);
  EXPECT_EQ(g_scan.geom.rangeOffset, kOffset);
  EXPECT_EQ(g_scan.geom.offsetSamples, kOffset * 500 / 30);
  const std::vector<uint8_t> after(reinterpret_cast<const uint8_t*>(g_scan.PixelMap),
                                   reinterpret_cast<const uint8_t*>(g_scan.PixelMap) + sizeof g_scan.PixelMap);
  EXPECT_NE(before, after);
  // The map in use is the one a fresh build for this offset gives.
  ASSERT_EQ(BuildDisplayMode(plat::kWinMain), 1);
  EXPECT_EQ(0, std::memcmp(after.data(), g_scan.PixelMap, after.size()));
  // Same offset again: nothing is rebuilt for it.
  const int rebuilt = g_scan.builds;
  EXPECT_EQ(rebuilt - builds, 2);
  PlaybackStep();
  PlaybackStep();
  EXPECT_EQ(g_scan.builds, rebuilt);
}

TEST_F(PerPing, ARejectedRecordIsNeitherDrawnNorOutput) {
  std::vector<uint8_t> bytes = Survey(3, 5, 12.0);
  bytes[8192 + kFileHeaderBytes + 2] = 'Q';  // record 1's PingRecord loses its "X"
  const std::string path = WriteBytes("bad.K41", bytes);
  const int rx = net::UdpOpen("127.0.0.1", 0);
  ASSERT_GE(rx, 0);
  std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "127.0.0.1");
  g_settings.RemotePort_Output1 = net::LocalPort(rx);
  ASSERT_EQ(OpenOutputSocket(), 1);
  EnterFileMode();
  g_perPing.pauseOnReject = 0;
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;
  for (int i = 0; i < 3; ++i) PlaybackStep();
  EXPECT_EQ(g_perPing.pingsRejected, 1);
  EXPECT_EQ(g_perPing.pingsProcessed, 2);
  int datagrams = 0;
  uint8_t buf[2048];
  while (net::WaitReadable(rx, 100) > 0 && net::UdpReceive(rx, buf, sizeof buf, nullptr, nullptr) >= 0) ++datagrams;
  EXPECT_EQ(datagrams, 2);  // one keep-alive for each processed ping only
  net::CloseSocket(rx);
}

TEST_F(PerPing, BeamTestDrawsTheRasterAndSendsOnlyTheKeepAlive) {
  const std::string path = WriteBytes("bt.K41", Survey(2, 5, 12.0));
  g_settings.DisplayType = 4;
  g_settings.ProfilePointDetection = 1;
  g_settings.DataOutputType = kOutputPoints;
  EnterFileMode();
  ASSERT_EQ(OpenXtfFile(Path("bt_sss.XTF").c_str()), 1);
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;
  PlaybackStep();
  PlaybackStep();
  EXPECT_EQ(g_perPing.pingsProcessed, 2);
  EXPECT_EQ(g_perPing.procTimeMs, 0.0);
  EXPECT_EQ(g_outputs.outputCounter, 0u);
  EXPECT_EQ(g_xtf.pingsWritten, 0);
  EXPECT_EQ(g_beamform.pingsProcessed, 0);  // no beams formed
}

TEST_F(PerPing, HeadModeTakesTheCycleStampAndNavigation) {
  g_settings.RunMode = 0;
  g_settings.ProfilePointDetection = 1;
  g_settings.DataOutputType = kOutputPoints;
  ASSERT_EQ(OpenPointFile(Path("live.K4P").c_str()), 1);
  TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 8, 9, 10, 456});
  {
    testutil::NavEdit nav;
    nav->speedKnots = 31.0;
    std::memcpy(nav->latitude, " 47.30.00000 N", 14);
  }
  ApplyDataType(0);
  SceneParams scene;
  scene.depthM = 12.0;
  int rebuildsAfterFirst = 0;
  for (int i = 0; i < 2; ++i) {
    // As packet assembly leaves a completed ping: the record and its end byte.
    ASSERT_GT(SynthesizePing(scene, i, g_pingRecord), 0);
    g_ping.endByte = kEndByte;
    g_switch.pingInProgress.store(1);
    ASSERT_EQ(ProcessDecodedRecord(), 1);
    EXPECT_EQ(g_switch.pingInProgress.load(), 0);
    if (i == 0) rebuildsAfterFirst = g_perPing.tableRebuilds;
  }
  // The first live ping reports the head type and may rebuild; the same
  // head type again does not, and live pings bring no file settings.
  EXPECT_EQ(g_perPing.tableRebuilds, rebuildsAfterFirst);
  ClosePointFile();
  const auto rec = ReadAll(Path("live.K4P"));
  ASSERT_GT(rec.size(), 256u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data() + 8)), "07-DEC-2026");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data() + 20)), "08:09:10");
  EXPECT_EQ(std::memcmp(rec.data() + 112, ".456", 4), 0);
  EXPECT_EQ(std::memcmp(rec.data() + 33, " 47.30.00000 N", 14), 0);
  EXPECT_EQ(rec[61], 255);
}

// Live pings are recorded as they decode, each exactly as the head sent it;
// a played file is never recorded into.
TEST_F(PerPing, HeadModeRecordsEveryDecodedPing) {
  g_settings.RunMode = 0;
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir_.c_str());
  TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 8, 9, 10, 456});
  ApplyDataType(0);
  ASSERT_EQ(StartAutomaticRecording(), 1);
  SceneParams scene;
  scene.depthM = 12.0;
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 3; ++i) {
    // As packet assembly leaves a completed ping: the record, its end byte
    // and the writer's copy.
    const int n = SynthesizePing(scene, i, g_pingRecord);
    ASSERT_GT(n, 0);
    std::memcpy(g_fileWriterRecord, g_pingRecord, static_cast<size_t>(n));
    g_ping.endByte = kEndByte;
    sent.emplace_back(g_pingRecord, g_pingRecord + n);
    ASSERT_EQ(ProcessDecodedRecord(), 1);
  }
  EXPECT_EQ(g_recording.pingsRecorded, 3);

  // File mode: the recorder stays out of the cycle, even with a file open.
  EnterFileMode();
  const std::string played = WriteBytes("played.K41", Survey(2, 3, 5.0));
  ASSERT_EQ(OpenPlaybackFile(played.c_str()), 1);
  g_player.skipNext = 0;
  ASSERT_EQ(PlaybackStep(), kStepRecord);
  ASSERT_EQ(PlaybackStep(), kStepRecord);
  EXPECT_EQ(g_player.recordsProcessed, 2);
  EXPECT_EQ(g_recording.pingsRecorded, 3);

  const std::string path = g_recording.name;
  ASSERT_EQ(StopRecording(), 1);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  for (const auto& ping : sent) {
    ASSERT_EQ(ReadNextRecord(f), kReadRecord);
    EXPECT_EQ(std::memcmp(g_pingRecord, ping.data(), ping.size()), 0);
  }
  EXPECT_EQ(ReadNextRecord(f), kReadEnd);
  std::fclose(f);
}

int OverlayPixels() {
  int count = 0;
  for (int r = 0; r < kImageHeight; ++r)
    for (int c = 0; c < kImageWidth; ++c) count += g_scan.ImageBuffer[r][c] == kOverlayMarker;
  return count;
}

TEST_F(PerPing, TheGridSurvivesTheEndOfTheFile) {
  const std::string path = WriteBytes("loop.K41", Survey(2, 5, 12.0));
  EnterFileMode();
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;
  PlaybackStep();
  const int grid = OverlayPixels();
  ASSERT_GT(grid, 0);
  PlaybackStep();
  ASSERT_EQ(PlaybackStep(), kStepEndOfFile);
  EXPECT_EQ(OverlayPixels(), grid);
  // Only the echoes are gone.
  for (int r = 0; r < kImageHeight; ++r)
    for (int c = 0; c < kImageWidth; ++c)
      ASSERT_TRUE(g_scan.ImageBuffer[r][c] == 0 || g_scan.ImageBuffer[r][c] >= 119) << r << "," << c;
}

TEST_F(PerPing, TheWholeChainAllocatesNothingPerPing) {
  const std::string path = WriteBytes("alloc.K41", Survey(12, 5, 12.0));
  const int rx = net::UdpOpen("127.0.0.1", 0);
  ASSERT_GE(rx, 0);
  std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "127.0.0.1");
  g_settings.RemotePort_Output1 = net::LocalPort(rx);
  g_settings.ProfilePointDetection = 1;
  g_settings.DataOutputType = kOutputPoints;
  ASSERT_EQ(OpenOutputSocket(), 1);
  EnterFileMode();
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  ASSERT_EQ(OpenPointFile(Path("alloc.K4P").c_str()), 1);
  ASSERT_EQ(OpenXtfFile(Path("alloc_sss.XTF").c_str()), 1);
  // Warm up: tables, stdio buffers and the picture copy are made once.
  for (int i = 0; i < 4; ++i) PlaybackStep();
  alloc_counter::Start();
  for (int i = 0; i < 6; ++i) PlaybackStep();
  const long allocations = alloc_counter::Stop();
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(g_perPing.pingsProcessed, 9);
  EXPECT_EQ(g_xtf.pingsWritten, 9);
  net::CloseSocket(rx);
}

}  // namespace

namespace {

// A refresh builds new geometry: the beam slots of the old one must not be
// interpolated into the first picture drawn with the new tables.
TEST_F(PerPing, TheFrequencyRefreshClearsTheBeamSampleSlots) {
  InitPipeline();
  std::memset(g_scan.BeamSampleBuffer, 77, sizeof g_scan.BeamSampleBuffer);
  ForceFrequencyRefresh();
  ASSERT_EQ(FrequencyAndHeadRefresh(), 1);
  int nonZero = 0;
  for (const auto& slot : g_scan.BeamSampleBuffer)
    for (uint8_t v : slot) nonZero += v != 0;
  EXPECT_EQ(nonZero, 0);
}

// The beamformer clears its ring when averaging changes; detection's point
// histories must go with it, through the cycle, and with a chain reset.
TEST_F(PerPing, PointHistoriesFollowEveryClearOfTheBeamformersHistories) {
  InitPipeline();
  g_settings.DisplayType = 0;
  g_settings.ProfilePointDetection = 1;
  g_settings.AvgFilterIndex = 5;
  g_sampleCount = 500;
  ASSERT_EQ(FormBeamsAndProfile(), 1);
  auto dirty = [] {
    g_filter.ring[0][5] = 100.0f;
    g_filter.ringSum[5] = 100.0f;
  };
  dirty();
  ASSERT_EQ(FormBeamsAndProfile(), 1);  // nothing changed: the history stays
  EXPECT_EQ(g_filter.ringSum[5], 100.0f);
  g_settings.AvgFilterIndex = 7;
  ASSERT_EQ(FormBeamsAndProfile(), 1);
  EXPECT_EQ(g_filter.ring[0][5], 0.0f);
  dirty();
  ResetProcessingChain();
  EXPECT_EQ(g_filter.ring[0][5], 0.0f);
  EXPECT_EQ(g_filter.ringSum[5], 0.0f);
}

}  // namespace
