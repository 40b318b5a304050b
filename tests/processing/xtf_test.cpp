// XTF layout: the file header, the ping header with its time fields and day
// of the year, the channel headers and the sidescan samples.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/field_bytes.h"
#include "common/test_files.h"
#include "files/output_file.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "settings/settings.h"

namespace {

using testutil::LE16;
using testutil::LE32;
using testutil::LEDouble;
using testutil::LEFloat;

class Xtf : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::rec::Reset();
    g_settings = Settings{};
    ResetSwitchState();
    ResetReturnData();
    ResetPlaybackCopies();
    ResetNavState();
    ResetTimeStamps();
    ResetBeamform();
    ResetOutputs();
    ResetXtf();
    g_settings.RunMode = 1;
    SetStamp("29-FEB-2024", "13:45:07", ".62");
  }
  void TearDown() override { ResetXtf(); }
  void SetStamp(const char* date, const char* time, const char* hundredths) {
    std::snprintf(g_playback.stamp.date, sizeof g_playback.stamp.date, "%s", date);
    std::snprintf(g_playback.stamp.time, sizeof g_playback.stamp.time, "%s", time);
    std::snprintf(g_playback.stamp.hundredths, sizeof g_playback.stamp.hundredths, "%s", hundredths);
  }
  void FillSidescan(int samples) {
    g_sampleCount = samples;
    g_sidescanLength = 2 * samples;
    for (int i = 0; i < 2 * samples; ++i) g_sidescanLine[i] = (i * 3) % 128;
  }
};

