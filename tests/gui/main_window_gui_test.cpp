// The main window's picture and panels as painted: the range rings of the
// feet grid, the cursor readout's texts over the apex, the Beam Test columns
// from either mounting and through a display scale, the Profile waterfall
// layout (half-size picture, waterfall picture, depth scale, readout), the
// depth gate lines dragged with the mouse, the "Switches" window of a played
// file, and the "No Connection" and heartbeat boxes against a real and a
// missing head.
#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "common/sim_head.h"
#include "console/acquisition.h"
#include "console/cycle_lock.h"
#include "gui/gui_test_util.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "platform/qt/artwork.h"
#include "settings/settings.h"
#include "ui/depth_gate.h"
#include "ui/readout.h"

namespace {

using namespace guitest;

QImage Shot() { return pq::MainClient()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRgb PictureColour(int index) { return 0xFF000000u | g_palette.pictureColours[index]; }

// The readout's two value boxes as the painter would draw `value1` and
// `value2`: the same font and colour on the black client, compared pixel for
// pixel with what the window shows.
int ReadoutShows(const char* value1, const char* value2) {
  const QImage shot = Shot();
  QImage want(shot.size(), QImage::Format_RGB32);
  want.fill(Qt::black);
  {
    QPainter p(&want);
    QFont f(pq::kSansFont);
    f.setPixelSize(12);
    p.setFont(f);
    p.setPen(QColor::fromRgb(0xFF000000u | g_palette.logicalPalette[123]));
    p.drawText(QPoint(kReadoutValueX, kReadoutRow1 + 12), value1);
    p.drawText(QPoint(kReadoutValueX, kReadoutRow2 + 12), value2);
  }
  int differ = 0;
  for (int y = kReadoutRow1; y < kReadoutRow2 + 18; ++y)
    for (int x = kReadoutValueX; x < pq::kMainWidth - 4; ++x) differ += shot.pixel(x, y) != want.pixel(x, y);
  return differ == 0;
}

void MoveTo(int x, int y) { QTest::mouseMove(pq::MainClient(), QPoint(x, y)); }

CursorReadout ReadoutNow() {
  CycleLock lock;
  return ComputeCursorReadout(g_app.mouseX, g_app.mouseY);
}

class MainWindowGui : public ConsoleGui {
 protected:
  void TearDown() override {
    SetDisplayScale(1.0);
    ConsoleGui::TearDown();
  }
};

TEST_F(MainWindowGui, FifteenFeetGridHasItsRingsEvery91Point44Pixels) {
  // 5 m head range shown as 15 FT: rings 3 ft apart, 91.44 pixels at 1500 m/s.
  StartHead("DisplayType=0\nUnits=1\nRange=2\nSoundVelocityMeters=1500\nGrid=1\n");
  ASSERT_EQ(g_settings.Range, 2);
  const QImage shot = Shot();
  const QRgb grid = PictureColour(kOverlayMarker);
  // Walk out from the apex along a ray 20 degrees right of the centre line,
  // clear of the centre line, the edge rays and the labels; note where it
  // crosses grid pixels.
  const double a = 20.0 * M_PI / 180.0;
  std::vector<double> hits;
  for (double r = 5.0; r < 499.0; r += 0.25) {
    const int x = static_cast<int>(std::lround(505 + r * std::sin(a))) + pq::kPictureX;
    const int y = static_cast<int>(std::lround(541 - r * std::cos(a))) + pq::kPictureY;
    if (shot.pixel(x, y) == grid && (hits.empty() || r - hits.back() > 3.0)) hits.push_back(r);
  }
  ASSERT_EQ(hits.size(), 5u) << "five rings, the fifth at 457.2 of the 500 pixels";
  for (int n = 1; n <= 5; ++n) {
    SCOPED_TRACE(n);
    EXPECT_NEAR(hits[n - 1], 91.44 * n, 1.5);
  }
}

TEST_F(MainWindowGui, CursorOnTheApexReadsZero) {
  StartHead("DisplayType=0\nUnits=0\n");
  MoveTo(507, 602);
  const CursorReadout r = ReadoutNow();
  EXPECT_STREQ(r.value1, "0.00 M");
  EXPECT_STREQ(r.value2, "000.0 Deg");
  EXPECT_TRUE(ReadoutShows("0.00 M", "000.0 Deg"));
  MoveTo(507, 502);  // 100 pixels up: a range, due north
  EXPECT_FALSE(ReadoutShows("0.00 M", "000.0 Deg"));
  EXPECT_TRUE(ReadoutShows(ReadoutNow().value1, "000.0 Deg"));
}

TEST_F(MainWindowGui, BeamTestColumnsReadTheirElementFromEitherMounting) {
  struct Case {
    const char* legend;
    const char* xdcr;
    int column;
    const char* beam;
  } cases[] = {
      {"up, column 216", "Xdcr=1\n", 216, "Beam 16"},
      {"up, column 359", "Xdcr=1\n", 359, "Beam 1"},
      {"down (mirrored), column 216", "Xdcr=0\n", 216, "Beam 1"},
      {"down (mirrored), column 359", "Xdcr=0\n", 359, "Beam 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    StartHead(std::string("DisplayType=4\n") + c.xdcr);
    // Map column q lies at picture column 217 + q, window column 219 + q.
    MoveTo(219 + c.column, 400);
    const CursorReadout r = ReadoutNow();
    EXPECT_STREQ(r.value2, c.beam);
    EXPECT_TRUE(ReadoutShows(r.value1, c.beam));
    StopConsoleApp();
  }
}

TEST_F(MainWindowGui, DisplayScaleStretchesThePictureAndTheReadoutFollows) {
  StartHead("DisplayType=4\nXdcr=1\n");
  const plat::Frame* f = plat::LatestFrame(plat::kWinMain);
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> picture(f->pixels, f->pixels + f->width * f->height);
  SetDisplayScale(0.5);
  pq::MainClient()->update();
  const QImage shot = Shot();
  // The 1012 x 542 picture now fills 506 x 271 from (2, 61): the Beam Test
  // grid's column 432 (picture) lands on window column 2 + 216.
  int gridAtHalf = 0, gridAtFull = 0;
  const QRgb grid = PictureColour(kOverlayMarker);
  for (int y = 61 + 50; y < 61 + 250; ++y) {
    gridAtHalf += shot.pixel(2 + 432 / 2, y) == grid || shot.pixel(2 + 432 / 2 + 1, y) == grid;
    gridAtFull += shot.pixel(2 + 432, y) == grid;
  }
  ASSERT_EQ(picture[300 * kImageWidth + 432], kOverlayMarker);
  EXPECT_GT(gridAtHalf, 150);
  EXPECT_EQ(gridAtFull, 0);
  EXPECT_EQ(qGray(shot.pixel(2 + 600, 61 + 100)), 0) << "right of the scaled picture stays black";
  // Picture column 433 + 9 * 15 + 4 (q = 359, beam 1) is window column 2 + 288.
  MoveTo(2 + (217 + 359) / 2, 61 + 150);
  EXPECT_STREQ(ReadoutNow().value2, "Beam 1");
  MoveTo(2 + (217 + 217) / 2, 61 + 150);
  EXPECT_STREQ(ReadoutNow().value2, "Beam 16");
}

class WaterfallLayoutGui : public PlayedConsole {};

TEST_F(WaterfallLayoutGui, ProfileWaterfallShowsTheHalfSizePictureTheWaterfallAndItsScale) {
  WriteSurvey("played.K41", 12.0, 200);
  WriteLoopbackIni(
      "RunMode=1\nRealtimePlayback=0\nPlaybackDelay=0\nDisplayType=3\nProfileWaterfall=1\n"
      "ProfilePointDetection=1\nProfileWaterfallOffset=20\nProfileWaterfallSpan=200\nUnits=0\nProfileGrid=0\n");
  ConsoleAppOptions o;
  o.splash = 0;
  o.quitOnClose = 0;
  o.playFile = Path("played.K41");
  ASSERT_EQ(StartConsoleApp(o), 1);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 30; }, 20000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);  // hold: the pictures stay as painted
  ASSERT_EQ(g_player.hold, 1);
  ASSERT_EQ(g_overlay.halfSizeLayout, 1);
  const QImage shot = Shot();

  // The waterfall picture, 1:1 at (431, 62), with history in it.
  const plat::Frame* w = plat::LatestFrame(plat::kFrameProfileWaterfall);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(w->width, kWaterfallWidth);
  ASSERT_EQ(w->height, kWaterfallHeight);
  int mismatched = 0, lines = 0;
  for (int y = 0; y < w->height; ++y)
    for (int x = 0; x < w->width; ++x) {
      const uint8_t v = w->pixels[y * w->width + x];
      mismatched += shot.pixel(431 + x, 62 + y) != (0xFF000000u | w->palette[v]);
      lines += y > kWaterfallTraceRows && v > 0 && v < kEchoColours;
    }
  EXPECT_EQ(mismatched, 0);
  EXPECT_GT(lines, 1000) << "the seabed's depth colours scroll in the history";

  // The half-size picture: columns 100..911 in 406 x 271 from (22, 61),
  // each pixel a blend of its 2 x 2 source block's neighbourhood.
  const plat::Frame* m = plat::LatestFrame(plat::kWinMain);
  ASSERT_NE(m, nullptr);
  int outside = 0, echoes = 0;
  for (int y = 0; y < 271; ++y)
    for (int x = 0; x < 406; ++x) {
      int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
      for (int dy = -1; dy <= 2; ++dy)
        for (int dx = -1; dx <= 2; ++dx) {
          const int sx = std::clamp(100 + 2 * x + dx, 100, 911), sy = std::clamp(2 * y + dy, 0, 541);
          const uint32_t c = m->palette[m->pixels[sy * m->width + sx]];
          const int ch[3] = {int(c >> 16) & 255, int(c >> 8) & 255, int(c) & 255};
          for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], ch[k]), hi[k] = std::max(hi[k], ch[k]);
        }
      const QRgb got = shot.pixel(22 + x, 61 + y);
      const int g[3] = {qRed(got), qGreen(got), qBlue(got)};
      for (int k = 0; k < 3; ++k) outside += g[k] < lo[k] - 2 || g[k] > hi[k] + 2;
      echoes += qGray(got) > 40;
    }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(echoes, 500);
  // Below the small picture and left of the waterfall nothing is drawn, where
  // the full-size picture would show the fan.
  int lit = 0;
  for (int y = 340; y < 600; ++y)
    for (int x = 30; x < 420; ++x) lit += qGray(shot.pixel(x, y)) > 0;
  EXPECT_EQ(lit, 0);

  // Six ticks of the depth scale, 80 rows apart from row 181.
  const QRgb tick = 0xFF000000u | g_palette.logicalPalette[123];
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    for (int x = 954; x <= 960; ++x) EXPECT_EQ(shot.pixel(x, 181 + 80 * i), tick);
    EXPECT_NE(shot.pixel(957, 181 + 80 * i + 40), tick);
  }

  // The readout measures the small picture at twice its pixels.
  const ScanGeometry& g = g_scan.geom;
  const int x = 22 + (g.originX - 100) / 2, y = 61 + g.originY / 2 + 50;
  MoveTo(x, y);
  const double dx = 100 + 2 * (x - 22) - g.originX;
  EXPECT_NEAR(ReadoutNow().range, std::hypot(dx, 100.0) * g.rangeM / 500.0 * g_ping.rangeScaleFactor *
                                      g_settings.SoundVelocityMeters / 1500.0,
              1e-6);
  MoveTo(500, 200);  // over the waterfall: blanks
  EXPECT_EQ(ReadoutNow().shown, 0);
}

