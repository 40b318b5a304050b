// The camera and the screen in the Qt console, without a screen: the video
// items greyed without a camera, the capture window's live picture, the
// played frames in the Video Playback window at their own size, the rate
// dialog's refusal and the main window saved as a bitmap.
#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "app/app_test_util.h"
#include "app/console_app.h"
#include "console/menu_ids.h"
#include "console/playback.h"
#include "gui/gui_test_util.h"
#include "platform/qt/qt_backend.h"
#include "scene_frame.h"
#include "ui/commands.h"
#include "ui/video_dialogs.h"
#include "video/capture.h"

namespace {

namespace pq = plat::qt;
using testutil::LE32;

class VideoGui : public apptest::AppFixture {
 protected:
  void SetUp() override {
    guitest::App();
    AppFixture::SetUp();
    ResetCommands();
  }
  void TearDown() override {
    StopConsoleApp();
    ResetCommands();
    AppFixture::TearDown();
  }
  void Start(const std::string& settings, const std::string& playFile = "") {
    WriteLoopbackIni(settings);
    ConsoleAppOptions o;
    o.splash = 0;
    o.quitOnClose = 0;
    o.playFile = playFile;
    ASSERT_EQ(1, StartConsoleApp(o));
  }
  QAction* Action(int id) { return pq::MainWindow()->findChild<QAction*>(QString("cmd%1").arg(id)); }
};

// The pixel at (x, y) from the top of bottom-up stored rows, as a QRgb.
QRgb StoredPixel(const uint8_t* rows, int width, int height, int x, int y) {
  const uint8_t* p = rows + static_cast<size_t>(height - 1 - y) * plat::CameraRowBytes(width) + x * 3;
  return qRgb(p[2], p[1], p[0]);
}

TEST_F(VideoGui, WithoutACameraTheVideoItemsAreGreyed) {
  Start("RunMode=0\nVideoDevice=" + Path("missing-camera") + "\n");
  QTest::qWait(20);  // the menu changes are applied on the interface thread
  for (int id : {kCmdRecordVideo, kCmdVideoFormat, kCmdVideoRate}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(Action(id)->isEnabled());
  }
  EXPECT_TRUE(Action(kCmdOpenVideoWindow)->isEnabled());
  EXPECT_FALSE(pq::Window(plat::kWinVideoCapture)->isVisible());
}

TEST_F(VideoGui, TheCaptureWindowShowsTheCameraAtItsFormat) {
  Start("RunMode=0\nVideoDevice=test\n");
  QWidget* video = pq::Window(plat::kWinVideoCapture);
  ASSERT_TRUE(QTest::qWaitFor([video] { return video->isVisible(); }, 5000));
  for (int id : {kCmdRecordVideo, kCmdVideoFormat, kCmdVideoRate}) EXPECT_TRUE(Action(id)->isEnabled()) << id;
  EXPECT_EQ("Video", video->windowTitle().toStdString());
  EXPECT_EQ(QSize(320, 240), video->size());
  // The window rests at the main window's lower right.
  const QRect main = pq::MainWindow()->frameGeometry(), frame = video->frameGeometry();
  EXPECT_EQ(main.x() + main.width() - frame.width() - 4, frame.x());
  EXPECT_LE(frame.y() + frame.height(), main.y() + main.height());
  // The preview pulls the camera's frames: the band at the top is black and
  // white, the bars below are coloured.
  ASSERT_TRUE(QTest::qWaitFor(
      [video] {
        const QImage shot = video->grab().toImage();
        return shot.pixel(5, 200) != qRgb(0, 0, 0) && shot.pixel(5, 200) != shot.pixel(5, 2);
      },
      3000));
  // Its close box disconnects the camera and greys the items.
  video->close();
  QTest::qWait(20);
  EXPECT_EQ(0, g_video.present);
  EXPECT_FALSE(Action(kCmdVideoFormat)->isEnabled());
}

TEST_F(VideoGui, PlayedFramesOpenTheVideoPlaybackWindowAtTheirSizeShowingTheirPixels) {
  SceneParams scene;
  scene.rangeStep = 3;
  SurveyParams survey;
  survey.pingCount = 200;
  survey.frameEvery = 2;
  survey.frameWidth = 320;
  survey.frameHeight = 240;
  ASSERT_EQ(200, WriteSceneFile(Path("frames.K41").c_str(), scene, survey));
  apptest::ResetEverything();
  Start("RunMode=1\nRealtimePlayback=0\nPlaybackDelay=20\n", Path("frames.K41"));
  QWidget* window = pq::Window(plat::kWinVideoPlayback);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(QSize(kVideoPlaybackInitialWidth, kVideoPlaybackInitialHeight), window->size());
  Action(kCmdOpenVideoWindow)->trigger();
  ASSERT_TRUE(QTest::qWaitFor([window] { return window->isVisible() && g_video.framesShown >= 2; }, 10000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);  // hold: the frame stays
  QTest::qWait(50);
  EXPECT_EQ(QSize(320, 240), window->size());
  EXPECT_GE(window->frameGeometry().height(), 240) << "the picture plus the caption";
  const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(QSize(320, 240), shot.size());
  int mismatched = 0;
  for (int y = 0; y < 240; y += 3)
    for (int x = 0; x < 320; x += 3)
      if (shot.pixel(x, y) != StoredPixel(g_shownVideoFrame, 320, 240, x, y)) ++mismatched;
  EXPECT_EQ(0, mismatched);
  // The scene's frames carry their ping in the first pixel of the top row.
  const QRgb first = shot.pixel(0, 0);
  EXPECT_EQ(SceneFramePing(g_videoFrame, g_playback.frameLength),
            static_cast<int>(qBlue(first) | qGreen(first) << 8 | qRed(first) << 16));
  // The close box hides it and forgets the request.
  window->close();
  QTest::qWait(20);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(0, g_video.playbackRequested);
  EXPECT_EQ(0, g_video.playbackShown);
}

TEST_F(VideoGui, ARateOf25IsRefusedWithTheMessage) {
  Start("RunMode=0\nVideoDevice=test\nRecordVideoRate=3\n");
  std::string caption, text;
  guitest::WhenModalOpens([&](QWidget* w) {
    auto* dlg = qobject_cast<QDialog*>(w);
    auto* edit = dlg ? dlg->findChild<QLineEdit*>(QString("ctl%1").arg(kIdVideoRate)) : nullptr;
    if (!edit) return;
    EXPECT_EQ("  3.0", edit->text().toStdString());
    edit->selectAll();
    QTest::keyClicks(edit, "25");
    guitest::WhenModalOpens([&](QWidget* box) {
      auto* mb = qobject_cast<QMessageBox*>(box);
      if (!mb) return;
      caption = mb->windowTitle().toStdString();
      text = mb->text().toStdString();
      mb->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(dlg->findChild<QPushButton*>(QString("ctl%1").arg(plat::kIdOk)), Qt::LeftButton);
    EXPECT_EQ("  3.0", edit->text().toStdString()) << "the previous value is back";
    dlg->reject();
  });
  Action(kCmdVideoRate)->trigger();
  EXPECT_EQ("Video Recording Rate", caption);
  EXPECT_EQ("Recording Rate is out of range!\nUse 0.1 to 20.0 frames/sec", text);
  EXPECT_DOUBLE_EQ(3.0, g_settings.RecordVideoRate);
}

TEST_F(VideoGui, SaveScreenWritesTheMainWindowAsABitmapOfItsSize) {
  Start("RunMode=0\n");
  QTest::qWait(50);
  pq::PresetFileDialogAnswer(Path("Main.BMP").c_str());
  Action(kCmdSaveScreen)->trigger();
  const std::vector<uint8_t> b = testutil::ReadAll(Path("main.bmp"));
  ASSERT_GT(b.size(), 54u);
  QMainWindow* main = pq::MainWindow();
  const int w = main->width(), h = main->height();
  EXPECT_EQ('B', b[0]);
  EXPECT_EQ(54u, LE32(&b[10]));
  EXPECT_EQ(static_cast<uint32_t>(w), LE32(&b[18]));
  EXPECT_EQ(static_cast<uint32_t>(h), LE32(&b[22]));
  EXPECT_EQ(b.size(), 54u + static_cast<size_t>(plat::CameraRowBytes(w)) * h);
  // The picture sits at (2, 61) of the client below the menu bar: its
  // pixels are in the bitmap where the window shows them.
  const QImage shot = main->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(shot.pixel(w / 2, h / 2), StoredPixel(&b[54], w, h, w / 2, h / 2));
  // A name with another extension is refused.
  std::string caption, text;
  guitest::WhenModalOpens([&](QWidget* box) {
    auto* mb = qobject_cast<QMessageBox*>(box);
    if (!mb) return;
    caption = mb->windowTitle().toStdString();
    text = mb->text().toStdString();
    mb->button(QMessageBox::Ok)->click();
  });
  pq::PresetFileDialogAnswer(Path("main.png").c_str());
  Action(kCmdSaveScreen)->trigger();
  EXPECT_EQ("Save Screen As", caption);
  EXPECT_EQ("File extension must be .BMP", text);
}

}  // namespace
