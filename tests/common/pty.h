// A pseudo-terminal standing in for a serial device: the code under test
// opens SlavePath() as it would /dev/ttyUSB0, the test writes the device's
// bytes into the master side. No real port is ever touched.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace testutil {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return;
    }
    const char* name = ptsname(master_);
    if (name) slave_ = name;
    // Keep one slave descriptor open so the master never sees a hang-up
    // between the device's opens and closes.
    keep_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
  }
  ~Pty() {
    if (keep_ >= 0) ::close(keep_);
    if (master_ >= 0) ::close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0 && !slave_.empty() && keep_ >= 0; }
  const std::string& SlavePath() const { return slave_; }
  int master() const { return master_; }
  // A descriptor on the slave side, for looking at its line settings.
  int slave() const { return keep_; }

  bool Write(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
      const ssize_t n = ::write(master_, p, size);
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  bool Write(const std::string& s) { return Write(s.data(), s.size()); }

  // Writes as a device at bitsPerSecond would (10 bits per byte), in chunks
  // of 10 ms worth of bytes.
  bool WritePaced(const std::string& s, int bitsPerSecond) {
    const size_t chunk = static_cast<size_t>(bitsPerSecond / 1000) > 0 ? bitsPerSecond / 1000 : 1;
    const auto start = std::chrono::steady_clock::now();
    for (size_t at = 0; at < s.size(); at += chunk) {
      const size_t n = s.size() - at < chunk ? s.size() - at : chunk;
      if (!Write(s.data() + at, n)) return false;
      const auto due = start + std::chrono::microseconds(static_cast<int64_t>(
                                   (at + n) * 10.0 * 1e6 / bitsPerSecond));
      std::this_thread::sleep_until(due);
    }
    return true;
  }

 private:
  int master_ = -1;
  int keep_ = -1;
  std::string slave_;
};

}  // namespace testutil
