// The Qt console driven through its real widgets, without a screen (the
// offscreen platform): the menu bar made from the command table, a menu
// command's check marks and settings file, a dialog typed into, the range
// entry's warning box, the played picture reaching the painted window, the
// hold key stopping the File-mode loop, and the command-line conversion run
// of the orvale program against orvale-convert.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include "app/app_test_util.h"
#include "app/console_app.h"
#include "console/command_line.h"
#include "console/cycle_lock.h"
#include "console/diagnostics.h"
#include "console/external_control.h"
#include "console/menu_ids.h"
#include "console/playback.h"
#include "head/switch_command.h"
#include "imaging/background.h"
#include "imaging/palette.h"
#include "imaging/track_plot.h"
#include "imaging/waterfall.h"
#include "platform/frame_handoff.h"
#include "platform/platform.h"
#include "platform/net.h"
#include "platform/qt/artwork.h"
#include "platform/qt/qt_backend.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "ui/commands.h"
#include "ui/dials.h"
#include "ui/display_dialogs.h"
#include "ui/nav_dialogs.h"
#include "ui/keys.h"
#include "ui/readout.h"
#include "gui/gui_test_util.h"

// Font configuration keeps a cache for the life of the process and frees it
// only at its own clean-up, which Qt does not run at exit: not ours to report
// when the tests run under the leak checker.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using namespace apptest;
using namespace guitest;
namespace pq = plat::qt;

TEST_F(ConsoleGui, MenuBarHoldsEveryPopupOfTheTableInOrder) {
  StartHead();
  const QList<QAction*> top = pq::MainWindow()->menuBar()->actions();
  ASSERT_EQ(top.size(), kMenuPopupCount);
  int count = 0;
  const CommandRow* rows = CommandTable(&count);
  for (int p = 0; p < kMenuPopupCount; ++p) {
    SCOPED_TRACE(kMenuPopups[p].title);
    EXPECT_EQ(top[p]->text().toStdString(), kMenuPopups[p].title);
    if (kMenuPopups[p].directCommand) {
      EXPECT_EQ(top[p]->menu(), nullptr);
      EXPECT_EQ(top[p]->objectName(), QString("cmd%1").arg(kMenuPopups[p].directCommand));
      continue;
    }
    QMenu* menu = top[p]->menu();
    ASSERT_NE(menu, nullptr);
    // The popup's items in table order, each submenu flattened where it
    // first appears, as the operator walks them top to bottom.
    std::vector<std::string> expected, shown;
    std::set<std::string> submenusSeen;
    for (int i = 0; i < count; ++i) {
      const CommandRow& r = rows[i];
      if (r.popup != p || !r.text) continue;
      if (r.submenu && submenusSeen.insert(r.submenu).second) {
        expected.push_back(std::string("> ") + r.submenu);
        for (int k = i; k < count; ++k)
          if (rows[k].popup == p && rows[k].submenu && std::string(rows[k].submenu) == r.submenu)
            expected.push_back(std::string("  ") + rows[k].text);
      } else if (!r.submenu) {
        expected.push_back(r.text);
      }
    }
    for (QAction* a : menu->actions()) {
      if (QMenu* sub = a->menu()) {
        shown.push_back("> " + a->text().toStdString());
        for (QAction* s : sub->actions()) shown.push_back("  " + s->text().toStdString());
      } else {
        shown.push_back(a->text().toStdString());
      }
    }
    EXPECT_EQ(shown, expected);
  }
  // Radio groups are exclusive groups; items without a check mark are not checkable.
  for (int i = 0; i < count; ++i) {
    const CommandRow& r = rows[i];
    if (!r.text || r.popup < 0 || kMenuPopups[r.popup].directCommand) continue;
    SCOPED_TRACE(r.id);
    QAction* a = Action(r.id);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->isCheckable(), r.check != kNoCheck);
    EXPECT_EQ(a->actionGroup() != nullptr, r.group != kNoGroup);
  }
}

TEST_F(ConsoleGui, ColourTableItemMovesTheCheckAndWritesTheSettings) {
  StartHead("Colors=0\n");
  ASSERT_TRUE(Action(80)->isChecked());
  Action(83)->trigger();  // "&Grey"
  for (int id = 80; id <= 88; ++id) {
    SCOPED_TRACE(id);
    EXPECT_EQ(Action(id)->isChecked(), id == 83);
  }
  EXPECT_EQ(g_settings.Colors, 3);
  const auto ini = ReadAll(Path("Orvale.INI"));
  EXPECT_NE(std::string(ini.begin(), ini.end()).find("Colors=3"), std::string::npos);
}

TEST_F(ConsoleGui, RunModeGreysTheOtherModesItems) {
  StartHead();
  // Head mode: recording allowed, playback items greyed.
  EXPECT_TRUE(Action(106)->isEnabled());  // "Com &Ports", a direct entry of the bar
  EXPECT_FALSE(Action(10)->isEnabled());
  EXPECT_TRUE(Action(15)->isEnabled());
  EXPECT_EQ(pq::MainWindow()->windowTitle().toStdString(), kProductTitle);
  // Item texts and checks come through the platform calls only.
  plat::SetMenuItemText(16, "&Copy Stop");
  EXPECT_EQ(Action(16)->text().toStdString(), "&Copy Stop");
  plat::CheckMenuItem(17, 1);
  EXPECT_TRUE(Action(17)->isChecked());
  plat::EnableMenuItem(970, 0);  // a direct entry of the bar
  EXPECT_FALSE(Action(970)->isEnabled());
}

