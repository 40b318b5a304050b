// BMP files: the header fields, the colour table and the rows read back byte
// for byte; odd widths padded; refusal of impossible shapes and paths.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/field_bytes.h"
#include "common/test_files.h"
#include "files/output_file.h"
#include "imaging/bmp_writer.h"
#include "imaging_fixture.h"

namespace {

class BmpWriter : public ImagingTest {
 protected:
  void SetUp() override {
    ImagingTest::SetUp();
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
  }
  static std::vector<uint8_t> ReadAll(const std::string& path) { return testutil::ReadAll(path); }
  static uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return testutil::LE32(&b.at(at)); }
  static uint32_t U16(const std::vector<uint8_t>& b, size_t at) { return testutil::LE16(&b.at(at)); }
  testutil::TempDir tmp_{"orvale_bmp"};
  std::string dir_;
};

TEST_F(BmpWriter, EightBitPictureReadsBackByteForByte) {
  const int w = 5, h = 3;  // odd width: rows padded to 8 bytes
  const uint8_t pixels[h][w] = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, {11, 12, 13, 14, 15}};
  uint32_t palette[16];
  for (int i = 0; i < 16; ++i) palette[i] = 0x010203u * i;
  const std::string path = dir_ + "/small.bmp";
  ASSERT_EQ(1, WriteBmpFile(path.c_str(), &pixels[0][0], w, h, 8, palette, 16));
  const std::vector<uint8_t> b = ReadAll(path);
  ASSERT_EQ(static_cast<size_t>(54 + 64 + 8 * 3), b.size());
  EXPECT_EQ('B', b[0]);
  EXPECT_EQ('M', b[1]);
  EXPECT_EQ(b.size(), U32(b, 2));
  EXPECT_EQ(0u, U32(b, 6));
  EXPECT_EQ(54u + 64u, U32(b, 10));
  EXPECT_EQ(40u, U32(b, 14));
  EXPECT_EQ(5u, U32(b, 18));
  EXPECT_EQ(3u, U32(b, 22));
  EXPECT_EQ(1u, U16(b, 26));
  EXPECT_EQ(8u, U16(b, 28));
  EXPECT_EQ(0u, U32(b, 30));
  EXPECT_EQ(24u, U32(b, 34));
  EXPECT_EQ(16u, U32(b, 46));
  // Colour table: blue, green, red, 0.
  EXPECT_EQ(3 * 3, b[54 + 4 * 3 + 0]);
  EXPECT_EQ(3 * 2, b[54 + 4 * 3 + 1]);
  EXPECT_EQ(3 * 1, b[54 + 4 * 3 + 2]);
  EXPECT_EQ(0, b[54 + 4 * 3 + 3]);
  // Rows bottom-up, padding zero.
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < 8; ++c) {
      SCOPED_TRACE(r * 10 + c);
      const uint8_t want = c < w ? pixels[h - 1 - r][c] : 0;
      EXPECT_EQ(want, b[118 + r * 8 + c]);
    }
}

// A lost write or a failing close gives 0 and leaves no cut picture behind.
TEST_F(BmpWriter, LostWritesFailAndLeaveNoFile) {
  const uint8_t pixels[4][12] = {};
  struct Case {
    const char* legend;
    int64_t limitBytes;
    int failClose;
  };
  const Case cases[] = {{"full disk in the rows", 60, 0}, {"close fails", -1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    OutputFault fault;
    fault.writeLimitBytes = c.limitBytes;
    fault.failClose = c.failClose;
    SetOutputFault(fault);
    const std::string path = dir_ + "/lost.bmp";
    EXPECT_EQ(0, WriteBmpFile(path.c_str(), &pixels[0][0], 4, 4, 24, nullptr, 0));
    EXPECT_NE(0, access(path.c_str(), F_OK));
    ClearOutputFault();
  }
}

TEST_F(BmpWriter, TwentyFourBitFrameHasPixelOffset54) {
  const int w = 2, h = 2;
  const uint8_t pixels[h][w * 3] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
  const std::string path = dir_ + "/frame.bmp";
  ASSERT_EQ(1, WriteBmpFile(path.c_str(), &pixels[0][0], w, h, 24, nullptr, 0));
  const std::vector<uint8_t> b = ReadAll(path);
  ASSERT_EQ(static_cast<size_t>(54 + 8 * 2), b.size());
  EXPECT_EQ(54u, U32(b, 10));
  EXPECT_EQ(24u, U16(b, 28));
  EXPECT_EQ(b.size(), BmpFileBytes(w, h, 24, 0) + 0u);
  const uint8_t bottom[8] = {7, 8, 9, 10, 11, 12, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(bottom[i], b[54 + i]) << i;
}

TEST_F(BmpWriter, ImpossibleShapesAndPathsAreRefusedWithoutAFile) {
  const uint8_t px[4] = {};
  uint32_t pal[2] = {};
  struct Case {
    const char* legend;
    int w, h, bits, colours;
  } cases[] = {{"zero width", 0, 1, 8, 2}, {"negative height", 1, -1, 8, 2}, {"16 bits", 1, 1, 16, 0},
               {"too many colours", 1, 1, 8, 300}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    const std::string path = dir_ + "/bad.bmp";
    EXPECT_EQ(0, WriteBmpFile(path.c_str(), px, c.w, c.h, c.bits, pal, c.colours));
    EXPECT_NE(0, access(path.c_str(), F_OK));
  }
  EXPECT_EQ(0, WriteBmpFile((dir_ + "/no/such/dir/x.bmp").c_str(), px, 1, 1, 8, pal, 2));
  EXPECT_EQ(0, WriteBmpFile(nullptr, px, 1, 1, 8, pal, 2));
  uint8_t header[10];
  EXPECT_EQ(0, FormatBmpHeader(header, sizeof header, 1, 1, 8, pal, 2));
}

TEST_F(BmpWriter, SavedPictureCarriesThePictureColourTable) {
  Build(kModeSector, 240);
  ASSERT_EQ(1, SelectColorTable(plat::kWinMain, 2));
  FillArc(240, 300, 310, 100.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  const std::string path = dir_ + "/sector.bmp";
  ASSERT_EQ(1, SavePictureBmp(path.c_str()));
  const std::vector<uint8_t> b = ReadAll(path);
  ASSERT_EQ(static_cast<size_t>(BmpFileBytes(kImageWidth, kImageHeight, 8, 256)), b.size());
  EXPECT_EQ(1078u, U32(b, 10));
  EXPECT_EQ(static_cast<uint32_t>(kImageWidth), U32(b, 18));
  EXPECT_EQ(static_cast<uint32_t>(kImageHeight), U32(b, 22));
  // Index 129 as the picture shows it: (127, 0, 0).
  EXPECT_EQ(0, b[54 + 4 * 129 + 0]);
  EXPECT_EQ(127, b[54 + 4 * 129 + 2]);
  // The stored rows are the picture upside down.
  for (int r : {0, 100, 241, 541})
    for (int c : {0, 505, 700}) {
      SCOPED_TRACE(r * 10000 + c);
      EXPECT_EQ(Img(r, c), b[1078 + static_cast<size_t>(kImageHeight - 1 - r) * kImageWidth + c]);
    }
  // An ordinary tool recognises it.
  if (access("/usr/bin/file", X_OK) == 0) {
    const std::string cmd = "/usr/bin/file -b '" + path + "' | grep -q 'PC bitmap'";
    EXPECT_EQ(0, std::system(cmd.c_str()));
  }
}

}  // namespace
