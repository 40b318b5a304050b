// Readers for the fields of the records the tests check. They are written
// apart from the console's own helpers on purpose, so that a layout test does
// not read back through the code that wrote the bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace testutil {

inline int BE16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
inline int BE24(const uint8_t* p) { return (p[0] << 16) | (p[1] << 8) | p[2]; }
inline uint32_t BE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline int LE16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t LE32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline float LEFloat(const uint8_t* p) {
  const uint32_t u = LE32(p);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
inline double LEDouble(const uint8_t* p) {
  uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | p[i];
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

// The items of a .K41 file as they lie: records (their size at offset 4)
// and the camera frames between them (a bitmap, its length at offset 2).
// Stops at the first byte that starts neither.
struct K41Item {
  size_t at = 0;
  size_t length = 0;
  int frame = 0;
};
inline std::vector<K41Item> K41Items(const std::vector<uint8_t>& b) {
  std::vector<K41Item> items;
  size_t at = 0;
  while (at + 6 <= b.size()) {
    K41Item item;
    item.at = at;
    if (b[at] == 'B' && b[at + 1] == 'M') {
      item.frame = 1;
      item.length = LE32(&b[at + 2]);
    } else if (b[at] == 'K' && b[at + 1] == '4' && b[at + 2] == '1') {
      item.length = static_cast<size_t>(BE16(&b[at + 4]));
    }
    if (item.length == 0 || at + item.length > b.size()) break;
    items.push_back(item);
    at += item.length;
  }
  return items;
}

// Point records (256-byte header, the record length at byte 4) with the two
// fields measured while running zeroed: the ping latency (bytes 120-121) and
// the output lag (126-127).
inline std::vector<uint8_t> MaskK4PRunTimeFields(std::vector<uint8_t> k4p) {
  size_t at = 0;
  while (at + 256 <= k4p.size()) {
    const size_t length = static_cast<size_t>(BE16(k4p.data() + at + 4));
    if (length < 256) break;
    for (size_t o : {120, 121, 126, 127}) k4p[at + o] = 0;
    at += length;
  }
  return k4p;
}

}  // namespace testutil