TEST_F(ConsoleGui, PersistenceDialogTypedIntoReachesItsHandler) {
  StartHead("Persistence=0\n");
  QString title;
  QPoint centre, expectedCentre;
  WhenModalOpens([&](QWidget* w) {
    auto* dlg = qobject_cast<QDialog*>(w);
    if (!dlg) return;
    title = dlg->windowTitle();
    centre = dlg->geometry().center();
    expectedCentre = pq::MainClient()->mapToGlobal(QPoint(508, 332));
    auto* edit = dlg->findChild<QLineEdit*>(QString("ctl%1").arg(kIdDecayTime));
    auto* ok = dlg->findChild<QPushButton*>(QString("ctl%1").arg(plat::kIdOk));
    if (!edit || !ok) {
      dlg->reject();
      return;
    }
    EXPECT_EQ(edit->text().trimmed().toStdString(), "0");
    edit->selectAll();
    QTest::keyClicks(edit, "120");
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  EXPECT_EQ(RunCommand(565), 1);
  EXPECT_EQ(title.toStdString(), "Persistence");
  EXPECT_LE(std::abs(centre.x() - expectedCentre.x()), 1);
  EXPECT_LE(std::abs(centre.y() - expectedCentre.y()), 1);
  EXPECT_EQ(g_settings.Persistence, 120);
}

TEST_F(ConsoleGui, NavigationDialogsShowTheirListsAndUnits) {
  // The receivers' named device is a path nothing answers at: no port opens.
  StartHead("Units=1\nSoundVelocityMeters=1500.0\nComPortGPSEnable=1\nComPortGPSDevice=/dev/pts/nope\n");
  std::vector<std::string> ports, rates;
  int svEnabled = -1;
  WhenModalOpens([&](QWidget* w) {
    auto* dlg = qobject_cast<QDialog*>(w);
    if (!dlg) return;
    auto* port = dlg->findChild<QComboBox*>(QString("ctl%1").arg(kIdGpsPort));
    auto* rate = dlg->findChild<QComboBox*>(QString("ctl%1").arg(kIdGpsBitRate));
    auto* sv = dlg->findChild<QComboBox*>(QString("ctl%1").arg(kIdSvPort));
    if (port)
      for (int i = 0; i < port->count(); ++i) ports.push_back(port->itemText(i).toStdString());
    if (rate)
      for (int i = 0; i < rate->count(); ++i) rates.push_back(rate->itemText(i).toStdString());
    if (sv) svEnabled = sv->isEnabled();
    dlg->reject();
  });
  EXPECT_EQ(RunCommand(kCmdComPorts), 1);
  EXPECT_EQ(ports, std::vector<std::string>{"nope"});
  ASSERT_EQ(rates.size(), 6u);
  EXPECT_EQ(rates.back(), "115200");
  EXPECT_EQ(svEnabled, 0);  // the probe is off: " N/A", greyed

  std::string shown, unit;
  WhenModalOpens([&](QWidget* w) {
    auto* dlg = qobject_cast<QDialog*>(w);
    if (!dlg) return;
    if (auto* edit = dlg->findChild<QLineEdit*>(QString("ctl%1").arg(kIdSpeedOfSound)))
      shown = edit->text().toStdString();
    dlg->reject();
  });
  EXPECT_EQ(RunCommand(kCmdSoundVelocity), 1);
  EXPECT_EQ(shown, "4921.3");
}

TEST_F(ConsoleGui, PersistenceDialogRefusesOutOfRangeAndCancelKeepsTheValue) {
  StartHead("Persistence=7\n");
  Box box;
  WhenModalOpens([&](QWidget* w) {
    auto* dlg = qobject_cast<QDialog*>(w);
    auto* edit = dlg ? dlg->findChild<QLineEdit*>(QString("ctl%1").arg(kIdDecayTime)) : nullptr;
    if (!edit) return;
    edit->selectAll();
    QTest::keyClicks(edit, "601");
    // The refusal is a box of its own inside the dialog's modal loop.
    InterceptMessageBox(&box);
    QTest::mouseClick(dlg->findChild<QPushButton*>(QString("ctl%1").arg(plat::kIdOk)), Qt::LeftButton);
    // The spin arrow steps the value the refusal put back.
    QTest::mouseClick(dlg->findChild<QWidget*>(QString("ctl%1up").arg(kIdDecaySpin)), Qt::LeftButton);
    EXPECT_EQ(edit->text().trimmed().toStdString(), "8");
    dlg->reject();  // Escape: the handler sees Cancel
  });
  RunCommand(565);
  EXPECT_EQ(box.seen, 1);
  EXPECT_EQ(box.caption, "Persistence");
  EXPECT_EQ(box.text, "Time is out of range!\nUse 0 to 600 seconds");
  EXPECT_EQ(box.warning, 1);
  EXPECT_EQ(g_settings.Persistence, 7);
}

TEST_F(ConsoleGui, RangeEntryOfSevenShowsTheRangeWarningAndKeepsTheRange) {
  StartHead();
  const int range = g_settings.Range;
  QWidget* client = pq::MainClient();
  QTest::keyClick(client, Qt::Key_R);
  QTest::keyClick(client, Qt::Key_7);
  EXPECT_EQ(g_keys.field, kEntryRange);
  EXPECT_STREQ(g_keys.text, "7");
  Box box;
  InterceptMessageBox(&box);
  QTest::keyClick(client, Qt::Key_Return);
  EXPECT_EQ(box.seen, 1);
  EXPECT_EQ(box.caption, "Range");
  EXPECT_EQ(box.warning, 1);
  char expected[256];
  RangeWarningText(g_headLimits.maxStep, g_settings.Units, expected, sizeof expected);
  EXPECT_EQ(box.text, expected);
  EXPECT_EQ(g_settings.Range, range);
  EXPECT_EQ(g_keys.field, kEntryNone);
}

TEST_F(ConsoleGui, KeysReachTheKeyboardHandlers) {
  StartHead("DisplayGain=40\n");
  QWidget* client = pq::MainClient();
  struct Case {
    const char* legend;
    std::vector<int> keys;
    int displayGain;
  } cases[] = {
      {"F6 raises by one", {Qt::Key_F6}, 41},
      {"F5 lowers by one", {Qt::Key_F5}, 40},
      {"D 75 Enter", {Qt::Key_D, Qt::Key_7, Qt::Key_5, Qt::Key_Return}, 75},
      {"Escape closes the box unapplied", {Qt::Key_D, Qt::Key_1, Qt::Key_Escape}, 75},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    for (int k : c.keys) QTest::keyClick(client, static_cast<Qt::Key>(k));
    EXPECT_EQ(g_settings.DisplayGain, c.displayGain);
    EXPECT_EQ(g_keys.field, kEntryNone);
  }
}

TEST_F(ConsoleGui, HeldPressOnADialStepsAtOnceThenRepeatsUntilRelease) {
  StartHead("DisplayGain=20\n");
  QWidget* client = pq::MainClient();
  const QPoint at(kDialColumns[kDialDisplayGain] + 20, kDialRow + 25);  // right half, low: raises
  QTest::mouseMove(client, at);
  QTest::mousePress(client, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(g_settings.DisplayGain, 21);  // the press steps at once
  QTest::qWait(kDialFirstRepeatMs / 2);
  EXPECT_EQ(g_settings.DisplayGain, 21);  // no repeat before 500 ms
  ASSERT_TRUE(QTest::qWaitFor([] { return g_settings.DisplayGain >= 24; }, 3000));
  QTest::mouseRelease(client, Qt::LeftButton, Qt::NoModifier, at);
  const int released = g_settings.DisplayGain;
  QTest::qWait(3 * kDialRepeatMs);
  EXPECT_EQ(g_settings.DisplayGain, released);
}

// Lit pixels of the readout's value boxes in a grab of the main client.
int ReadoutInk() {
  const QImage shot = pq::MainClient()->grab().toImage();
  int lit = 0;
  for (int y = kReadoutRow1; y < kReadoutRow2 + 18; ++y)
    for (int x = kReadoutValueX; x < pq::kMainWidth; ++x)
      if (qGray(shot.pixel(x, y)) > 60) ++lit;
  return lit;
}

TEST_F(ConsoleGui, ReadoutFollowsTheCursorOverThePictureOnly) {
  StartHead();
  QWidget* client = pq::MainClient();
  QTest::mouseMove(client, QPoint(507, 400));
  EXPECT_GT(ReadoutInk(), 20);
  QTest::mouseMove(client, QPoint(200, 700));
  EXPECT_EQ(ReadoutInk(), 0);
}

TEST_F(ConsoleGui, BackgroundReferenceButtonsActUnlessHeld) {
  StartHead("DisplayType=0\n");
  ASSERT_EQ(RunCommand(560), 1);  // "&Remove Background"
  ASSERT_EQ(g_background.enabled, 1);
  QWidget* client = pq::MainClient();
  const QPoint build(285, 635), store(285, 659);
  QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, build);
  EXPECT_EQ(g_background.building, 1);
  QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, store);
  EXPECT_EQ(g_background.building, 0);
  QTest::keyClick(client, Qt::Key_H);
  QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, build);
  EXPECT_EQ(g_background.building, 0);
  QTest::keyClick(client, Qt::Key_H);
  QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, build);
  EXPECT_EQ(g_background.building, 1);
}

