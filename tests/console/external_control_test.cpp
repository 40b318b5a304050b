// External control: control datagrams applied to the console's state field
// by field, the rules around the control byte, the repeated datagram, the
// value maps of averaging, tilt and sound velocity, the output destination
// following the sender over real loopback sockets, the allow-list, and the
// status boxes the painter reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/chain_fixture.h"
#include "console/external_control.h"
#include "console/menu_ids.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "console/ping_cycle.h"
#include "head/switch_command.h"
#include "imaging/scan_convert.h"
#include "platform/byte_order.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

// A datagram that switches external control on and asks for nothing: every
// field holds a value the console refuses (0xFF bytes, 0xFFFF words, NaN
// floats), except the trigger-control byte, which takes any value and so
// carries the console's own.
std::vector<uint8_t> Quiet() {
  std::vector<uint8_t> d(61, 0xFF);
  d[0] = 'K';
  d[1] = '4';
  d[2] = 'C';
  d[3] = 1;
  d[4] = 0;
  d[31] = static_cast<uint8_t>(g_settings.ExternalTriggerControl);
  return d;
}

int Apply(const std::vector<uint8_t>& d, uint32_t from = kLoopback, int port = 40000) {
  return ApplyControlDatagram(d.data(), static_cast<int>(d.size()), from, port);
}

int LastCheck(int id) {
  const auto& c = plat::rec::Get().menuChecks;
  for (auto it = c.rbegin(); it != c.rend(); ++it)
    if (it->first == id) return it->second;
  return -1;
}

class ExternalControl : public testutil::ChainTest {
 protected:
  ExternalControl() : ChainTest("orvale_extctl") {}
  void SetUp() override {
    ChainTest::SetUp();
    g_settings.RunMode = 1;  // File mode: everything but the live-head fields applies at once
    SetDetectionLevel(25);
    SetMinimumRange(0);
  }
};

TEST_F(ExternalControl, ControlByteOffChangesNothingElse) {
  std::vector<uint8_t> d = Quiet();
  d[3] = 0;
  d[9] = 77;   // display gain
  d[26] = 0;   // roll correction
  d[4] = 1;    // transmit disabled
  const Settings before = g_settings;
  EXPECT_EQ(Apply(d), 1);  // only the control byte itself moved
  EXPECT_EQ(g_extControl.enabled, 0);
  EXPECT_EQ(g_settings.DisplayGain, before.DisplayGain);
  EXPECT_EQ(g_settings.RollCorrection, before.RollCorrection);
  EXPECT_EQ(g_switch.transmitDisabled, 0);
  EXPECT_EQ(g_outputs.eventMarkPending, 0);
  EXPECT_EQ(g_extControl.boxShown, 0);
  EXPECT_EQ(g_extControl.datagramsOff, 1);

  d[3] = 1;
  EXPECT_GE(Apply(d), 4);
  EXPECT_EQ(g_settings.DisplayGain, 77);
  EXPECT_EQ(g_settings.RollCorrection, 0);
  EXPECT_EQ(g_switch.transmitDisabled, 1);
  EXPECT_EQ(LastCheck(kCmdRollCorrection), 0);
}

TEST_F(ExternalControl, RepeatedDatagramAppliesNothingButRestartsTheBox) {
  std::vector<uint8_t> d = Quiet();
  d[9] = 60;
  d[12] = 1;   // Normal
  d[27] = 1;   // feet
  EXPECT_EQ(Apply(d), 5);  // bytes 3, 4 and the three fields
  EXPECT_EQ(LastCheck(kCmdBeamwidthFirst + 1), 1);
  EXPECT_EQ(LastCheck(kCmdUnitsFirst + 1), 1);
  for (int i = 0; i < 4; ++i) ExternalControlAfterPing();
  EXPECT_EQ(g_extControl.boxPingsLeft, kControlBoxPings - 4);
  const long applied = g_extControl.fieldsApplied;
  EXPECT_EQ(Apply(d), 0);
  EXPECT_EQ(g_extControl.fieldsApplied, applied);
  EXPECT_EQ(g_extControl.boxRestarts, 2);
  EXPECT_EQ(g_extControl.boxPingsLeft, kControlBoxPings);
  for (int i = 0; i < kControlBoxPings - 1; ++i) ExternalControlAfterPing();
  EXPECT_EQ(g_extControl.boxShown, 1);
  ExternalControlAfterPing();
  EXPECT_EQ(g_extControl.boxShown, 0);  // ten pings without a datagram
}

