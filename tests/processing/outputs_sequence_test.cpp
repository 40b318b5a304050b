// The per-ping output sequence heard by a real UDP listener on 127.0.0.1, the
// output files.
#include <cstdio>

#include "files/output_file.h"
#include "processing/outputs_test_util.h"

namespace {

using namespace outtest;

class OutputSequence : public OutputsFixture {};

TEST_F(OutputSequence, NoOutputTypeStillSendsAKeepAlivePerPing) {
  Listener l;
  PointSocketAt(l);
  FakePing(120, 500);
  g_settings.DataOutputType = kOutputNone;
  g_settings.ProfilePointDetection = 1;
  for (int i = 0; i < 3; ++i) RunOutputSequence(0);
  const auto got = l.Drain();
  ASSERT_EQ(got.size(), 3u);
  for (const auto& d : got) {
    ASSERT_EQ(d.size(), 32u);
    EXPECT_EQ(std::memcmp(d.data(), "K4Z", 3), 0);
  }
  EXPECT_EQ(g_outputs.outputCounter, 3u);  // detection on counts pings
  EXPECT_EQ(g_outputs.bytesOut, 32);
}

TEST_F(OutputSequence, DetectionOffSendsTheKeepAliveInsteadOfPoints) {
  Listener l;
  PointSocketAt(l);
  FakePing(120, 500);
  g_settings.DataOutputType = kOutputPoints;
  g_settings.ProfilePointDetection = 0;
  RunOutputSequence(0);
  const auto got = l.Drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), 32u);
  EXPECT_EQ(g_outputs.outputCounter, 0u);
}

TEST_F(OutputSequence, BeamTestSendsOnlyTheKeepAlive) {
  Listener l;
  PointSocketAt(l);
  FakePing(120, 500);
  ASSERT_EQ(OpenPointFile(Path("bt.K4P").c_str()), 1);
  ASSERT_EQ(OpenXtfFile(Path("bt_sss.XTF").c_str()), 1);
  g_settings.ProfilePointDetection = 1;
  for (int type : {kOutputPoints, kOutputBeams}) {
    SCOPED_TRACE(type);
    g_settings.DataOutputType = type;
    RunOutputSequence(4);
    const auto got = l.Drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 32u);
  }
  EXPECT_EQ(g_outputs.outputCounter, 0u);
  ClosePointFile();
  CloseXtfFile();
  EXPECT_EQ(ReadAll(Path("bt.K4P")).size(), 0u);
  EXPECT_EQ(ReadAll(Path("bt_sss.XTF")).size(), 0u);
}

TEST_F(OutputSequence, PointOutputSendsOneDatagramAndWritesTheSameRecord) {
  Listener l;
  PointSocketAt(l);
  FakePing(240, 500);
  g_settings.DataOutputType = kOutputPoints;
  g_settings.ProfilePointDetection = 1;
  g_settings.ProfilePointIntensityOutput = 0;
  ASSERT_EQ(OpenPointFile(Path("p.K4P").c_str()), 1);
  RunOutputSequence(0);
  RunOutputSequence(0);
  const auto got = l.Drain();
  ASSERT_EQ(got.size(), 2u);
  ASSERT_EQ(got[0].size(), 256u + 480u);
  EXPECT_EQ(BE32(got[0].data() + 93), 1u);
  EXPECT_EQ(BE32(got[1].data() + 93), 2u);
  ClosePointFile();
  const auto file = ReadAll(Path("p.K4P"));
  ASSERT_EQ(file.size(), 2u * 736u);
  EXPECT_TRUE(std::equal(got[0].begin(), got[0].end(), file.begin()));
  EXPECT_TRUE(std::equal(got[1].begin(), got[1].end(), file.begin() + 736));
  EXPECT_EQ(g_outputs.pointBytesWritten, 2 * 736);
}

// A full disk cuts the second 736-byte point record; a failing close loses
// the beam file's buffered record. Both reach the caller and the counters,
// and the failure stays readable after the close until the next open.
TEST_F(OutputSequence, LostFileWritesReachTheCallerAndTheCounters) {
  FakePing(120, 500);
  g_settings.ProfilePointDetection = 1;
  OutputFault fault;
  std::snprintf(fault.pathSuffix, sizeof fault.pathSuffix, ".K4P");
  fault.writeLimitBytes = 1000;
  SetOutputFault(fault);
  ASSERT_EQ(OpenPointFile(Path("full.K4P").c_str()), 1);
  EXPECT_EQ(WritePointRecord(), 1);
  EXPECT_EQ(WritePointRecord(), 0);
  EXPECT_EQ(g_outputs.pointWriteErrors, 1);
  EXPECT_EQ(g_outputs.pointBytesWritten, 736);
  EXPECT_EQ(ClosePointFile(), 0);
  EXPECT_EQ(g_outputs.pointCloseErrors, 1);
  EXPECT_EQ(PointFileFailed(), 1);

  std::snprintf(fault.pathSuffix, sizeof fault.pathSuffix, ".K4B");
  fault.writeLimitBytes = -1;
  fault.failClose = 1;
  SetOutputFault(fault);
  ASSERT_EQ(OpenBeamFile(Path("lost.K4B").c_str()), 1);
  EXPECT_EQ(WriteBeamRecord(0), 1);
  EXPECT_EQ(BeamFileFailed(), 0);
  EXPECT_EQ(CloseBeamFile(), 0);
  EXPECT_EQ(g_outputs.beamCloseErrors, 1);
  EXPECT_EQ(BeamFileFailed(), 1);

  ClearOutputFault();
  ASSERT_EQ(OpenPointFile(Path("good.K4P").c_str()), 1);
  EXPECT_EQ(PointFileFailed(), 0);
  EXPECT_EQ(WritePointRecord(), 1);
  EXPECT_EQ(ClosePointFile(), 1);
  EXPECT_EQ(g_outputs.pointCloseErrors, 1);
}

