// The operator's side of recording: the maximum file size dialog with its
// spin, default and validation; command 15 and its item text; the keys
// Ctrl+S, Ctrl+E and Ctrl+N; and the save dialog waiting without the
// console lock, so the head goes on pinging while a name is typed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console/cycle_lock.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "ui/recording_dialogs.h"
#include "ui_test_util.h"

namespace {

namespace fs = std::filesystem;
using plat::rec::DialogAction;

constexpr int kCtrlS = 19, kCtrlE = 5, kCtrlN = 14;

class RecordingUi : public uitest::UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    g_settings.RunMode = 0;
    TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 6, 5, 4, 0});
  }
  std::string Path(const char* name) const { return dir_.File(name); }
  static std::string LastItem15Text() {
    std::string text;
    for (const auto& [id, t] : plat::rec::Get().menuTexts)
      if (id == 15) text = t;
    return text;
  }
};

TEST_F(RecordingUi, MaximumFileSizeDialog) {
  struct Case {
    const char* legend;
    int start;
    std::vector<DialogAction> actions;
    int result, stored;
    size_t messages;
  };
  const DialogAction up{DialogAction::kSpin, kMfsSpin, "", 1};
  const DialogAction down{DialogAction::kSpin, kMfsSpin, "", -1};
  const DialogAction ok{DialogAction::kClick, plat::kIdOk, "", 0};
  const DialogAction cancel{DialogAction::kClick, plat::kIdCancel, "", 0};
  const DialogAction byDefault{DialogAction::kClick, kMfsDefault, "", 0};
  auto typed = [](const char* text) { return DialogAction{DialogAction::kSetText, kMfsValue, text, 0}; };
  const Case cases[] = {
      {"spin up", 500, {up, ok}, 1, 600, 0},
      {"spin up stops at 1000", 900, {up, up, up, ok}, 1, 1000, 0},
      {"spin down stops at 100", 300, {down, down, down, down, ok}, 1, 100, 0},
      {"default", 800, {byDefault, ok}, 1, 500, 0},
      {"cancel keeps the value", 500, {up, up, cancel}, 0, 500, 0},
      {"typed value taken", 500, {typed("250"), ok}, 1, 250, 0},
      {"typed too small refused", 700, {typed("50"), ok, cancel}, 0, 700, 1},
      {"typed too large refused, then spun", 700, {typed("1200"), ok, up, ok}, 1, 800, 1},
      {"not a number refused", 400, {typed("abc"), ok, cancel}, 0, 400, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    plat::rec::Reset();
    g_settings.MaximumFilesize = c.start;
    plat::rec::ScriptDialog({"MAXIMUMFILESIZE", c.actions});
    EXPECT_EQ(RunMaximumFileSizeDialog(), c.result);
    EXPECT_EQ(g_settings.MaximumFilesize, c.stored);
    ASSERT_EQ(plat::rec::Get().messages.size(), c.messages);
    if (c.messages) {
      EXPECT_EQ(plat::rec::Get().messages[0].caption, "Maximum Filesize");
      EXPECT_EQ(plat::rec::Get().messages[0].text, "Maximum Filesize is out of range!\nUse 100 to 1000 MBytes.");
    }
  }
}

TEST_F(RecordingUi, Command20RunsTheDialogAndSavesTheSetting) {
  plat::rec::ScriptDialog({"MAXIMUMFILESIZE", {{DialogAction::kSpin, kMfsSpin, "", -1},
                                               {DialogAction::kClick, plat::kIdOk, "", 0}}});
  EXPECT_EQ(RunCommand(20), 1);
  EXPECT_EQ(plat::rec::Get().dialogsRun.back(), "MAXIMUMFILESIZE");
  EXPECT_NE(testutil::ReadText(g_settingsFile.path).find("MaximumFilesize=400"), std::string::npos);
}

TEST_F(RecordingUi, Command15StartsAndStopsWithItsItemText) {
  EXPECT_EQ(RunCommand(15), 1);
  ASSERT_EQ(Recording(), 1);
  EXPECT_EQ(std::string(g_recording.name), Path("07DEC2026-0001.K41"));
  EXPECT_EQ(LastItem15Text(), "&Record Stop...\t  Ctrl+E");
  EXPECT_EQ(RunCommand(15), 1);
  EXPECT_EQ(Recording(), 0);
  EXPECT_EQ(LastItem15Text(), "&Record Start...\t  Ctrl+S");
  g_settings.RunMode = 1;
  RunCommand(15);
  EXPECT_EQ(Recording(), 0) << "no recording in File mode";
}

// A stand-in for the platform's save dialog that notes whether the caller
// still held the console lock while it waited.
int s_lockHeldInDialog = -1;
int SaveDialogNotingTheLock(const plat::FileDialogRequest&, char* out, size_t size) {
  s_lockHeldInDialog = CycleLockHeld();
  std::snprintf(out, size, "%s", "/nonexistent-dir/never.K41");
  return 1;
}

TEST_F(RecordingUi, TheSaveDialogWaitsWithoutTheConsoleLock) {
  g_settings.AutoFilename = 0;
  plat::Backend backend = plat::RecordingBackend();
  backend.fileDialog = SaveDialogNotingTheLock;
  plat::SetBackend(&backend);
  RunCommand(15);
  plat::SetBackend(nullptr);
  EXPECT_EQ(s_lockHeldInDialog, 0);
  EXPECT_EQ(Recording(), 0) << "a file that cannot be made records nothing";
  EXPECT_EQ(CycleLockHeld(), 0);
}

TEST_F(RecordingUi, ControlKeysStartStopAndStartANewFile) {
  EXPECT_EQ(CharKey(kCtrlS), 1);
  EXPECT_EQ(CharKey(kCtrlS), 0) << "already recording";
  EXPECT_EQ(CharKey(kCtrlN), 1);
  EXPECT_EQ(std::string(g_recording.name), Path("07DEC2026-0002.K41"));
  EXPECT_EQ(CharKey(kCtrlE), 1);
  EXPECT_EQ(Recording(), 0);
  EXPECT_EQ(CharKey(kCtrlE), 0) << "nothing to stop";
  EXPECT_TRUE(fs::exists(Path("07DEC2026-0001.K41")));
  EXPECT_TRUE(fs::exists(Path("07DEC2026-0002.K41")));
  g_settings.RunMode = 1;
  EXPECT_EQ(CharKey(kCtrlS), 0);
  EXPECT_EQ(CharKey(kCtrlN), 0);
  EXPECT_EQ(Recording(), 0);
}

}  // namespace