TEST_F(ExternalControl, ValueMapsAndLimitsOfSingleFields) {
  struct Case {
    const char* legend;
    int offset;
    std::vector<uint8_t> bytes;
    int expected;  // ControlFieldResult
    double (*read)();
    double value;  // read() afterwards
  };
  auto tilt = [] { return g_settings.ProfileTiltAngle; };
  auto sound = [] { return g_settings.SoundVelocityMeters; };
  auto shots = [] { return g_settings.AvgFilter == 1 ? double(g_settings.AvgFilterIndex) : 1.0; };
  auto level = [] { return double(g_detect.detectionLevelPct); };
  auto blank = [] { return double(g_detect.minimumRangeM); };
  auto depth = [] { return g_settings.SonarDepthMeters; };
  auto mindepth = [] { return g_settings.ProfileMinDepthBelowSonar; };
  const Case cases[] = {
      {"averaging 3 shots", 14, {3}, kFieldApplied, shots, 3},
      {"averaging 12 ignored", 14, {12}, kFieldRejected, shots, 3},
      {"averaging 0 is off", 14, {0}, kFieldApplied, shots, 1},
      {"averaging 1 is off too: unchanged", 14, {1}, kFieldUnchanged, shots, 1},
      {"tilt 180 is level", 25, {180}, kFieldUnchanged, tilt, 0},
      {"tilt 200 is 20", 25, {200}, kFieldApplied, tilt, 20},
      {"tilt 180 back to level", 25, {180}, kFieldApplied, tilt, 0},
      {"tilt 50 is -90", 25, {50}, kFieldApplied, tilt, -90},
      {"tilt 51 is +90", 25, {51}, kFieldApplied, tilt, 90},
      {"tilt 240 (60) ignored", 25, {240}, kFieldRejected, tilt, 90},
      {"sound 15000 is 1500.0", 17, {0x3A, 0x98}, kFieldUnchanged, sound, 1500.0},
      {"sound 14900 is 1490.0", 17, {0x3A, 0x34}, kFieldApplied, sound, 1490.0},
      {"sound 20001 ignored", 17, {0x4E, 0x21}, kFieldRejected, sound, 1490.0},
      {"sound 13999 ignored", 17, {0x36, 0xAF}, kFieldRejected, sound, 1490.0},
      {"sound 15000 again", 17, {0x3A, 0x98}, kFieldApplied, sound, 1500.0},
      {"detection level 9 ignored", 23, {9}, kFieldRejected, level, 25},
      {"detection level 90", 23, {90}, kFieldApplied, level, 90},
      {"blanking 0 stored as 0.1", 22, {0}, kFieldUnchanged, blank, 0.1f},
      {"blanking 7 m", 22, {7}, kFieldApplied, blank, 7},
      {"blanking 101 ignored", 22, {101}, kFieldRejected, blank, 7},
      {"depth 6000 m", 44, {0x00, 0x80, 0xBB, 0x45}, kFieldApplied, depth, 6000},
      {"depth 6001 ignored", 44, {0x00, 0x88, 0xBB, 0x45}, kFieldRejected, depth, 6000},
      {"minimum depth 12.5 m", 59, {0x00, 125}, kFieldApplied, mindepth, 12.5},
      {"minimum depth 100.1 ignored", 59, {0x03, 0xE9}, kFieldRejected, mindepth, 12.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    std::vector<uint8_t> d = Quiet();
    std::memcpy(d.data() + c.offset, c.bytes.data(), c.bytes.size());
    Apply(d);
    EXPECT_EQ(LastFieldResult(c.offset), c.expected);
    EXPECT_NEAR(c.read(), c.value, 1e-6);
  }
  EXPECT_EQ(LastCheck(kCmdAveragingOff), 1);
  // Tenths arrive as the same number the operator's typed value is.
  for (int tenths : {14901, 15003, 19999}) {
    SCOPED_TRACE(tenths);
    g_settings.SoundVelocityMeters = std::strtod(std::to_string(tenths / 10.0).c_str(), nullptr);
    std::vector<uint8_t> d = Quiet();
    PutBE16(d.data() + 17, tenths);
    Apply(d);
    EXPECT_EQ(LastFieldResult(17), kFieldUnchanged);
  }
  EXPECT_EQ(g_playback.operatorChangedSoundSpeed, 1);  // the played records no longer set it
  EXPECT_EQ(g_playback.operatorChangedTilt, 1);
}

TEST_F(ExternalControl, ThreeShotsCheckTheirMenuItem) {
  std::vector<uint8_t> d = Quiet();
  d[14] = 3;
  Apply(d);
  EXPECT_EQ(g_settings.AvgFilter, 1);
  EXPECT_EQ(g_settings.AvgFilterIndex, 3);
  EXPECT_EQ(LastCheck(512), 1);  // "&3 Shot"
  EXPECT_EQ(LastCheck(514), 0);  // the five shots of the start-up settings
}

TEST_F(ExternalControl, HeadModeQueuesSoundAndTakesTheLiveFields) {
  g_settings.RunMode = 0;
  std::vector<uint8_t> d = Quiet();
  d[17] = 0x3A;
  d[18] = 0x34;  // 1490.0
  d[8] = 7;      // gain
  d[28] = 1;     // start recording
  // A recording that cannot open its file is counted, never reported as done.
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s",
                Path("missing-dir").c_str());
  Apply(d);
  EXPECT_EQ(LastFieldResult(17), kFieldQueued);
  EXPECT_EQ(g_settings.SoundVelocityMeters, 1500.0);
  EXPECT_EQ(g_settings.Gain, 7);
  EXPECT_EQ(LastFieldResult(28), kFieldNotApplied);
  EXPECT_EQ(g_extControl.fieldsNotApplied, 1);
  EXPECT_EQ(Recording(), 0);
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir_.c_str());
  Apply(d);  // the queued value counts as the current one
  EXPECT_EQ(LastFieldResult(17), kFieldUnchanged);
  EXPECT_EQ(LastFieldResult(28), kFieldApplied);
  EXPECT_EQ(Recording(), 1);
  EXPECT_EQ(g_settings.AutoFilename, 1);      // automatic names ...
  EXPECT_EQ(g_settings.AutoFilenameType, 1);  // ... of date and time
  Apply(d);
  EXPECT_EQ(LastFieldResult(28), kFieldUnchanged);
  d[28] = 0;
  Apply(d);
  EXPECT_EQ(LastFieldResult(28), kFieldApplied);
  EXPECT_EQ(Recording(), 0);
  d[28] = 0xFF;
  ExternalControlBeforePing();
  EXPECT_EQ(g_settings.SoundVelocityMeters, 1490.0);
  EXPECT_EQ(g_extControl.soundVelocityQueued, 0);

  g_settings.RunMode = 1;
  d[8] = 9;
  Apply(d);
  EXPECT_EQ(LastFieldResult(8), kFieldLiveOnly);
  EXPECT_EQ(g_settings.Gain, 7);
}

