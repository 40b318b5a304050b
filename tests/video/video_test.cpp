// The camera in the console: the capture window of Head mode and the items
// that follow it, the frame embedded after a record, the single frame, the
// frames of a played file in the Video Playback window, the rate dialog and
// the screen saved as a bitmap.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/alloc_counter.h"
#include "common/chain_fixture.h"
#include "common/field_bytes.h"
#include "common/test_files.h"
#include "console/command_line.h"
#include "console/playback.h"
#include "console/ping_cycle.h"
#include "console/run_mode.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "platform/byte_order.h"
#include "platform/recording.h"
#include "scene.h"
#include "scene_file.h"
#include "scene_frame.h"
#include "settings/settings.h"
#include "ui/commands.h"
#include "ui/video_dialogs.h"
#include "video/capture.h"
#include "video/screen_capture.h"

namespace {

using plat::rec::DialogAction;
using testutil::BE16;
using testutil::LE16;
using testutil::LE32;

class Video : public testutil::ChainTest {
 protected:
  Video() : ChainTest("orvale_video") {}
  // A console in Head mode (nothing listens at the head's port) whose camera
  // is `device`.
  void StartHead(const std::string& device, const std::string& extra = "") {
    ASSERT_EQ(1, CreateConsole(WriteLoopbackIni("VideoDevice=" + device + "\n" + extra, 40995).c_str()));
    std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir_.c_str());
    ASSERT_EQ(kCmdInteractive, StartConsole(""));
  }
  // A recording with a frame of width x height after every second record.
  std::string RecordingWithFrames(int pings, int width, int height) {
    SceneParams scene;
    scene.rangeStep = 3;
    SurveyParams survey;
    survey.pingCount = pings;
    survey.frameEvery = 2;
    survey.frameWidth = width;
    survey.frameHeight = height;
    const std::string path = Path("frames.K41");
    EXPECT_EQ(pings, WriteSceneFile(path.c_str(), scene, survey));
    testutil::ResetAllModules();
    return path;
  }
  static std::vector<uint8_t> File(const std::string& path) { return testutil::ReadAll(path); }
};

// Checks a whole 24-bit bitmap file: headers, length, pixel offset 54.
void ExpectBitmap(const uint8_t* b, size_t length, int width, int height) {
  ASSERT_GE(length, 54u);
  EXPECT_EQ('B', b[0]);
  EXPECT_EQ('M', b[1]);
  const uint32_t rows = static_cast<uint32_t>(plat::CameraRowBytes(width)) * height;
  EXPECT_EQ(54u + rows, LE32(b + 2));
  EXPECT_EQ(54u + rows, length);
  EXPECT_EQ(54u, LE32(b + 10));
  EXPECT_EQ(40u, LE32(b + 14));
  EXPECT_EQ(static_cast<uint32_t>(width), LE32(b + 18));
  EXPECT_EQ(static_cast<uint32_t>(height), LE32(b + 22));
  EXPECT_EQ(24, LE16(b + 28));
  EXPECT_EQ(0u, LE32(b + 30));
  EXPECT_EQ(rows, LE32(b + 34));
}

