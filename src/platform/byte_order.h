// Byte order and fixed-field helpers for every layout the console writes or
// reads: the .K41 record (big-endian integers, little-endian floats, text
// fields), the .K4P/.K4B records and their datagrams, the XTF file and the
// BMP file (little-endian throughout).
//
// The functions take a pointer to the first byte of the field and never look
// past its width; callers check that the field lies inside their buffer.
// Integers are written from their low bits, so a negative value comes out in
// two's complement of the field's width. Text fields are fixed width: a text
// is copied up to the field's width and the rest of the field is left as the
// caller cleared it, with no terminating NUL when the text fills the field.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// ---------------------------------------------------------------- big-endian

inline void PutBE16(uint8_t* p, int v) {
  p[0] = static_cast<uint8_t>((v >> 8) & 0xFF);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}
inline void PutBE24(uint8_t* p, int v) {
  p[0] = static_cast<uint8_t>((v >> 16) & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  p[2] = static_cast<uint8_t>(v & 0xFF);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline int GetBE16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

// ------------------------------------------------------------- little-endian

inline void PutLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// IEEE single and double precision, stored little-endian whatever the host.
inline void PutFloatLE(uint8_t* p, float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  PutLE32(p, u);
}
inline void PutDoubleLE(uint8_t* p, double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  PutLE64(p, u);
}
inline float GetFloatLE(const uint8_t* p) {
  const uint32_t u = GetLE32(p);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

// ------------------------------------------------------------ text fields

// Copies at most `bytes` characters of `text` into a fixed field; the rest of
// the field keeps what it held (the writers clear their records first).
inline void PutText(uint8_t* p, const char* text, int bytes) {
  std::memcpy(p, text, strnlen(text, static_cast<size_t>(bytes)));
}
// Copies at most `bytes` bytes of a fixed field into a NUL-terminated text of
// `dstSize` bytes, stopping at the field's own NUL.
inline void FieldText(char* dst, int dstSize, const uint8_t* field, int bytes) {
  int n = 0;
  while (n < bytes && n < dstSize - 1 && field[n] != 0) {
    dst[n] = static_cast<char>(field[n]);
    ++n;
  }
  dst[n] = '\0';
}
// The decimal number at the start of a fixed field of `bytes` characters; the
// first non-digit ends it, so a blank or damaged field reads as what precedes it.
inline int FieldNumber(const uint8_t* field, int bytes) {
  int v = 0;
  for (int i = 0; i < bytes && field[i] >= '0' && field[i] <= '9'; ++i) v = v * 10 + (field[i] - '0');
  return v;
}
inline int FieldNumber(const char* field, int bytes) {
  return FieldNumber(reinterpret_cast<const uint8_t*>(field), bytes);
}

// ------------------------------------------------------ numbers into fields

// Nearest integer, halves away from zero (the records round both signs alike).
inline int RoundSigned(double v) {
  return static_cast<int>(v < 0.0 ? std::trunc(v - 0.5) : std::trunc(v + 0.5));
}
inline int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }
inline double ClampDouble(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
// Real to integer, truncating toward zero, with NaN at `lo` and out-of-range
// values held at the limits, so the conversion is always defined.
inline int TruncClamped(double v, int lo, int hi) {
  if (!(v == v)) return lo;
  if (v <= lo) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(v);
}