TEST_F(ExternalControl, OneDatagramRebuildsTheTablesOnce) {
  std::vector<uint8_t> d = Quiet();
  d[11] = 1;    // 60 degrees
  d[13] = 2;    // 120 beams
  d[24] = 0;    // down
  d[25] = 190;  // tilt 10
  const int refreshes = g_perPing.frequencyRefreshes;
  const int builds = g_scan.builds;
  EXPECT_EQ(Apply(d), 6);
  EXPECT_EQ(g_perPing.frequencyRefreshes, refreshes + 1);
  // The chain's own display build and the one around the new profile offset.
  EXPECT_LE(g_scan.builds - builds, 2);
  EXPECT_EQ(g_settings.SectorSize, 1);
  EXPECT_EQ(g_settings.StepSize, 2);
  EXPECT_EQ(g_settings.Xdcr, 0);
  EXPECT_EQ(g_settings.ProfileTiltAngle, 10.0);
}

TEST_F(ExternalControl, BothOutputsOnlyWhileTheLatestDatagramAsks) {
  std::vector<uint8_t> d = Quiet();
  d[20] = 3;
  Apply(d);
  EXPECT_EQ(g_outputs.combinedOutputRequest, 1);
  Apply(d);
  EXPECT_EQ(g_outputs.combinedOutputRequest, 1);
  d[20] = 2;  // not a selection
  Apply(d);
  EXPECT_EQ(LastFieldResult(20), kFieldRejected);
  EXPECT_EQ(g_outputs.combinedOutputRequest, 0);
}