TEST_F(ConsoleGui, MeasuringLineRunsFromTheMarkToTheCursor) {
  StartHead("DisplayType=0\n");
  QWidget* client = pq::MainClient();
  const QRgb line = 0xFF000000u | g_palette.logicalPalette[123];
  auto lineDrawn = [&] {
    const QImage shot = client->grab().toImage();
    int on = 0;
    for (int x = 520; x < 590; ++x) on += shot.pixel(x, 300) == line;
    return on;
  };
  QTest::mouseMove(client, QPoint(507, 300));
  QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(507, 300));
  QTest::mouseMove(client, QPoint(607, 300));
  EXPECT_GT(lineDrawn(), 60);
  QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(607, 300));  // clears the mark
  EXPECT_LT(lineDrawn(), 5);
}

TEST_F(ConsoleGui, CrossHairOverThePictureArrowElsewhereWaitDuringAModeSwitch) {
  StartHead();
  QWidget* client = pq::MainClient();
  QTest::mouseMove(client, QPoint(500, 300));
  EXPECT_EQ(client->cursor().shape(), Qt::BitmapCursor);  // our own cross-hair
  EXPECT_EQ(g_app.mouseX, 500);
  QTest::mouseMove(client, QPoint(500, 700));
  EXPECT_EQ(client->cursor().shape(), Qt::ArrowCursor);
  plat::SetCursor(plat::kCursorSizeNS);
  QTest::mouseMove(client, QPoint(500, 301));
  EXPECT_EQ(client->cursor().shape(), Qt::SizeVerCursor);
  plat::SetCursor(plat::kCursorWait);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  plat::SetCursor(plat::kCursorArrow);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(client->cursor().shape(), Qt::BitmapCursor);
}

TEST_F(ConsoleGui, CallsFromAnotherThreadNeverWaitForTheInterface) {
  StartHead();
  static uint8_t picture[kImageHeight][kImageWidth];
  uint32_t palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint32_t>(i * 0x010101);
  // The interface thread processes nothing until the worker is done: a
  // call that waited for it would never return.
  auto worker = std::async(std::launch::async, [&] {
    for (int n = 0; n < 200; ++n) {
      std::memset(picture, n & 0xFF, sizeof picture);
      plat::BlitImage(&picture[0][0], kImageWidth, kImageHeight, palette, 0, 0, kImageWidth - 1, kImageHeight - 1);
      plat::InvalidateWindow(plat::kWinMain);
      plat::EnableMenuItem(10, n & 1);
    }
    plat::SetWindowTitle(plat::kWinMain, "from the worker");
    plat::MessageBox("Worker", "a box from another thread", plat::kIconInformation);
    return 1;
  });
  ASSERT_EQ(worker.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(worker.get(), 1);
  QTest::qWait(50);
  EXPECT_EQ(pq::MainWindow()->windowTitle().toStdString(), "from the worker");
  EXPECT_TRUE(Action(10)->isEnabled());  // the last of the queued changes won
  const QImage shot = pq::MainClient()->grab().toImage();
  EXPECT_EQ(shot.pixel(pq::kPictureX + 100, pq::kPictureY + 100), 0xFF000000u | palette[199]);
  // The box came up without blocking the worker; the operator closes it.
  QMessageBox* box = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* mb = qobject_cast<QMessageBox*>(w); mb && mb->isVisible()) box = mb;
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle().toStdString(), "Worker");
  box->close();
}

