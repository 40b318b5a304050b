// The command line of the conversion run: switches, names with and without
// the extension, and files refused for their extension, absence or magic.
#include "app/app_test_util.h"

namespace {

using namespace apptest;

class CommandLine : public AppFixture {};

TEST_F(CommandLine, EmptyOrOverlongTextIsAnInteractiveStart) {
  EXPECT_EQ(ProcessCommandLine(""), kCmdInteractive);
  EXPECT_EQ(ProcessCommandLine(nullptr), kCmdInteractive);
  EXPECT_EQ(ProcessCommandLine("   "), kCmdInteractive);
  const std::string longText(256, 'a');
  EXPECT_EQ(ProcessCommandLine(longText.c_str()), kCmdInteractive);
  EXPECT_EQ(g_commandLine.conversionRun, 0);
  EXPECT_EQ(g_settings.RunMode, 0);
}

TEST_F(CommandLine, SwitchesSelectTheOutputs) {
  WriteSurvey("run.K41", 10.0, 2);
  std::filesystem::copy_file(Path("run.K41"), Path("lower.k41"));
  struct Case {
    const char* legend;
    std::string text;
    int points, beams, xtf, dataOutputType;
  };
  const std::vector<Case> cases = {
      {"/x without extension", Path("run") + " /x", 1, 0, 1, kOutputPoints},
      {"/P upper case", Path("run.K41") + " /P", 1, 0, 0, kOutputPoints},
      {"/b on a lower-case extension", Path("lower.k41") + "  /b  ", 0, 1, 0, kOutputBeams},
      {"no switch", Path("run.K41"), 0, 0, 0, kOutputNone},
      {"quoted", "\"" + Path("run") + "\" /X", 1, 0, 1, kOutputPoints},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetOutputs();
    ResetXtf();
    g_settings.DataOutputType = kOutputNone;
    g_settings.RunMode = 0;
    ASSERT_EQ(ProcessCommandLine(c.text.c_str()), kCmdConversion);
    EXPECT_EQ(g_commandLine.conversionRun, 1);
    EXPECT_EQ(g_commandLine.writePoints, c.points);
    EXPECT_EQ(g_commandLine.writeBeams, c.beams);
    EXPECT_EQ(g_commandLine.writeXtf, c.xtf);
    EXPECT_EQ(g_outputs.pointFileOpen, c.points);
    EXPECT_EQ(g_outputs.beamFileOpen, c.beams);
    EXPECT_EQ(g_xtf.open, c.xtf);
    EXPECT_EQ(g_settings.DataOutputType, c.dataOutputType);
    EXPECT_EQ(g_settings.RunMode, 1);
    if (c.points) {
      EXPECT_EQ(std::string(g_commandLine.pointName), Path("run.K4P"));
    }
    if (c.xtf) {
      EXPECT_EQ(std::string(g_xtf.name), Path("run_sss.XTF"));
    }
  }
  // The name without extension was opened with ".K41" appended.
  ResetOutputs();
  ResetXtf();
  ASSERT_EQ(ProcessCommandLine((Path("run") + " /x").c_str()), kCmdConversion);
  EXPECT_EQ(std::string(g_commandLine.fileName), Path("run.K41"));
  EXPECT_TRUE(std::filesystem::exists(Path("run.K4P")));
  EXPECT_TRUE(std::filesystem::exists(Path("run_sss.XTF")));
}

TEST_F(CommandLine, UnusableFilesCloseTheProgram) {
  WriteSurvey("run.K41", 10.0, 2);
  WriteText(Path("notes.K41"), "this is not a sonar file");
  WriteText(Path("k9b.K41"), std::string("K9B") + std::string(200, '\0'));
  WriteText(Path("short.K41"), "K4");
  struct Case { const char* legend; std::string text; int error; };
  const std::vector<Case> cases = {
      {"other extension", Path("run.k4p") + " /p", kCmdErrExtension},
      {"extension without the dot rule", Path("run.K41.bak") + " /x", kCmdErrExtension},
      {"missing file", Path("absent") + " /x", kCmdErrOpen},
      {"wrong magic", Path("notes.K41") + " /p", kCmdErrMagic},
      {"the alternative magic is not taken here", Path("k9b.K41") + " /p", kCmdErrMagic},
      {"shorter than the magic", Path("short.K41") + " /b", kCmdErrMagic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(ProcessCommandLine(c.text.c_str()), kCmdClose);
    EXPECT_EQ(g_commandLine.error, c.error);
    EXPECT_EQ(g_commandLine.conversionRun, 0);
    EXPECT_EQ(g_outputs.pointFileOpen + g_outputs.beamFileOpen + g_xtf.open, 0);
  }
  EXPECT_FALSE(std::filesystem::exists(Path("notes.K4P")));
  EXPECT_TRUE(plat::rec::Get().messages.empty());  // closes without a message
}

TEST_F(CommandLine, ConversionRunEndsTheProgramAtTheEndOfTheFile) {
  WriteSurvey("run.K41", 10.0, 3);
  ASSERT_EQ(ProcessCommandLine((Path("run") + " /p").c_str()), kCmdConversion);
  ASSERT_EQ(StartCommandLinePlayback(), 1);
  EXPECT_EQ(g_player.commandLineRun, 1);
  int guard = 0;
  while (!g_player.quitRequested && ++guard < 20) PlaybackStep();
  EXPECT_EQ(g_player.quitRequested, 1);
  EXPECT_EQ(g_player.recordsRead, 3);
  EXPECT_EQ(g_outputs.pointFileOpen, 0);  // closed by the end of the file
}

}  // namespace
