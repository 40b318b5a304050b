// The camera: the test camera's drawing, the V4L2 device (capabilities,
// formats, memory-mapped streaming or plain reads, YUYV conversion), the
// capture thread and the latest-frame buffer. Owns g_camera, the device's
// descriptor and buffers, and the two frame slots.
//
// The thread fills the back slot, then swaps it with the latest under the
// frame lock; readers copy the latest under the same lock. So a reader gets
// a whole frame, and the thread waits at most for one copy. Both slots are
// static and sized for the largest format taken: nothing is allocated per
// frame.
#include "platform/camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/small_font.h"

namespace plat {

CameraState g_camera;

namespace {

constexpr int kDeviceBuffers = 4;
constexpr int kPollMs = 100;
// What the test camera offers; the second is where it starts.
constexpr CameraFormat kTestFormats[] = {{160, 120}, {320, 240}, {640, 480}};
constexpr int kTestDefaultFormat = 1;
// Sizes offered from a device that describes its sizes as a range.
constexpr CameraFormat kCommonSizes[] = {{160, 120}, {320, 240}, {352, 288}, {640, 480},
                                         {800, 600}, {1280, 720}, {1920, 1080}};

// ---- the frame slots
uint8_t s_slotA[kCameraMaxFrameBytes];
uint8_t s_slotB[kCameraMaxFrameBytes];
std::mutex s_frameLock;
std::condition_variable s_frameArrived;
uint8_t* s_latest = s_slotA;   // under s_frameLock
uint8_t* s_back = s_slotB;     // the capture thread's
int s_latestWidth = 0, s_latestHeight = 0;  // 0: no frame yet
int64_t s_latestSequence = 0;

// ---- the thread
std::thread s_thread;
std::atomic<int> s_running{0};
std::mutex s_stopLock;
std::condition_variable s_stopWake;   // the test camera's frame wait ends early on a stop

// ---- the device
struct MappedBuffer {
  void* start = nullptr;
  size_t length = 0;
};
int s_fd = -1;
int s_streaming = 0;                  // memory-mapped buffers queued; else read()
MappedBuffer s_buffers[kDeviceBuffers];
int s_bufferCount = 0;
int s_bytesPerLine = 0;               // of the YUYV rows the device delivers
std::vector<uint8_t> s_readBuffer;    // sized once per format for read()

int Xioctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = ioctl(fd, request, arg);
  while (r == -1 && errno == EINTR);
  return r;
}

uint8_t Clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void Publish(int width, int height) {
  {
    std::lock_guard<std::mutex> lock(s_frameLock);
    std::swap(s_latest, s_back);
    s_latestWidth = width;
    s_latestHeight = height;
    ++s_latestSequence;
  }
  g_camera.framesCaptured.fetch_add(1);
  s_frameArrived.notify_all();
}

void ForgetFrames() {
  std::lock_guard<std::mutex> lock(s_frameLock);
  s_latestWidth = s_latestHeight = 0;
}

// ============================================================ test camera


// Drawing in picture coordinates (row 0 at the top) into bottom-up rows.
struct Canvas {
  uint8_t* rows;
  int width, height, stride;
  void Put(int x, int y, uint8_t r, uint8_t g, uint8_t b) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = rows + static_cast<size_t>(height - 1 - y) * stride + x * 3;
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  void Fill(int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b) const {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) Put(x, y, r, g, b);
  }
  void Text(int x, int y, int scale, const char* text) const {
    for (; *text; ++text, x += kSmallGlyphAdvance * scale) {
      const uint8_t* glyph = SmallGlyphRows(*text);
      if (glyph == nullptr) continue;  // a blank
      for (int gy = 0; gy < kSmallGlyphHeight; ++gy)
        for (int gx = 0; gx < kSmallGlyphWidth; ++gx)
          if (glyph[gy] & (0x10 >> gx)) Fill(x + gx * scale, y + gy * scale, scale, scale, 255, 255, 255);
    }
  }
};

// ============================================================ V4L2 device

