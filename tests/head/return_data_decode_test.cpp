// Decoding of a ping record: header-derived values, range scale factor,
// the type "U" delay shift, element order, offset-binary samples,
// descrambling, the beam-test raster and the ping-period statistics.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "settings/settings.h"

namespace {

uint8_t s_beamTest[kBeamTestSlots][kBeamSampleBytes];

class ReturnDataDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings = Settings{};
    g_settings.RunMode = 0;
    ResetSwitchState();
    ResetReturnData();
    std::memset(s_beamTest, 0, sizeof s_beamTest);
  }
  // A valid record of `type` in g_pingRecord: silence everywhere, header
  // values as given, ready for DecodePingAt.
  void MakeRecord(int type, int rangeCode = 20, int mode = 0, int layout = 0) {
    ApplyDataType(type);
    const int n = kDataTypes[type].recordLength;
    std::memset(g_pingRecord, 127, n);
    g_pingRecord[0] = 'I';
    g_pingRecord[1] = static_cast<uint8_t>(kDataTypes[type].letter);
    g_pingRecord[2] = 'X';
    g_pingRecord[6] = static_cast<uint8_t>((layout << 4) | 5);
    g_pingRecord[7] = static_cast<uint8_t>(rangeCode);
    g_pingRecord[8] = 7;
    g_pingRecord[9] = static_cast<uint8_t>(mode);
    g_pingRecord[n - 1] = kEndByte;
    g_ping.endByte = kEndByte;
  }
  static uint8_t& Sample(int s, int position) { return g_pingRecord[12 + s * 16 + position]; }
};

TEST_F(ReturnDataDecode, HeaderValues) {
  struct Case {
    int rangeCode, mode, range;
    double angular;
  };
  const Case cases[] = {
      {20, 0, 20, 0.9},   {200, 1, 200, 2.5}, {201, 2, 250, 1.5}, {202, 3, 300, 2.5},
      {203, 4, 400, 0.5}, {204, 5, 500, 0.5}, {50, 9, 50, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rangeCode);
    MakeRecord(0, c.rangeCode, c.mode);
    ASSERT_EQ(1, DecodePingAt(1.0));
    EXPECT_EQ(c.range, g_ping.pingRangeM);
    EXPECT_DOUBLE_EQ(c.angular, g_ping.angularConstantDeg);
    EXPECT_EQ(5, g_ping.headLevel);
    EXPECT_EQ(7, g_ping.headType);
    EXPECT_EQ(c.mode, g_ping.headModeCode);
    EXPECT_EQ(1, g_ping.pingValid);
  }
}

TEST_F(ReturnDataDecode, RangeScaleFactorByModeAndRange) {
  struct Case {
    int mode, range;
    float factor;
  };
  const Case cases[] = {
      {0, 30, 1.0f},      {1, 1, 1.0f},       {1, 3, 1.0f},      {1, 5, 0.992f},
      {1, 500, 0.992f},   {1, 7, 1.0f},       {2, 5, 1.023f},    {2, 10, 1.007475f},
      {2, 30, 1.01265f},  {2, 40, 1.00971f},  {2, 80, 1.0f},     {2, 100, 0.9981975f},
      {2, 150, 1.0f},     {3, 30, 1.0f},      {3, 150, 1.0f},    {4, 20, 1.024f},
      {5, 300, 1.024f},   {6, 30, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " range " << c.range);
    EXPECT_FLOAT_EQ(c.factor, RangeScaleFactorOf(c.mode, c.range));
  }
}

TEST_F(ReturnDataDecode, GeometryRebuildIsSignalledOnlyWhenTheFactorChanges) {
  const int start = g_ping.geometryChanged.load();
  MakeRecord(0, 30, 0);
  ASSERT_EQ(1, DecodePingAt(1.0));
  EXPECT_EQ(start, g_ping.geometryChanged.load());  // still 1.0
  MakeRecord(0, 30, 2);
  ASSERT_EQ(1, DecodePingAt(1.1));
  EXPECT_FLOAT_EQ(1.01265f, g_ping.rangeScaleFactor);
  EXPECT_EQ(start + 1, g_ping.geometryChanged.load());
  MakeRecord(0, 30, 2);
  ASSERT_EQ(1, DecodePingAt(1.2));
  EXPECT_EQ(start + 1, g_ping.geometryChanged.load());
}

