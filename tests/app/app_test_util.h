// Shared set-up of the application tests: every test runs in a fresh
// temporary working directory (the conversion reads and writes Orvale.INI
// there), with the module states reset and synthetic recordings at hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/command_line.h"
#include "app/convert_run.h"
#include "common/field_bytes.h"
#include "common/reset_all.h"
#include "common/test_files.h"
#include "files/conversion.h"
#include "files/playback.h"
#include "files/sonar_file.h"
#include "files/xtf.h"
#include "head/per_ping.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "scene.h"
#include "scene_file.h"
#include "settings/settings.h"

namespace apptest {

using testutil::BE16;
using testutil::BE24;
using testutil::LE16;
using testutil::LE32;
using testutil::ReadAll;
using testutil::WriteText;

inline void ResetEverything() { testutil::ResetAllModules(); }

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd_ = cwd;
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ResetEverything();
  }
  void TearDown() override {
    ResetEverything();
    (void)!chdir(oldCwd_.c_str());
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // A recording of a flat seabed, written with default console state.
  void WriteSurvey(const std::string& name, double depthM, int pings, int rangeStep = 5) {
    SceneParams scene;
    scene.depthM = depthM;
    scene.rangeStep = rangeStep;
    SurveyParams survey;
    survey.pingCount = pings;
    survey.gps = 1;
    survey.startLatDeg = 47.5;
    survey.startLonDeg = 8.25;
    survey.start = plat::LocalTime{2024, 2, 29, 23, 59, 58, 0};
    ASSERT_EQ(WriteSceneFile(Path(name).c_str(), scene, survey), pings);
    ResetEverything();
  }

  testutil::TempDir tmp_{"orvale_app"};  // removed after TearDown has left it
  std::string dir_;
  std::string oldCwd_;
};

}  // namespace apptest
