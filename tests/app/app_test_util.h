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

inline int BE16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
inline int BE24(const uint8_t* p) { return (p[0] << 16) | (p[1] << 8) | p[2]; }
inline int LE16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t LE32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
  std::fclose(f);
  return v;
}

inline void WriteText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

inline void ResetEverything() {
  plat::rec::Reset();
  ResetSettings();
  ResetSwitchState();
  ResetReturnData();
  ResetNavState();
  ResetTimeStamps();
  ResetPlaybackCopies();
  ResetBeamform();
  ResetProfileDetect();
  ResetOutputs();
  ResetXtf();
  ResetPlayback();
  ResetConversion();
  ResetPerPing();
  ResetCommandLine();
  net::ResetNet();
}

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd_ = cwd;
    char tmpl[] = "/tmp/orvale_app_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ResetEverything();
  }
  void TearDown() override {
    ResetEverything();
    (void)!chdir(oldCwd_.c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
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

  std::string dir_;
  std::string oldCwd_;
};

}  // namespace apptest
