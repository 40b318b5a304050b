// Colour tables, the picture colour table and logical palette, and the blit.
#include <string>

#include "imaging_fixture.h"

namespace {

class Palette : public ImagingTest {};

uint32_t Rgb(int r, int g, int b) { return (r << 16) | (g << 8) | b; }

TEST_F(Palette, EchoColoursOfTheNineTables) {
  struct Case {
    const char* legend;
    int table, index;
    uint32_t rgb;
  } cases[] = {
      {"Norm Hi scales the base by 1.5", 0, 19, Rgb(0, 30, 120)},
      {"Norm Hi limits at 255", 0, 110, Rgb(255, 255, 255)},
      {"Norm Lo is the base table", 1, 57, Rgb(130, 135, 0)},
      {"Norm Lo top index is dark red", 1, 118, Rgb(160, 0, 0)},
      {"Green: 2.5 x 118 = 295 is limited", 2, 118, Rgb(0, 255, 0)},
      {"Green: 101 stays below full", 2, 101, Rgb(0, 252, 0)},
      {"Green: 102 is the first at full", 2, 102, Rgb(0, 255, 0)},
      {"Grey", 3, 40, Rgb(100, 100, 100)},
      {"Rev Grey starts light", 4, 0, Rgb(212, 212, 212)},
      {"Rev Grey ends black", 4, 118, Rgb(0, 0, 0)},
      {"Brown/Yellow at zero", 5, 0, Rgb(0, 0, 0)},
      {"Brown/Yellow at the top: 1.2 x 255 limited, 1.2 x 255", 5, 118, Rgb(255, 255, 0)},
      {"Green/Blue at the top", 6, 118, Rgb(0, 255, 255)},
      {"Green/Yellow half way: 1.2 x 74, 1.2 x 180", 7, 59, Rgb(88, 216, 0)},
      {"Blue half way", 8, 59, Rgb(0, 88, 216)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(c.rgb, EchoColour(c.table, c.index));
  }
  // In Green the first index to reach 255 is 102.
  int first = -1;
  for (int i = 0; i <= 118 && first < 0; ++i)
    if (((EchoColour(2, i) >> 8) & 0xFF) == 255) first = i;
  EXPECT_EQ(102, first);
}

TEST_F(Palette, PictureTableAndLogicalPaletteDifferInTheFixedColours) {
  ASSERT_EQ(1, SelectColorTable(plat::kWinMain, 4));
  EXPECT_EQ(4, g_palette.colorTable);
  EXPECT_EQ(Rgb(212, 212, 212), g_palette.pictureColours[0]);
  EXPECT_EQ(Rgb(0, 0, 0), g_palette.pictureColours[118]);
  EXPECT_EQ(g_palette.pictureColours[60], g_palette.logicalPalette[60]);
  // 119..127 brightened by 1.8 in both.
  EXPECT_EQ(Rgb(0, 180, 0), g_palette.pictureColours[119]);
  EXPECT_EQ(Rgb(216, 216, 216), g_palette.logicalPalette[123]);
  EXPECT_EQ(Rgb(255, 0, 0), g_palette.pictureColours[127]);
  // 128..255: dimmed in the picture, as they are in the windows; 129 is white there.
  EXPECT_EQ(Rgb(127, 0, 0), g_palette.pictureColours[129]);
  EXPECT_EQ(Rgb(255, 255, 255), g_palette.logicalPalette[129]);
  EXPECT_EQ(Rgb(127, 0, 0), g_palette.pictureColours[128]);
  EXPECT_EQ(Rgb(150, 0, 0), g_palette.logicalPalette[128]);
  EXPECT_EQ(Rgb(150, 0, 0), g_palette.logicalPalette[255]);
}

TEST_F(Palette, AnUnknownTableIsRefusedAndChangesNothing) {
  ASSERT_EQ(1, SelectColorTable(plat::kWinMain, 2));
  const uint32_t before = g_palette.pictureColours[50];
  const int version = g_palette.paletteVersion;
  EXPECT_EQ(0, SelectColorTable(plat::kWinMain, 9));
  EXPECT_EQ(0, SelectColorTable(plat::kWinMain, -1));
  EXPECT_EQ(before, g_palette.pictureColours[50]);
  EXPECT_EQ(2, g_palette.colorTable);
  EXPECT_EQ(version, g_palette.paletteVersion);
}

TEST_F(Palette, BlitHandsThePictureAndItsColourTableToTheScreen) {
  Build(kModeSector, 240);
  ASSERT_EQ(1, SelectColorTable(plat::kWinMain, 3));
  g_scan.ImageBuffer[10][20] = 42;
  BlitImage(plat::kWinMain);
  const auto& rec = plat::rec::Get();
  ASSERT_EQ(kImageWidth, rec.pictureWidth);
  ASSERT_EQ(kImageHeight, rec.pictureHeight);
  EXPECT_EQ(42, rec.picture[10 * kImageWidth + 20]);
  EXPECT_EQ(Rgb(105, 105, 105), rec.palette[42]);
  EXPECT_EQ(1, rec.blits);
}

TEST_F(Palette, BlitInProfileWithDetectionDrawsTheDepthGateLines) {
  g_settings.ProfileTiltAngle = 0.0;
  CentreProfile();
  g_settings.Range = 5;  // 30 m: 500 / 30 samples per metre
  Build(kModeProfile, 240);
  g_settings.ProfilePointDetection = 1;
  g_settings.ProfileMinDepthBelowSonar = 3.0;
  g_settings.ProfileMaxDepthBelowSonar = 15.0;
  BlitImage(plat::kWinMain);
  EXPECT_EQ(50, g_overlay.gateRowMin);
  EXPECT_EQ(250, g_overlay.gateRowMax);
  int dotted = 0;
  for (int x = g_scan.SpanLeft[50]; x < g_scan.SpanRight[50]; ++x) dotted += Img(50, x) == kGateColour;
  EXPECT_NEAR((g_scan.SpanRight[50] - g_scan.SpanLeft[50]) / 2, dotted, 3);
  // The band between the lines is hatched, outside it is not.
  int hatch = 0, outside = 0;
  for (int r = 51; r < 250; ++r)
    for (int x = g_scan.SpanLeft[r]; x < g_scan.SpanRight[r]; ++x) hatch += Img(r, x) == kGateColour;
  for (int r = 260; r < 500; ++r)
    for (int x = g_scan.SpanLeft[r]; x < g_scan.SpanRight[r]; ++x) outside += Img(r, x) == kGateColour;
  EXPECT_GT(hatch, 500);
  EXPECT_EQ(0, outside);
}

}  // namespace