TEST_F(ConsoleGui, FileDialogAnswersOnePathOrTheDirectoryAndNames) {
  StartHead();
  for (const char* n : {"a.k41", "b.k41"}) WriteText(Path(n), "K41");
  const QString dir = QString::fromStdString(dir_);
  struct Case {
    const char* legend;
    int multi;
    QString typed;  // what the operator types in the name field; empty: cancel
    std::string expected;
  } cases[] = {
      {"one file", 0, "a.k41", dir_ + "/a.k41" + std::string(1, '\0')},
      {"two files", 1, "\"a.k41\" \"b.k41\"", dir_ + std::string(1, '\0') + "a.k41" + std::string(1, '\0') + "b.k41" +
                                                   std::string(2, '\0')},
      {"cancel", 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    WhenModalOpens([&](QWidget* w) {
      auto* fd = qobject_cast<QFileDialog*>(w);
      if (!fd) return;
      if (c.typed.isEmpty()) {
        fd->reject();
        return;
      }
      fd->setDirectory(dir);
      auto* name = fd->findChild<QLineEdit*>("fileNameEdit");
      if (!name) {
        fd->reject();
        return;
      }
      name->setText(c.typed);
      QTest::keyClick(name, Qt::Key_Return);
    });
    plat::FileDialogRequest req;
    req.title = "Open a Sonar File For Playback";
    req.filter = "Orvale Multibeam Sonar Files (*.K41)|*.K41";
    req.multiSelect = c.multi;
    char out[1024];
    std::memset(out, 'x', sizeof out);
    const int ok = plat::FileDialog(req, out, sizeof out);
    EXPECT_EQ(ok, c.expected.empty() ? 0 : 1);
    if (ok) {
      EXPECT_EQ(std::string(out, c.expected.size()), c.expected);
    }
  }
}

TEST_F(ConsoleGui, ExitClosesTheWindowAndShutsTheConsoleDown) {
  StartHead("Colors=0\n");
  g_settings.Colors = 5;  // changed without a command: only the shutdown saves it
  Action(18)->trigger();  // "E&xit"
  ASSERT_TRUE(QTest::qWaitFor([] { return g_app.closed == 1; }, 5000));
  EXPECT_EQ(g_runMode.shutDown, 1);
  EXPECT_FALSE(pq::MainWindow()->isVisible());
  const auto ini = ReadAll(Path("Orvale.INI"));
  EXPECT_NE(std::string(ini.begin(), ini.end()).find("Colors=5"), std::string::npos);
}

TEST_F(ConsoleGui, ACommandLineNamingNoFileStartsAnOrdinaryWindow) {
  WriteLoopbackIni("RunMode=0\n");
  ConsoleAppOptions o;
  o.splash = 0;
  o.quitOnClose = 0;
  o.commandLine = "    ";
  ASSERT_EQ(StartConsoleApp(o), 1);
  EXPECT_EQ(g_commandLine.conversionRun, 0);
  EXPECT_FALSE(pq::MainWindow()->isMinimized());
  EXPECT_TRUE(pq::MainWindow()->isVisible());
}

TEST_F(ConsoleGui, AWarningBoxDoesNotHoldTheConsoleLock) {
  StartHead();
  QWidget* client = pq::MainClient();
  QTest::keyClick(client, Qt::Key_R);
  QTest::keyClick(client, Qt::Key_7);
  // While the refusal is on screen another thread (the acquisition loop)
  // must still get the lock for its next ping.
  std::atomic<int> locked{0};
  int lockedWhileShown = 0;
  std::thread other;
  WhenModalOpens([&](QWidget* w) {
    other = std::thread([&] {
      CycleLock lock;
      locked.store(1);
    });
    for (int i = 0; i < 500 && !locked.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    lockedWhileShown = locked.load();
    if (auto* mb = qobject_cast<QMessageBox*>(w)) mb->button(QMessageBox::Ok)->click();
  });
  QTest::keyClick(client, Qt::Key_Return);
  if (other.joinable()) other.join();  // gets the lock at the latest when the key is done
  EXPECT_EQ(lockedWhileShown, 1);
  EXPECT_EQ(CycleLockHeld(), 0);  // everything taken back and released after the key
}

QRgb LogicalColour(int index) { return 0xFF000000u | g_palette.logicalPalette[index]; }

// Pixels of `image` inside `r` that have the colour `rgb`.
int CountColour(const QImage& image, const QRect& r, QRgb rgb) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += image.pixel(x, y) == rgb;
  return n;
}

// A control datagram of ten bytes: external control on, transmit on, the
// main window shown, fields 5..8 refused, and the display gain.
std::vector<uint8_t> GainDatagram(int gain) {
  return {'K', '4', 'C', 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(gain)};
}

// The remote's side: it learns the console's port from a keep-alive the
// console sends it, then answers there with the datagram.
int SendToConsole(const std::vector<uint8_t>& d) {
  const int fd = net::UdpOpen("127.0.0.1");
  if (fd < 0) return 0;
  const int remotePort = net::LocalPort(fd);
  {
    CycleLock lock;
    SetOutputDestination(0x7F000001, remotePort);
    (void)SendKeepAlive();
  }
  uint8_t buffer[64];
  uint32_t from = 0;
  int consolePort = 0;
  int sent = 0;
  if (net::WaitReadable(fd, 2000) == 1 && net::UdpReceive(fd, buffer, sizeof buffer, &from, &consolePort) > 0)
    sent = net::UdpSendTo(fd, "127.0.0.1", consolePort, d.data(), static_cast<int>(d.size()));
  net::CloseSocket(fd);
  return sent == static_cast<int>(d.size());
}

TEST_F(ConsoleGui, ControlDatagramOnTheOutputSocketAppliesAndShowsTheBox) {
  StartHead("DisplayGain=50\n");
  ASSERT_GE(g_outputs.socket, 0);
  const QRect box(10, 720, 124, 20);
  // The box: a frame and the text in colour 123 on 125.
  ASSERT_NE(LogicalColour(123), LogicalColour(125));
  QImage shot = pq::MainClient()->grab().toImage();
  EXPECT_EQ(CountColour(shot, box, LogicalColour(123)), 0) << "no box before a datagram";

  ASSERT_EQ(SendToConsole(GainDatagram(37)), 1);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_settings.DisplayGain == 37; }, 5000));
  EXPECT_EQ(g_extControl.boxShown, 1);
  EXPECT_EQ(g_extControl.datagramsReceived, 1);
  shot = pq::MainClient()->grab().toImage();
  EXPECT_GT(CountColour(shot, box, LogicalColour(123)), 2 * (box.width() + box.height()) - 4) << "its frame";
  EXPECT_GT(CountColour(shot, box.adjusted(2, 2, -2, -2), LogicalColour(125)), 0) << "its ground";

  // The blinking "XMIT Disabled" box beside it, in its visible phase.
  const QRect xmit(140, 720, 110, 20);
  EXPECT_EQ(CountColour(shot, xmit, LogicalColour(123)), 0);
  {
    CycleLock lock;
    g_extControl.xmitBoxShown = 1;
  }
  shot = pq::MainClient()->grab().toImage();
  EXPECT_GT(CountColour(shot, xmit, LogicalColour(123)), 2 * (xmit.width() + xmit.height()) - 4);

  // A run-mode switch reopens the socket; the notifier follows it.
  WriteSurvey("played.K41", 12.0, 20);
  pq::PresetFileDialogAnswer(Path("played.K41").c_str());
  Action(kCmdFile)->trigger();
  ASSERT_EQ(g_settings.RunMode, 1);
  ASSERT_GE(g_outputs.socket, 0);
  ASSERT_EQ(SendToConsole(GainDatagram(61)), 1);
  EXPECT_TRUE(QTest::qWaitFor([] { return g_settings.DisplayGain == 61; }, 5000));
  EXPECT_GE(g_extControl.datagramsReceived, 1);
}

