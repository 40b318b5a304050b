// The camera in the console: connects the camera the settings name when the
// capture window opens, sizes and places that window from the camera's
// format, saves single frames, hands the recorder a complete bitmap of the
// latest frame, and shows the frames of a played file in the Video Playback
// window. Owns g_video, the embedded-frame buffer and the shown frame.
//
// The camera's own thread keeps the latest frame (platform/camera); an
// embedded frame is one copy of it behind a 54-byte header written in
// place, so the ping pays a copy and nothing else, and nothing allocates.
#include "video/capture.h"

#include <cstdio>
#include <cstring>

#include "files/output_file.h"
#include "files/sonar_file.h"
#include "imaging/bmp_writer.h"
#include "platform/byte_order.h"
#include "platform/platform.h"
#include "settings/settings.h"

// Every frame embedded must be one the reader takes back.
static_assert(kVideoFrameBytes <= kMaxVideoFrameBytes);

VideoState g_video;
uint8_t g_shownVideoFrame[plat::kCameraMaxFrameBytes];

namespace {

// The embedded frame: header then pixels, formatted in place.
uint8_t s_embedded[kVideoFrameBytes];
// The single frame's pixels, taken apart from the recorder's buffer so the
// command never races the ping cycle for it.
uint8_t s_single[plat::kCameraMaxFrameBytes];

void ForgetCamera() {
  VideoState& v = g_video;
  v.captureOpen = 0;
  v.present = 0;
  v.driverIndex = -1;
  v.frameWidth = v.frameHeight = 0;
  v.windowWidth = v.windowHeight = 0;
}

// Size, title and place from the camera's format; the preview follows.
void FitCaptureWindow() {
  VideoState& v = g_video;
  v.frameWidth = plat::g_camera.current.width;
  v.frameHeight = plat::g_camera.current.height;
  v.windowWidth = v.frameWidth + kCaptureFrameExtraWidth;
  v.windowHeight = v.frameHeight + kCaptureFrameExtraHeight;
  plat::FitWindow(plat::kWinVideoCapture, v.frameWidth, v.frameHeight);
  plat::SetWindowTitle(plat::kWinVideoCapture, "Video");
}

const char* WorkingDirectory() {
  return g_settingsFile.workingDirectory[0] ? g_settingsFile.workingDirectory : ".";
}

}  // namespace

void ResetVideo() {
  plat::CloseCamera();
  g_video = VideoState{};
}

// ============================================================ capture window

int OpenVideoWindow() {
  CloseVideoWindow();
  if (!plat::OpenCamera(g_settings.VideoDevice)) return 0;
  VideoState& v = g_video;
  v.present = 1;
  v.driverIndex = plat::g_camera.driverIndex;
  v.captureOpen = 1;
  v.opens++;
  FitCaptureWindow();
  plat::ShowWindow(plat::kWinVideoCapture, 1);
  return 1;
}

void CloseVideoWindow() {
  if (g_video.captureOpen) plat::ShowWindow(plat::kWinVideoCapture, 0);
  plat::CloseCamera();
  ForgetCamera();
}

int VideoCaptureOpen() { return g_video.captureOpen; }

int VideoFormats(plat::CameraFormat* out, int max) {
  if (!g_video.present) return 0;
  int n = 0;
  for (; n < plat::g_camera.formatCount && n < max; ++n) out[n] = plat::g_camera.formats[n];
  return n;
}

int CurrentVideoFormat() {
  for (int i = 0; i < plat::g_camera.formatCount; ++i)
    if (plat::g_camera.formats[i].width == g_video.frameWidth && plat::g_camera.formats[i].height == g_video.frameHeight)
      return i;
  return -1;
}

int SetVideoFormat(int index) {
  if (!g_video.present || index < 0 || index >= plat::g_camera.formatCount) return 0;
  const plat::CameraFormat f = plat::g_camera.formats[index];
  const int ok = plat::SetCameraFormat(f.width, f.height);
  if (!plat::g_camera.open) {
    // The device went away in the change.
    CloseVideoWindow();
    return 0;
  }
  if (ok) g_video.formatChanges++;
  FitCaptureWindow();
  return ok;
}

int SaveSingleFrame() {
  if (!g_video.present) return 0;
  int w = 0, h = 0;
  if (!plat::CopyLatestCameraFrame(s_single, sizeof s_single, &w, &h, nullptr)) {
    g_video.singleFrameErrors++;
    return 0;
  }
  char path[kOutputPathBytes];
  std::snprintf(path, sizeof path, "%s/%s", WorkingDirectory(), kSingleFrameName);
  if (!WriteFrameBitmap(path, s_single, w, h)) {
    g_video.singleFrameErrors++;
    return 0;
  }
  g_video.singleFramesSaved++;
  return 1;
}

