// Port assignment: the GPS takes its port first, the probe the next free
// one; device path keys win and count as present; the setup dialog refuses
// one device for both.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "nav/com_ports.h"
#include "settings/settings.h"

namespace {

serial::PortList List(int n) {
  serial::PortList l;
  for (int i = 0; i < n; ++i) std::snprintf(l.paths[i], serial::kPathChars, "/dev/ttyUSB%d", i);
  l.count = n;
  return l;
}

class ComPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetComPorts();
  }
  void TearDown() override { ResetSettings(); }
};

TEST_F(ComPorts, AssignmentFollowsEnableFlagsIndexesAndDeviceKeys) {
  struct Case {
    const char* legend;
    int listed, gpsEnable, gpsIndex, svEnable, svIndex;
    const char* gpsDevice;
    const char* svDevice;
    int gpsPresent;
    const char* gpsPath;
    int svPresent;
    const char* svPath;
    int svEnableAfter, gpsIndexAfter, svIndexAfter;
  };
  const Case cases[] = {
      {"no port at all", 0, 1, 0, 1, 2, "", "", 0, "", 0, "", 0, 0, 2},
      {"one port: GPS takes it, probe gets none", 1, 1, 0, 1, 2, "", "", 1, "/dev/ttyUSB0", 0, "", 0, 0, 2},
      {"two ports: probe index past the end takes the second", 2, 1, 0, 1, 2, "", "", 1, "/dev/ttyUSB0", 1,
       "/dev/ttyUSB1", 1, 0, 1},
      {"indexes inside the list are kept", 3, 1, 2, 1, 0, "", "", 1, "/dev/ttyUSB2", 1, "/dev/ttyUSB0", 1, 2, 0},
      {"GPS index past the end becomes the first", 2, 1, 9, 1, 1, "", "", 1, "/dev/ttyUSB0", 1, "/dev/ttyUSB1", 1,
       0, 1},
      {"GPS disabled: probe may take the first", 1, 0, 0, 1, 5, "", "", 0, "", 1, "/dev/ttyUSB0", 1, 0, 0},
      {"GPS device key wins and leaves the list to the probe", 1, 1, 0, 1, 5, "/dev/pts/7", "", 1, "/dev/pts/7", 1,
       "/dev/ttyUSB0", 1, 0, 0},
      {"device keys count as present with no listed port", 0, 1, 0, 1, 2, "/dev/pts/3", "/dev/pts/4", 1,
       "/dev/pts/3", 1, "/dev/pts/4", 1, 0, 2},
      {"probe key alone: GPS has nothing to open", 0, 1, 0, 1, 2, "", "/dev/pts/4", 0, "", 1, "/dev/pts/4", 1, 0,
       2},
      {"probe disabled stays disabled", 2, 1, 0, 0, 1, "", "", 1, "/dev/ttyUSB0", 0, "", 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetSettings();
    g_settings.ComPortGPSEnable = c.gpsEnable;
    g_settings.ComPortGPS = c.gpsIndex;
    g_settings.ComPortSVEnable = c.svEnable;
    g_settings.ComPortSV = c.svIndex;
    std::snprintf(g_settings.ComPortGPSDevice, sizeof g_settings.ComPortGPSDevice, "%s", c.gpsDevice);
    std::snprintf(g_settings.ComPortSVDevice, sizeof g_settings.ComPortSVDevice, "%s", c.svDevice);
    AssignPorts(List(c.listed));
    EXPECT_EQ(c.gpsPresent, g_comPorts.gpsPresent);
    EXPECT_STREQ(c.gpsPath, g_comPorts.gpsPath);
    EXPECT_EQ(c.svPresent, g_comPorts.svPresent);
    EXPECT_STREQ(c.svPath, g_comPorts.svPath);
    EXPECT_EQ(c.svEnableAfter, g_settings.ComPortSVEnable);
    EXPECT_EQ(c.gpsIndexAfter, g_settings.ComPortGPS);
    EXPECT_EQ(c.svIndexAfter, g_settings.ComPortSV);
  }
}

TEST_F(ComPorts, SamePortForBothDevicesIsRefused) {
  EXPECT_EQ(1, ComPortsConflict(1, "/dev/ttyUSB0", 1, "/dev/ttyUSB0"));
  EXPECT_EQ(0, ComPortsConflict(1, "/dev/ttyUSB0", 1, "/dev/ttyUSB1"));
  // A device that is not present cannot clash.
  EXPECT_EQ(0, ComPortsConflict(0, "/dev/ttyUSB0", 1, "/dev/ttyUSB0"));
  EXPECT_EQ(0, ComPortsConflict(1, "/dev/ttyUSB0", 0, "/dev/ttyUSB0"));
  EXPECT_STREQ("ComPorts can not be the same.", kComPortsSameText);
  EXPECT_STREQ("ComPort Setup", kComPortSetupCaption);
}

TEST_F(ComPorts, LineSettingsComeFromEachDevicesKeys) {
  g_settings.ComPortGPS_bits_per_second = 1;
  g_settings.ComPortSV_parity = 0;
  const serial::LineSettings gps = GpsLineSettings();
  const serial::LineSettings sv = SvLineSettings();
  EXPECT_EQ(9600, serial::BitsPerSecond(gps.bitsPerSecondIndex));
  EXPECT_EQ(19200, serial::BitsPerSecond(sv.bitsPerSecondIndex));  // the key's default index 2
  EXPECT_EQ(2, gps.parityIndex);
  EXPECT_EQ(0, sv.parityIndex);
  EXPECT_EQ(0, serial::BitsPerSecond(6));
}

}  // namespace

namespace {

// Tests and demos run in the loopback sandbox: the scan, which opens every
// candidate device, is skipped and only the named devices are used.
TEST_F(ComPorts, SandboxListsNoDeviceOfTheMachineAndKeepsTheNamedOne) {
  const char* before = std::getenv("ORVALE_LOOPBACK_ONLY");
  setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
  g_settings.ComPortGPSEnable = 1;
  std::snprintf(g_settings.ComPortGPSDevice, sizeof g_settings.ComPortGPSDevice, "/dev/pts/nope");
  g_settings.ComPortSVEnable = 1;
  EXPECT_EQ(0, EnumeratePorts());
  EXPECT_EQ(0, g_comPorts.present.count);
  EXPECT_EQ(1, g_comPorts.gpsPresent);
  EXPECT_STREQ("/dev/pts/nope", g_comPorts.gpsPath);
  EXPECT_EQ(0, g_comPorts.svPresent);  // nothing left for the probe
  EXPECT_EQ(0, g_settings.ComPortSVEnable);
  if (before) setenv("ORVALE_LOOPBACK_ONLY", before, 1);
  else unsetenv("ORVALE_LOOPBACK_ONLY");
}

}  // namespace
