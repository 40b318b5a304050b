// Whole conversion runs of synthetic recordings: the products' layouts, the
// seabed depth found in the point records, one datagram set per ping heard
// by a UDP listener on 127.0.0.1, the picture export and the refusals.
#include <atomic>
#include <cmath>
#include <thread>

#include <sys/socket.h>

#include "app/app_test_util.h"
#include "files/output_file.h"
#include "platform/frame_handoff.h"
#include "platform/platform.h"
#include "platform/recording.h"

namespace {

using namespace apptest;

// Collects every datagram on a loopback port while a conversion runs.
class UdpCollector {
 public:
  UdpCollector() {
    fd_ = net::UdpOpen("127.0.0.1", 0);
    const int size = 8 << 20;
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    port_ = net::LocalPort(fd_);
    thread_ = std::thread([this] {
      static uint8_t buf[70000];
      while (!stop_.load()) {
        if (net::WaitReadable(fd_, 20) <= 0) continue;
        for (;;) {
          const int n = net::UdpReceive(fd_, buf, sizeof buf, nullptr, nullptr);
          if (n < 0) break;
          datagrams_.emplace_back(buf, buf + n);
        }
      }
    });
  }
  ~UdpCollector() {
    Stop();
    net::CloseSocket(fd_);
  }
  void Stop() {
    if (thread_.joinable()) {
      // Let the last datagrams arrive before the thread ends.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      stop_.store(true);
      thread_.join();
    }
  }
  int port() const { return port_; }
  const std::vector<std::vector<uint8_t>>& datagrams() const { return datagrams_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::vector<uint8_t>> datagrams_;
};

// Groups datagrams into per-ping messages: a point record, a keep-alive, or
// the pieces of one beam record. Returns the kinds in order ('P', 'Z', 'B');
// an unexpected datagram gives '?'.
std::string PingMessages(const std::vector<std::vector<uint8_t>>& dgs) {
  std::string kinds;
  size_t i = 0;
  while (i < dgs.size()) {
    const auto& d = dgs[i];
    if (d.size() >= 3 && std::memcmp(d.data(), "K4Z", 3) == 0 && d.size() == 32) {
      kinds += 'Z';
      ++i;
    } else if (d.size() >= 8 && std::memcmp(d.data(), "K4P", 3) == 0 && BE16(d.data() + 4) == int(d.size())) {
      kinds += 'P';
      ++i;
    } else if (d.size() >= 8 && std::memcmp(d.data(), "K4B", 3) == 0) {
      size_t total = BE24(d.data() + 4);
      size_t got = d.size();
      ++i;
      while (got < total && i < dgs.size()) got += dgs[i++].size();
      kinds += got == total ? 'B' : '?';
    } else {
      kinds += '?';
      ++i;
    }
  }
  return kinds;
}

class ConvertRun : public AppFixture {
 protected:
  void WriteIni(const std::string& extra, int port) {
    WriteLoopbackIni(extra, port);
  }
  int Run(const char* name, char sw, ConvertSummary* summary, const char* picture = nullptr) {
    ConvertOptions o;
    o.name = name;
    o.outputSwitch = sw;
    o.savePicture = picture;
    char error[512];
    const int status = RunConversion(o, summary, error, sizeof error);
    error_ = error;
    return status;
  }
  std::string error_;
};

TEST_F(ConvertRun, XtfAndPointsOfAFlatSeabed) {
  const double depth = 20.0;
  const int pings = 24;
  WriteSurvey("survey.K41", depth, pings);  // 30 m range, type U: 500 samples
  UdpCollector udp;
  WriteIni("ProfilePointDetection=1\nStepSize=1\nAvgFilter=0\nProfileMinDepthBelowSonar=2.0\n", udp.port());
  ConvertSummary summary;
  ASSERT_EQ(Run("survey", 'x', &summary), kConvertOk) << error_;
  udp.Stop();
  // A conversion puts every record of the file into its products.
  EXPECT_EQ(summary.recordsRead, pings);
  const int converted = pings;
  EXPECT_EQ(summary.pingsProcessed, converted);

  // XTF: one file header, then fixed-size pings with valid headers.
  const auto xtf = ReadAll(Path("survey_sss.XTF"));
  const int S = 500;
  const int pingBytes = 256 + 64 + S + 64 + S;
  ASSERT_EQ(xtf.size(), size_t(1024 + converted * pingBytes));
  EXPECT_EQ(xtf[0], 123);
  EXPECT_EQ(LE32(xtf.data() + 264), uint32_t(S));
  int afterMidnight = 0;
  for (int k = 0; k < converted; ++k) {
    SCOPED_TRACE(k);
    const uint8_t* p = xtf.data() + 1024 + k * pingBytes;
    ASSERT_EQ(LE16(p), 0xFACE);
    EXPECT_EQ(LE32(p + 10), uint32_t(pingBytes));
    EXPECT_EQ(LE16(p + 14), 2024);
    // The survey starts at 23:59:58 on 29 February 2024 at 10 pings/s and
    // runs past midnight: day 60 before, 1 March (day 61) after.
    if (p[18] == 23) {
      EXPECT_EQ(p[16], 2);
      EXPECT_EQ(p[17], 29);
      EXPECT_EQ(p[19], 59);
      EXPECT_EQ(LE16(p + 22), 60);
    } else {
      EXPECT_EQ(p[18], 0);
      EXPECT_EQ(p[16], 3);
      EXPECT_EQ(p[17], 1);
      EXPECT_EQ(LE16(p + 22), 61);
      ++afterMidnight;
    }
    EXPECT_EQ(LE32(p + 28), uint32_t(k + 1));  // the output counter
    EXPECT_EQ(LE16(p + 256), 0);
    EXPECT_EQ(LE16(p + 256 + 64 + S), 1);
  }
  EXPECT_GT(afterMidnight, 0);
  EXPECT_LT(afterMidnight, converted);

  // Points: the depth of the seabed under the beams within 20 degrees (wider
  // beams meet the seabed over a longer stretch and read deeper).
  const auto k4p = ReadAll(Path("survey.K4P"));
  const int n = 240;
  const int recordBytes = 256 + 4 * n;  // intensities are on by default
  ASSERT_EQ(k4p.size(), size_t(converted * recordBytes));
  int within = 0, counted = 0;
  for (int k = 12; k < converted; ++k) {
    const uint8_t* r = k4p.data() + k * recordBytes;
    ASSERT_EQ(BE16(r + 4), recordBytes);
    ASSERT_EQ(BE16(r + 70), n);
    const double start = BE16(r + 76) / 100.0 - 180.0;
    const double spacing = r[78] / 100.0;
    const double metresPerSample = BE16(r + 79) / double(BE16(r + 72));
    for (int i = 0; i < n; ++i) {
      const double angle = start + i * spacing;
      const int tenths = BE16(r + 256 + 2 * i);
      if (std::fabs(angle) > 20.0 || tenths == 0) continue;
      const double d = tenths / 10.0 * metresPerSample * std::cos(angle * M_PI / 180.0);
      ++counted;
      if (std::fabs(d - depth) <= 0.02 * depth) ++within;
    }
  }
  ASSERT_GT(counted, 0);
  EXPECT_GE(within, counted * 9 / 10) << within << " of " << counted << " points within 2 %";
  EXPECT_GT(summary.depthPings, 0);

  // The listener heard exactly one point datagram per converted ping.
  EXPECT_EQ(PingMessages(udp.datagrams()), std::string(converted, 'P'));
}

TEST_F(ConvertRun, BeamRecordsAndTheirDatagrams) {
  WriteSurvey("beams.K41", 10.0, 5);
  UdpCollector udp;
  WriteIni("ProfilePointDetection=1\nStepSize=2\n", udp.port());  // 120 beams
  ConvertSummary summary;
  ASSERT_EQ(Run(Path("beams.K41").c_str(), 'b', &summary), kConvertOk) << error_;
  udp.Stop();
  const auto k4b = ReadAll(Path("beams.K4B"));
  const int recordBytes = 256 + 120 * 500;
  ASSERT_EQ(k4b.size(), size_t(5 * recordBytes));
  for (int k = 0; k < 5; ++k) {
    const uint8_t* r = k4b.data() + k * recordBytes;
    EXPECT_EQ(std::memcmp(r, "K4B", 3), 0);
    EXPECT_EQ(BE24(r + 4), recordBytes);
    EXPECT_EQ(BE16(r + 76), 12050);  // first beam centre -60 + 0.5
  }
  EXPECT_EQ(PingMessages(udp.datagrams()), "BBBBB");
  EXPECT_FALSE(std::filesystem::exists(Path("beams.K4P")));
}

TEST_F(ConvertRun, DetectionOffSendsAKeepAlivePerPing) {
  WriteSurvey("quiet.K41", 10.0, 4);
  UdpCollector udp;
  WriteIni("ProfilePointDetection=0\nStepSize=2\n", udp.port());
  ConvertSummary summary;
  ASSERT_EQ(Run("quiet", 'p', &summary), kConvertOk) << error_;
  udp.Stop();
  EXPECT_EQ(PingMessages(udp.datagrams()), "ZZZZ");
  EXPECT_EQ(ReadAll(Path("quiet.K4P")).size(), 0u);
  EXPECT_EQ(summary.pointsWithoutDetection, 1);
}

// Nothing paints a conversion: its pings copy no picture into the hand-off
// or the backend, and a program showing pictures afterwards gets them.
TEST_F(ConvertRun, PicturesGoUnshownForTheRunOnly) {
  WriteSurvey("unshown.K41", 10.0, 3);
  WriteIni("ProfilePointDetection=1\nStepSize=2\nDisplayType=0\n", 9);
  const int64_t published = plat::FramesPublished(plat::kWinMain);
  ConvertSummary summary;
  ASSERT_EQ(Run("unshown", 'p', &summary), kConvertOk) << error_;
  EXPECT_EQ(summary.pingsProcessed, 3);
  EXPECT_EQ(plat::FramesPublished(plat::kWinMain), published);
  EXPECT_EQ(plat::rec::Get().blits, 0);
  EXPECT_EQ(plat::PicturesShown(), 1);
}

TEST_F(ConvertRun, PictureOfTheLastPingAndSavedSettings) {
  WriteSurvey("pic.K41", 10.0, 3);
  WriteIni("ProfilePointDetection=1\nStepSize=2\nDisplayType=0\nRealtimePlayback=1\nPlaybackDelay=900\n", 9);
  ConvertSummary summary;
  ASSERT_EQ(Run("pic", 'p', &summary, Path("last.bmp").c_str()), kConvertOk) << error_;
  EXPECT_EQ(summary.pictureSaved, 1);
  const auto bmp = ReadAll(Path("last.bmp"));
  ASSERT_EQ(bmp.size(), size_t(54 + 1024 + 1012 * 542));
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  // The seabed is drawn: the picture is not all background.
  size_t lit = 0;
  for (size_t i = 54 + 1024; i < bmp.size(); ++i) lit += bmp[i] != 0;
  EXPECT_GT(lit, 1000u);
  // Pacing settings did not slow the run down: 1.8 s of delays would show.
  EXPECT_LT(summary.seconds, 1.5);
  // Settings saved as the console does at exit: File mode, the keys kept.
  const auto ini = ReadAll(Path("Orvale.INI"));
  const std::string text(ini.begin(), ini.end());
  EXPECT_NE(text.find("RunMode=1"), std::string::npos);
  EXPECT_NE(text.find("PlaybackDelay=900"), std::string::npos);
}

TEST_F(ConvertRun, RefusalsGiveAReasonAndAStatus) {
  WriteText(Path("junk.K41"), "not a recording at all");
  ConvertSummary summary;
  EXPECT_EQ(Run("absent", 'x', &summary), kConvertBadFile);
  EXPECT_NE(error_.find("cannot open"), std::string::npos) << error_;
  EXPECT_EQ(Run("junk.K41", 'x', &summary), kConvertBadFile);
  EXPECT_NE(error_.find("not a sonar data file"), std::string::npos) << error_;
  EXPECT_EQ(Run("junk.txt", 'p', &summary), kConvertBadFile);
  EXPECT_NE(error_.find(".K41"), std::string::npos) << error_;
  EXPECT_EQ(Run("junk", 'q', &summary), kConvertUsage);
  EXPECT_FALSE(std::filesystem::exists(Path("junk.K4P")));
  EXPECT_FALSE(std::filesystem::exists(Path("junk_sss.XTF")));
}

// Every way an output can lose data ends the run with status 3 and names the
// file; the run still goes to the end of the recording.
TEST_F(ConvertRun, LostOutputWritesExitWithStatus3) {
  WriteSurvey("lost.K41", 10.0, 5);
  struct Case {
    const char* legend;
    char sw;
    const char* suffix;
    int64_t limitBytes;
    int failClose, failOpen;
    const char* picture;
  };
  // A point record of 120 beams is 736 bytes: 1000 cuts the second one.
  const Case cases[] = {
      {"point record cut short", 'p', ".K4P", 1000, 0, 0, nullptr},
      {"beam file close fails", 'b', ".K4B", -1, 1, 0, nullptr},
      {"XTF header cut short", 'x', "_sss.XTF", 100, 0, 0, nullptr},
      {"point file cannot be created", 'p', ".K4P", -1, 0, 1, nullptr},
      {"picture close fails", 'p', ".bmp", -1, 1, 0, "lost.bmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetEverything();
    WriteIni("ProfilePointDetection=1\nStepSize=2\n", 9);
    OutputFault fault;
    std::snprintf(fault.pathSuffix, sizeof fault.pathSuffix, "%s", c.suffix);
    fault.writeLimitBytes = c.limitBytes;
    fault.failClose = c.failClose;
    fault.failOpen = c.failOpen;
    SetOutputFault(fault);
    ConvertSummary summary;
    EXPECT_EQ(Run("lost", c.sw, &summary, c.picture ? Path(c.picture).c_str() : nullptr), kConvertFailed);
    EXPECT_NE(error_.find("lost"), std::string::npos) << error_;
    ClearOutputFault();
  }
  // Without a fault the same runs succeed.
  ResetEverything();
  ConvertSummary summary;
  EXPECT_EQ(Run("lost", 'p', &summary), kConvertOk) << error_;
}

// A real full device behind the output's name.
TEST_F(ConvertRun, FullDiskExitsWithStatus3) {
  WriteSurvey("full.K41", 10.0, 5);
  WriteIni("ProfilePointDetection=1\nStepSize=2\n", 9);
  std::filesystem::create_symlink("/dev/full", Path("full.K4P"));
  ConvertSummary summary;
  EXPECT_EQ(Run("full", 'p', &summary), kConvertFailed);
  EXPECT_NE(error_.find("full.K4P"), std::string::npos) << error_;
  EXPECT_EQ(summary.recordsRead, 5);
}

}  // namespace