// ============================================================ recording

int TakeEmbeddedFrame(const uint8_t** frame) {
  *frame = nullptr;
  if (!g_video.captureOpen) return 0;
  int w = 0, h = 0;
  const int pixels =
      plat::CopyLatestCameraFrame(s_embedded + kBmpHeaderBytes, sizeof s_embedded - kBmpHeaderBytes, &w, &h, nullptr);
  if (pixels == 0 || !FormatBmpHeader(s_embedded, kBmpHeaderBytes, w, h, 24, nullptr, 0)) {
    g_video.framesMissed++;
    return 0;
  }
  g_video.framesEmbedded++;
  *frame = s_embedded;
  return kBmpHeaderBytes + pixels;
}

// ============================================================ playback window

void PrepareVideoPlaybackWindow() {
  plat::FitWindow(plat::kWinVideoPlayback, kVideoPlaybackInitialWidth, kVideoPlaybackInitialHeight);
  plat::ShowWindow(plat::kWinVideoPlayback, 0);
}

void RequestVideoPlayback() { g_video.playbackRequested = 1; }

void ShowPlayedFrame() {
  VideoState& v = g_video;
  if (!v.playbackRequested || !g_playback.frameBeforeRecord) return;
  const uint8_t* f = g_videoFrame;
  const int length = g_playback.frameLength;
  if (length < kBmpHeaderBytes) return;
  // The frame describes itself: a 24-bit uncompressed picture whose rows fit
  // inside the bytes read, or it is not shown.
  const int64_t width = static_cast<int32_t>(GetLE32(f + 18));
  const int64_t rawHeight = static_cast<int32_t>(GetLE32(f + 22));  // negative: rows stored top-down
  const int bits = f[28] | (f[29] << 8);
  const uint32_t compression = GetLE32(f + 30);
  const uint32_t offset = GetLE32(f + 10);
  const int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;
  if (width <= 0 || height <= 0 || width > plat::kCameraMaxWidth || height > plat::kCameraMaxHeight || bits != 24 ||
      compression != 0 || offset < static_cast<uint32_t>(kBmpHeaderBytes) ||
      static_cast<int64_t>(offset) + plat::CameraRowBytes(static_cast<int>(width)) * height > length) {
    v.framesRefused++;
    return;
  }
  const int64_t stride = plat::CameraRowBytes(static_cast<int>(width));
  // Kept bottom-up whichever way the file stores it.
  for (int64_t r = 0; r < height; ++r) {
    const int64_t from = rawHeight < 0 ? height - 1 - r : r;
    std::memcpy(g_shownVideoFrame + stride * r, f + offset + stride * from, static_cast<size_t>(stride));
  }
  v.playedWidth = static_cast<int>(width);
  v.playedHeight = static_cast<int>(height);
  v.framesShown++;
  if (!v.playbackShown) {
    v.playbackShown = 1;
    plat::FitWindow(plat::kWinVideoPlayback, v.playedWidth, v.playedHeight);
    plat::ShowWindow(plat::kWinVideoPlayback, 1);
  }
  plat::InvalidateWindow(plat::kWinVideoPlayback);
}

void VideoPlaybackClosed() {
  plat::ShowWindow(plat::kWinVideoPlayback, 0);
  g_video.playbackShown = 0;
  g_video.playbackRequested = 0;
}

void CloseVideoPlaybackWindow() {
  plat::ShowWindow(plat::kWinVideoPlayback, 0);
  g_video.playbackShown = 0;
}

// ============================================================ bitmaps

int WriteFrameBitmap(const char* path, const uint8_t* rows, int width, int height) {
  uint8_t header[kBmpHeaderBytes];
  if (!path || !rows || !FormatBmpHeader(header, sizeof header, width, height, 24, nullptr, 0)) return 0;
  OutputFile f;
  if (!OpenOutputFile(f, path, kOutputCreate)) return 0;
  int ok = WriteOutput(f, header, sizeof header);
  if (ok) ok = WriteOutput(f, rows, static_cast<size_t>(plat::CameraRowBytes(width)) * height);
  if (!CloseOutput(f)) ok = 0;
  // A cut file would look like a picture to the next reader; leave none.
  if (!ok) std::remove(path);
  return ok;
}
