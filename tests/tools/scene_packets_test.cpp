// Scene packets: cut from the ping record, they reassemble through the
// console's packet assembly into the same record, and scrambled element
// data descrambles to the plain data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "scene.h"
#include "settings/settings.h"

namespace {

class ScenePackets : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings = Settings{};
    ResetSwitchState();
    ResetReturnData();
    ResetScene();
  }
  static SceneParams Busy(int type) {
    SceneParams p;
    p.dataType = type;
    p.speckle = 1;
    p.seed = 11;
    p.noise = 2.0;
    p.targets[0] = {25.0, 9.0, 70.0};
    p.targetCount = 1;
    return p;
  }
};

TEST_F(ScenePackets, PacketsReassembleToTheSamePingRecord) {
  for (int type = 0; type < kDataTypeCount; ++type) {
    SCOPED_TRACE(kDataTypes[type].letter);
    ResetReturnData();
    ApplyDataType(type);
    const SceneParams p = Busy(type);
    std::vector<uint8_t> record(kRecordBufferBytes);
    const int length = SynthesizePing(p, 6, record.data());
    ASSERT_EQ(kDataTypes[type].recordLength, length);

    const int packets = kDataTypes[type].packetsPerPing;
    uint8_t packet[kReturnPacketBytes];
    for (int k = 0; k < packets; ++k) {
      ASSERT_EQ(1, GetPacket(p, 6, k, packet));
      EXPECT_EQ('I', packet[0]);
      EXPECT_EQ(kDataTypes[type].letter, packet[1]);
      EXPECT_EQ('X', packet[2]);
      EXPECT_EQ(k, packet[5] & 0x1F);
      EXPECT_EQ(kEndByte, packet[kReturnPacketBytes - 1]);
      const int result = AssemblePacket(packet, kReturnPacketBytes);
      ASSERT_EQ(k == packets - 1 ? (kPacketAccepted | kPingComplete) : kPacketAccepted, result) << "packet " << k;
    }
    EXPECT_EQ(0, std::memcmp(record.data(), g_pingRecord, length));
    EXPECT_EQ(0, std::memcmp(record.data(), g_fileWriterRecord, length));
    EXPECT_EQ(0, GetPacket(p, 6, packets, packet));
    EXPECT_EQ(0, GetPacket(p, 6, -1, packet));
  }
}

TEST_F(ScenePackets, SynthesizePacketsHandsOutTheWholePing) {
  const SceneParams p = Busy(3);
  static uint8_t packets[kMaxPacketsPerPing][kReturnPacketBytes];
  EXPECT_EQ(0, SynthesizePackets(p, 0, packets, 31));  // "Y" needs 32
  ASSERT_EQ(32, SynthesizePackets(p, 0, packets, kMaxPacketsPerPing));
  std::vector<uint8_t> record(kRecordBufferBytes);
  ASSERT_EQ(32013, SynthesizePing(p, 0, record.data()));
  for (int k = 0; k < 32; ++k)
    ASSERT_EQ(0, std::memcmp(packets[k] + 32, record.data() + 12 + 1000 * k, 1000)) << "packet " << k;
}

TEST_F(ScenePackets, ScrambledDataDescramblesToThePlainData) {
  for (int type : {0, 1}) {
    SCOPED_TRACE(kDataTypes[type].letter);
    SceneParams plain = Busy(type);
    SceneParams scrambled = plain;
    scrambled.scrambled = 1;
    std::vector<uint8_t> a(kRecordBufferBytes), b(kRecordBufferBytes);
    const int length = SynthesizePing(plain, 2, a.data());
    ASSERT_EQ(length, SynthesizePing(scrambled, 2, b.data()));
    EXPECT_EQ(0x00, a[6] & 0xF0);
    EXPECT_EQ(0x20, b[6] & 0xF0);  // data-layout code 2
    const int dataBytes = length - 13;
    EXPECT_NE(0, std::memcmp(a.data() + 12, b.data() + 12, dataBytes));
    DescrambleElementData(b.data() + 12, kDataTypes[type].packetsPerPing);
    EXPECT_EQ(0, std::memcmp(a.data() + 12, b.data() + 12, dataBytes));

    // Through the decoder the two give the same element samples.
    ASSERT_EQ(length, SynthesizePing(scrambled, 2, b.data()));
    ASSERT_EQ(1, LoadPingRecord(a.data(), length));
    ASSERT_EQ(1, DecodePingAt(1.0));
    std::vector<float> rows(&g_elementSamples[0][0], &g_elementSamples[0][0] + kElements * kMaxSamples);
    ASSERT_EQ(1, LoadPingRecord(b.data(), length));
    ASSERT_EQ(1, DecodePingAt(2.0));
    EXPECT_EQ(0, std::memcmp(rows.data(), &g_elementSamples[0][0], rows.size() * sizeof(float)));
  }
}