TEST_F(OutputSequence, BeamRecordsAreSplitIntoDatagramsOfAtMost64000Bytes) {
  Listener l;
  PointSocketAt(l);
  FakePing(480, 1000);
  g_settings.DataOutputType = kOutputBeams;
  g_settings.ProfilePointDetection = 0;
  ASSERT_EQ(OpenBeamFile(Path("b.K4B").c_str()), 1);
  RunOutputSequence(0);
  const auto got = l.Drain(500);
  const int total = 256 + 480 * 1000;
  ASSERT_EQ(got.size(), 8u);  // 7 x 64000 + 32256
  std::vector<uint8_t> joined;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_LE(got[i].size(), 64000u);
    if (i + 1 < got.size()) {
      EXPECT_EQ(got[i].size(), 64000u);
    }
    joined.insert(joined.end(), got[i].begin(), got[i].end());
  }
  ASSERT_EQ(static_cast<int>(joined.size()), total);
  EXPECT_EQ(g_outputs.bytesOut, total);
  EXPECT_EQ(g_outputs.outputCounter, 1u);  // counted once, detection off
  CloseBeamFile();
  const auto file = ReadAll(Path("b.K4B"));
  ASSERT_EQ(file.size(), joined.size());
  EXPECT_EQ(file, joined);
}

TEST_F(OutputSequence, PointsAndBeamsCountThePingOnce) {
  Listener l;
  PointSocketAt(l);
  FakePing(120, 500);
  g_settings.DataOutputType = kOutputBeams;
  g_settings.ProfilePointDetection = 1;
  RunOutputSequence(0);
  RunOutputSequence(0);
  EXPECT_EQ(g_outputs.outputCounter, 2u);
  const auto got = l.Drain();
  ASSERT_EQ(got.size(), 2u);  // one beam record per ping, no point datagram
  EXPECT_EQ(std::memcmp(got[0].data(), "K4B", 3), 0);
}

TEST_F(OutputSequence, CombinedRequestSendsBeamsThenPoints) {
  Listener l;
  PointSocketAt(l);
  FakePing(120, 500);
  g_settings.DataOutputType = kOutputPoints;
  g_settings.ProfilePointDetection = 1;
  g_outputs.combinedOutputRequest = 1;
  RunOutputSequence(0);
  const auto got = l.Drain();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(std::memcmp(got[0].data(), "K4B", 3), 0);
  EXPECT_EQ(std::memcmp(got[1].data(), "K4P", 3), 0);
}

TEST_F(OutputSequence, ForeignDestinationIsRefusedAndReportedAsBytesOut) {
  std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "192.168.0.100");
  ASSERT_EQ(OpenOutputSocket(), 1);
  FakePing(120, 500);
  RunOutputSequence(0);
  EXPECT_EQ(g_outputs.bytesOut, net::kRefused);
  EXPECT_EQ(net::g_net.sendCalls, 0);
}

TEST_F(OutputSequence, SenderOfAControlDatagramBecomesTheDestination) {
  Listener first, second;
  PointSocketAt(first);
  SetOutputDestination(0x7F000001u, second.port);
  FakePing(120, 500);
  RunOutputSequence(0);
  EXPECT_EQ(first.Drain(50).size(), 0u);
  EXPECT_EQ(second.Drain().size(), 1u);
}

TEST_F(OutputSequence, OpeningAFileRestartsTheCounterAndChecksTheExtension) {
  g_outputs.outputCounter = 17;
  EXPECT_EQ(OpenPointFile(Path("wrong.txt").c_str()), 0);
  ASSERT_EQ(plat::rec::Get().messages.size(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "Record to Profile Point File");
  EXPECT_EQ(plat::rec::Get().messages[0].text, "File extension must be .K4P");
  EXPECT_EQ(g_outputs.outputCounter, 17u);
  EXPECT_EQ(OpenBeamFile(Path("x.k4p").c_str()), 0);
  EXPECT_EQ(plat::rec::Get().messages.back().text, "File extension must be .K4B");
  EXPECT_EQ(OpenBeamFile(Path("mixed.k4B").c_str()), 1);
  EXPECT_EQ(g_outputs.outputCounter, 0u);
  // A file that cannot be created is skipped silently.
  const size_t before = plat::rec::Get().messages.size();
  EXPECT_EQ(OpenPointFile(Path("no/such/dir/p.K4P").c_str()), 0);
  EXPECT_EQ(plat::rec::Get().messages.size(), before);
  EXPECT_EQ(g_outputs.pointFileOpen, 0);
}

}  // namespace
