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

#include "console/command_line.h"
#include "app/convert_run.h"
#include "common/chain_fixture.h"
#include "common/field_bytes.h"
#include "console/conversion.h"
#include "console/playback.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "console/ping_cycle.h"
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

// Runs in its private directory as the working directory.
class AppFixture : public testutil::ChainTest {
 protected:
  AppFixture() : ChainTest("orvale_app") {}
  void SetUp() override {
    ChainTest::SetUp();
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ChainTest::TearDown();
    (void)!chdir(oldCwd_.c_str());
  }

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

  std::string oldCwd_;
};

}  // namespace apptest