TEST_F(ReturnDataDecode, FileModeRangeSelectsTheDisplayedStep) {
  struct Case {
    int runMode, rangeCode, expectedStep;
  };
  const Case cases[] = {
      {1, 1, 0}, {1, 2, 0}, {1, 4, 1}, {1, 30, 5}, {1, 204, 16}, {1, 7, 9}, {0, 30, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "run mode " << c.runMode << " code " << c.rangeCode);
    g_settings.Range = 9;
    g_settings.RunMode = c.runMode;
    MakeRecord(0, c.rangeCode);
    ASSERT_EQ(1, DecodePingAt(1.0));
    EXPECT_EQ(c.expectedStep, g_settings.Range);
  }
}

TEST_F(ReturnDataDecode, DelayShiftSamples) {
  struct Case {
    const char* legend;
    int range, pulse, mode, samples, shift;
  };
  const Case cases[] = {
      // t = 68 + 180 - 183 = 65 us, h = 65 * 0.00075 * 500 / 20 = 1.21875
      {"20 m, 180 us, mode 0", 20, 180, 0, 500, 1},
      // t = 164 + 500 - 0, h = 664 * 0.00075 * 500 / 7 = 35.57
      {"range outside the delay table", 7, 500, 4, 500, 36},
      // t = 68 + 30 - 780 = -682, h = -2.5575 -> trunc(-3.0575) = -3
      {"negative shift", 100, 30, 0, 500, -3},
      // t = 65 + 30 - 352 = -257, h = -257 * 0.00075 * 500 / 40 = -2.409 -> -2
      {"negative shift rounds towards the nearer", 40, 30, 9, 500, -2},
      {"range 0 from a damaged header", 0, 180, 0, 500, 0},
      {"absurd pulse length is held to the row", 1, 2500000, 0, 500, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(c.shift, DelayShiftSamples(c.range, c.pulse, c.mode, c.samples));
  }
}

TEST_F(ReturnDataDecode, TypeUEchoMovesByTheDelayShift) {
  // An echo at input sample 100 of element position 3, at 20 m with 180 us:
  // the decoder shifts it one sample later, and sample 0 becomes silence.
  g_settings.PulseLength = 180;
  g_settings.Xdcr = 0;
  MakeRecord(0, 20, 0);
  Sample(0, 3) = 200;
  Sample(100, 3) = 250;
  Sample(499, 3) = 10;  // dropped off the end
  ASSERT_EQ(1, DecodePingAt(1.0));
  const int n = DelayShiftSamples(20, 180, 0, 500);
  ASSERT_EQ(1, n);
  EXPECT_FLOAT_EQ(0.f, g_elementSamples[3][0]);
  EXPECT_FLOAT_EQ(73.f, g_elementSamples[3][1]);     // input sample 0
  EXPECT_FLOAT_EQ(123.f, g_elementSamples[3][100 + n]);
  EXPECT_FLOAT_EQ(0.f, g_elementSamples[3][100]);
  for (int s = 0; s < 500; ++s) ASSERT_NE(-117.f, g_elementSamples[3][s]) << s;

  // Negative shift: output s is input s + 3, the last three are zero.
  g_settings.PulseLength = 30;
  MakeRecord(0, 100, 0);
  Sample(3, 3) = 0;
  Sample(499, 3) = 255;
  ASSERT_EQ(1, DecodePingAt(2.0));
  EXPECT_FLOAT_EQ(-127.f, g_elementSamples[3][0]);
  EXPECT_FLOAT_EQ(128.f, g_elementSamples[3][496]);
  EXPECT_FLOAT_EQ(0.f, g_elementSamples[3][497]);
}

TEST_F(ReturnDataDecode, ElementOrderFollowsTheTransducer) {
  for (int xdcr : {1, 0}) {
    SCOPED_TRACE(xdcr ? "Up" : "Down");
    g_settings.Xdcr = xdcr;
    MakeRecord(1);  // type "V": no shift
    for (int e = 0; e < 16; ++e) Sample(10, e) = static_cast<uint8_t>(127 + e + 1);
    ASSERT_EQ(1, DecodePingAt(1.0));
    for (int e = 0; e < 16; ++e) {
      const int element = xdcr ? 15 - e : e;
      EXPECT_FLOAT_EQ(static_cast<float>(e + 1), g_elementSamples[element][10]) << "position " << e;
    }
  }
}

TEST_F(ReturnDataDecode, OffsetBinarySamples) {
  struct Case {
    uint8_t byte;
    float value;
  };
  const Case cases[] = {{127, 0.f}, {0, -127.f}, {255, 128.f}, {128, 1.f}, {126, -1.f}};
  g_settings.Xdcr = 0;
  MakeRecord(1);
  for (int i = 0; i < 5; ++i) Sample(999, i) = cases[i].byte;
  ASSERT_EQ(1, DecodePingAt(1.0));
  EXPECT_EQ(1000, g_sampleCount);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(static_cast<int>(cases[i].byte));
    EXPECT_FLOAT_EQ(cases[i].value, g_elementSamples[i][999]);
  }
}