TEST_F(ExternalControl, TransmitAndWindowByteAndTheBlink) {
  g_settings.RunMode = 0;
  std::vector<uint8_t> d = Quiet();
  d[4] = 3;
  Apply(d);
  EXPECT_EQ(g_switch.transmitDisabled, 1);
  EXPECT_EQ(g_extControl.mainWindowHidden, 1);
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinMain], 0);
  // The box toggles at most once per second of local time.
  const int toggles = g_extControl.xmitToggles;
  for (int i = 0; i < 5; ++i) ExternalControlAfterPing();
  EXPECT_LE(g_extControl.xmitToggles - toggles, 2);
  EXPECT_GE(g_extControl.xmitToggles - toggles, 1);
  d[4] = 0;
  Apply(d);
  EXPECT_EQ(g_switch.transmitDisabled, 0);
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinMain], 1);
  ExternalControlAfterPing();
  EXPECT_EQ(g_extControl.xmitBoxShown, 0);
}

TEST_F(ExternalControl, EventMarkGoesIntoOneRecord) {
  Apply(Quiet());
  uint8_t rec[kPointRecordMaxBytes];
  ASSERT_GT(BuildPointRecord(rec, sizeof rec), 155);
  EXPECT_EQ(rec[155], 1);
  ASSERT_GT(BuildPointRecord(rec, sizeof rec), 155);
  EXPECT_EQ(rec[155], 0);
}

TEST_F(ExternalControl, ShortDatagramLeavesTheFieldsItDoesNotCarry) {
  std::vector<uint8_t> d = Quiet();
  d[9] = 42;
  d.resize(10);
  const int sector = g_settings.SectorSize;
  Apply(d);
  EXPECT_EQ(g_settings.DisplayGain, 42);
  EXPECT_EQ(g_settings.SectorSize, sector);
  EXPECT_EQ(LastFieldResult(11), kFieldAbsent);
  // Three bytes cannot hold the control byte: nothing, not even the box.
  const int restarts = g_extControl.boxRestarts;
  d.resize(3);
  EXPECT_EQ(Apply(d), 0);
  EXPECT_EQ(g_extControl.boxRestarts, restarts);
}