TEST_F(MainWindowGui, WaterfallCommandSwitchesTheLayoutAtOnce) {
  StartHead("DisplayType=3\nProfileWaterfall=0\nProfileGrid=0\n");
  auto fanBelowTheSmallPicture = [] {
    const QImage shot = Shot();
    int lit = 0;
    for (int y = 340; y < 600; ++y)
      for (int x = 30; x < 420; ++x) lit += qGray(shot.pixel(x, y)) > 0;
    return lit;
  };
  ASSERT_GT(fanBelowTheSmallPicture(), 100) << "the full-size Profile grid reaches down there";
  RunCommand(550);
  EXPECT_EQ(g_settings.ProfileWaterfall, 1);
  EXPECT_EQ(fanBelowTheSmallPicture(), 0) << "half size: nothing below row 332";
  MoveTo(600, 200);
  EXPECT_EQ(ReadoutNow().shown, 0) << "right of the small picture";
  RunCommand(550);
  EXPECT_GT(fanBelowTheSmallPicture(), 100);
  EXPECT_EQ(ReadoutNow().shown, 1);
}

TEST_F(MainWindowGui, DepthGateLineFollowsTheMouseWithinItsLimits) {
  // 30 m range: 500 / 30 rows per metre below the apex at the top edge.
  StartHead(
      "DisplayType=3\nRange=5\nProfilePointDetection=1\nProfileMinDepthBelowSonar=2.0\n"
      "ProfileMaxDepthBelowSonar=20.0\nProfileWaterfall=0\nProfileTiltAngle=0\nHalfRange=0\n");
  ASSERT_EQ(g_scan.geom.mode, kModeProfile);
  ASSERT_DOUBLE_EQ(g_scan.geom.rangeM, 30.0);
  const int maxRow = g_overlay.gateRowMax, minRow = g_overlay.gateRowMin;
  ASSERT_EQ(maxRow, ProfileRowOfDepth(20.0));
  ASSERT_EQ(minRow, ProfileRowOfDepth(2.0));
  QWidget* client = pq::MainClient();
  const int x = 2 + g_scan.geom.originX;
  auto gateDotsOnRow = [&](int row) {
    const QImage shot = Shot();
    int dots = 0;
    for (int c = g_scan.SpanLeft[row]; c < g_scan.SpanRight[row]; ++c)
      dots += shot.pixel(2 + c, 61 + row) == PictureColour(kGateColour);
    return dots;
  };
  ASSERT_GT(gateDotsOnRow(maxRow), 50);

  // Take the maximum line one row off it and pull it down 100 rows.
  QTest::mousePress(client, Qt::LeftButton, Qt::NoModifier, QPoint(x, 61 + maxRow + 1));
  EXPECT_EQ(g_depthGate.line, kGateMax);
  EXPECT_EQ(client->cursor().shape(), Qt::SizeVerCursor);
  QTest::mouseMove(client, QPoint(x, 61 + maxRow + 100));
  const double want = std::round(DepthOfProfileRow(maxRow + 100) * 10.0) / 10.0;
  EXPECT_DOUBLE_EQ(g_settings.ProfileMaxDepthBelowSonar, want);
  EXPECT_EQ(g_overlay.gateRowMax, ProfileRowOfDepth(want));
  EXPECT_GT(gateDotsOnRow(g_overlay.gateRowMax), 50) << "redrawn at once at its new row";
  EXPECT_EQ(gateDotsOnRow(maxRow), 0) << "and gone from the old one";
  QTest::mouseRelease(client, Qt::LeftButton, Qt::NoModifier, QPoint(x, 61 + maxRow + 100));
  EXPECT_EQ(g_depthGate.line, kGateNone);
  char key[64];
  std::snprintf(key, sizeof key, "ProfileMaxDepthBelowSonar=%f", want);
  EXPECT_NE(testutil::ReadText(Path("Orvale.INI")).find(key), std::string::npos) << "the release writes the settings";

  // The minimum line cannot pass within 5 % of the range (1.5 m) of the maximum.
  QTest::mousePress(client, Qt::LeftButton, Qt::NoModifier, QPoint(x, 61 + minRow));
  ASSERT_EQ(g_depthGate.line, kGateMin);
  QTest::mouseMove(client, QPoint(x, 61 + 530));
  EXPECT_NEAR(g_settings.ProfileMinDepthBelowSonar, want - 1.5, 1e-9);
  QTest::mouseMove(client, QPoint(x, 61));  // and not above 0.1 m
  EXPECT_DOUBLE_EQ(g_settings.ProfileMinDepthBelowSonar, 0.1);
  QTest::mouseRelease(client, Qt::LeftButton, Qt::NoModifier, QPoint(x, 61));

  // A press away from both lines marks instead of dragging.
  QTest::mousePress(client, Qt::LeftButton, Qt::NoModifier, QPoint(x, 61 + 250));
  EXPECT_EQ(g_depthGate.line, kGateNone);
  QTest::mouseRelease(client, Qt::LeftButton, Qt::NoModifier, QPoint(x, 61 + 250));
}

