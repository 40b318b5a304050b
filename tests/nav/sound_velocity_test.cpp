// Sound-velocity input: line framing, both probe types, the nine-value
// filter and its start-up, the hand-over to the ping cycle, the reader on a
// pseudo-terminal, and the dialog's limits and messages in every unit.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/nav_edit.h"
#include "common/pty.h"
#include "nav/sound_velocity.h"

namespace {

class SoundVelocity : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSoundVelocity();
    ResetNavState();
  }
  void TearDown() override {
    CloseSoundVelocity();
    ResetSoundVelocity();
  }
  static void Feed(const std::string& s) {
    FeedProbeBytes(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int>(s.size()));
  }
  // Five readings fill the filter past its start-up zeros.
  static void Prime(double v, int count = 9) {
    for (int i = 0; i < count; ++i) FilterProbeReading(v);
  }
};

TEST_F(SoundVelocity, DigibarLines) {
  struct Case {
    const char* legend;
    const char* line;
    int ok;
    double mps;
  };
  const Case cases[] = {
      {"feet per second", "4921.3", 1, 4921.3 * 0.3048},
      {"metres per second", "1500.0", 1, 1500.0},
      {"above the limits", "2100.0", 0, 0},
      {"below the limits", "1399.9", 0, 0},
      {"between the ranges in neither unit", "3000.0", 0, 0},
      {"only seven characters count", "1500.0999999", 1, 1500.09},
      {"the lowest in feet", "4593.2", 1, 4593.2 * 0.3048},
      {"garbage", "abcdefg", 0, 0},
      {"empty", "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    double v = -1.0;
    EXPECT_EQ(c.ok, ParseDigibarLine(c.line, static_cast<int>(std::strlen(c.line)), &v));
    if (c.ok) {
      EXPECT_NEAR(c.mps, v, 1e-9);
    }
  }
  double v;
  ASSERT_EQ(1, ParseDigibarLine("4921.3", 6, &v));
  EXPECT_NEAR(1500.0, v, 0.05);
}

TEST_F(SoundVelocity, Sbe37Lines) {
  struct Case {
    const char* legend;
    std::string line;
    int ok;
    double mps;
  };
  const Case cases[] = {
      {"four values, space after the comma", "  22.3612,  0.00001,    0.237, 1488.901", 1, 1488.901},
      {"no space", "22.3,0.1,0.2,1512.5", 1, 1512.5},
      {"out of range", "  22.3612,  0.00001,    0.237, 2100.000", 0, 0},
      {"no comma", "1500.0", 0, 0},
      {"last comma too far back", "1.0," + std::string(25, ' ') + "1500.0", 0, 0},
      {"only the first 80 characters are looked at", std::string(60, ' ') + "1.0,1500.0" + std::string(15, ' ') + ",1600.0",
       1, 1500.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    double v = -1.0;
    EXPECT_EQ(c.ok, ParseSbe37Line(c.line.c_str(), static_cast<int>(c.line.size()), &v));
    if (c.ok) {
      EXPECT_DOUBLE_EQ(c.mps, v);
    }
  }
}

TEST_F(SoundVelocity, FramerTakesLinesFromASpaceToCarriageReturn) {
  Feed("garbage before 1500.0\r");  // the first space starts the line: "before 1500.0"
  EXPECT_EQ(1, g_probe.linesIgnored.load());
  Feed(" 1500.00\r\n 1500.00\r\n");
  EXPECT_EQ(2, g_probe.linesTaken.load());
  // A line of 256 characters is dropped; the framer is idle again after it.
  Feed(" " + std::string(300, '1') + "\r");
  EXPECT_EQ(2, g_probe.linesTaken.load());
  Feed(" 1500.00\r");
  EXPECT_EQ(3, g_probe.linesTaken.load());
  SetNavHold(1);
  Feed(" 1500.00\r");
  EXPECT_EQ(3, g_probe.linesTaken.load());
  SetNavHold(0);
}

TEST_F(SoundVelocity, FirstFourReadingsNeverReachTheSpeedOfSound) {
  double v = 0.0;
  for (int i = 1; i <= 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(0, FilterProbeReading(1480.0));
    EXPECT_EQ(0, g_probe.probeActive.load());
    EXPECT_EQ(0, TakeQueuedSoundVelocity(&v));
  }
  EXPECT_EQ(1, FilterProbeReading(1480.0));
  ASSERT_EQ(1, TakeQueuedSoundVelocity(&v));
  EXPECT_DOUBLE_EQ(1480.0, v);
}

TEST_F(SoundVelocity, OutlierIsReplacedByTheMedian) {
  Prime(1500.0);
  EXPECT_EQ(1, FilterProbeReading(1510.0));
  EXPECT_FLOAT_EQ(1500.0f, g_probe.probeValue.load());
  // Scattered readings: one within 1.4826 MAD of the median is taken as is.
  const double spread[] = {1500.0, 1501.0, 1499.0, 1502.0, 1498.0, 1500.5, 1499.5, 1501.5, 1498.5};
  for (double s : spread) FilterProbeReading(s);
  EXPECT_EQ(1, FilterProbeReading(1500.8));
  EXPECT_FLOAT_EQ(1500.8f, g_probe.probeValue.load());
  EXPECT_DOUBLE_EQ(5.0, MedianOf(std::array<double, 9>{9, 1, 8, 2, 5, 7, 3, 6, 4}.data(), 9));
}

TEST_F(SoundVelocity, PingCycleTakesAChangedValueOnce) {
  double v = 0.0;
  Prime(1487.5);
  ASSERT_EQ(1, TakeQueuedSoundVelocity(&v));
  EXPECT_FLOAT_EQ(1487.5f, static_cast<float>(v));
  EXPECT_EQ(0, TakeQueuedSoundVelocity(&v));  // nothing new
  Prime(1492.25);
  ASSERT_EQ(1, TakeQueuedSoundVelocity(&v));
  EXPECT_DOUBLE_EQ(1492.25, v);
  // The setup dialog's "Ok" takes the probe off until its next reading.
  ClearProbeActive();
  Prime(1495.0);
  ClearProbeActive();
  EXPECT_EQ(0, TakeQueuedSoundVelocity(&v));
}

TEST_F(SoundVelocity, DialogClosedInFileModeMarksTheOperatorsChange) {
  Prime(1490.0);
  double v;
  ASSERT_EQ(1, TakeQueuedSoundVelocity(&v));
  EXPECT_EQ(0, SoundVelocityDialogClosed(1, 1490.0));
  EXPECT_EQ(0, g_probe.probeActive.load());
  EXPECT_EQ(1, SoundVelocityDialogClosed(1, 1505.0));
  EXPECT_EQ(0, SoundVelocityDialogClosed(0, 1510.0));  // Head mode: no playback to mark
  EXPECT_DOUBLE_EQ(1510.0, g_probe.lastApplied);
}

TEST_F(SoundVelocity, DialogLimitsAndMessagesInEveryUnit) {
  struct Case {
    const char* legend;
    int units;
    double shown;
    int ok;
    double mps;
    const char* message;
  };
  const Case cases[] = {
      {"metres in range", 0, 1487.3, 1, 1487.3, ""},
      {"metres too low", 0, 1399.9, 0, 0, "Speed of Sound is out of range!\nUse 1400.0 to 2000.0 m/s."},
      {"feet in range", 1, 4921.3, 1, 4921.3 * 0.3048, ""},
      {"feet too high", 1, 6600.0, 0, 0, "Speed of Sound is out of range!\nUse 4593.2 to 6561.7 ft/s."},
      // The limits the message offers are accepted, and held inside 1400-2000 m/s.
      {"feet: the highest offered", 1, 6561.7, 1, 2000.0, ""},
      {"feet: the lowest offered", 1, 4593.2, 1, 4593.2 * 0.3048, ""},
      {"feet: just above the highest", 1, 6561.8, 0, 0, "Speed of Sound is out of range!\nUse 4593.2 to 6561.7 ft/s."},
      {"feet: just below the lowest", 1, 4593.1, 0, 0, "Speed of Sound is out of range!\nUse 4593.2 to 6561.7 ft/s."},
      {"yards: the lowest offered", 2, 1531.1, 1, 1531.1 * 0.9144, ""},
      {"yards in range", 2, 1640.4, 1, 1640.4 * 0.9144, ""},
      {"yards too low", 2, 1500.0, 0, 0, "Speed of Sound is out of range!\nUse 1531.1 to 2187.2 yds/s."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    char message[128] = "";
    double v = 0.0;
    EXPECT_EQ(c.ok, ValidateSoundVelocity(c.shown, c.units, &v, message, sizeof message));
    EXPECT_STREQ(c.message, message);
    if (c.ok) {
      EXPECT_NEAR(c.mps, v, 1e-9);
    }
  }
  char text[16];
  FormatSoundVelocity(1500.0 * SoundVelocityUnitFactor(1), text, sizeof text);
  EXPECT_STREQ("4921.3", text);
  FormatSoundVelocity(987.65, text, sizeof text);
  EXPECT_STREQ("0987.6", text);
  EXPECT_STREQ("m/s", SoundVelocityUnitText(0));
  EXPECT_STREQ("ft/s", SoundVelocityUnitText(1));
  EXPECT_STREQ("yds/s", SoundVelocityUnitText(2));
  EXPECT_STREQ("Sound Velocity", kSoundVelocityCaption);
  double shown;
  ASSERT_EQ(1, ParseSoundVelocityText("1500.0123", &shown));
  EXPECT_DOUBLE_EQ(1500.01, shown);  // seven characters
  EXPECT_EQ(0, ParseSoundVelocityText("", &shown));
}

TEST_F(SoundVelocity, ProbeOnAPseudoTerminalReachesThePingCycle) {
  testutil::Pty pty;
  ASSERT_TRUE(pty.ok());
  serial::LineSettings line;
  line.bitsPerSecondIndex = 3;
  ASSERT_EQ(1, OpenSoundVelocity(pty.SlavePath().c_str(), line, kSbe37));
  std::string lines;
  for (int i = 0; i < 6; ++i) lines += "  22.3612,  0.00001,    0.237, 1488.901\r\n";
  ASSERT_TRUE(pty.WritePaced(lines, 38400));
  double v = 0.0;
  int taken = 0;
  for (int i = 0; i < 100 && !taken; ++i) {
    taken = TakeQueuedSoundVelocity(&v);
    if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(1, taken);
  EXPECT_NEAR(1488.901, v, 1e-3);
  const auto t0 = std::chrono::steady_clock::now();
  CloseSoundVelocity();
  using Ms = std::chrono::duration<double, std::milli>;
  EXPECT_LT(Ms(std::chrono::steady_clock::now() - t0).count(), 500.0);
  EXPECT_EQ(0, SoundVelocityRunning());
}

}  // namespace