void UnmapBuffers() {
  for (int i = 0; i < s_bufferCount; ++i)
    if (s_buffers[i].start && s_buffers[i].start != MAP_FAILED) munmap(s_buffers[i].start, s_buffers[i].length);
  s_bufferCount = 0;
  for (MappedBuffer& b : s_buffers) b = MappedBuffer{};
}

void StopStream() {
  if (s_fd < 0) return;
  if (s_streaming) {
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    (void)Xioctl(s_fd, VIDIOC_STREAMOFF, &type);
    UnmapBuffers();
    v4l2_requestbuffers req{};
    req.count = 0;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    (void)Xioctl(s_fd, VIDIOC_REQBUFS, &req);
  }
  s_streaming = 0;
}

void AddFormat(int width, int height) {
  CameraState& c = g_camera;
  if (width <= 0 || height <= 0 || width > kCameraMaxWidth || height > kCameraMaxHeight) return;
  if (c.formatCount >= kCameraMaxFormats) return;
  for (int i = 0; i < c.formatCount; ++i)
    if (c.formats[i].width == width && c.formats[i].height == height) return;
  c.formats[c.formatCount++] = CameraFormat{width, height};
}

// 1 when the device captures video, can stream or be read, and delivers YUYV.
int ProbeDevice(int fd) {
  v4l2_capability cap{};
  if (Xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) return 0;
  const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & (V4L2_CAP_STREAMING | V4L2_CAP_READWRITE))) return 0;
  int yuyv = 0;
  for (uint32_t i = 0; i < 64; ++i) {
    v4l2_fmtdesc d{};
    d.index = i;
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd, VIDIOC_ENUM_FMT, &d) < 0) break;
    if (d.pixelformat == V4L2_PIX_FMT_YUYV) yuyv = 1;
  }
  if (!yuyv) return 0;
  std::snprintf(g_camera.driverName, sizeof g_camera.driverName, "%s", reinterpret_cast<const char*>(cap.driver));
  return 1;
}

void ListDeviceFormats(int fd) {
  g_camera.formatCount = 0;
  for (uint32_t i = 0; i < 64; ++i) {
    v4l2_frmsizeenum s{};
    s.index = i;
    s.pixel_format = V4L2_PIX_FMT_YUYV;
    if (Xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &s) < 0) break;
    if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      AddFormat(static_cast<int>(s.discrete.width), static_cast<int>(s.discrete.height));
      continue;
    }
    // A range: the common sizes inside it.
    for (const CameraFormat& f : kCommonSizes)
      if (f.width >= static_cast<int>(s.stepwise.min_width) && f.width <= static_cast<int>(s.stepwise.max_width) &&
          f.height >= static_cast<int>(s.stepwise.min_height) && f.height <= static_cast<int>(s.stepwise.max_height))
        AddFormat(f.width, f.height);
    break;
  }
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (g_camera.formatCount == 0 && Xioctl(fd, VIDIOC_G_FMT, &fmt) == 0)
    AddFormat(static_cast<int>(fmt.fmt.pix.width), static_cast<int>(fmt.fmt.pix.height));
}