TEST_F(Video, HeadModeConnectsTheTestCameraAndFitsTheWindowToItsFormat) {
  StartHead("test");
  EXPECT_EQ(1, g_video.present);
  EXPECT_EQ(1, VideoCaptureOpen());
  EXPECT_EQ(0, g_video.driverIndex);
  EXPECT_EQ(320, g_video.frameWidth);
  EXPECT_EQ(240, g_video.frameHeight);
  EXPECT_EQ(326, g_video.windowWidth);
  EXPECT_EQ(265, g_video.windowHeight);
  const plat::rec::Record& r = plat::rec::Get();
  EXPECT_EQ(320, r.clientWidth[plat::kWinVideoCapture]);
  EXPECT_EQ(240, r.clientHeight[plat::kWinVideoCapture]);
  EXPECT_EQ("Video", r.titles[plat::kWinVideoCapture]);
  EXPECT_EQ(1, r.shown[plat::kWinVideoCapture]);
  for (int id : {kCmdRecordVideo, kCmdVideoFormat, kCmdVideoRate, kCmdOpenVideoWindow}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(1, plat::rec::LastMenuEnable(id));
  }
  // File mode: the camera stops, its items grey; the window item stays.
  plat::rec::ScriptFileDialog(0, "");
  g_settings.RunMode = 1;
  SetRunMode();
  EXPECT_EQ(0, g_video.present);
  EXPECT_EQ(0, plat::g_camera.open);
  EXPECT_EQ(0, r.shown[plat::kWinVideoCapture]);
  EXPECT_EQ(0, plat::rec::LastMenuEnable(kCmdRecordVideo));
  EXPECT_EQ(0, plat::rec::LastMenuEnable(kCmdVideoFormat));
  EXPECT_EQ(1, plat::rec::LastMenuEnable(kCmdOpenVideoWindow));
  // And back: connected again.
  g_settings.RunMode = 0;
  SetRunMode();
  EXPECT_EQ(1, g_video.present);
  ShutdownConsole();
  EXPECT_EQ(0, plat::g_camera.open) << "shutdown disconnects the camera";
}

TEST_F(Video, WithoutACameraTheVideoItemsAreGreyedAndNothingIsTaken) {
  StartHead(Path("no-such-camera"));
  EXPECT_EQ(0, g_video.present);
  EXPECT_EQ(0, VideoCaptureOpen());
  for (int id : {kCmdRecordVideo, kCmdVideoFormat, kCmdVideoRate}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(0, plat::rec::LastMenuEnable(id));
  }
  EXPECT_EQ(1, plat::rec::LastMenuEnable(kCmdOpenVideoWindow)) << "it can connect a camera plugged in later";
  EXPECT_EQ(0, plat::rec::Get().shown[plat::kWinVideoCapture]);
  RunCommand(kCmdVideoFrame);
  EXPECT_FALSE(std::filesystem::exists(Path(kSingleFrameName)));
  const uint8_t* frame = nullptr;
  EXPECT_EQ(0, TakeEmbeddedFrame(&frame));
  EXPECT_EQ(nullptr, frame);
  // A camera named later is connected by the menu item.
  std::snprintf(g_settings.VideoDevice, sizeof g_settings.VideoDevice, "test");
  RunCommand(kCmdOpenVideoWindow);
  EXPECT_EQ(1, g_video.present);
  EXPECT_EQ(1, plat::rec::LastMenuEnable(kCmdVideoFormat));
}

TEST_F(Video, TheEmbeddedFrameIsAWholeBitmapCopiedWithoutAllocating) {
  StartHead("test");
  const uint8_t* frame = nullptr;
  alloc_counter::Start();
  const int length = TakeEmbeddedFrame(&frame);
  const long allocations = alloc_counter::Stop();
  EXPECT_EQ(0, allocations);
  ASSERT_NE(nullptr, frame);
  EXPECT_EQ(54 + 320 * 240 * 3, length);
  ExpectBitmap(frame, static_cast<size_t>(length), 320, 240);
  EXPECT_EQ(1, g_video.framesEmbedded);
}