TEST_F(ExternalControl, NextOutputGoesToTheNewSender) {
  g_settings.RemotePort_Output1 = 9;  // nobody listens: the first keep-alive only binds the socket
  std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "127.0.0.1");
  ASSERT_EQ(OpenOutputSocket(), 1);
  ASSERT_GE(SendKeepAlive(), 0);
  const int consolePort = net::LocalPort(g_outputs.socket);
  ASSERT_GT(consolePort, 0);

  const int remote = net::UdpOpen("127.0.0.1", 0);
  ASSERT_GE(remote, 0);
  std::vector<uint8_t> d = Quiet();
  d[9] = 33;
  ASSERT_EQ(net::UdpSendTo(remote, "127.0.0.1", consolePort, d.data(), static_cast<int>(d.size())),
            static_cast<int>(d.size()));
  ASSERT_EQ(net::WaitReadable(g_outputs.socket, 2000), 1);
  EXPECT_EQ(PollExternalControl(), 1);
  EXPECT_EQ(g_settings.DisplayGain, 33);
  EXPECT_EQ(g_outputs.destPort, net::LocalPort(remote));

  ASSERT_EQ(SendKeepAlive(), kKeepAliveBytes);
  ASSERT_EQ(net::WaitReadable(remote, 2000), 1);
  uint8_t got[64];
  uint32_t from = 0;
  int fromPort = 0;
  ASSERT_EQ(net::UdpReceive(remote, got, sizeof got, &from, &fromPort), kKeepAliveBytes);
  EXPECT_EQ(std::memcmp(got, "K4Z", 3), 0);
  EXPECT_EQ(fromPort, consolePort);
  EXPECT_EQ(PollExternalControl(), 0);  // nothing waits: returns at once
  net::CloseSocket(remote);
}

TEST_F(ExternalControl, AllowListServesNamedSendersOnly) {
  struct Case {
    const char* legend;
    const char* list;
    uint32_t sender;
    int allowed;
  };
  const Case cases[] = {
      {"empty list serves all", "", 0x0A000001, 1},
      {"single address", "127.0.0.1", kLoopback, 1},
      {"single address, other sender", "127.0.0.1", 0x7F000002, 0},
      {"range /30 inside", "10.0.0.5, 127.0.0.0/30", 0x7F000003, 1},
      {"range /30 outside", "10.0.0.5, 127.0.0.0/30", 0x7F000004, 0},
      {"second entry", "10.0.0.5,127.0.0.0/30", 0x0A000005, 1},
      {"/0 serves all", "0.0.0.0/0", 0xC0A80064, 1},
      {"unparsable list serves nobody", "nonsense", kLoopback, 0},
      {"bad prefix ignored, good entry kept", "127.0.0.1/33, 127.0.0.9", 0x7F000009, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    std::snprintf(g_settings.ExternalControlAllow, sizeof g_settings.ExternalControlAllow, "%s", c.list);
    EXPECT_EQ(ExternalSenderAllowed(c.sender), c.allowed);
  }

  std::snprintf(g_settings.ExternalControlAllow, sizeof g_settings.ExternalControlAllow, "127.0.0.0/30");
  std::vector<uint8_t> d = Quiet();
  d[9] = 88;
  SetOutputDestination(kLoopback, 5000);
  EXPECT_EQ(Apply(d, 0x7F000005, 6000), 0);
  EXPECT_EQ(g_extControl.datagramsIgnored, 1);
  EXPECT_NE(g_settings.DisplayGain, 88);
  EXPECT_EQ(g_outputs.destPort, 5000);  // an outsider does not redirect the output
  EXPECT_GT(Apply(d, 0x7F000002, 6001), 0);
  EXPECT_EQ(g_settings.DisplayGain, 88);
  EXPECT_EQ(g_outputs.destPort, 6001);
}

TEST_F(ExternalControl, AllowListIsKeptOnSave) {
  const std::string ini = WriteLoopbackIni("ExternalControlAllow=127.0.0.1, 127.0.1.0/24\n");
  ASSERT_EQ(LoadSettings(ini.c_str()), 1);
  EXPECT_STREQ(g_settings.ExternalControlAllow, "127.0.0.1, 127.0.1.0/24");
  ASSERT_EQ(SaveSettings(ini.c_str()), 1);
  ResetSettings();
  ASSERT_EQ(LoadSettings(ini.c_str()), 1);
  EXPECT_STREQ(g_settings.ExternalControlAllow, "127.0.0.1, 127.0.1.0/24");
}

}  // namespace