TEST_F(WaterfallLayoutGui, SwitchesWindowShowsThePlayedRecordsSwitchesReadOnly) {
  StartFile(40);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 3; }, 10000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  std::vector<std::string> texts;
  std::string title;
  int editable = 0;
  WhenModalOpens([&](QWidget* w) {
    title = w->windowTitle().toStdString();
    for (QLabel* l : w->findChildren<QLabel*>()) texts.push_back(l->text().toStdString());
    editable = static_cast<int>(w->findChildren<QLineEdit*>().size());
    static_cast<QDialog*>(w)->accept();
  });
  RunCommand(310);
  EXPECT_EQ(title, "Switches");
  EXPECT_EQ(editable, 0) << "nothing to edit in the played record's switches";
  const std::set<std::string> shown(texts.begin(), texts.end());
  for (const char* want : {"Range:", "Range Offset:", "Start Gain:", "Pulse Length:", "Frequency:", "30 M"}) {
    SCOPED_TRACE(want);
    EXPECT_EQ(shown.count(want), 1u);
  }
}

// The box at (256, 720) while no head answers, the heartbeat at (386, 720)
// while one pings.
int BoxDrawn(const QImage& shot, int x, int w) {
  const QRgb frame = 0xFF000000u | g_palette.logicalPalette[123];
  int on = 0;
  for (int i = 0; i < w; ++i) on += shot.pixel(x + i, 720) == frame;
  return on == w;
}