TEST_F(ReturnDataDecode, TypesZAndYDecodeOnlyTheFirstFiveHundredSamples) {
  for (int type : {2, 3}) {
    SCOPED_TRACE(kDataTypes[type].letter);
    g_settings.Xdcr = 0;
    MakeRecord(type);
    std::memset(g_elementSamples, 0x7F, sizeof g_elementSamples);  // poison
    Sample(499, 0) = 137;
    Sample(500, 0) = 200;  // carried but not decoded
    ASSERT_EQ(1, DecodePingAt(1.0));
    EXPECT_EQ(500, g_sampleCount);
    EXPECT_FLOAT_EQ(10.f, g_elementSamples[0][499]);
    float poison;
    std::memset(&poison, 0x7F, sizeof poison);
    EXPECT_EQ(poison, g_elementSamples[0][500]);
  }
}

TEST_F(ReturnDataDecode, ScrambleIsTheExactInverseOfDescramble) {
  std::mt19937 rng(12);
  for (int packets : {8, 16}) {
    SCOPED_TRACE(packets);
    std::vector<uint8_t> plain(packets * 1000);
    for (auto& b : plain) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> data = plain;
    ScrambleElementData(data.data(), packets);
    // Every group is really moved: silence scrambles into a pattern.
    int same = 0;
    for (size_t i = 0; i < data.size(); ++i) same += data[i] == plain[i];
    EXPECT_LT(same, static_cast<int>(data.size()) / 20);
    DescrambleElementData(data.data(), packets);
    EXPECT_EQ(plain, data);
  }
}

TEST_F(ReturnDataDecode, ScrambledRecordDecodesLikeThePlainOne) {
  for (int type : {0, 1}) {
    SCOPED_TRACE(kDataTypes[type].letter);
    std::mt19937 rng(type + 3);
    MakeRecord(type, 30, 0, 0);
    const int bytes = kDataTypes[type].packetsPerPing * 1000;
    for (int i = 0; i < bytes; ++i) g_pingRecord[12 + i] = static_cast<uint8_t>(rng());
    std::vector<uint8_t> elementData(g_pingRecord + 12, g_pingRecord + 12 + bytes);
    ASSERT_EQ(1, DecodePingAt(1.0));
    std::vector<float> plain(&g_elementSamples[0][0], &g_elementSamples[0][0] + kElements * kMaxSamples);

    MakeRecord(type, 30, 0, 2);
    std::memcpy(g_pingRecord + 12, elementData.data(), bytes);
    ScrambleElementData(g_pingRecord + 12, kDataTypes[type].packetsPerPing);
    std::memset(g_elementSamples, 0, sizeof g_elementSamples);
    ASSERT_EQ(1, DecodePingAt(2.0));
    std::vector<float> unscrambled(&g_elementSamples[0][0], &g_elementSamples[0][0] + kElements * kMaxSamples);
    EXPECT_EQ(plain, unscrambled);
  }
}