// Sets YUYV at width x height and starts the stream (memory-mapped buffers,
// or plain reads where the driver has no streaming). Returns 1 when frames
// will come; g_camera.current holds the size the driver took.
int StartStream(int width, int height) {
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.width = static_cast<uint32_t>(width);
  fmt.fmt.pix.height = static_cast<uint32_t>(height);
  fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
  fmt.fmt.pix.field = V4L2_FIELD_NONE;
  if (Xioctl(s_fd, VIDIOC_S_FMT, &fmt) < 0 || fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV) return 0;
  const int w = static_cast<int>(fmt.fmt.pix.width), h = static_cast<int>(fmt.fmt.pix.height);
  if (w <= 0 || h <= 0 || w > kCameraMaxWidth || h > kCameraMaxHeight) return 0;
  s_bytesPerLine = std::max(static_cast<int>(fmt.fmt.pix.bytesperline), w * 2);
  g_camera.current = CameraFormat{w, h};

  v4l2_requestbuffers req{};
  req.count = kDeviceBuffers;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  if (Xioctl(s_fd, VIDIOC_REQBUFS, &req) == 0 && req.count >= 1) {
    s_bufferCount = std::min(static_cast<int>(req.count), kDeviceBuffers);
    for (int i = 0; i < s_bufferCount; ++i) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = static_cast<uint32_t>(i);
      if (Xioctl(s_fd, VIDIOC_QUERYBUF, &b) < 0) return UnmapBuffers(), 0;
      s_buffers[i].length = b.length;
      s_buffers[i].start = mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, s_fd, b.m.offset);
      if (s_buffers[i].start == MAP_FAILED) return UnmapBuffers(), 0;
      if (Xioctl(s_fd, VIDIOC_QBUF, &b) < 0) return UnmapBuffers(), 0;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(s_fd, VIDIOC_STREAMON, &type) < 0) return UnmapBuffers(), 0;
    s_streaming = 1;
    return 1;
  }
  // No streaming: read() whole frames.
  s_readBuffer.assign(static_cast<size_t>(s_bytesPerLine) * h, 0);
  return 1;
}

// One frame from the device into the back slot; 1 when one was published.
int CaptureDeviceFrame() {
  pollfd p{s_fd, POLLIN, 0};
  const int ready = poll(&p, 1, kPollMs);
  if (ready <= 0) return 0;
  const int w = g_camera.current.width, h = g_camera.current.height;
  if (s_streaming) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(s_fd, VIDIOC_DQBUF, &b) < 0) {
      if (errno != EAGAIN) g_camera.captureErrors.fetch_add(1);
      return 0;
    }
    const int index = static_cast<int>(b.index);
    const int whole = index < s_bufferCount && b.bytesused >= static_cast<uint32_t>(s_bytesPerLine) * h &&
                      !(b.flags & V4L2_BUF_FLAG_ERROR);
    if (whole) ConvertYuyvFrame(static_cast<const uint8_t*>(s_buffers[index].start), s_bytesPerLine, w, h, s_back);
    else g_camera.captureErrors.fetch_add(1);
    (void)Xioctl(s_fd, VIDIOC_QBUF, &b);
    if (!whole) return 0;
  } else {
    const ssize_t n = read(s_fd, s_readBuffer.data(), s_readBuffer.size());
    if (n < static_cast<ssize_t>(s_readBuffer.size())) {
      if (n < 0 && errno == EAGAIN) return 0;
      g_camera.captureErrors.fetch_add(1);
      return 0;
    }
    ConvertYuyvFrame(s_readBuffer.data(), s_bytesPerLine, w, h, s_back);
  }
  Publish(w, h);
  return 1;
}

// ============================================================ the thread

void DrawTestFrameNow(int64_t number) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch()).count() % 1000;
  DrawTestCameraFrame(s_back, g_camera.current.width, g_camera.current.height, number, local.tm_hour, local.tm_min,
                      local.tm_sec, static_cast<int>(ms));
  Publish(g_camera.current.width, g_camera.current.height);
}

void ThreadBody() {
  if (g_camera.testCamera) {
    auto next = std::chrono::steady_clock::now();
    int64_t number = g_camera.framesCaptured.load();
    while (s_running.load()) {
      next += std::chrono::microseconds(kCameraFrameIntervalUs);
      {
        std::unique_lock<std::mutex> lock(s_stopLock);
        s_stopWake.wait_until(lock, next, [] { return s_running.load() == 0; });
      }
      if (!s_running.load()) break;
      DrawTestFrameNow(++number);
    }
    return;
  }
  while (s_running.load()) (void)CaptureDeviceFrame();
}

void StartThread() {
  s_running.store(1);
  s_thread = std::thread(ThreadBody);
}

void StopThread() {
  {
    std::lock_guard<std::mutex> lock(s_stopLock);
    s_running.store(0);
  }
  s_stopWake.notify_all();
  if (s_thread.joinable()) s_thread.join();
}

