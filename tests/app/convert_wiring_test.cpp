// Whole conversion runs that check the wiring between modules: the settings
// follow-ups already act while orvale-convert loads "Orvale.INI", and the XTF
// file puts a target on the side of the sonar where the scene has it.
#include <cmath>

#include "app/app_test_util.h"
#include "processing/profile_filter.h"

namespace {

using namespace apptest;

class ConvertWiring : public AppFixture {
 protected:
  void TearDown() override {
    ResetProfileFilter();
    AppFixture::TearDown();
  }
  int Run(const char* name, char sw, ConvertSummary* summary) {
    ConvertOptions o;
    o.name = name;
    o.outputSwitch = sw;
    char error[512];
    const int status = RunConversion(o, summary, error, sizeof error);
    error_ = error;
    return status;
  }
  std::string error_;
};

TEST_F(ConvertWiring, TheLoaderFollowUpsActDuringTheConvertersLoad) {
  WriteSurvey("f.K41", 10.0, 2);
  WriteLoopbackIni("ProfilePointDotSize=0\n", 9);
  SetMinimumRange(15);  // what an earlier external command left
  g_filter.deepOutlierSw = 0;
  ConvertSummary summary;
  ASSERT_EQ(Run("f", 'p', &summary), kConvertOk) << error_;
  EXPECT_FLOAT_EQ(g_detect.minimumRangeM, 0.1f);
  EXPECT_EQ(g_filter.deepOutlierSw, 1);
}

// One recording, two point targets in open water: port at 8 m, starboard at
// 16 m, both 50 degrees off the boresight where the sidescan beams look
// (sidescan angle 15 of a 120-degree fan). The XTF port channel holds the
// near-range sample at its last byte (sample s at S-1-s), the starboard
// channel sample s at byte s.
TEST_F(ConvertWiring, XtfChannelsHoldTheirOwnSidesTargets) {
  SceneParams scene;
  scene.seabed = 0;
  scene.rangeStep = 5;  // 30 m: 500 samples of 6 cm
  scene.targets[0] = PointTarget{-50.0, 8.0, 60.0};
  scene.targets[1] = PointTarget{50.0, 16.0, 60.0};
  scene.targetCount = 2;
  SurveyParams survey;
  survey.pingCount = 4;
  ASSERT_EQ(WriteSceneFile(Path("sides.K41").c_str(), scene, survey), 4);
  ResetEverything();
  WriteLoopbackIni("StepSize=1\nSectorSize=3\n", 9);
  ConvertSummary summary;
  ASSERT_EQ(Run("sides", 'x', &summary), kConvertOk) << error_;

  const auto xtf = ReadAll(Path("sides_sss.XTF"));
  const int S = 500;
  const int pingBytes = 256 + 64 + S + 64 + S;
  ASSERT_EQ(xtf.size(), size_t(1024 + 4 * pingBytes));
  const int portSample = static_cast<int>(8.0 / 30.0 * S);        // 133
  const int starboardSample = static_cast<int>(16.0 / 30.0 * S);  // 266
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    const uint8_t* port = xtf.data() + 1024 + k * pingBytes + 256 + 64;
    const uint8_t* stbd = port + S + 64;
    int portPeak = 0, stbdPeak = 0;
    for (int i = 0; i < S; ++i) {
      if (port[i] > port[portPeak]) portPeak = i;
      if (stbd[i] > stbd[stbdPeak]) stbdPeak = i;
    }
    EXPECT_NEAR(S - 1 - portPeak, portSample, 6);
    EXPECT_NEAR(stbdPeak, starboardSample, 6);
    EXPECT_GT(port[portPeak], 20);
    EXPECT_GT(stbd[stbdPeak], 20);
    // Neither target shows on the other side's channel.
    EXPECT_LT(port[S - 1 - starboardSample], port[portPeak] / 4);
    EXPECT_LT(stbd[portSample], stbd[stbdPeak] / 4);
  }
}

}  // namespace