TEST_F(ConsoleGui, ControlDatagramHidesAndShowsTheMainWindow) {
  StartHead();
  ASSERT_TRUE(pq::MainWindow()->isVisible());
  std::vector<uint8_t> d = GainDatagram(40);
  d[4] = 2;  // bit 1: hide the main window
  ASSERT_EQ(SendToConsole(d), 1);
  ASSERT_TRUE(QTest::qWaitFor([] { return !pq::MainWindow()->isVisible(); }, 5000));
  d[4] = 0;
  ASSERT_EQ(SendToConsole(d), 1);
  EXPECT_TRUE(QTest::qWaitFor([] { return pq::MainWindow()->isVisible(); }, 5000));
}

// The rectangle of Diagnostics row `row`: from the left edge, a text line
// high, starting 6 pixels down.
QRect DiagnosticsRow(const QWidget* w, int row) {
  QFont f(pq::kSansFont);
  f.setPixelSize(11);
  const int h = QFontMetrics(f).height();
  return QRect(0, 6 + row * h, w->width(), h);
}

TEST_F(PlayedConsole, PlayedPictureReachesThePaintedWindow) {
  StartFile(40);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 5; }, 10000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);  // hold: the picture stays as painted
  ASSERT_EQ(g_player.hold, 1);
  const QImage shot = pq::MainClient()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // The painter drew the newest published frame; nothing published since.
  const plat::Frame* f = plat::LatestFrame(plat::kWinMain);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->width, kImageWidth);
  ASSERT_EQ(f->height, kImageHeight);
  int mismatched = 0, echoes = 0;
  for (int y = 0; y < f->height; ++y) {
    for (int x = 0; x < f->width; ++x) {
      const uint8_t index = f->pixels[y * f->width + x];
      const QRgb want = 0xFF000000u | f->palette[index];
      if (shot.pixel(pq::kPictureX + x, pq::kPictureY + y) != want) ++mismatched;
      if (index > 0 && index < kEchoColours) ++echoes;
    }
  }
  EXPECT_EQ(mismatched, 0);
  EXPECT_GT(echoes, 2000) << "the seabed echo should be in the picture";
}

TEST_F(PlayedConsole, HoldStopsTheLoopAndReleasingItResumes) {
  StartFile(200);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 2; }, 10000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  const int held = g_player.recordsProcessed;
  QTest::qWait(300);
  EXPECT_EQ(g_player.recordsProcessed, held);
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  EXPECT_TRUE(QTest::qWaitFor([held] { return g_player.recordsProcessed > held + 3; }, 10000));
}

TEST_F(PlayedConsole, UnpacedPlaybackStillLetsQueuedEventsThrough) {
  StartFile(400);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 2; }, 10000));
  // A key waiting in the queue is taken between two steps, not after the file.
  QCoreApplication::postEvent(pq::MainClient(), new QKeyEvent(QEvent::KeyPress, Qt::Key_H, Qt::NoModifier, "h"));
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.hold == 1; }, 5000));
  EXPECT_LT(g_player.recordsRead, 400);
  EXPECT_EQ(g_player.endsOfFile, 0);
}

TEST_F(PlayedConsole, RealtimePacingWaitsTheRecordedInterval) {
  StartFile(60, "RealtimePlayback=1\n");
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 2; }, 10000));
  const int from = g_player.recordsProcessed;
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(QTest::qWaitFor([from] { return g_player.recordsProcessed >= from + 10; }, 10000));
  // Ten records recorded 100 ms apart take about a second, never much less.
  EXPECT_GE(clock.elapsed(), 800);
}