TEST_F(MainWindowGui, NoConnectionBoxBlinksWithTheAddressUntilAHeadAnswersThenTheHeartbeatBeats) {
  StartHead("DisplayType=0\n");
  std::set<std::string> seen;
  int drawnWithText = 0, blankWhenErased = 0;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 9000 && (seen.size() < 3 || !drawnWithText || !blankWhenErased)) {
    QTest::qWait(100);
    char text[48];
    pq::StatusBoxText(plat::kBoxNoConnection, text, sizeof text);
    seen.insert(text);
    const QImage shot = Shot();
    if (text[0] && BoxDrawn(shot, 256, 124)) ++drawnWithText;
    if (!text[0] && !BoxDrawn(shot, 256, 124)) ++blankWhenErased;
  }
  EXPECT_EQ(seen, (std::set<std::string>{"", "No Connection", "127.0.0.1"}));
  EXPECT_GT(drawnWithText, 0);
  EXPECT_GT(blankWhenErased, 0);
  StopConsoleApp();

  testutil::SimHead head(10.0);
  const int port = head.Start();
  StartHead("DisplayType=0\nRemotePort_Sonar1=" + std::to_string(port) + "\n");
  int starDrawn = 0, erasedBetween = 0;
  t.restart();
  while (t.elapsed() < 15000 && (!starDrawn || !erasedBetween)) {
    QTest::qWait(20);
    char text[48];
    pq::StatusBoxText(plat::kBoxHeartbeat, text, sizeof text);
    const QImage shot = Shot();
    if (std::string(text) == "*" && BoxDrawn(shot, 386, 20)) ++starDrawn;
    if (!text[0] && g_acquisition.pingsProcessed.load() > 2 && !BoxDrawn(shot, 386, 20)) ++erasedBetween;
  }
  EXPECT_GT(starDrawn, 0);
  EXPECT_GT(erasedBetween, 0);
  char text[48];
  pq::StatusBoxText(plat::kBoxNoConnection, text, sizeof text);
  EXPECT_STREQ(text, "") << "erased once connected";
  StopConsoleApp();
  head.Stop();
}