TEST_F(Xtf, DayOfYearCountsFebruaryByTheFixedLeapSpan) {
  struct Case { const char* legend; int d, m, y, doy; };
  const Case cases[] = {
      {"29 Feb 2024 (leap)", 29, 2, 2024, 60},
      {"1 Mar 2052 (28 days counted)", 1, 3, 2052, 60},
      {"1 Mar 2024", 1, 3, 2024, 61},
      {"1 Mar 1992 first leap year", 1, 3, 1992, 61},
      {"1 Mar 2048 last leap year", 1, 3, 2048, 61},
      {"1 Mar 1988 before the span", 1, 3, 1988, 60},
      {"1 Mar 2000", 1, 3, 2000, 61},
      {"1 Jan", 1, 1, 2026, 1},
      {"31 Dec 2026", 31, 12, 2026, 365},
      {"31 Dec 2024", 31, 12, 2024, 366},
      {"unknown month counts no months", 5, 0, 2026, 5},
      {"day 0 is out of range", 0, 1, 2026, 1},
      {"day 40 of December is out of range", 40, 12, 2024, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(XtfDayOfYear(c.d, c.m, c.y), c.doy);
  }
}

TEST_F(Xtf, MonthAndPositionTexts) {
  EXPECT_EQ(MonthOfText("JAN"), 1);
  EXPECT_EQ(MonthOfText("DEC"), 12);
  EXPECT_EQ(MonthOfText("Dec"), 0);
  EXPECT_EQ(MonthOfText(""), 0);
  struct Case { const char* legend; const char* text; int ok; float deg; };
  const Case cases[] = {
      {"north", " 47.30.00000 N", 1, 47.5f},
      {"south", " 33.51.30000 S", 1, -33.855f},
      {"east", "008.15.00000 E", 1, 8.25f},
      {"west", "122.24.60000 W", 1, -122.41f},
      {"no fix", "\0\0\0\0\0\0\0\0\0\0\0\0\0", 0, 0.f},
      {"garbage", "xx.yy.zzzzz N", 0, 0.f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    float v = 0.f;
    EXPECT_EQ(PositionDegrees(c.text, 14, &v), c.ok);
    if (c.ok) {
      EXPECT_NEAR(v, c.deg, 1e-4);
    }
  }
}

TEST_F(Xtf, FileHeaderLayout) {
  uint8_t h[kXtfFileHeaderBytes];
  BuildXtfFileHeader(h, 500);
  EXPECT_EQ(h[0], 123);
  EXPECT_EQ(h[1], 1);
  EXPECT_EQ(std::memcmp(h + 2, "Cardovex100", 11), 0);  // 8 characters without terminator
  EXPECT_STREQ(reinterpret_cast<char*>(h + 18), "K41 Sidescan");
  EXPECT_EQ(h[34], 0x00);
  EXPECT_EQ(h[35], 0x10);
  EXPECT_STREQ(reinterpret_cast<char*>(h + 36), "Cardovex Technology Corp.");
  EXPECT_STREQ(reinterpret_cast<char*>(h + 100), "cardovex.xtf");
  EXPECT_EQ(LE16(h + 164), 3);
  EXPECT_EQ(LE16(h + 166), 2);
  for (int i = 168; i < 256; ++i) ASSERT_EQ(h[i], 0) << i;
  EXPECT_EQ(h[256], 1);
  EXPECT_EQ(h[384], 2);
  EXPECT_EQ(LE16(h + 258), 1);
  EXPECT_EQ(LE16(h + 260), 1);
  EXPECT_EQ(LE16(h + 262), 1);
  EXPECT_EQ(LE32(h + 264), 500u);
  EXPECT_EQ(LE32(h + 392), 500u);
  EXPECT_STREQ(reinterpret_cast<char*>(h + 268), "PORT");
  EXPECT_STREQ(reinterpret_cast<char*>(h + 396), "STBD");
  for (int i = 512; i < 1024; ++i) ASSERT_EQ(h[i], 0) << i;
}

TEST_F(Xtf, PingLayoutTimeNavigationAndSamples) {
  FillSidescan(500);
  g_settings.Range = 9;
  g_settings.SoundVelocityMeters = 1480.0;
  g_outputs.outputCounter = 77;
  g_playback.speedKnots = 4.5;
  g_playback.headingDeg = 271.5;
  g_playback.heaveM = 0.25f;
  g_playback.positionPresent = 1;
  std::memcpy(g_playback.latitude, " 47.30.00000 S", 14);
  std::memcpy(g_playback.longitude, "008.15.00000 W", 14);
  static uint8_t p[kXtfMaxPingBytes];
  const int length = BuildXtfPing(p, sizeof p, 500);
  ASSERT_EQ(length, 1384);
  EXPECT_EQ(LE16(p), 0xFACE);
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(p[3], 0);
  EXPECT_EQ(LE16(p + 4), 2);
  EXPECT_EQ(LE32(p + 10), 1384u);
  EXPECT_EQ(LE16(p + 14), 2024);
  EXPECT_EQ(p[16], 2);
  EXPECT_EQ(p[17], 29);
  EXPECT_EQ(p[18], 13);
  EXPECT_EQ(p[19], 45);
  EXPECT_EQ(p[20], 7);
  EXPECT_EQ(p[21], 62);
  EXPECT_EQ(LE16(p + 22), 60);
  EXPECT_EQ(LE32(p + 28), 77u);
  EXPECT_FLOAT_EQ(LEFloat(p + 32), 740.0f);
  EXPECT_FLOAT_EQ(LEFloat(p + 120), 4.5f);
  EXPECT_FLOAT_EQ(LEFloat(p + 124), 271.5f);
  EXPECT_NEAR(LEDouble(p + 128), -47.5, 1e-6);
  EXPECT_NEAR(LEDouble(p + 136), -8.25, 1e-6);
  EXPECT_FLOAT_EQ(LEFloat(p + 152), 4.5f);
  EXPECT_NEAR(LEDouble(p + 160), -47.5, 1e-6);
  EXPECT_NEAR(LEDouble(p + 168), -8.25, 1e-6);
  EXPECT_FLOAT_EQ(LEFloat(p + 216), 0.25f);
  const float range = RangeMetersOfStep(9);
  for (int ch = 0; ch < 2; ++ch) {
    SCOPED_TRACE(ch);
    const uint8_t* c = p + 256 + ch * (64 + 500);
    EXPECT_EQ(LE16(c), ch);
    EXPECT_EQ(LE16(c + 2), 2);
    EXPECT_FLOAT_EQ(LEFloat(c + 4), range);
    EXPECT_FLOAT_EQ(LEFloat(c + 16), range / 740.0f);
    EXPECT_EQ(LE32(c + 42), 500u);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(c[64 + i], ((ch * 500 + i) * 3) % 128) << i;
  }
}

TEST_F(Xtf, RecordsWithoutPositionKeepTheLastCoordinates) {
  FillSidescan(100);
  static uint8_t p[kXtfMaxPingBytes];
  BuildXtfPing(p, sizeof p, 100);
  EXPECT_EQ(LEDouble(p + 128), 0.0);  // zero before the first position
  g_playback.positionPresent = 1;
  std::memcpy(g_playback.latitude, " 10.06.00000 N", 14);
  std::memcpy(g_playback.longitude, "020.03.00000 E", 14);
  BuildXtfPing(p, sizeof p, 100);
  g_playback.positionPresent = 0;
  std::memset(g_playback.latitude, 0, sizeof g_playback.latitude);
  BuildXtfPing(p, sizeof p, 100);
  EXPECT_NEAR(LEDouble(p + 128), 10.1, 1e-5);
  EXPECT_NEAR(LEDouble(p + 136), 20.05, 1e-5);
}

// The disk fills in the first ping after the header: the write reports it,
// the close reports it again, and the counts say what reached the file.
TEST_F(Xtf, LostWritesReachTheCaller) {
  testutil::TempDir dir("orvale_xtf");
  ASSERT_TRUE(dir.ok());
  FillSidescan(500);
  OutputFault fault;
  fault.writeLimitBytes = 1024 + 100;
  SetOutputFault(fault);
  ASSERT_EQ(OpenXtfFile(dir.File("full_sss.XTF").c_str()), 1);
  EXPECT_EQ(WriteXtfPing(), 0);
  EXPECT_EQ(WriteXtfPing(), 0);
  EXPECT_EQ(g_xtf.writeErrors, 2);
  EXPECT_EQ(g_xtf.bytesWritten, 1024);
  EXPECT_EQ(XtfFileFailed(), 1);
  EXPECT_EQ(CloseXtfFile(), 0);
  EXPECT_EQ(g_xtf.closeErrors, 1);
  ClearOutputFault();
  EXPECT_EQ(CloseXtfFile(), 0) << "the failure stays until the next open";
  ASSERT_EQ(OpenXtfFile(dir.File("ok_sss.XTF").c_str()), 1);
  EXPECT_EQ(WriteXtfPing(), 1);
  EXPECT_EQ(CloseXtfFile(), 1);
  EXPECT_EQ(g_xtf.closeErrors, 1);
}

TEST_F(Xtf, FileGetsOneHeaderThenFixedSizePings) {
  testutil::TempDir dir("orvale_xtf");
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.File("run_sss.XTF");
  FillSidescan(500);
  ASSERT_EQ(OpenXtfFile(path.c_str()), 1);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(WriteXtfPing(), 1);
  EXPECT_EQ(g_xtf.bytesWritten, 1024 + 3 * 1384);
  EXPECT_EQ(std::string(g_xtf.status), "Recording to " + path + " - 5 kB");
  CloseXtfFile();
  EXPECT_EQ(g_xtf.status[0], '\0');
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> all(1024 + 3 * 1384 + 10);
  const size_t n = std::fread(all.data(), 1, all.size(), f);
  std::fclose(f);
  ASSERT_EQ(n, 1024u + 3 * 1384u);
  EXPECT_EQ(all[0], 123);
  for (int i = 0; i < 3; ++i) {
    const uint8_t* ping = all.data() + 1024 + i * 1384;
    EXPECT_EQ(LE16(ping), 0xFACE);
    EXPECT_EQ(LE32(ping + 10), 1384u);
  }
  WriteXtfPing();  // closed: nothing happens
}

TEST_F(Xtf, AShortSidescanLineIsPaddedWithZeros) {
  g_sampleCount = 500;
  g_sidescanLength = 600;  // fewer entries than 2 x 500
  for (int i = 0; i < 600; ++i) g_sidescanLine[i] = 5;
  static uint8_t p[kXtfMaxPingBytes];
  ASSERT_EQ(BuildXtfPing(p, sizeof p, 500), 1384);
  const uint8_t* stbd = p + 256 + 64 + 500 + 64;
  EXPECT_EQ(stbd[99], 5);
  EXPECT_EQ(stbd[100], 0);
  EXPECT_EQ(BuildXtfPing(p, 100, 500), 0);
}

}  // namespace