TEST_F(PlayedConsole, PlaybackWindowShowsThePositionAndTakesItsClicks) {
  StartFile(100);
  QWidget* window = pq::Window(plat::kWinPlayback);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle().toStdString(), "Playback");
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 3; }, 10000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  const int width = window->width();
  // The marker: two black columns where the file position puts them.
  const int x = PositionMarkerX(0, width);
  const QImage shot = window->grab().toImage();
  EXPECT_EQ(shot.pixel(x, 63), 0xFF000000u);
  EXPECT_EQ(shot.pixel(x + 1, 63), 0xFF000000u);
  EXPECT_NE(shot.pixel(x + 3, 63), 0xFF000000u);
  // A click in the middle of the bar jumps there; held, the picture follows.
  const int64_t size = g_player.fileSize;
  const int before = g_player.recordsRead;
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(width / 2, 65));
  EXPECT_NEAR(static_cast<double>(g_player.filePosition) / size, 0.5, 0.05);
  EXPECT_GT(g_player.recordsRead, before);
  // The speed slider at its slow end: the longest delay.
  g_settings.RealtimePlayback = 0;
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(15, 25));
  EXPECT_EQ(g_settings.PlaybackDelayX, 15);
  EXPECT_EQ(g_settings.PlaybackDelay, PlaybackDelayOfSlider(100));
}


// The Playback window: 25 characters by 8 lines less a pixel of the panel
// font at (840, 17) of the main client; in real-time and fast mode the
// mode's name sits from 18 pixels down on a patch of panel over the slider.
TEST_F(PlayedConsole, PlaybackWindowSitsAtItsPlaceAndNamesItsModeOverTheSlider) {
  StartFile(100, "RealtimePlayback=1\n");
  QWidget* window = pq::Window(plat::kWinPlayback);
  ASSERT_TRUE(window->isVisible());
  QFont font(pq::kSansFont);
  font.setPixelSize(11);
  const QFontMetrics m(font);
  EXPECT_EQ(window->width(), 25 * m.averageCharWidth());
  EXPECT_EQ(window->height(), 8 * m.height() - 1);
  EXPECT_EQ(pq::MainClient()->mapFromGlobal(window->pos()), QPoint(840, 17));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  for (const int fast : {0, 1}) {
    SCOPED_TRACE(fast ? "fast" : "real time");
    {
      CycleLock lock;
      g_player.fastPlayback = fast;
    }
    window->repaint();
    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int width = window->width();
    // Between the end labels nothing is drawn above row 18; the name is below it.
    const QRect above(35, 8, width - 70, 10), name(35, 18, width - 70, 14);
    const QRgb panel = LogicalColour(122);
    EXPECT_EQ(CountColour(shot, above, panel), above.width() * above.height());
    EXPECT_GT(name.width() * name.height() - CountColour(shot, name, panel), 20);
    // Its blanks cover the slider line: panel grey on row 25 between the ticks.
    EXPECT_GT(CountColour(shot, QRect(16, 25, width - 32, 1), LogicalColour(122)), 4);
  }
}

// A key pressed with a history window in front acts as on the main window.
TEST_F(PlayedConsole, HistoryWindowsPassTheirKeysToTheMainWindow) {
  StartFile(400);
  for (const int command : {621, 622, 623}) Action(command)->trigger();
  const int windows[] = {plat::kWinSidescan, plat::kWinEchoSounder, plat::kWinIntensity};
  for (const int id : windows) {
    SCOPED_TRACE(id);
    QWidget* window = pq::Window(id);
    ASSERT_TRUE(window->isVisible());
    const int hold = g_player.hold;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_H, Qt::NoModifier, "h");
    QApplication::sendEvent(window, &press);
    EXPECT_EQ(g_player.hold, !hold);
  }
}

TEST_F(ConsoleGui, DiagnosticsWindowUsesThePanelColoursOfThePalette) {
  StartHead("DiagnosticsWindow=1\n");
  QWidget* window = pq::Window(plat::kWinDiagnostics);
  ASSERT_TRUE(QTest::qWaitFor([window] { return window->isVisible(); }, 2000));
  window->repaint();
  const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRect all(0, 0, shot.width(), shot.height());
  // Text aside, the window is the panel grey of the palette.
  const int panel = CountColour(shot, all, LogicalColour(122));
  EXPECT_GT(panel, shot.width() * shot.height() * 3 / 4);
  EXPECT_GT(shot.width() * shot.height() - panel, 100) << "the text";
}

// The Altitude window opens where the settings keep it and keeps the place
// the operator moves it to; the Track Plotter rests in the lower right corner
// of the main client.
TEST_F(PlayedConsole, AltitudeAndTrackPlotterWindowsTakeTheirPlaces) {
  StartFile(100, "DisplayType=3\nRealtimePlayback=0\nPlaybackDelay=0\nAltitudeWindow=1\nAltitudeWindowX=300\n"
                 "AltitudeWindowY=120\nTrackPlotterWindow=1\n");
  QWidget* client = pq::MainClient();
  QWidget* altitude = pq::Window(plat::kWinAltitude);
  ASSERT_TRUE(QTest::qWaitFor([altitude] { return altitude->isVisible(); }, 2000));
  EXPECT_EQ(client->mapFromGlobal(altitude->pos()), QPoint(300, 120));
  altitude->move(client->mapToGlobal(QPoint(50, 80)));
  ASSERT_TRUE(QTest::qWaitFor([] { return g_settings.AltitudeWindowX == 50; }, 2000));
  EXPECT_EQ(g_settings.AltitudeWindowY, 80);
  Action(590)->trigger();
  ASSERT_FALSE(altitude->isVisible());
  Action(590)->trigger();
  ASSERT_TRUE(altitude->isVisible());
  EXPECT_EQ(client->mapFromGlobal(altitude->pos()), QPoint(50, 80));

  QWidget* plotter = pq::Window(plat::kWinTrackPlotter);
  ASSERT_TRUE(QTest::qWaitFor([plotter] { return plotter->isVisible(); }, 2000));
  const QRect frame = plotter->frameGeometry();
  EXPECT_EQ(QPoint(frame.right() + 1, frame.bottom() + 1),
            client->mapToGlobal(QPoint(client->width(), client->height())));
}

