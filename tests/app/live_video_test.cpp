// orvale-live with the test camera recording the simulator on loopback: the
// frames come at RecordVideoRate per second of recorded time, each a whole
// 24-bit bitmap after the record that announces it, the reader and the file
// command take them, and the recording converts to the same products as the
// same records without their frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_test_util.h"
#include "app/live_run.h"
#include "common/sim_head.h"
#include "files/sonar_file.h"
#include "video/capture.h"

namespace {

using testutil::BE16;
using testutil::BE32;
using testutil::K41Item;
using testutil::LE32;

// Seconds of the day of a record's time stamp: "hh:mm:ss" at 20, ".mmm" at 93.
double StampSeconds(const uint8_t* record) {
  int h = 0, m = 0, s = 0, ms = 0;
  if (std::sscanf(reinterpret_cast<const char*>(record + 20), "%2d:%2d:%2d", &h, &m, &s) != 3) return -1.0;
  if (std::sscanf(reinterpret_cast<const char*>(record + 93), ".%3d", &ms) != 1) return -1.0;
  return h * 3600.0 + m * 60.0 + s + ms / 1000.0;
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

class LiveVideo : public apptest::AppFixture {
 protected:
  int Convert(const std::string& name, char sw) {
    ConvertOptions o;
    o.name = name.c_str();
    o.outputSwitch = sw;
    char error[512] = "";
    const int status = RunConversion(o, nullptr, error, sizeof error);
    EXPECT_EQ(kConvertOk, status) << error;
    return status;
  }
};

TEST_F(LiveVideo, FramesComeAtTheRateAndTheRecordingPlaysAsWithoutThem) {
  testutil::SimHead head(20.0);  // paced as a head: the ping period is real
  WriteLoopbackIni("RemotePort_Sonar1=" + std::to_string(head.Start()) +
                       "\nRange=4\nStepSize=2\nVideoDevice=test\nRecordVideo=1\nRecordVideoRate=3\n"
                       "ProfilePointDetection=1\nAutoFilenameType=0\n",
                   9);
  LiveOptions o;
  o.seconds = 7.0;
  o.statusLine = 0;
  o.record = 1;
  LiveSummary s;
  char why[256] = "";
  ASSERT_EQ(kLiveOk, RunLive(o, &s, why, sizeof why)) << why;
  head.Stop();
  ASSERT_GE(s.recordsWritten, 30);

  std::string name;
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    if (e.path().extension() == ".K41") name = e.path().filename().string();
  ASSERT_FALSE(name.empty());
  const std::vector<uint8_t> bytes = testutil::ReadAll(Path(name));
  const std::vector<K41Item> items = testutil::K41Items(bytes);
  size_t covered = 0;
  for (const K41Item& i : items) covered += i.length;
  ASSERT_EQ(bytes.size(), covered) << "the file is whole records and whole frames";

  // Each frame: a whole 320 x 240 24-bit bitmap right after the record that
  // announces it.
  const uint32_t frameBytes = 54 + 320 * 240 * 3;
  int frames = 0, records = 0;
  double first = -1.0, last = -1.0;
  std::vector<uint8_t> oneFrame;
  std::vector<uint8_t> stripped;
  for (size_t k = 0; k < items.size(); ++k) {
    const uint8_t* b = &bytes[items[k].at];
    if (!items[k].frame) {
      ++records;
      const double t = StampSeconds(b);
      if (first < 0.0) first = t;
      last = t;
      const int followed = k + 1 < items.size() && items[k + 1].frame;
      EXPECT_EQ(followed ? 0x80000000u | frameBytes : 0u, BE32(b + 33)) << "record " << records;
      stripped.insert(stripped.end(), b, b + items[k].length);
      continue;
    }
    ++frames;
    ASSERT_GT(k, 0u) << "a frame never starts the file";
    EXPECT_EQ(frameBytes, items[k].length);
    EXPECT_EQ(54u, LE32(b + 10));
    EXPECT_EQ(40u, LE32(b + 14));
    EXPECT_EQ(320u, LE32(b + 18));
    EXPECT_EQ(240u, LE32(b + 22));
    EXPECT_EQ(24, testutil::LE16(b + 28));
    if (frames == 2) oneFrame.assign(b, b + items[k].length);
  }
  EXPECT_EQ(s.recordsWritten, records);
  EXPECT_EQ(s.framesEmbedded, frames);
  // 3 a second of recorded time, the first with the first record: 1 +
  // floor(3 T), which lies in (3 T, 3 T + 1]; checked with half a frame to
  // spare each way for the stamps' rounding (a 20 s run is within one frame
  // of 60 as well).
  const double seconds = last - first;
  ASSERT_GT(seconds, 2.0);
  EXPECT_NEAR(3.0 * seconds + 0.5, frames, 1.0) << records << " records over " << seconds << " s";
  std::printf("live video: %d records, %d frames over %.2f s of recording (%.2f frames/s)\n", records, frames,
              seconds, (frames - 1) / seconds);

  // The reader walks the same items, and the file command takes a frame.
  FILE* f = std::fopen(Path(name).c_str(), "rb");
  ASSERT_NE(nullptr, f);
  int read = 0, framesRead = 0;
  while (ReadNextRecord(f) == kReadRecord) {
    ++read;
    framesRead += g_playback.frameBeforeRecord;
    if (g_playback.frameBeforeRecord) {
      EXPECT_EQ(static_cast<int>(frameBytes), g_playback.frameLength);
    }
  }
  std::fclose(f);
  EXPECT_EQ(records, read);
  EXPECT_EQ(0, g_playback.damagedItems);
  // A frame after the last record has no record to come before.
  EXPECT_EQ(frames - (items.back().frame ? 1 : 0), framesRead);
  ASSERT_FALSE(oneFrame.empty());
  testutil::WriteAll(Path("frame.bmp"), oneFrame);
  const std::string kind = Output("file -b '" + Path("frame.bmp") + "'");
  EXPECT_NE(std::string::npos, kind.find("PC bitmap")) << kind;
  EXPECT_NE(std::string::npos, kind.find("320 x 240 x 24")) << kind;

  // The same records without their frames convert to the same products.
  testutil::WriteAll(Path("stripped.K41"), stripped);
  const std::string base = name.substr(0, name.size() - 4);
  // "/x" writes both the point records and the XTF sidescan.
  ASSERT_EQ(kConvertOk, Convert(name, 'x'));
  ASSERT_EQ(kConvertOk, Convert("stripped.K41", 'x'));
  const std::vector<uint8_t> points = testutil::ReadAll(Path(base + ".K4P"));
  ASSERT_GT(points.size(), 256u);
  EXPECT_EQ(testutil::MaskK4PRunTimeFields(points),
            testutil::MaskK4PRunTimeFields(testutil::ReadAll(Path("stripped.K4P"))));
  const std::vector<uint8_t> xtf = testutil::ReadAll(Path(base + "_sss.XTF"));
  ASSERT_GT(xtf.size(), 1024u);
  EXPECT_EQ(xtf, testutil::ReadAll(Path("stripped_sss.XTF")));
}

}  // namespace