TEST_F(ScenePackets, ScramblingIsNotAppliedWhereTheConsoleWouldNotUndoIt) {
  // "Z" and "Y" are decoded without descrambling: the head sends them plain.
  for (int type : {2, 3}) {
    SCOPED_TRACE(kDataTypes[type].letter);
    SceneParams plain = Busy(type);
    SceneParams scrambled = plain;
    scrambled.scrambled = 1;
    std::vector<uint8_t> a(kRecordBufferBytes), b(kRecordBufferBytes);
    const int length = SynthesizePing(plain, 0, a.data());
    ASSERT_EQ(length, SynthesizePing(scrambled, 0, b.data()));
    EXPECT_EQ(a, b);
  }
}

TEST_F(ScenePackets, HeaderCarriesTheHeadsSettings) {
  struct Case {
    const char* legend;
    int type, step, headType, mode;
    double rangeM;
    int code, headTypeIndex;
  };
  const Case cases[] = {
      {"U 30 m head 4", 0, 5, 4, 0, 0.0, 30, 0},
      {"V 1.5 m head 5", 1, 0, 5, 1, 0.0, 1, 1},
      {"Z 400 m head 12", 2, 15, 12, 2, 0.0, 203, 17},
      {"Y 7 m head 7 mode 5", 3, 5, 7, 5, 7.0, 7, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SceneParams p;
    p.dataType = c.type;
    p.rangeStep = c.step;
    p.rangeM = c.rangeM;
    p.headTypeSetting = c.headType;
    p.headModeCode = c.mode;
    std::vector<uint8_t> r(kRecordBufferBytes);
    const int length = SynthesizePing(p, 0, r.data());
    ASSERT_EQ(kDataTypes[c.type].recordLength, length);
    EXPECT_EQ(kDataTypes[c.type].packetsPerPing - 1, r[5]);
    EXPECT_EQ(c.code, r[7]);
    EXPECT_EQ(c.headTypeIndex, r[8]);
    EXPECT_EQ(c.mode, r[9]);
    EXPECT_EQ(kEndByte, r[length - 1]);
  }
}

TEST_F(ScenePackets, InvalidScenesAreRefusedWithAReason) {
  struct Case {
    const char* legend;
    void (*spoil)(SceneParams&);
  };
  const Case cases[] = {
      {"data type 4", [](SceneParams& p) { p.dataType = 4; }},
      {"range 7.5 m", [](SceneParams& p) { p.rangeM = 7.5; }},
      {"range 600 m", [](SceneParams& p) { p.rangeM = 600.0; }},
      {"range step 17", [](SceneParams& p) { p.rangeStep = 17; }},
      {"head type 10", [](SceneParams& p) { p.headTypeSetting = 10; }},
      {"sound speed 0", [](SceneParams& p) { p.soundSpeed = 0.0; }},
      {"sound speed NaN", [](SceneParams& p) { p.soundSpeed = std::nan(""); }},
      {"pulse 5 us", [](SceneParams& p) { p.pulseUs = 5; }},
      {"depth 0", [](SceneParams& p) { p.depthM = 0.0; }},
      {"17 targets", [](SceneParams& p) { p.targetCount = 17; }},
      {"target at 90 deg", [](SceneParams& p) {
         p.targetCount = 1;
         p.targets[0] = {90.0, 5.0, 10.0};
       }},
      {"negative noise", [](SceneParams& p) { p.noise = -1.0; }},
      {"xdcr 2", [](SceneParams& p) { p.xdcr = 2; }},
  };
  std::vector<uint8_t> r(kRecordBufferBytes, 0xAA);
  uint8_t packet[kReturnPacketBytes];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SceneParams p;
    c.spoil(p);
    char why[128] = "";
    EXPECT_EQ(0, ValidateScene(p, why, sizeof why));
    EXPECT_NE('\0', why[0]);
    EXPECT_EQ(0, SynthesizePing(p, 0, r.data()));
    EXPECT_EQ(0, GetPacket(p, 0, 0, packet));
  }
  EXPECT_EQ(0xAA, r[0]);  // nothing written for a refused scene
  SceneParams ok;
  EXPECT_EQ(1, ValidateScene(ok, nullptr, 0));
}

}  // namespace