TEST_F(PlayedConsole, DiagnosticsWindowShowsNaBeforeThePingAndValuesAfter) {
  WriteSurvey("played.K41", 12.0, 200);
  StartHead("DiagnosticsWindow=1\n");  // no head to answer: no ping yet
  QWidget* window = pq::Window(plat::kWinDiagnostics);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([window] { return window->isVisible(); }, 2000));
  {
    CycleLock lock;
    EXPECT_STREQ(g_diagnostics.rows[kDiagHeader], "n/a");
  }
  const QImage before = window->grab().toImage();
  const QRect header = DiagnosticsRow(window, kDiagHeader), blank = DiagnosticsRow(window, 8);
  ASSERT_EQ(before.width(), window->width());
  // The header row carries ink: its label and the "n/a".
  EXPECT_GT(header.width() * header.height() - CountColour(before, header, before.pixel(1, 1)), 20);
  EXPECT_EQ(CountColour(before, blank, before.pixel(1, 1)), blank.width() * blank.height());

  // Entering File mode asks for the file to play.
  pq::PresetFileDialogAnswer(Path("played.K41").c_str());
  Action(kCmdFile)->trigger();
  ASSERT_EQ(g_settings.RunMode, 1);
  ASSERT_EQ(g_player.fileOpen, 1);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 3; }, 10000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  {
    CycleLock lock;
    EXPECT_STRNE(g_diagnostics.rows[kDiagHeader], "n/a");
  }
  QTest::qWait(50);
  const QImage after = window->grab().toImage();
  EXPECT_NE(before.copy(header), after.copy(header)) << "the header row shows the played record's header";
  EXPECT_EQ(before.copy(blank), after.copy(blank));
  EXPECT_GT(g_diagnostics.paintStartTicks, 0) << "the painter brackets its work";
}