TEST_F(Video, RecordedPingsCarryTheirFramesAnnouncedAndCounted) {
  StartHead("test", "RecordVideo=1\nRecordVideoRate=5\n");
  g_recording.freeSpaceOverride = 1LL << 40;
  ASSERT_EQ(1, StartAutomaticRecording());
  // Ten pings 100 ms apart through the recorder's own path, the period
  // measured before the recording started: the first record takes a frame.
  SceneParams scene;
  scene.rangeStep = 3;
  int recorded = 0;
  for (int i = 0; i < 10; ++i) {
    ASSERT_GT(SynthesizePing(scene, i, g_fileWriterRecord), 0);
    g_ping.pingPeriodMs = 100;
    const uint8_t* frame = nullptr;
    const int length = VideoFrameDue(VideoCaptureOpen()) ? TakeEmbeddedFrame(&frame) : 0;
    recorded += RecordPing(frame, length);
  }
  EXPECT_EQ(10, recorded);
  const std::string name = g_recording.name;
  const int64_t written = g_recording.bytesWritten;
  ASSERT_EQ(1, StopRecording());
  const std::vector<uint8_t> bytes = File(name);
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), written) << "frames count in the bytes written";
  // Records and frames in order: a frame right after each announcing record.
  const int frameBytes = 54 + 320 * 240 * 3;
  size_t at = 0;
  int records = 0, frames = 0;
  while (at + 3 <= bytes.size()) {
    SCOPED_TRACE(at);
    if (bytes[at] == 'B' && bytes[at + 1] == 'M') {
      ExpectBitmap(&bytes[at], frameBytes, 320, 240);
      at += LE32(&bytes[at + 2]);
      ++frames;
      continue;
    }
    ASSERT_EQ(0, std::memcmp(&bytes[at], "K41", 3));
    const uint32_t announced = testutil::BE32(&bytes[at + 33]);
    const size_t next = at + static_cast<size_t>(BE16(&bytes[at + 4]));
    const int followed = next + 2 < bytes.size() && bytes[next] == 'B' && bytes[next + 1] == 'M';
    EXPECT_EQ(followed ? 0x80000000u + frameBytes : 0u, announced);
    at = next;
    ++records;
  }
  EXPECT_EQ(10, records);
  EXPECT_EQ(5, frames) << "5 a second at 10 pings a second";
  EXPECT_EQ('B', bytes[8192]) << "the first record is followed by a frame";
}

TEST_F(Video, ASingleFrameReplacesTheOlderOneInTheWorkingDirectory) {
  StartHead("test");
  testutil::WriteText(Path(kSingleFrameName), "an older file");
  RunCommand(kCmdVideoFrame);
  const std::vector<uint8_t> b = File(Path(kSingleFrameName));
  ExpectBitmap(b.data(), b.size(), 320, 240);
  EXPECT_EQ(1, g_video.singleFramesSaved);
  // The format dialog lists the camera's formats and the window follows.
  plat::rec::ScriptDialog({"VIDEOFORMAT", {{DialogAction::kSelect, kIdVideoFormatList, "", 2},
                                           {DialogAction::kClick, plat::kIdOk, "", 0}}});
  RunCommand(kCmdVideoFormat);
  EXPECT_EQ(640, g_video.frameWidth);
  EXPECT_EQ(480, plat::rec::Get().clientHeight[plat::kWinVideoCapture]);
  EXPECT_EQ(1, g_video.formatChanges);
  RunCommand(kCmdVideoFrame);
  const std::vector<uint8_t> big = File(Path(kSingleFrameName));
  ExpectBitmap(big.data(), big.size(), 640, 480);
}

