// The camera in the console: the "Video" capture window of Head mode (the
// camera connected, its format, the window's size and place), the frames
// embedded in recordings, the single frame saved as a bitmap, and the Video
// Playback window that shows the frames a played file carries.
//
// Threads: everything here runs under the console lock. The capture window
// and the commands run on the user-interface thread; TakeEmbeddedFrame runs
// in the ping cycle on the acquisition thread and only copies the camera's
// latest frame; ShowPlayedFrame runs in File mode's ping cycle on the
// user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/bmp_layout.h"
#include "platform/camera.h"

// The largest frame here: a complete 24-bit bitmap of the camera's largest
// format.
constexpr int kVideoFrameBytes = kBmpHeaderBytes + plat::kCameraMaxFrameBytes;
constexpr int kVideoPlaybackInitialWidth = 226;
constexpr int kVideoPlaybackInitialHeight = 165;
// The capture window is the picture plus the classic frame around it: 3
// pixels each side, a 19-pixel caption and 3 below.
constexpr int kCaptureFrameExtraWidth = 6;
constexpr int kCaptureFrameExtraHeight = 25;
constexpr int kCapturePreviewMs = 66;
constexpr const char* kSingleFrameName = "single_frame.bmp";

struct VideoState {
  // ---- the capture window (Head mode); written by Open/CloseVideoWindow and
  // the format change on the user-interface thread, read by the ping cycle.
  int captureOpen = 0;          // the "Video" window exists with a camera connected
  int present = 0;              // video present: a capture driver is connected
  int driverIndex = -1;         // the driver connected (N of /dev/videoN; 0 for the test camera)
  int frameWidth = 0;           // the camera's format
  int frameHeight = 0;
  int windowWidth = 0;          // frame size plus the classic window frame
  int windowHeight = 0;
  int opens = 0;                // OpenVideoWindow calls that connected a camera
  int formatChanges = 0;
  // ---- frames taken (the ping cycle and the single-frame command)
  int64_t framesEmbedded = 0;   // frames handed to the recorder
  int framesMissed = 0;         // a frame was due but the camera had none
  int singleFramesSaved = 0;
  int singleFrameErrors = 0;
  // ---- the Video Playback window (File mode), written in the ping cycle
  // and by the commands, all on the user-interface thread
  int playbackRequested = 0;    // the operator asked for video (command 170 in File mode)
  int playbackShown = 0;        // the video window flag: the window is shown
  int playedWidth = 0;          // the frame in g_shownVideoFrame
  int playedHeight = 0;
  int64_t framesShown = 0;
  int framesRefused = 0;        // played frames whose header did not describe a 24-bit picture
};
extern VideoState g_video;
// The pixels of the frame the Video Playback window shows, bottom-up rows in
// the camera's layout (plat::CameraRowBytes(playedWidth) each). The painter
// reads it under the console lock.
extern uint8_t g_shownVideoFrame[plat::kCameraMaxFrameBytes];

// Closes the camera and forgets everything.
void ResetVideo();

// ---------------------------------------------------------------- capture window
// Destroys the capture window (if any), connects the camera that VideoDevice
// names, sizes the window from the format, titles it "Video", places it at
// the main window's lower right and shows the preview. Returns video present.
int OpenVideoWindow();
// Destroys the capture window and disconnects the camera.
void CloseVideoWindow();
// The frame decision's "capture window open".
int VideoCaptureOpen();
// The formats the camera offers, in its order; returns the count.
int VideoFormats(plat::CameraFormat* out, int max);
// Index of the current format among them, -1 when none.
int CurrentVideoFormat();
// Changes the format to the index-th offered, then re-sizes, re-titles and
// re-places the capture window. Returns 1 when the camera took it.
int SetVideoFormat(int index);
// Writes the camera's current frame as "single_frame.bmp" in the working
// directory, replacing an older one. Returns 1 when written.
int SaveSingleFrame();

// ---------------------------------------------------------------- recording
// The frame to embed after the record: a complete 24-bit bitmap file copied
// from the camera's latest frame into a buffer of this module. Returns its
// length (0 when there is no camera or no frame yet) and sets *frame.
int TakeEmbeddedFrame(const uint8_t** frame);

// ---------------------------------------------------------------- playback window
// Creates the Video Playback window hidden, 226 x 165, at the main window's
// lower right.
void PrepareVideoPlaybackWindow();
// Command 170 in File mode: show the frames of the file being played.
void RequestVideoPlayback();
// The played record's frame, when the operator asked for video: taken apart
// (width and height from the information header), copied for the painter,
// the window shown once sized to it. Called for every played record.
void ShowPlayedFrame();
// The window's close box: hidden, the flag and the request cleared.
void VideoPlaybackClosed();
// A run-mode switch or shutdown closes the window; the request stays.
void CloseVideoPlaybackWindow();

// ---------------------------------------------------------------- bitmaps
// Writes pixels in the camera's layout (bottom-up, rows padded to 4 bytes)
// as a complete 24-bit bitmap file, replacing `path`. Returns 1 when the
// whole file was written; a cut file is removed.
[[nodiscard]] int WriteFrameBitmap(const char* path, const uint8_t* rows, int width, int height);