TEST_F(ReturnDataDecode, LayoutCodeTwoIsIgnoredForTypesZAndY) {
  g_settings.Xdcr = 0;
  MakeRecord(2, 30, 0, 2);
  Sample(0, 0) = 150;
  ASSERT_EQ(1, DecodePingAt(1.0));
  EXPECT_FLOAT_EQ(23.f, g_elementSamples[0][0]);
}

TEST_F(ReturnDataDecode, BeamTestRasterSlotsAndMagnitudes) {
  struct Case {
    int type, xdcr, halfRange, firstSlot;
  };
  const Case cases[] = {
      {0, 1, 0, 69}, {0, 0, 0, 69}, {1, 1, 0, 69}, {2, 1, 0, 61}, {3, 0, 0, 45}, {0, 1, 1, 69},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << kDataTypes[c.type].letter << " xdcr " << c.xdcr << " half "
                                    << c.halfRange);
    SetUp();
    g_settings.DisplayType = 4;
    g_settings.Xdcr = c.xdcr;
    g_settings.HalfRange = c.halfRange;
    MakeRecord(c.type);
    Sample(0, 2) = 100;   // magnitude 27
    Sample(1, 2) = 160;   // magnitude 33
    Sample(4, 2) = 0;     // magnitude 127
    std::memset(g_elementSamples, 0, sizeof g_elementSamples);
    ASSERT_EQ(1, DecodePingAt(1.0, s_beamTest));
    const int slot = c.xdcr ? c.firstSlot + 2 : c.firstSlot + 13;
    const uint8_t* row = s_beamTest[slot];
    if (c.type == 1) {
      EXPECT_EQ(33, row[0]);   // larger of samples 0 and 1
      EXPECT_EQ(127, row[2]);  // samples 4 and 5
    } else if (c.halfRange) {
      EXPECT_EQ(27, row[0]);
      EXPECT_EQ(27, row[1]);
      EXPECT_EQ(33, row[2]);
      EXPECT_EQ(33, row[3]);
      EXPECT_EQ(127, row[8]);
      EXPECT_EQ(127, row[9]);
    } else {
      EXPECT_EQ(27, row[0]);
      EXPECT_EQ(33, row[1]);
      EXPECT_EQ(127, row[4]);
    }
    // Nothing outside the sixteen rows, and ElementSamples untouched.
    for (int s = 0; s < kBeamTestSlots; ++s) {
      if (s >= c.firstSlot && s < c.firstSlot + 16) continue;
      for (int k = 0; k < kBeamSampleBytes; ++k) ASSERT_EQ(0, s_beamTest[s][k]) << s;
    }
    EXPECT_FLOAT_EQ(0.f, g_elementSamples[2][0]);
  }
}

