// Lengths of the two headers that open every BMP file. The .K41 reader needs
// them to take a camera frame apart and the picture writer to build one, so
// they sit below both.
#pragma once

constexpr int kBmpFileHeaderBytes = 14;
constexpr int kBmpInfoHeaderBytes = 40;
constexpr int kBmpHeaderBytes = kBmpFileHeaderBytes + kBmpInfoHeaderBytes;  // 54