TEST_F(Video, ThePlayedFramesOpenTheWindowAtTheirSizeOnceAsked) {
  const std::string file = RecordingWithFrames(12, 320, 240);
  ASSERT_EQ(1, CreateConsole(WriteLoopbackIni("RunMode=1\n", 40995).c_str()));
  plat::rec::ScriptFileDialog(1, file);
  ASSERT_EQ(kCmdInteractive, StartConsole(""));
  const plat::rec::Record& r = plat::rec::Get();
  EXPECT_EQ(kVideoPlaybackInitialWidth, r.clientWidth[plat::kWinVideoPlayback]);
  EXPECT_EQ(kVideoPlaybackInitialHeight, r.clientHeight[plat::kWinVideoPlayback]);
  EXPECT_EQ(0, r.shown[plat::kWinVideoPlayback]);
  // Not asked for: frames pass unseen.
  for (int i = 0; i < 3; ++i) PlaybackStep();
  EXPECT_EQ(0, g_video.framesShown);
  EXPECT_EQ(0, r.shown[plat::kWinVideoPlayback]);
  RunCommand(kCmdOpenVideoWindow);
  EXPECT_EQ(1, g_video.playbackRequested);
  int fits = r.fits[plat::kWinVideoPlayback];
  for (int i = 0; i < 8 && g_video.framesShown < 2; ++i) PlaybackStep();
  ASSERT_GE(g_video.framesShown, 2);
  EXPECT_EQ(1, r.shown[plat::kWinVideoPlayback]);
  EXPECT_EQ(320, r.clientWidth[plat::kWinVideoPlayback]);
  EXPECT_EQ(240, r.clientHeight[plat::kWinVideoPlayback]);
  EXPECT_EQ(fits + 1, r.fits[plat::kWinVideoPlayback]) << "sized once, not at every frame";
  // The shown pixels are the frame's: its top-left pixel names its ping.
  const uint8_t* topLeft = g_shownVideoFrame + static_cast<size_t>(239) * plat::CameraRowBytes(320);
  const int ping = topLeft[0] | topLeft[1] << 8 | topLeft[2] << 16;
  EXPECT_EQ(ping, SceneFramePing(g_videoFrame, g_playback.frameLength));
  // The close box hides it and forgets the request.
  VideoPlaybackClosed();
  EXPECT_EQ(0, r.shown[plat::kWinVideoPlayback]);
  EXPECT_EQ(0, g_video.playbackRequested);
  const int64_t shown = g_video.framesShown;
  for (int i = 0; i < 4; ++i) PlaybackStep();
  EXPECT_EQ(shown, g_video.framesShown);
}

