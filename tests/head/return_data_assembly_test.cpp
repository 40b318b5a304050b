// Packet acceptance and ping record assembly: framing checks, the requested
// index and sequence errors, completion with the end byte and the file-writer
// copy, record validation and the decode-at-most-once rule.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/alloc_counter.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "settings/settings.h"

namespace {

// A well-formed packet of data type `type` with index `index`; data byte j of
// the packet is (index * 7 + j) mod 251, so every slice is distinguishable.
std::vector<uint8_t> MakePacket(int type, int index) {
  std::vector<uint8_t> p(kReturnPacketBytes, 0);
  p[0] = 'I';
  p[1] = static_cast<uint8_t>(kDataTypes[type].letter);
  p[2] = 'X';
  p[3] = 0x11;
  p[4] = static_cast<uint8_t>(0x40 + index);
  p[5] = static_cast<uint8_t>(0xA0 | index);  // high bits are not part of the index
  p[6] = 0x03;
  p[7] = 20;
  p[8] = 4;
  p[9] = 0;
  p[12] = static_cast<uint8_t>(0x70 + index);
  for (int j = 0; j < kPacketDataBytes; ++j) p[32 + j] = static_cast<uint8_t>((index * 7 + j) % 251);
  p[kReturnPacketBytes - 1] = kEndByte;
  return p;
}

class ReturnDataAssembly : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings = Settings{};
    ResetSwitchState();
    ResetReturnData();
  }
  int Feed(int type, int index) {
    const std::vector<uint8_t> p = MakePacket(type, index);
    return AssemblePacket(p.data(), static_cast<int>(p.size()));
  }
  void SelectType(int type) {
    g_switch.dataType = type;
    ASSERT_EQ(type == 0 ? 0 : 1, TakeDataTypeSetting());
  }
};

TEST_F(ReturnDataAssembly, TypeUCompletesAfterPacketsZeroToSeven) {
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(kPacketAccepted, Feed(0, k)) << "packet " << k;
    EXPECT_EQ(k + 1, g_switch.packetIndex);
  }
  EXPECT_EQ(kPacketAccepted | kPingComplete, Feed(0, 7));
  EXPECT_EQ(0, g_switch.packetIndex);  // the next ping starts at packet 0
  EXPECT_EQ(8013, g_ping.recordLength);
  EXPECT_EQ(kEndByte, g_pingRecord[8012]);
  for (int k = 0; k < 8; ++k) {
    const std::vector<uint8_t> p = MakePacket(0, k);
    EXPECT_EQ(0, std::memcmp(g_pingRecord + 12 + 1000 * k, p.data() + 32, 1000)) << "slice " << k;
  }
  // Header: bytes 0-11 of the last packet (index 7 in byte 5).
  const std::vector<uint8_t> last = MakePacket(0, 7);
  EXPECT_EQ(0, std::memcmp(g_pingRecord, last.data(), 12));
  // Status bytes are those of packet 0.
  EXPECT_EQ(0x40, g_ping.headStatus);
  EXPECT_EQ(0x70, g_ping.extTriggerStatus);
  EXPECT_EQ(0, std::memcmp(g_fileWriterRecord, g_pingRecord, 8013));
  EXPECT_EQ(1, g_ping.pingsCompleted);
}

TEST_F(ReturnDataAssembly, EveryTypeCompletesWithItsRecordLength) {
  for (int type = 0; type < kDataTypeCount; ++type) {
    SCOPED_TRACE(kDataTypes[type].letter);
    SetUp();
    g_switch.dataType = type;
    TakeDataTypeSetting();
    const int packets = kDataTypes[type].packetsPerPing;
    int last = 0;
    for (int k = 0; k < packets; ++k) last = Feed(type, k);
    EXPECT_EQ(kPacketAccepted | kPingComplete, last);
    const int n = kDataTypes[type].recordLength;
    EXPECT_EQ(13 + 1000 * packets, n);
    EXPECT_EQ(kEndByte, g_fileWriterRecord[n - 1]);
    EXPECT_EQ(kDataTypes[type].samplesPerElement, g_sampleCount);
  }
}

TEST_F(ReturnDataAssembly, OutOfSequencePacketRestartsThePing) {
  EXPECT_EQ(kPacketAccepted, Feed(0, 0));
  EXPECT_EQ(kPacketAccepted, Feed(0, 1));
  const uint8_t before = g_pingRecord[12 + 3000];
  EXPECT_EQ(0, Feed(0, 3));
  EXPECT_EQ(1, g_ping.sequenceErrors);
  EXPECT_EQ(1, g_ping.sequenceErrorFlag);
  EXPECT_EQ(0, g_switch.packetIndex);
  EXPECT_EQ(before, g_pingRecord[12 + 3000]);  // nothing copied
  EXPECT_EQ(kPacketAccepted, Feed(0, 0));
  EXPECT_EQ(0, g_ping.sequenceErrorFlag);
}