TEST_F(PlayedConsole, SidescanWindowShowsThePlayedPictureAndTakesItsClicks) {
  StartFile(400);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_player.recordsProcessed >= 2; }, 10000));
  Action(621)->trigger();
  QWidget* window = pq::Window(plat::kWinSidescan);
  ASSERT_TRUE(window->isVisible());
  ASSERT_EQ(WaterfallShown(kSidescanWaterfall), 1);
  const int from = g_player.recordsProcessed;
  ASSERT_TRUE(QTest::qWaitFor([from] { return g_player.recordsProcessed >= from + 30; }, 20000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  QTest::qWait(50);
  const QImage shot = window->grab().toImage();
  const QRect all(0, 0, std::min(shot.width(), 290), std::min(shot.height(), 190));
  const int plain = CountColour(shot, all, 0xFF000000u) +
                    (LogicalColour(125) != 0xFF000000u ? CountColour(shot, all, LogicalColour(125)) : 0);
  EXPECT_GT(all.width() * all.height() - plain, 1000) << "echoes scrolled into the window";

  // Clicks turn the fan symbols' angle in steps of 5 degrees.
  const float angle = g_sidescanAngleDeg;
  ASSERT_LE(angle, 70.0f);
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
  EXPECT_FLOAT_EQ(g_sidescanAngleDeg, angle + 5.0f);
  QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
  EXPECT_FLOAT_EQ(g_sidescanAngleDeg, angle);
}

TEST_F(PlayedConsole, WaterfallWindowFollowsItsSizeMinimumAndCloseBox) {
  StartFile(400);
  Action(622)->trigger();
  QWidget* window = pq::Window(plat::kWinEchoSounder);
  ASSERT_TRUE(window->isVisible());
  window->resize(400, 250);
  ASSERT_TRUE(QTest::qWaitFor([] { return g_waterfalls[kEchoSounderWaterfall].clientWidth == 400; }, 2000));
  EXPECT_EQ(g_waterfalls[kEchoSounderWaterfall].clientHeight, 250);
  // Below the minimum the window goes back to 30 in that direction.
  window->resize(10, 100);
  EXPECT_TRUE(QTest::qWaitFor([window] { return window->width() == 30; }, 2000));
  EXPECT_EQ(g_waterfalls[kEchoSounderWaterfall].clientWidth, 30);
  // Minimised, the history stops; restored, it goes on.
  window->setWindowState(Qt::WindowMinimized);
  EXPECT_EQ(g_waterfalls[kEchoSounderWaterfall].minimised, 1);
  window->setWindowState(Qt::WindowNoState);
  EXPECT_EQ(g_waterfalls[kEchoSounderWaterfall].minimised, 0);
  // The close box hides it the way the menu item does.
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(WaterfallShown(kEchoSounderWaterfall), 0);
  EXPECT_FALSE(Action(622)->isChecked());
}

TEST_F(PlayedConsole, TrackPlotterShowsThePlayedTrackZoomsAndClosesLikeItsMenuItem) {
  StartFile(400);
  Action(kCmdTrackPlotter)->trigger();
  QWidget* window = pq::Window(plat::kWinTrackPlotter);
  ASSERT_TRUE(window->isVisible());
  EXPECT_EQ(window->width(), kTrackPlotWidth);
  EXPECT_EQ(window->height(), kTrackPlotHeight);
  EXPECT_TRUE(Action(kCmdTrackPlotter)->isChecked());
  // One click in: 1 pixel per metre; the survey runs north at 2 m/s, 0.2 m a ping.
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
  EXPECT_EQ(g_settings.TrackPlotterZoom, 6);
  const int from = g_player.recordsProcessed;
  ASSERT_TRUE(QTest::qWaitFor([from] { return g_player.recordsProcessed >= from + 150; }, 20000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  QTest::qWait(50);
  const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  if (const char* save = std::getenv("ORVALE_TRACK_SHOT")) shot.save(save);
  const QRect all(0, 0, kTrackPlotWidth, kTrackPlotHeight);
  EXPECT_EQ(CountColour(shot, all, 0xFF000000u | g_trackPlot.colours[kTrackMarkerColour]), 49);
  EXPECT_GT(CountColour(shot, all, 0xFF000000u | g_trackPlot.colours[kTrackLineColour]), 3 * 20)
      << "the played fixes drew a track";
  EXPECT_GT(CountColour(shot, all, 0xFF000000u | g_trackPlot.colours[kTrackLabelColour]), 40) << "the label";
  QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
  EXPECT_EQ(g_settings.TrackPlotterZoom, 5);
  // The close box hides it and clears its setting, as the menu item does.
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(g_settings.TrackPlotterWindow, 0);
  EXPECT_FALSE(Action(kCmdTrackPlotter)->isChecked());
}

TEST_F(PlayedConsole, AltitudeWindowShowsTheAltitudeOfThePlayedPings) {
  StartFile(400, "RealtimePlayback=0\nPlaybackDelay=0\nAltitudeWindow=1\nProfilePointDetection=1\nDisplayType=3\n");
  QWidget* window = pq::Window(plat::kWinAltitude);
  ASSERT_TRUE(QTest::qWaitFor([window] { return window->isVisible(); }, 2000));
  // The seabed of the survey is 12 m down: the text appears once the
  // altitude has settled, in colour 123 on 125.
  ASSERT_TRUE(QTest::qWaitFor([] { return g_detect.altitudeM > 0.0; }, 10000));
  QTest::keyClick(pq::MainClient(), Qt::Key_H);
  QTest::qWait(300);  // the watch looks every 100 ms
  const QImage shot = window->grab().toImage();
  const QRect all(0, 0, shot.width(), shot.height());
  const int ground = CountColour(shot, all, LogicalColour(125));
  EXPECT_GT(ground, shot.width() * shot.height() / 2);
  EXPECT_GT(CountColour(shot, all, LogicalColour(123)), 100) << "the figures";
  char text[32];
  ASSERT_GT(AltitudeText(text, sizeof text, g_detect.altitudeM, 1, g_settings.Units), 0);
}

// ------------------------------------------------------------ the programs

class ProgramRun : public AppFixture {
 protected:
  void SetUp() override {
    App();
    AppFixture::SetUp();
  }
  // Runs a program in directory `dir`; returns its exit status.
  int Run(const char* program, const QStringList& args, const std::string& dir) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ORVALE_LOOPBACK_ONLY", "1");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QString::fromStdString(dir));
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
      p.kill();
      ADD_FAILURE() << program << " did not finish";
      return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  }
  std::string MakeDir(const std::string& name) {
    const std::string d = Path(name);
    std::filesystem::create_directories(d);
    // Each program runs in a directory of its own with the same settings.
    const std::string ini = WriteLoopbackIni("RunMode=0\nProfilePointDetection=1\nRealtimePlayback=0\nPlaybackDelay=0\n");
    std::filesystem::copy_file(ini, d + "/Orvale.INI", std::filesystem::copy_options::overwrite_existing);
    return d;
  }
};

using testutil::MaskK4PRunTimeFields;

TEST_F(ProgramRun, ConsoleConversionWritesWhatTheConverterWrites) {
  const std::string qt = MakeDir("qt"), batch = MakeDir("batch");
  WriteSurvey("qt/survey.K41", 15.0, 16);
  std::filesystem::copy_file(qt + "/survey.K41", batch + "/survey.K41");
  ASSERT_EQ(Run(ORVALE_BIN, {"survey", "/x", "--save-screen", "screen.bmp"}, qt), 0);
  ASSERT_EQ(Run(ORVALE_CONVERT_BIN, {"survey", "/x", "--quiet"}, batch), 0);

  const auto k4pQt = ReadAll(qt + "/survey.K4P"), k4pBatch = ReadAll(batch + "/survey.K4P");
  ASSERT_GT(k4pBatch.size(), 256u * 16);
  EXPECT_EQ(k4pQt.size(), k4pBatch.size());
  EXPECT_TRUE(MaskK4PRunTimeFields(k4pQt) == MaskK4PRunTimeFields(k4pBatch));
  const auto xtfQt = ReadAll(qt + "/survey_sss.XTF"), xtfBatch = ReadAll(batch + "/survey_sss.XTF");
  ASSERT_GT(xtfBatch.size(), 1024u);
  EXPECT_TRUE(xtfQt == xtfBatch);

  // The main window as it stood at the end: a bitmap of the whole window,
  // with the last ping's echoes in the picture.
  QImage screen;
  ASSERT_TRUE(screen.load(QString::fromStdString(qt + "/screen.bmp"), "BMP"));
  EXPECT_EQ(screen.width(), pq::kMainWidth);
  EXPECT_EQ(screen.height(), pq::kMainHeight);
  const auto bmp = ReadAll(qt + "/screen.bmp");
  ASSERT_GE(bmp.size(), 2u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  int lit = 0;
  for (int y = 100; y < screen.height() - 200; y += 2)
    for (int x = 0; x < screen.width(); x += 2)
      if (qGray(screen.pixel(x, y)) > 40) ++lit;
  EXPECT_GT(lit, 1000);
}

TEST_F(ProgramRun, UnusableCommandLineFileClosesSilently) {
  const std::string d = MakeDir("bad");
  WriteText(d + "/notsonar.K41", "this is not a recording");
  struct Case {
    const char* legend;
    QStringList args;
  } cases[] = {
      {"missing file", {"absent", "/x"}},
      {"wrong extension", {"survey.K4P", "/p"}},
      {"wrong magic", {"notsonar", "/x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(Run(ORVALE_BIN, c.args, d), 0);
    EXPECT_FALSE(std::filesystem::exists(d + "/absent.K4P"));
    EXPECT_FALSE(std::filesystem::exists(d + "/notsonar_sss.XTF"));
  }
}

}  // namespace