TEST_F(Video, APlayedFrameThatIsNo24BitPictureIsNotShown) {
  g_video.playbackRequested = 1;
  g_playback.frameBeforeRecord = 1;
  struct Case {
    const char* legend;
    int offset;
    uint32_t value;
  } cases[] = {
      {"8 bits", 28, 8},
      {"compressed", 30, 1},
      {"rows beyond the bytes read", 22, 241},
      {"zero width", 18, 0},
      {"huge height", 22, 0x80000000u},
      {"pixels before the headers", 10, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ASSERT_EQ(SceneFrameBytes(320, 240), FormatSceneFrame(g_videoFrame, kMaxVideoFrameBytes, 320, 240, 1));
    g_playback.frameLength = SceneFrameBytes(320, 240);
    if (c.offset == 28) PutLE16(g_videoFrame + 28, c.value);
    else PutLE32(g_videoFrame + c.offset, c.value);
    const int refused = g_video.framesRefused;
    ShowPlayedFrame();
    EXPECT_EQ(refused + 1, g_video.framesRefused);
    EXPECT_EQ(0, g_video.framesShown);
  }
  // Stored top-down (negative height) it is shown the right way up.
  ASSERT_GT(FormatSceneFrame(g_videoFrame, kMaxVideoFrameBytes, 8, 4, 77), 0);
  g_playback.frameLength = SceneFrameBytes(8, 4);
  std::vector<uint8_t> rows(g_videoFrame + 54, g_videoFrame + 54 + 8 * 4 * 3);
  for (int r = 0; r < 4; ++r) std::memcpy(g_videoFrame + 54 + r * 24, &rows[(3 - r) * 24], 24);
  PutLE32(g_videoFrame + 22, static_cast<uint32_t>(-4));
  ShowPlayedFrame();
  ASSERT_EQ(1, g_video.framesShown);
  EXPECT_EQ(0, std::memcmp(rows.data(), g_shownVideoFrame, rows.size()));
}

TEST_F(Video, TheRateDialogRefusesWhatLiesOutside0Point1To20) {
  StartHead("test");
  struct Case {
    const char* legend;
    std::vector<DialogAction> actions;
    double stored;
    int message;
  } cases[] = {
      {"25 is refused", {{DialogAction::kSetText, kIdVideoRate, "25", 0}, {DialogAction::kClick, plat::kIdOk, "", 0}}, 3.0, 1},
      {"0.05 is refused", {{DialogAction::kSetText, kIdVideoRate, "0.05", 0}, {DialogAction::kClick, plat::kIdOk, "", 0}}, 3.0, 1},
      {"12.5 is taken", {{DialogAction::kSetText, kIdVideoRate, "12.5", 0}, {DialogAction::kClick, plat::kIdOk, "", 0}}, 12.5, 0},
      {"the spin holds 20.0", {{DialogAction::kSetText, kIdVideoRate, "19.9", 0}, {DialogAction::kSpin, kIdVideoRateSpin, "", 1},
                               {DialogAction::kSpin, kIdVideoRateSpin, "", 1}, {DialogAction::kClick, plat::kIdOk, "", 0}}, 20.0, 0},
      {"the spin holds 0.1", {{DialogAction::kSetText, kIdVideoRate, "0.2", 0}, {DialogAction::kSpin, kIdVideoRateSpin, "", -1},
                              {DialogAction::kSpin, kIdVideoRateSpin, "", -1}, {DialogAction::kClick, plat::kIdOk, "", 0}}, 0.1, 0},
      {"default", {{DialogAction::kSetText, kIdVideoRate, "7", 0}, {DialogAction::kClick, kIdVideoRateDefault, "", 0},
                   {DialogAction::kClick, plat::kIdOk, "", 0}}, 3.0, 0},
      {"cancel", {{DialogAction::kSetText, kIdVideoRate, "7", 0}, {DialogAction::kClick, plat::kIdCancel, "", 0}}, 3.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.RecordVideoRate = 3.0;
    plat::rec::Get().messages.clear();
    plat::rec::ScriptDialog({"VIDEORECORDRATE", c.actions});
    RunCommand(kCmdVideoRate);
    EXPECT_DOUBLE_EQ(c.stored, g_settings.RecordVideoRate);
    const auto& m = plat::rec::Get().messages;
    ASSERT_EQ(static_cast<size_t>(c.message), m.size());
    if (c.message) {
      EXPECT_EQ("Video Recording Rate", m[0].caption);
      EXPECT_EQ("Recording Rate is out of range!\nUse 0.1 to 20.0 frames/sec", m[0].text);
    }
  }
}

TEST_F(Video, SaveScreenWritesTheWindowUnderALowerCasedBmpName) {
  StartHead(Path("none"));
  ASSERT_GT(plat::rec::Get().pictureWidth, 0) << "start-up showed the picture";
  const std::string sub = Path("Shots");
  ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
  plat::rec::ScriptFileDialog(1, sub + "/Screen.BMP");
  RunCommand(kCmdSaveScreen);
  EXPECT_EQ("Save Screen As", plat::rec::Get().fileRequestTitles.back());
  EXPECT_EQ(std::string("BITMAP File    (*.BMP)|*.BMP"), plat::rec::Get().fileRequests.back().filter);
  const std::vector<uint8_t> b = File(sub + "/screen.bmp");
  ExpectBitmap(b.data(), b.size(), plat::rec::Get().pictureWidth, plat::rec::Get().pictureHeight);
  // The picture's colours, bottom-up: the first stored pixel is the last row's.
  const uint32_t c = plat::rec::Get().palette[plat::rec::Get().picture[static_cast<size_t>(plat::rec::Get().pictureHeight - 1) *
                                                                       plat::rec::Get().pictureWidth]];
  EXPECT_EQ(c & 0xFF, b[54]);
  EXPECT_EQ((c >> 16) & 0xFF, b[56]);
  // Another extension is refused with the dialog's title as the caption.
  plat::rec::ScriptFileDialog(1, Path("screen.png"));
  RunCommand(kCmdSaveScreen);
  const auto& m = plat::rec::Get().messages;
  ASSERT_FALSE(m.empty());
  EXPECT_EQ("Save Screen As", m.back().caption);
  EXPECT_EQ("File extension must be .BMP", m.back().text);
  EXPECT_FALSE(std::filesystem::exists(Path("screen.png")));
  EXPECT_EQ(1, g_screenCapture.saved);
  EXPECT_EQ(1, g_screenCapture.refusedNames);
}

}  // namespace
