// Whole conversions with the ping's helper thread and without it: the
// beamformer's split, detection beside the drawing of the echoes, and the
// overlays after both must give the products one thread gives, byte for
// byte. Built with ThreadSanitizer by test.sh, so a part that reads what the
// other writes shows as a race.
#include <cstdlib>

#include "app/app_test_util.h"

namespace {

using apptest::ReadAll;

class PingSplit : public apptest::AppFixture {
 protected:
  void TearDown() override {
    unsetenv("ORVALE_PING_THREADS");
    AppFixture::TearDown();
  }

  struct Products {
    std::vector<uint8_t> points, xtf, picture;
    int pings = 0;
  };

  Products Convert(const char* threads) {
    setenv("ORVALE_PING_THREADS", threads, 1);
    ConvertOptions o;
    o.name = "survey";
    o.outputSwitch = 'x';
    o.savePicture = "last.bmp";
    ConvertSummary summary;
    char error[256];
    EXPECT_EQ(RunConversion(o, &summary, error, sizeof error), kConvertOk) << error;
    Products p;
    p.points = testutil::MaskK4PRunTimeFields(ReadAll(Path("survey.K4P")));
    p.xtf = ReadAll(Path("survey_sss.XTF"));
    p.picture = ReadAll(Path("last.bmp"));
    p.pings = summary.pingsProcessed;
    apptest::ResetEverything();
    return p;
  }
};

TEST_F(PingSplit, TwoThreadsMakeTheProductsOfOne) {
  struct Case {
    const char* legend;
    const char* settings;
  } cases[] = {
      {"Sector, Bottom Following", "DisplayType=0\nStepSize=0\nProfilePointDetection=1\nProfilePointFilter=2\n"},
      {"Profile with the waterfall, removed points marked in the fan",
       "DisplayType=3\nStepSize=1\nProfilePointDetection=1\nProfilePointFilter=2\nProfileWaterfall=1\n"
       "[Filter Settings]\nProfilePointFilter_g_show_outliers_sw=1\n"},
      // (Persistence stays off: its decay follows the ping period measured
      // while playing, so even two runs on one thread differ.)
      {"Sector, Maximum Return with intensities",
       "DisplayType=0\nStepSize=1\nProfilePointDetection=1\nProfilePointFilter=1\nProfilePointIntensityOutput=1\n"},
      {"Linear, detection off", "DisplayType=1\nStepSize=2\nProfilePointDetection=0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    WriteSurvey("survey.K41", 9.0, 12);
    WriteLoopbackIni(c.settings);
    const Products one = Convert("1");
    WriteLoopbackIni(c.settings);
    const Products two = Convert("2");
    ASSERT_EQ(one.pings, 12);
    EXPECT_EQ(two.pings, 12);
    EXPECT_GT(one.picture.size(), 500000u);
    EXPECT_TRUE(one.points == two.points);
    EXPECT_TRUE(one.xtf == two.xtf);
    EXPECT_TRUE(one.picture == two.picture);
  }
}

}  // namespace