// The speed figures of `orvale --run-seconds S --stats` against a head on
// loopback: every ping the head served was received and processed, and the
// main window published and painted pictures.
TEST_F(MainWindowGui, RunSecondsWithStatsReportsEveryPingTheHeadServed) {
  testutil::SimHead head(5.0);
  const int port = head.Start();
  WriteLoopbackIni("RunMode=0\nDisplayType=0\nRange=2\nStepSize=0\nSectorSize=5\nDiagnosticsWindow=1\n"
                   "RemotePort_Sonar1=" + std::to_string(port) + "\n");
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("ORVALE_LOOPBACK_ONLY", "1");
  p.setProcessEnvironment(env);
  p.setWorkingDirectory(QString::fromStdString(dir_));
  p.start(ORVALE_BIN, {"--no-splash", "--run-seconds", "3", "--stats", "--command", "623"});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 0);
  head.Stop();
  const std::string out = p.readAllStandardOutput().toStdString();
  SCOPED_TRACE(out);
  auto number = [&](const char* label) {
    const size_t at = out.find(label);
    return at == std::string::npos ? -1L : std::atol(out.c_str() + at + std::strlen(label));
  };
  const long received = number("pings received: "), processed = number("pings processed: ");
  EXPECT_GT(received, 5);
  EXPECT_EQ(processed, received);
  EXPECT_EQ(received, static_cast<long>(g_headSim.pingsServed)) << "no ping served was lost";
  EXPECT_GT(number("window Main: frames published "), 5);
  EXPECT_GT(number("window Diagnostics: frames published 0 (0.0/s), painted "), 0);
  EXPECT_NE(out.find("window Intensity: frames published"), std::string::npos);
  EXPECT_NE(out.find("run seconds: "), std::string::npos);
}

}  // namespace
