// The beamformer's work split over the ping's helper thread: every ping's fan
// is the same, bit for bit, whether the helper runs or not, over fans whose
// beam count splits into outer and inner quarters and fans that split into
// halves, Narrow Mixed's strided zones, roll, the nadir beams of Bottom
// Following, the clean-up and the averaging ring; and a ping allocates
// nothing with the helper running. Built and run under ThreadSanitizer by
// test.sh, which must report nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "common/alloc_counter.h"
#include "platform/work_split.h"
#include "processing/beamform_test_util.h"

namespace {

struct Case {
  const char* legend;
  int stepSize, mode, sectorSize, dataType;
  int profile;  // Profile display with Bottom Following
  double rollDeg;
};

const Case kCases[] = {
    {"480 Narrow U", 0, 2, 3, 0, 0, 0.0},
    {"480 Narrow Mixed V", 0, 3, 3, 1, 0, 0.0},
    {"240 Narrow Mixed U, Profile", 1, 3, 3, 0, 1, 0.0},
    {"360 Normal U, Profile rolled", 0, 1, 2, 0, 1, -6.0},
    {"90 Wide V (halves)", 2, 0, 2, 1, 0, 0.0},
    {"110 Narrow U, Profile rolled (halves)", 2, 2, 5, 0, 1, 9.0},
};

constexpr int kPings = 6;

class BeamformSplit : public ::testing::Test {
 protected:
  void TearDown() override { plat::StopWorkSplit(); }

  // Runs the case's pings; with `threads` 2 the helper takes half of each
  // split. The fans of every ping go to `fans` (N x n floats per ping).
  static void Run(const Case& c, int threads, std::vector<float>& fans, int* beams) {
    const SceneParams p = bftest::SlopingSeabedScene(c.dataType, 2);
    bftest::ResetAll(c.stepSize, c.mode, SceneSamples(p));
    ResetScene();
    g_settings.SectorSize = c.sectorSize;
    bftest::ApplyScene(p);
    g_settings.AvgFilter = 1;
    g_settings.ProfilePointFilter = c.profile ? 2 : 1;
    g_settings.DisplayType = c.profile ? 3 : 0;
    g_liveRollDeg = c.rollDeg;
    // After the console reset, which stops the helper.
    plat::StartWorkSplit(threads);
    fans.clear();
    for (int ping = 0; ping < kPings; ++ping) {
      ASSERT_EQ(bftest::DecodeScenePing(p, ping), 1);
      g_flatBottomFlag = ping == 3;  // one ping without the clean-up
      ASSERT_EQ(ProcessPing(), 1);
      for (int b = 0; b < g_beamGeom.beams; ++b)
        fans.insert(fans.end(), g_beamImage[b], g_beamImage[b] + g_beamGeom.samples);
    }
    *beams = g_beamGeom.beams;
    plat::StopWorkSplit();
  }
};

TEST_F(BeamformSplit, FansAreTheSameWithAndWithoutTheHelper) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: the split never runs";
  std::vector<float> alone, split;
  alone.reserve(kPings * kMaxBeams * kMaxSamples);
  split.reserve(kPings * kMaxBeams * kMaxSamples);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.legend);
    int beamsAlone = 0, beamsSplit = 0;
    Run(c, 1, alone, &beamsAlone);
    Run(c, 2, split, &beamsSplit);
    ASSERT_EQ(beamsAlone, beamsSplit);
    ASSERT_EQ(alone.size(), split.size());
    ASSERT_FALSE(alone.empty());
    float largest = 0.0f;
    for (float v : alone) largest = std::max(largest, v);
    EXPECT_GT(largest, 50.0f);
    const size_t perPing = alone.size() / kPings;
    for (size_t i = 0; i < alone.size(); ++i)
      ASSERT_EQ(std::memcmp(&alone[i], &split[i], sizeof(float)), 0)
          << "ping " << i / perPing << " beam " << (i % perPing) / (perPing / beamsAlone) << " of " << beamsAlone;
  }
}

TEST_F(BeamformSplit, PingsWithTheHelperAllocateNothing) {
  bftest::ResetAll(0, 2);
  ASSERT_EQ(plat::StartWorkSplit(2), std::thread::hardware_concurrency() > 1 ? 2 : 1);
  bftest::AddNoise(20, 7u);
  ASSERT_EQ(ProcessPing(), 1);  // the first ping settles the geometry's tables
  alloc_counter::Start();
  for (int ping = 0; ping < 20; ++ping) {
    bftest::AddNoise(20, 11u + ping);
    ASSERT_EQ(ProcessPing(), 1);
  }
  EXPECT_EQ(alloc_counter::Stop(), 0);
}

}  // namespace
