// Files for tests: a private temporary directory that is removed with
// everything in it when the test ends, and whole files read into or written
// from memory. Every test that writes a file writes it under a TempDir, never
// into the working directory it was started in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

// A fresh directory /tmp/<prefix>_XXXXXX. When it cannot be made the test
// fails and the path stays empty, so the destructor removes nothing.
class TempDir {
 public:
  explicit TempDir(const char* prefix = "orvale_test") {
    std::string pattern = std::string("/tmp/") + prefix + "_XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) {
      path_ = buf.data();
    } else {
      ADD_FAILURE() << "cannot make a temporary directory from " << pattern;
    }
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole file, empty when it cannot be opened.
inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
  std::fclose(f);
  return v;
}

// The whole file as text, empty when it cannot be opened.
inline std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> v = ReadAll(path);
  return std::string(v.begin(), v.end());
}

// Writes `bytes` as the whole file; the test fails when that does not work.
inline void WriteAll(const std::string& path, const void* bytes, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (size > 0) {
    EXPECT_EQ(size, std::fwrite(bytes, 1, size, f)) << path;
  }
  std::fclose(f);
}
inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteAll(path, bytes.data(), bytes.size());
}
inline void WriteText(const std::string& path, const std::string& text) {
  WriteAll(path, text.data(), text.size());
}

}  // namespace testutil