TEST_F(ReturnDataAssembly, BadFramingIsIgnoredAndTheSameIndexAskedAgain) {
  struct Case {
    const char* legend;
    int offset;      // byte changed, -1 for a short packet
    uint8_t value;
  };
  const Case cases[] = {
      {"first byte not I", 0, 'J'},
      {"type letter of V while U expected", 1, 'V'},
      {"third byte not X", 2, 'Y'},
      {"end byte missing", kReturnPacketBytes - 1, 0x00},
      {"short receive", -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    ASSERT_EQ(kPacketAccepted, Feed(0, 0));
    std::vector<uint8_t> p = MakePacket(0, 1);
    int length = kReturnPacketBytes;
    if (c.offset >= 0) p[c.offset] = c.value;
    else length = 700;
    EXPECT_EQ(0, AssemblePacket(p.data(), length));
    EXPECT_EQ(1, g_switch.packetIndex);
    EXPECT_EQ(0, g_ping.sequenceErrors);
    EXPECT_EQ(1, g_ping.framingRejects + g_ping.shortPackets);
    EXPECT_EQ(kPacketAccepted, Feed(0, 1));  // the repeat is taken
  }
}

TEST_F(ReturnDataAssembly, IndexBeyondThePingIsNeverACopyOffset) {
  // Index 31 of a type "U" ping would land 23 kB past the 8013-byte record.
  std::vector<uint8_t> snapshot(g_pingRecord, g_pingRecord + kRecordBufferBytes);
  for (int index : {8, 17, 31}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(0, Feed(0, index));
  }
  EXPECT_EQ(3, g_ping.indexRejects);
  EXPECT_EQ(0, std::memcmp(snapshot.data(), g_pingRecord, kRecordBufferBytes));
  // A request index corrupted beyond the ping falls back to packet 0.
  g_switch.packetIndex = 40;
  EXPECT_EQ(0, Feed(0, 40 & 0x1F));
  EXPECT_EQ(0, g_switch.packetIndex);
  EXPECT_EQ(kPacketAccepted, Feed(0, 0));
}

TEST_F(ReturnDataAssembly, DataTypeChangeWaitsForPacketZero) {
  ASSERT_EQ(kPacketAccepted, Feed(0, 0));
  g_switch.dataType = 1;
  EXPECT_EQ(0, TakeDataTypeSetting());
  EXPECT_EQ(0, g_ping.expectedType);
  ASSERT_EQ(0, Feed(0, 5));  // sequence error: back to packet 0
  EXPECT_EQ(1, TakeDataTypeSetting());
  EXPECT_EQ(1, g_ping.expectedType);
  EXPECT_EQ(1000, g_sampleCount);
  EXPECT_EQ(16013, g_ping.recordLength);
  EXPECT_EQ(0, Feed(0, 0)) << "a 'U' packet is refused while 'V' is expected";
  EXPECT_EQ(kPacketAccepted, Feed(1, 0));
}

TEST_F(ReturnDataAssembly, CompletedRecordDecodesOnceOnly) {
  for (int k = 0; k < 8; ++k) (void)Feed(0, k);
  EXPECT_EQ(1, DecodePingAt(10.0));
  FinishPing();
  EXPECT_EQ(0, g_pingRecord[0]);
  EXPECT_EQ(0, g_pingRecord[1]);
  EXPECT_EQ(0, g_pingRecord[2]);
  EXPECT_EQ(0, g_pingRecord[8012]);
  EXPECT_EQ(0, g_ping.endByte);
  // The loop hands the same record over again on its next step: refused.
  EXPECT_EQ(0, DecodePingAt(10.1));
  EXPECT_EQ(1, g_ping.pingsRejected);
  // The file writer's copy is not touched by the invalidation.
  EXPECT_EQ('I', g_fileWriterRecord[0]);
}

TEST_F(ReturnDataAssembly, ValidationRefusesRecordsOfAnotherTypeOrWithoutEndByte) {
  struct Case {
    const char* legend;
    int offset;
    uint8_t value;
    int endByte;
  };
  const Case cases[] = {
      {"intact", -1, 0, kEndByte},
      {"first byte", 0, 'i', kEndByte},
      {"letter of another type", 1, 'Y', kEndByte},
      {"third byte", 2, 0, kEndByte},
      {"kept end byte lost", -1, 0, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    for (int k = 0; k < 8; ++k) (void)Feed(0, k);
    if (c.offset >= 0) g_pingRecord[c.offset] = c.value;
    g_ping.endByte = c.endByte;
    EXPECT_EQ(c.offset < 0 && c.endByte == kEndByte ? 1 : 0, DecodePingAt(1.0));
  }
}

TEST_F(ReturnDataAssembly, ClearPingSilencesOnlyTheElementDataAndTheReceiveBuffer) {
  for (int k = 0; k < 8; ++k) (void)Feed(0, k);
  std::memset(g_returnPacket, 0x55, kReturnPacketBytes);
  g_pingRecord[8013] = 0x42;  // just past the record
  ClearPing();
  EXPECT_EQ('I', g_pingRecord[0]);
  for (int i = 12; i < 12 + 16 * 500; ++i) ASSERT_EQ(127, g_pingRecord[i]) << i;
  EXPECT_EQ(0x42, g_pingRecord[8013]);
  EXPECT_EQ(0x55, g_returnPacket[11]);
  for (int i = 12; i < kReturnPacketBytes; ++i) ASSERT_EQ(127, g_returnPacket[i]) << i;
  // The silenced receive buffer no longer passes as a packet.
  EXPECT_EQ(0, AssemblePacket(g_returnPacket, kReturnPacketBytes));
}

TEST_F(ReturnDataAssembly, PacketAndPingPathAllocatesNothing) {
  std::vector<std::vector<uint8_t>> packets;
  for (int k = 0; k < 8; ++k) packets.push_back(MakePacket(0, k));
  alloc_counter::Start();
  for (int ping = 0; ping < 3; ++ping) {
    for (const auto& p : packets) (void)AssemblePacket(p.data(), kReturnPacketBytes);
    (void)DecodePingAt(1.0 + ping);
    FinishPing();
  }
  EXPECT_EQ(0, alloc_counter::Stop());
  EXPECT_EQ(3, g_ping.pingsDecoded);
}

}  // namespace
