// Helpers of the GUI tests that more than one file of tests/gui uses: the
// one QApplication of the process (offscreen) and the hook that acts on a
// modal widget from inside its own modal loop.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>

namespace guitest {

// The process's application, made on first use when none exists yet.
inline QApplication* Application() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  static int argc = 1;
  static char name[] = "orvale_tests_gui";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  auto* a = new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return a;
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

}  // namespace guitest
