// Readers for the fields of the records the tests check. They are written
// apart from the console's own helpers on purpose, so that a layout test does
// not read back through the code that wrote the bytes.
#pragma once

#include <cstdint>
#include <cstring>

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

}  // namespace testutil
