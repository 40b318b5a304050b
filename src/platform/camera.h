// The camera behind the console's video window: a built-in test camera that
// draws a moving pattern with its frame count and the time, or a real
// capture device through the kernel's video interface (V4L2, YUYV frames
// converted to blue-green-red). Plain functions, no Qt, so the headless
// programs and the tests use it as the console does.
//
// One capture thread per open camera keeps the latest frame in a buffer of
// its own; readers copy it out whole under a short lock, so a reader never
// sees a frame half written and the camera never waits longer than one copy.
// Frames are kept in the pixel layout of a 24-bit bottom-up bitmap: rows
// from the bottom of the picture up, blue-green-red, each row padded to a
// multiple of 4 bytes. A caller that puts the 54 header bytes in front has a
// complete bitmap file.
//
// Open, close and the format change are made by one controlling thread (the
// console's, under its lock); the copy may come from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace plat {

constexpr int kCameraMaxWidth = 1920;
constexpr int kCameraMaxHeight = 1080;
constexpr int kCameraMaxFormats = 16;
constexpr int kCameraDriverSlots = 10;   // /dev/video0 ... /dev/video9
constexpr int kCameraDeviceChars = 256;
// The camera's frame period: about 15 frames a second.
constexpr int kCameraFrameIntervalUs = 66667;
constexpr const char* kTestCameraName = "test";

struct CameraFormat {
  int width = 0;
  int height = 0;
};

// Bytes of one stored row: width x 3 padded to a multiple of 4.
constexpr int CameraRowBytes(int width) { return (width * 3 + 3) / 4 * 4; }
constexpr int kCameraMaxFrameBytes = CameraRowBytes(kCameraMaxWidth) * kCameraMaxHeight;

struct CameraState {
  // Written by OpenCamera / CloseCamera / SetCameraFormat on the controlling
  // thread; read by any thread only while the camera is open.
  int open = 0;                           // a camera is connected and its thread runs
  int testCamera = 0;                     // the built-in test camera
  int driverIndex = -1;                   // N of /dev/videoN, 0 for the test camera, -1 closed
  char device[kCameraDeviceChars] = "";   // what was opened ("test" or the path)
  char driverName[32] = "";               // the driver's own name
  int formatCount = 0;                    // formats the device offers, in its order
  CameraFormat formats[kCameraMaxFormats];
  CameraFormat current;                   // the format frames are captured in
  // Written by the capture thread.
  std::atomic<int64_t> framesCaptured{0};  // frames published since the open
  std::atomic<int> captureErrors{0};       // failed dequeues and reads
};
extern CameraState g_camera;

// Opens the camera `device` names: "test" for the test camera, a path for
// that device, empty for the first of /dev/video0 ... /dev/video9 that is a
// capture device delivering YUYV. Closes an open one first. Starts the
// capture thread. Returns 1 when a camera is open.
[[nodiscard]] int OpenCamera(const char* device);
// Stops the thread and releases the device. Safe when nothing is open.
void CloseCamera();
// Changes the capture format to one the device offers (restarting the
// stream). Returns 1 when frames now come in width x height.
[[nodiscard]] int SetCameraFormat(int width, int height);

// Copies the latest frame (rows as described above) into `out`. Returns the
// bytes copied, 0 when there is no frame yet or `out` is too small; width,
// height and the frame's number (1 for the first) are set on success.
int CopyLatestCameraFrame(uint8_t* out, size_t outSize, int* width, int* height, int64_t* sequence);
// Waits until a frame newer than `afterSequence` exists, at most timeoutMs.
// Returns 1 when one does.
int WaitForCameraFrame(int64_t afterSequence, int timeoutMs);

// ---- pieces, for tests
// YUYV (Y0 U Y1 V per pixel pair, ITU-R BT.601 studio range) to the stored
// layout: source row 0 becomes the last stored row.
void ConvertYuyvFrame(const uint8_t* yuyv, int sourceStride, int width, int height, uint8_t* out);
// Draws test-camera frame `frameNumber` at the given time of day into the
// stored layout.
void DrawTestCameraFrame(uint8_t* out, int width, int height, int64_t frameNumber, int hour, int minute,
                         int second, int millisecond);

}  // namespace plat
