// Base fixture of the tests that run the whole chain (playback, per-ping
// processing, outputs, conversion): sockets held to loopback, every module
// reset before and after each test, and a private directory for its files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/reset_all.h"
#include "common/test_files.h"

namespace testutil {

class ChainTest : public ::testing::Test {
 protected:
  explicit ChainTest(const char* dirPrefix) : tmp_(dirPrefix) {}
  void SetUp() override {
    setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
    ResetAllModules();
  }
  void TearDown() override { ResetAllModules(); }
  std::string Path(const std::string& name) const { return tmp_.File(name); }
  // "Orvale.INI" in the test's directory, every address on loopback (the
  // output on `outputPort` when given), then `extra` lines. Returns its path.
  std::string WriteLoopbackIni(const std::string& extra = "", int outputPort = 0) const {
    // The head port is one where nothing listens, so a console started in
    // Head mode never meets a simulator someone left running on 4040; the
    // serial receivers are off, so no real port of the machine is opened,
    // unless `extra` switches one on (pointed at a pseudo-terminal).
    std::string text = "[Settings]\nIPAddress_Sonar1=127.0.0.1\nIPAddress_Output1=127.0.0.1\n";
    if (extra.find("ComPortGPSEnable=") == std::string::npos) text += "ComPortGPSEnable=0\n";
    if (extra.find("ComPortSVEnable=") == std::string::npos) text += "ComPortSVEnable=0\n";
    if (extra.find("RemotePort_Sonar1=") == std::string::npos) text += "RemotePort_Sonar1=9\n";
    // No camera unless the test asks for one: a device that is no capture
    // device, so a machine's own camera is never opened.
    if (extra.find("VideoDevice=") == std::string::npos) text += "VideoDevice=/dev/null\n";
    if (outputPort > 0) text += "RemotePort_Output1=" + std::to_string(outputPort) + "\n";
    const std::string path = Path("Orvale.INI");
    WriteText(path, text + extra);
    return path;
  }

  TempDir tmp_;
  std::string dir_;  // the directory's path, for the tests that build paths themselves
};

}  // namespace testutil
