// Helpers for the .K41 tests: a clean module state, a ping record to write, a
// private temporary directory, files made of byte vectors and BMP frames.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/reset_all.h"
#include "common/test_files.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "settings/settings.h"

namespace k41test {

inline void ResetAllState() { testutil::ResetAllModules(); }

// A complete ping record of `type` in the file writer's buffer, element data
// drawn from `seed`.
inline void FillWriterRecord(int type, unsigned seed) {
  const DataTypeInfo& dt = kDataTypes[type];
  std::mt19937 rng(seed);
  std::memset(g_fileWriterRecord, 0, kRecordBufferBytes);
  g_fileWriterRecord[0] = 'I';
  g_fileWriterRecord[1] = static_cast<uint8_t>(dt.letter);
  g_fileWriterRecord[2] = 'X';
  g_fileWriterRecord[5] = static_cast<uint8_t>(dt.packetsPerPing - 1);
  g_fileWriterRecord[6] = 0x03;
  g_fileWriterRecord[7] = 30;
  g_fileWriterRecord[8] = 4;
  for (int i = 12; i < dt.recordLength - 1; ++i) g_fileWriterRecord[i] = static_cast<uint8_t>(rng());
  g_fileWriterRecord[dt.recordLength - 1] = kEndByte;
}

// The record FormatRecord makes of the current state.
inline std::vector<uint8_t> FormatToVector(int frameLength = 0) {
  std::vector<uint8_t> out(kRecordBufferBytes + 16, 0xEE);
  const int size = FormatRecord(out.data(), static_cast<int>(out.size()), frameLength);
  out.resize(size > 0 ? size : 0);
  return out;
}

inline void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

inline void PutBE16(std::vector<uint8_t>& v, size_t at, int value) {
  v[at] = static_cast<uint8_t>(value >> 8);
  v[at + 1] = static_cast<uint8_t>(value);
}

// A BMP file as the recorder writes frames: 14 + 40 header bytes, pixels.
inline std::vector<uint8_t> MakeBmp(int width, int height, uint32_t declaredLength = 0) {
  const uint32_t pixels = static_cast<uint32_t>(width * height * 3);
  const uint32_t length = declaredLength ? declaredLength : pixels + 54;
  std::vector<uint8_t> b(54 + pixels, 0);
  b[0] = 'B';
  b[1] = 'M';
  for (int i = 0; i < 4; ++i) b[2 + i] = static_cast<uint8_t>(length >> (8 * i));
  b[10] = 54;
  b[14] = 40;
  b[18] = static_cast<uint8_t>(width);
  b[22] = static_cast<uint8_t>(height);
  b[26] = 1;
  b[28] = 24;
  for (uint32_t i = 0; i < pixels; ++i) b[54 + i] = static_cast<uint8_t>(i * 13 + 1);
  return b;
}

using testutil::TempDir;

inline std::string WriteFile(const TempDir& dir, const char* name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir.File(name);
  testutil::WriteAll(path, bytes);
  return path;
}

}  // namespace k41test
