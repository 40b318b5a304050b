// The operator's stored head settings (Frequency and Range in Orvale.INI)
// against everything that plays files: two conversion runs, a File-mode
// session playing a recording of another head, and a save and load as at a
// restart. The file must come back as the operator left it, for every head.
#include "app/app_test_util.h"
#include "console/run_mode.h"
#include "settings/profile_file.h"

namespace {

using namespace apptest;

struct StoredHead {
  const char* legend;
  int frequencyKHz;  // the head's default frequency
  int rangeStep;     // its largest range step
};

// Every head the console knows, by the frequency it names and its longest range.
const StoredHead kHeads[] = {
    {"120 kHz head (setting 5), 300 m", 120, 14},
    {"120 kHz head, 250 m", 120, 13},
    {"260 kHz heads (settings 3, 4, 8, 12), 150 m", 260, 11},
    {"675 kHz heads (settings 6, 11), 150 m", 675, 11},
    {"675 kHz head (setting 7), 60 m", 675, 8},
    {"800 kHz head (setting 13), 150 m", 800, 11},
    {"1700 kHz head (setting 9), 150 m", 1700, 11},
};

class StoredHeadSettings : public AppFixture {
 protected:
  void WriteIni(const StoredHead& h) {
    WriteLoopbackIni("Frequency=" + std::to_string(h.frequencyKHz) + "\nRange=" + std::to_string(h.rangeStep) + "\n");
  }
  // A recording made with another head than the operator's.
  void WriteOtherHeadSurvey(const StoredHead& h) {
    SceneParams scene;
    scene.depthM = 12.0;
    scene.rangeStep = 5;
    scene.headTypeSetting = h.frequencyKHz == 120 ? 4 : 5;
    scene.frequencyKHz = h.frequencyKHz == 120 ? 260 : 120;
    SurveyParams survey;
    survey.pingCount = 4;
    ASSERT_EQ(WriteSceneFile(Path("other.K41").c_str(), scene, survey), survey.pingCount);
    ResetEverything();
  }
  std::string Saved(const char* key) {
    ProfileFile f;
    ProfileLoad(f, Path("Orvale.INI").c_str());
    char out[kProfileValueChars + 1];
    ProfileGetString(f, "Settings", key, "<none>", out, sizeof out);
    return out;
  }
  // What the file says and what a fresh start-up loads from it.
  void ExpectStored(const StoredHead& h, const char* after) {
    SCOPED_TRACE(after);
    EXPECT_EQ(Saved("Frequency"), std::to_string(h.frequencyKHz));
    EXPECT_EQ(Saved("Range"), std::to_string(h.rangeStep));
    ResetEverything();
    ASSERT_EQ(CreateConsole(Path("Orvale.INI").c_str()), 1);
    EXPECT_EQ(g_settings.Frequency, h.frequencyKHz);
    EXPECT_EQ(g_settings.Range, h.rangeStep);
    ResetEverything();
  }
};

TEST_F(StoredHeadSettings, SurviveConversionRuns) {
  for (const StoredHead& h : kHeads) {
    SCOPED_TRACE(h.legend);
    WriteOtherHeadSurvey(h);
    WriteIni(h);
    for (int run = 1; run <= 2; ++run) {
      SCOPED_TRACE(run);
      ConvertOptions o;
      o.name = "other";
      o.outputSwitch = 'p';
      char error[512];
      ASSERT_EQ(RunConversion(o, nullptr, error, sizeof error), kConvertOk) << error;
      ExpectStored(h, "conversion run");
    }
  }
}

TEST_F(StoredHeadSettings, SurviveAFileModeSessionAndARestart) {
  const std::string ini = Path("Orvale.INI");
  for (const StoredHead& h : kHeads) {
    SCOPED_TRACE(h.legend);
    WriteOtherHeadSurvey(h);
    WriteIni(h);
    ResetSwitchState();
    LoadConsoleSettings(ini.c_str());
    const HeadLimits loaded = g_headLimits;
    const int loadedHeadType = g_switch.headTypeSetting;

    g_settings.RunMode = 1;
    SaveLiveHeadCopies();
    ASSERT_EQ(OpenPlaybackFile(Path("other.K41").c_str()), 1);
    g_player.skipNext = 0;
    for (int k = 0; k < 3; ++k) ASSERT_EQ(PlaybackStep(), kStepRecord);
    ASSERT_EQ(SaveSettings(ini.c_str()), 1);  // a save while the file plays
    EXPECT_EQ(Saved("Frequency"), std::to_string(h.frequencyKHz));
    EXPECT_EQ(Saved("Range"), std::to_string(h.rangeStep));
    ClosePlaybackFile();
    g_settings.RunMode = 0;
    RestoreLiveHeadCopies();
    FrequencyAndHeadRefresh();

    // Back in Head mode the operator's head is the one in force again, not
    // the played one.
    EXPECT_EQ(g_settings.Frequency, h.frequencyKHz);
    EXPECT_EQ(g_settings.Range, h.rangeStep);
    EXPECT_EQ(g_headLimits.maxStep, loaded.maxStep);
    EXPECT_EQ(g_headLimits.freqMinKHz, loaded.freqMinKHz);
    EXPECT_EQ(g_headLimits.freqMaxKHz, loaded.freqMaxKHz);
    EXPECT_EQ(g_headLimits.headDefaultFreqKHz, loaded.headDefaultFreqKHz);
    EXPECT_EQ(g_headLimits.FrequencyCoefficient, loaded.FrequencyCoefficient);
    EXPECT_EQ(g_switch.headTypeSetting, loadedHeadType);
    ASSERT_EQ(SaveSettings(ini.c_str()), 1);
    ExpectStored(h, "File-mode session and restart");
  }
}

}  // namespace
