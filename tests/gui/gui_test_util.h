// What the GUI tests share: the one offscreen application, the modal-box
// interception, and the fixtures that start the Qt console in Head mode
// (no head answers) or playing a generated survey in File mode.
#pragma once

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/app_test_util.h"
#include "app/console_app.h"
#include "console/playback.h"
#include "platform/frame_handoff.h"
#include "platform/qt/qt_backend.h"
#include "ui/commands.h"
#include "ui/keys.h"

namespace guitest {

using namespace apptest;
namespace pq = plat::qt;

inline QApplication* App() {
  static int argc = 1;
  static char name[] = "orvale_tests_gui";
  static char* argv[] = {name, nullptr};
  // One application for every test file of the program.
  static QApplication* app = [] {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto* a = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return a;
  }();
  return app;
}

// Runs `act` on the first modal widget that opens (a dialog or a message
// box shown by the code under test), from inside its modal loop.
inline void WhenModalOpens(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(w);
    }
  });
  timer->start();
}

struct Box {
  std::string caption, text;
  int warning = 0;
  int seen = 0;
};

inline void InterceptMessageBox(Box* box) {
  WhenModalOpens([box](QWidget* w) {
    auto* mb = qobject_cast<QMessageBox*>(w);
    if (!mb) return;
    box->seen = 1;
    box->caption = mb->windowTitle().toStdString();
    box->text = mb->text().toStdString();
    box->warning = mb->icon() == QMessageBox::Warning;
    mb->button(QMessageBox::Ok)->click();
  });
}

class ConsoleGui : public AppFixture {
 protected:
  void SetUp() override {
    App();
    AppFixture::SetUp();
    ResetKeys();
    ResetCommands();
    plat::ResetFrames();
  }
  void TearDown() override {
    StopConsoleApp();
    ResetKeys();
    ResetCommands();
    AppFixture::TearDown();
  }
  // Head mode: no file dialog at start, and no acquisition thread to reach a head.
  void StartHead(const std::string& extra = "") {
    WriteLoopbackIni("RunMode=0\n" + extra);
    ConsoleAppOptions o;
    o.splash = 0;
    o.quitOnClose = 0;
    ASSERT_EQ(StartConsoleApp(o), 1);
  }
  QAction* Action(int id) {
    return pq::MainWindow()->findChild<QAction*>(QString("cmd%1").arg(id));
  }
};

class PlayedConsole : public ConsoleGui {
 protected:
  void StartFile(int pings, const std::string& pacing = "RealtimePlayback=0\nPlaybackDelay=0\n") {
    WriteSurvey("played.K41", 12.0, pings);  // 10 pings a second
    WriteLoopbackIni("RunMode=1\n" + pacing);
    ConsoleAppOptions o;
    o.splash = 0;
    o.quitOnClose = 0;
    o.playFile = Path("played.K41");
    ASSERT_EQ(StartConsoleApp(o), 1);
    ASSERT_EQ(g_player.fileOpen, 1);
  }
};

}  // namespace guitest
