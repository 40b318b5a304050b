// Shared set-up of the tests that send synthetic pings through the console's
// own decoder and beamformer: the console state such a ping needs, and one
// ping of a scene formed into BeamImage.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "processing/beamform.h"
#include "scene.h"
#include "settings/settings.h"

namespace scenetest {

// Default settings with the scene generator and the chain reset, in Wide mode
// with a sector display, no detection, no rise limit (the true peak, not a
// plateau), no averaging, and a 260 kHz head (type 4). Range 30 m. The caller
// adjusts what its case needs and then sets up the beam geometry.
inline void ResetForScenePings() {
  g_settings = Settings{};
  ResetSwitchState();
  ResetReturnData();
  ResetBeamform();
  ResetScene();
  g_settings.DisplayType = 0;
  g_settings.ProfilePointDetection = 0;
  g_settings.ProfilePointFilter = 0;
  g_settings.AvgFilter = 0;
  g_settings.ProcessingMode = 0;
  g_settings.Range = 5;
  g_switch.headTypeSetting = 4;
}

// Ping 0 of the scene, with the scene's mounting and pulse length, loaded,
// decoded and beamformed.
inline void FormScenePing(const SceneParams& p) {
  std::vector<uint8_t> rec(kRecordBufferBytes);
  const int length = SynthesizePing(p, 0, rec.data());
  EXPECT_GT(length, 0);
  g_settings.Xdcr = p.xdcr;
  g_settings.PulseLength = ScenePulseUs(p);
  EXPECT_EQ(1, LoadPingRecord(rec.data(), length));
  EXPECT_EQ(1, DecodePingAt(1.0));
  EXPECT_EQ(1, ProcessPing());
}

}  // namespace scenetest
