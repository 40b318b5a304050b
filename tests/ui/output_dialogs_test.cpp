// "Data Output Setup" through the recording backend: the file buttons act for
// their own choice only, and leaving a choice closes its file.
#include "processing/outputs_test_util.h"
#include "ui/output_dialogs.h"

namespace {

using namespace outtest;

class OutputDialogs : public OutputsFixture {};

TEST_F(OutputDialogs, NoneClosesThePointFileEvenWhenCancelled) {
  g_settings.DataOutputType = kOutputPoints;
  ASSERT_EQ(OpenPointFile(Path("d.K4P").c_str()), 1);
  plat::rec::ScriptDialog({"DATAOUTPUTSETUP",
                           {{plat::rec::DialogAction::kCheck, kDoRadioNone, "", 1},
                            {plat::rec::DialogAction::kClick, plat::kIdCancel, "", 0}}});
  EXPECT_EQ(RunDataOutputDialog(), 0);
  EXPECT_EQ(g_outputs.pointFileOpen, 0);
  EXPECT_EQ(g_settings.DataOutputType, kOutputPoints);  // cancel stores nothing
}

TEST_F(OutputDialogs, FileButtonsActOnlyForTheirChoice) {
  g_settings.DataOutputType = kOutputNone;
  // The point button while "None" is chosen does nothing (no file dialog).
  plat::rec::ScriptDialog({"DATAOUTPUTSETUP",
                           {{plat::rec::DialogAction::kClick, kDoPointFileButton, "", 0},
                            {plat::rec::DialogAction::kCheck, kDoRadioBeams, "", 1},
                            {plat::rec::DialogAction::kClick, kDoBeamFileButton, "", 0},
                            {plat::rec::DialogAction::kCheck, kDoIntensityCheck, "", 0},
                            {plat::rec::DialogAction::kClick, plat::kIdOk, "", 0}}});
  plat::rec::ScriptFileDialog(1, Path("beams.K4B"));
  EXPECT_EQ(RunDataOutputDialog(), 1);
  ASSERT_EQ(plat::rec::Get().fileRequestTitles.size(), 1u);
  EXPECT_EQ(plat::rec::Get().fileRequestTitles[0], "Open a Beam Output File For Recording");
  EXPECT_EQ(g_outputs.beamFileOpen, 1);
  EXPECT_EQ(g_settings.DataOutputType, kOutputBeams);
  EXPECT_EQ(g_settings.ProfilePointIntensityOutput, 0);
  // Second run: the button now closes the file.
  plat::rec::ScriptDialog({"DATAOUTPUTSETUP",
                           {{plat::rec::DialogAction::kClick, kDoBeamFileButton, "", 0},
                            {plat::rec::DialogAction::kClick, plat::kIdOk, "", 0}}});
  EXPECT_EQ(RunDataOutputDialog(), 1);
  EXPECT_EQ(g_outputs.beamFileOpen, 0);
}

}  // namespace