// Starts frames at the format chosen; the test camera has its first frame
// before this returns, so an open camera always has a picture.
int StartCapture(int width, int height) {
  ForgetFrames();
  if (g_camera.testCamera) {
    g_camera.current = CameraFormat{width, height};
    DrawTestFrameNow(g_camera.framesCaptured.load() + 1);
  } else if (!StartStream(width, height)) {
    return 0;
  }
  StartThread();
  return 1;
}

int OfferedIndex(int width, int height) {
  for (int i = 0; i < g_camera.formatCount; ++i)
    if (g_camera.formats[i].width == width && g_camera.formats[i].height == height) return i;
  return -1;
}

int OpenDevice(const char* path) {
  const int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  if (!ProbeDevice(fd)) {
    close(fd);
    return 0;
  }
  s_fd = fd;
  ListDeviceFormats(fd);
  // The device's own current format when it is one it offers, else 320 x 240
  // when offered, else its first.
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  CameraFormat start = g_camera.formatCount ? g_camera.formats[0] : CameraFormat{};
  if (OfferedIndex(320, 240) >= 0) start = CameraFormat{320, 240};
  if (Xioctl(fd, VIDIOC_G_FMT, &fmt) == 0 &&
      OfferedIndex(static_cast<int>(fmt.fmt.pix.width), static_cast<int>(fmt.fmt.pix.height)) >= 0)
    start = CameraFormat{static_cast<int>(fmt.fmt.pix.width), static_cast<int>(fmt.fmt.pix.height)};
  if (start.width == 0 || !StartCapture(start.width, start.height)) {
    StopStream();
    close(fd);
    s_fd = -1;
    return 0;
  }
  std::snprintf(g_camera.device, sizeof g_camera.device, "%s", path);
  return 1;
}

int DriverIndexOfPath(const char* path) {
  int n = -1;
  if (std::sscanf(path, "/dev/video%d", &n) == 1 && n >= 0) return n;
  return 0;
}

// A program that ends with the camera open (an early exit) must not meet a
// joinable thread in the static destructors: the camera is closed first,
// this being the last of the module's statics.
struct CloseAtExit {
  ~CloseAtExit() { CloseCamera(); }
} s_closeAtExit;

}  // namespace

// ============================================================ public

void ConvertYuyvFrame(const uint8_t* yuyv, int sourceStride, int width, int height, uint8_t* out) {
  const int stride = CameraRowBytes(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = yuyv + static_cast<size_t>(y) * sourceStride;
    uint8_t* d = out + static_cast<size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; x += 2, s += 4) {
      const int u = s[1] - 128, v = s[3] - 128;
      for (int k = 0; k < 2 && x + k < width; ++k) {
        const int c = 298 * (s[k * 2] - 16);
        uint8_t* p = d + (x + k) * 3;
        p[0] = Clip((c + 516 * u + 128) >> 8);
        p[1] = Clip((c - 100 * u - 208 * v + 128) >> 8);
        p[2] = Clip((c + 409 * v + 128) >> 8);
      }
    }
    for (int pad = width * 3; pad < stride; ++pad) d[pad] = 0;
  }
}