TEST_F(ReturnDataDecode, PingPeriodMeanTextsEveryThirdPing) {
  g_settings.RunMode = 0;
  const double times[] = {5.0, 5.1, 5.3, 5.6, 5.7, 5.7};
  const int periods[] = {5000, 100, 200, 300, 100, 0};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    MakeRecord(0);
    ASSERT_EQ(1, DecodePingAt(times[i]));
    EXPECT_EQ(periods[i], g_ping.pingPeriodMs);
    EXPECT_EQ(periods[i] > 2000 ? 2000 : periods[i], g_ping.livePingPeriodMs);
    if (i == 2) {
      EXPECT_STREQ("1766 ms", g_ping.meanPeriodText);  // (5000 + 100 + 200) / 3
      EXPECT_STREQ("1 Hz", g_ping.rateText);
    }
    if (i == 5) {
      EXPECT_STREQ("133 ms", g_ping.meanPeriodText);   // (300 + 100 + 0) / 3
      EXPECT_STREQ("8 Hz", g_ping.rateText);           // 1000 / 133 = 7.5 -> 8
    }
  }
  MakeRecord(0);
  ASSERT_EQ(1, DecodePingAt(5.9));
  EXPECT_EQ(200, g_ping.livePingPeriodMs);
  // Long gaps are capped; a file-mode period leaves the live copy alone.
  g_settings.RunMode = 1;
  MakeRecord(0);
  ASSERT_EQ(1, DecodePingAt(100.0));
  EXPECT_EQ(10000, g_ping.pingPeriodMs);
  EXPECT_EQ(200, g_ping.livePingPeriodMs);
}

TEST_F(ReturnDataDecode, RateIsZeroForAMeanOfZero) {
  for (int i = 0; i < 3; ++i) UpdatePingPeriod(0.0);
  EXPECT_STREQ("0 ms", g_ping.meanPeriodText);
  EXPECT_STREQ("0 Hz", g_ping.rateText);
}

TEST_F(ReturnDataDecode, OutputLagSumsTheNewestPeriods) {
  struct Case {
    const char* legend;
    int avgFilter, shots, detection, filter, runMode, mark;
    double lag;
  };
  // Periods fed: 100, 200, 300, 400, 500 (newest last).
  const Case cases[] = {
      {"averaging off, no detection", 0, 1, 0, 0, 0, 0, 0.0},
      {"5 shots: two newest", 1, 5, 0, 0, 0, 0, 900.0},
      {"9 shots: four newest", 1, 9, 0, 0, 0, 0, 1400.0},
      {"bottom following adds one", 1, 5, 1, 2, 0, 0, 1200.0},
      {"other filter adds none", 1, 5, 1, 1, 0, 0, 900.0},
      {"playback mark adds one in file mode", 1, 5, 1, 2, 1, 1, 1400.0},
      {"mark ignored in head mode", 1, 5, 0, 0, 0, 1, 900.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    g_settings.AvgFilter = c.avgFilter;
    g_settings.AvgFilterIndex = c.shots;
    g_settings.ProfilePointDetection = c.detection;
    g_settings.ProfilePointFilter = c.filter;
    g_settings.RunMode = c.runMode;
    g_ping.playbackLagMark = c.mark;
    double t = 10.0;
    UpdatePingPeriod(t);
    for (int p = 100; p <= 500; p += 100) UpdatePingPeriod(t += p / 1000.0);
    EXPECT_DOUBLE_EQ(c.lag, g_ping.outputLagMs);
  }
  // A lag above ten seconds reads as none.
  SetUp();
  g_settings.AvgFilter = 1;
  g_settings.AvgFilterIndex = 25;
  for (int i = 0; i < 20; ++i) UpdatePingPeriod(i * 2.0);
  EXPECT_DOUBLE_EQ(0.0, g_ping.outputLagMs);
}

TEST_F(ReturnDataDecode, LoadPingRecordTakesTheTypeFromTheLetter) {
  std::vector<uint8_t> rec(16013, 127);
  rec[0] = 'I';
  rec[1] = 'Z';
  rec[2] = 'X';
  rec[16012] = kEndByte;
  EXPECT_EQ(0, LoadPingRecord(rec.data(), 8013)) << "length of another type";
  rec[1] = 'Q';
  EXPECT_EQ(0, LoadPingRecord(rec.data(), 16013)) << "unknown letter";
  rec[1] = 'Z';
  ASSERT_EQ(1, LoadPingRecord(rec.data(), 16013));
  EXPECT_EQ(2, g_ping.expectedType);
  EXPECT_EQ(500, g_sampleCount);
  EXPECT_EQ(kEndByte, g_ping.endByte);
  EXPECT_EQ(1, DecodePingAt(1.0));
}

}  // namespace
