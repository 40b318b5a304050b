// Shared set-up of the ui tests: every module back to its start, the tables
// built once for the settings in force, and the menu state the recording
// backend ends with.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/reset_all.h"
#include "console/playback.h"
#include "common/test_files.h"
#include "console/ping_cycle.h"
#include "imaging/background.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "ui/commands.h"
#include "ui/keys.h"
#include "ui/readout.h"

namespace uitest {

class UiFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetAllModules();
    ResetCommands();
    ResetKeys();
    ResetBackground();
    ResetRender();
    g_mainLayout = MainLayout{};
    std::snprintf(g_settingsFile.path, sizeof g_settingsFile.path, "%s/Orvale.INI", dir_.path().c_str());
    // Automatic recording names and the coverage log go here too.
    std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s",
                  dir_.path().c_str());
  }
  void TearDown() override { testutil::ResetAllModules(); }
  // Builds the processing and display tables for the settings in force.
  static void BuildTables() { InitPipeline(); }

  testutil::TempDir dir_{"orvale_ui"};
};

// Final check state of every item the backend was told about.
inline std::map<int, int> MenuChecks() {
  std::map<int, int> state;
  for (const auto& [id, checked] : plat::rec::Get().menuChecks) state[id] = checked;
  return state;
}

}  // namespace uitest