void DrawTestCameraFrame(uint8_t* out, int width, int height, int64_t frameNumber, int hour, int minute,
                         int second, int millisecond) {
  const Canvas c{out, width, height, CameraRowBytes(width)};
  std::memset(out, 0, static_cast<size_t>(c.stride) * height);
  // Eight colour bars drifting left two pixels a frame.
  static const uint8_t kBars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                      {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {40, 40, 40}};
  const int barWidth = std::max(1, width / 8);
  const int shift = static_cast<int>((frameNumber * 2) % (barWidth * 8));
  for (int x = 0; x < width; ++x) {
    const uint8_t* bar = kBars[((x + shift) / barWidth) % 8];
    for (int y = 0; y < height; ++y) c.Put(x, y, bar[0], bar[1], bar[2]);
  }
  // A black square bouncing along the lower half.
  const int side = std::max(4, height / 6);
  const int travel = std::max(1, width - side);
  const int phase = static_cast<int>((frameNumber * 4) % (2 * travel));
  const int bx = phase < travel ? phase : 2 * travel - phase;
  c.Fill(bx, height - side - height / 10, side, side, 0, 0, 0);
  // The frame count and the time on a dark band at the top.
  const int scale = std::max(1, width / 160);
  const int line = 9 * scale;
  c.Fill(0, 0, width, 2 * line + 2 * scale, 0, 0, 0);
  char text[32];
  std::snprintf(text, sizeof text, "#%08lld", static_cast<long long>(frameNumber % 100000000));
  c.Text(2 * scale, scale, scale, text);
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", hour % 100, minute % 100, second % 100, millisecond % 1000);
  c.Text(2 * scale, scale + line, scale, text);
}

int OpenCamera(const char* device) {
  CloseCamera();
  CameraState& c = g_camera;
  const char* name = device ? device : "";
  if (std::strcmp(name, kTestCameraName) == 0) {
    c.testCamera = 1;
    c.formatCount = 0;
    for (const CameraFormat& f : kTestFormats) AddFormat(f.width, f.height);
    std::snprintf(c.driverName, sizeof c.driverName, "%s", "test camera");
    std::snprintf(c.device, sizeof c.device, "%s", kTestCameraName);
    (void)StartCapture(kTestFormats[kTestDefaultFormat].width, kTestFormats[kTestDefaultFormat].height);
    c.driverIndex = 0;
    c.open = 1;
    return 1;
  }
  if (name[0]) {
    if (!OpenDevice(name)) return 0;
    c.driverIndex = DriverIndexOfPath(name);
    c.open = 1;
    return 1;
  }
  for (int i = 0; i < kCameraDriverSlots; ++i) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/video%d", i);
    if (OpenDevice(path)) {
      c.driverIndex = i;
      c.open = 1;
      return 1;
    }
  }
  return 0;
}

void CloseCamera() {
  StopThread();
  StopStream();
  if (s_fd >= 0) close(s_fd);
  s_fd = -1;
  s_readBuffer.clear();
  s_readBuffer.shrink_to_fit();
  ForgetFrames();
  CameraState& c = g_camera;
  c.open = 0;
  c.testCamera = 0;
  c.driverIndex = -1;
  c.device[0] = '\0';
  c.driverName[0] = '\0';
  c.formatCount = 0;
  c.current = CameraFormat{};
  c.framesCaptured.store(0);
  c.captureErrors.store(0);
}

int SetCameraFormat(int width, int height) {
  CameraState& c = g_camera;
  if (!c.open || OfferedIndex(width, height) < 0) return 0;
  if (c.current.width == width && c.current.height == height) return 1;
  const CameraFormat before = c.current;
  StopThread();
  StopStream();
  if (StartCapture(width, height)) return 1;
  // The device refused: back to what worked.
  if (StartCapture(before.width, before.height)) return 0;
  CloseCamera();
  return 0;
}

int CopyLatestCameraFrame(uint8_t* out, size_t outSize, int* width, int* height, int64_t* sequence) {
  std::lock_guard<std::mutex> lock(s_frameLock);
  if (s_latestWidth <= 0 || out == nullptr) return 0;
  const size_t bytes = static_cast<size_t>(CameraRowBytes(s_latestWidth)) * s_latestHeight;
  if (bytes > outSize) return 0;
  std::memcpy(out, s_latest, bytes);
  if (width) *width = s_latestWidth;
  if (height) *height = s_latestHeight;
  if (sequence) *sequence = s_latestSequence;
  return static_cast<int>(bytes);
}

int WaitForCameraFrame(int64_t afterSequence, int timeoutMs) {
  std::unique_lock<std::mutex> lock(s_frameLock);
  return s_frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [afterSequence] { return s_latestWidth > 0 && s_latestSequence > afterSequence; });
}

}  // namespace plat
