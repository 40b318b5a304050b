// The Qt console on top of the headless console functions. It owns the
// File-mode loop timer, the options of the run and the small state of the
// window (last mouse position, what the run's end still has to write).
//
// The loop: in Head mode nothing runs here between events (the acquisition
// thread feeds the pings); in File mode a single-shot timer takes one
// playback step, then waits the pacing delay through the event loop, so the
// window stays responsive and a zero delay still lets every waiting event
// through. While hold is set the timer only looks again every 50 ms; while a
// dialog or message box is open it waits, as playback did not advance under
// a modal dialog. Commands and keys restart the loop, since they are what
// opens a file, switches the mode or releases hold.
//
// Index: [SECTION] Menu, Loop, Input, Panels, Start and stop.
#include "app/console_app.h"

#include <QApplication>
#include <QCursor>
#include <QFont>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "console/acquisition.h"
#include "console/command_line.h"
#include "console/cycle_lock.h"
#include "console/diagnostics.h"
#include "console/external_control.h"
#include "console/playback.h"
#include "console/run_mode.h"
#include "files/sonar_file.h"
#include "head/switch_command.h"
#include "imaging/background.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/scan_convert.h"
#include "imaging/track_plot.h"
#include "imaging/waterfall.h"
#include "nav/com_ports.h"
#include "nav/nav_state.h"
#include "platform/frame_handoff.h"
#include "platform/platform.h"
#include "platform/qt/artwork.h"
#include "platform/qt/qt_backend.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"
#include "ui/commands.h"
#include "ui/depth_gate.h"
#include "ui/dials.h"
#include "ui/keys.h"
#include "ui/readout.h"
#include "video/capture.h"
#include "video/screen_capture.h"

ConsoleAppState g_app;

namespace {

namespace pq = plat::qt;

ConsoleAppOptions s_options;
// The measuring mark: set and cleared by clicks on the picture.
struct MeasuringMark {
  int set = 0;
  int x = 0, y = 0;
} s_mark;
// Background-reference button held down, -1 when none.
int s_pressedButton = -1;
int s_overGate = 0;  // the cursor rests on a depth gate line (sizing cursor shown)
QTimer* s_loop = nullptr;
QTimer* s_dialRepeat = nullptr;  // the held side-panel press
// External control: the notifier on the output socket, re-made whenever a
// run-mode switch reopened the socket under another descriptor.
QSocketNotifier* s_control = nullptr;
int s_controlFd = -1;
// Looks after what no event announces: a reopened output socket and a new
// altitude text.
QTimer* s_watch = nullptr;
constexpr int kWatchMs = 100;
char s_altitudeText[32] = "";
uint64_t s_navPublished = 0;  // navigation publishes the panel last showed

// ============================================================ [SECTION] Menu

void BuildMenu() {
  std::vector<pq::MenuTitle> titles;
  for (const MenuPopup& p : kMenuPopups) titles.push_back({p.title, p.directCommand});
  int count = 0;
  const CommandRow* rows = CommandTable(&count);
  std::vector<pq::MenuEntry> items;
  for (int i = 0; i < count; ++i) {
    const CommandRow& r = rows[i];
    if (!r.text || r.popup < 0) continue;
    // The direct entries of the bar are their own command.
    if (kMenuPopups[r.popup].directCommand == r.id) continue;
    items.push_back({r.id, r.text, r.popup, r.submenu, r.group, r.check != kNoCheck});
  }
  pq::BuildMenuBar(titles.data(), static_cast<int>(titles.size()), items.data(), static_cast<int>(items.size()));
}

// ============================================================ [SECTION] Loop

// `fromScreen`: what the screen shows over the main window, the windows on
// top of it included (scripts); otherwise the window itself, painted now from
// the newest published picture, which works minimised and without a screen.
void SaveMainWindow(const std::string& path, const char* format, int fromScreen) {
  QMainWindow* main = pq::MainWindow();
  if (!main || path.empty()) return;
  QImage shot;
  if (fromScreen && QGuiApplication::platformName() == "xcb" && main->screen()) {
    // The main window and the secondary windows open over or beside it.
    QRect r = main->frameGeometry();
    for (int w = plat::kWinMain + 1; w < plat::kWinCount; ++w)
      if (QWidget* window = pq::Window(w); window && window->isVisible()) r |= window->frameGeometry();
    r &= main->screen()->geometry();
    shot = main->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
  }
  if (shot.isNull()) shot = main->grab().toImage();
  shot = shot.convertToFormat(QImage::Format_RGB888);
  if (!shot.save(QString::fromStdString(path), format)) std::fprintf(stderr, "orvale: cannot write %s\n", path.c_str());
  else g_app.screenshotSaved = 1;
}

void Tick() {
  if (!g_app.running || !s_loop) return;
  // No step under a modal dialog or box; look again shortly.
  if (pq::ModalOpen() || QApplication::activeModalWidget()) {
    s_loop->start(kHoldSleepMs);
    return;
  }
  if (g_settings.RunMode != 1) return;
  if (g_player.hold) {
    s_loop->start(kHoldSleepMs);
    return;
  }
  if (!g_player.fileOpen) return;
  PlaybackStep();
  g_app.steps++;
  if (g_player.quitRequested) {
    // The end of a command-line run: the picture of the last ping is still
    // the published frame, so the saved screen shows it.
    if (!s_options.saveScreen.empty()) {
      if (SaveScreenBitmap(s_options.saveScreen.c_str())) g_app.screenSaved = 1;
      else std::fprintf(stderr, "orvale: cannot write %s\n", s_options.saveScreen.c_str());
    }
    plat::RequestClose();
    return;
  }
  if (!s_options.screenshot.empty() && !g_app.screenshotSaved && g_player.recordsProcessed >= s_options.screenshotRecords) {
    QApplication::processEvents();  // the queued repaint of the last blit
    SaveMainWindow(s_options.screenshot, "PNG", 1);
    plat::RequestClose();
    return;
  }
  s_loop->start(PacingDelayMs());
}

// ============================================================ [SECTION] Input

void ArmExternalControl(int force = 0);

void OnControlDatagrams() {
  PollExternalControl();
  // A datagram can switch the run mode (new socket), open a file or change
  // what the panels show.
  ArmExternalControl(1);
  UpdatePlaybackLoop();
  if (QWidget* c = pq::MainClient()) c->update();
}

// Keeps the notifier on the socket open now. After a command, a key or a
// datagram (`force`) it is made anew even for the same descriptor: a
// run-mode switch closes the socket and the new one may get the old number.
void ArmExternalControl(int force) {
  const int fd = g_outputs.socket;
  if (!force && fd == s_controlFd && (s_control || fd < 0)) return;
  if (s_control) {
    // This may run inside the old notifier's own signal.
    s_control->setEnabled(false);
    s_control->deleteLater();
  }
  s_control = nullptr;
  s_controlFd = fd;
  if (fd < 0 || !g_app.running) return;
  s_control = new QSocketNotifier(fd, QSocketNotifier::Read);
  QObject::connect(s_control, &QSocketNotifier::activated, s_control, [] { OnControlDatagrams(); });
}

void OnCommand(int id) {
  RunCommand(id);
  ArmExternalControl(1);
  UpdatePlaybackLoop();
}

int KeyCodeOf(int qtKey) {
  switch (qtKey) {
    case Qt::Key_F1: return kKeyF1;
    case Qt::Key_F2: return kKeyF2;
    case Qt::Key_F3: return kKeyF3;
    case Qt::Key_F4: return kKeyF4;
    case Qt::Key_F5: return kKeyF5;
    case Qt::Key_F6: return kKeyF6;
    case Qt::Key_Up: return kKeyUp;
    case Qt::Key_Down: return kKeyDown;
    case Qt::Key_Left: return kKeyLeft;
    case Qt::Key_Right: return kKeyRight;
    default: return 0;
  }
}

// The character a key stands for: letters, digits, '.', Enter, Escape, and
// the control letters of the recording keys.
int CharOf(const QKeyEvent* e) {
  const int key = e->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) return '\r';
  if (key == Qt::Key_Escape) return 27;
  if (e->modifiers() & Qt::ControlModifier) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key - Qt::Key_A + 1;
    return 0;
  }
  const QString t = e->text();
  if (t.size() == 1 && t[0].unicode() >= 32 && t[0].unicode() < 127) return t[0].unicode();
  return 0;
}

void OnKeyPress(QKeyEvent* e) {
  if (const int code = KeyCodeOf(e->key())) {
    int dx = 0, dy = 0;
    KeyDown(code, g_app.mouseX, g_app.mouseY, &dx, &dy);
    if (dx || dy) QCursor::setPos(QCursor::pos() + QPoint(dx, dy));
  } else if (const int ch = CharOf(e)) {
    CharKey(ch);
  }
  ArmExternalControl(1);
  UpdatePlaybackLoop();
  if (QWidget* c = pq::MainClient()) c->update();
}

void OnKeyRelease(QKeyEvent* e) {
  // Held keys repeat as release-press pairs; only the real release rests the step.
  if (!e->isAutoRepeat()) KeyUp();
}

constexpr int kHoldX = 668, kHoldY = 662;
constexpr int kWaterfallScaleTop = 181, kWaterfallScaleStep = 80;
constexpr int kWaterfallScaleX0 = 954, kWaterfallScaleX1 = 960;

// The background-reference buttons, shown in Sector mode with removal on.
struct ReferenceButton {
  const char* text;
  int row;
  int (*act)();
};
const ReferenceButton kReferenceButtons[] = {
    {"Build Reference", 624, BuildReference},
    {"Store Reference", 648, StoreReference},
    {"Clear Image", 672, ClearBackgroundImage},
};
constexpr int kReferenceX = 225, kReferenceW = 120, kReferenceH = 22;

int ReferenceButtonsShown() { return g_background.enabled && g_scan.geom.mode == kModeSector; }

int ReferenceButtonAt(const QPoint& at) {
  if (!ReferenceButtonsShown()) return -1;
  for (int i = 0; i < 3; ++i)
    if (QRect(kReferenceX, kReferenceButtons[i].row, kReferenceW, kReferenceH).contains(at)) return i;
  return -1;
}

// A press on the picture sets the measuring mark there, or clears it.
void ToggleMeasuringMark(const QPoint& at) {
  const QRect picture(pq::kPictureX, pq::kPictureY, kImageWidth, kImageHeight);
  if (!picture.contains(at) || !MeasuringAllowed()) return;
  s_mark.set = !s_mark.set;
  s_mark.x = at.x();
  s_mark.y = at.y();
}

void OnMouse(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  g_app.mouseX = at.x();
  g_app.mouseY = at.y();
  if (e->type() == QEvent::MouseButtonPress && e->button() == Qt::LeftButton) {
    const int button = ReferenceButtonAt(at);
    if (QRect(kHoldX + 1, kHoldY + 1, 15, 15).contains(at)) {
      CharKey('H');
      UpdatePlaybackLoop();
    } else if (button >= 0) {
      // Drawn pressed at once; the reference buttons rest while held.
      s_pressedButton = button;
      CycleLock lock;
      if (!g_player.hold) kReferenceButtons[button].act();
    } else if (DialPress(at.x(), at.y())) {
      if (s_dialRepeat) s_dialRepeat->start(kDialFirstRepeatMs);
    } else {
      CycleLock lock;
      // A press on a depth gate line takes the line; elsewhere on the picture it marks.
      if (!DepthGateDragBegin(at.x(), at.y())) ToggleMeasuringMark(at);
    }
  }
  if (e->type() == QEvent::MouseButtonRelease && e->button() == Qt::LeftButton) {
    DialRelease();
    if (s_dialRepeat) s_dialRepeat->stop();
    s_pressedButton = -1;
    CycleLock lock;
    DepthGateDragEnd();
  }
  if (e->type() == QEvent::MouseMove) {
    CycleLock lock;
    if (g_depthGate.line != kGateNone) {
      DepthGateDragTo(at.x(), at.y());
    } else {
      // Over a line the sizing cursor says it can be dragged.
      const int over = DepthGateAt(at.x(), at.y()) != kGateNone;
      if (over != s_overGate) plat::SetCursor(over ? plat::kCursorSizeNS : plat::kCursorArrow);
      s_overGate = over;
    }
  }
  if (e->type() != QEvent::MouseMove || s_mark.set) {
    if (QWidget* c = pq::MainClient()) c->update();
    return;
  }
  // The readout follows the cursor.
  if (QWidget* c = pq::MainClient()) c->update(QRect(840, 670, 190, 50));
}

// A message box can open from inside a command or key that holds the
// console lock (a refused entry); the head must not wait for the operator to
// read it, so the lock is given up for the wait as a dialog's is.
int OnBeginModal() { return SuspendCycleLock(); }
void OnEndModal(int levels) { ResumeCycleLock(levels); }

// The speed figures of a run, printed when it closes: what the acquisition
// thread received and the cycle processed, and per window the pictures
// published and the paints that showed them. A window that was never shown
// paints nothing.
void PrintStats() {
  const double seconds = g_app.startTicks ? plat::CounterMs(g_app.startTicks, plat::CounterNow()) / 1000.0 : 0.0;
  const double per = seconds > 0.0 ? 1.0 / seconds : 0.0;
  const long received = g_acquisition.pingsHandedOver.load(), processed = g_acquisition.pingsProcessed.load();
  std::printf("run seconds: %.2f\n", seconds);
  std::printf("pings received: %ld (%.1f/s)\n", received, received * per);
  std::printf("pings processed: %ld (%.1f/s)\n", processed, processed * per);
  std::printf("playback records processed: %ld\n", static_cast<long>(g_player.recordsProcessed));
  std::printf("cycle ms mean: %.2f, longest: %.2f\n", processed > 0 ? g_acquisition.cycleMsTotal.load() / processed : 0.0,
              g_acquisition.cycleMsLongest.load());
  static const char* const kNames[plat::kWinCount] = {"Main",     "Diagnostics", "Playback",     "Video Playback", "Track Plotter",
                                                      "Altitude", "Sidescan",    "Echo Sounder", "Intensity"};
  for (int w = 0; w < plat::kWinCount; ++w) {
    const long painted = pq::PaintCount(w);
    const long published = static_cast<long>(plat::FramesPublished(w));
    if (!painted && !published) continue;
    std::printf("window %s: frames published %ld (%.1f/s), painted %ld (%.1f/s)\n", kNames[w], published,
                published * per, painted, painted * per);
  }
  std::fflush(stdout);
}

int OnCloseRequested() {
  if (s_loop) s_loop->stop();
  if (s_watch) s_watch->stop();
  // The socket closes with the console.
  if (s_control) {
    s_control->setEnabled(false);
    s_control->deleteLater();
  }
  s_control = nullptr;
  s_controlFd = -1;
  const int stats = g_app.running && s_options.stats;
  if (g_app.running) ShutdownConsole();
  // Counted once the shutdown has stopped the acquisition thread: every ping
  // the head served by then has been received or lost.
  if (stats) PrintStats();
  g_app.running = 0;
  g_app.closed = 1;
  if (s_options.quitOnClose) QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  return 1;
}

void OnWindowClosed(int window) {
  // A close box does what the menu item that shows the window would.
  switch (window) {
    case plat::kWinDiagnostics:
      if (g_settings.DiagnosticsWindow) OnCommand(600);
      break;
    case plat::kWinAltitude:
      if (g_settings.AltitudeWindow) OnCommand(590);
      break;
    case plat::kWinTrackPlotter:
      if (g_settings.TrackPlotterWindow) OnCommand(620);
      break;
    case plat::kWinSidescan:
      if (g_commands.sidescanShown) OnCommand(621);
      break;
    case plat::kWinEchoSounder:
      if (g_commands.echoSounderShown) OnCommand(622);
      break;
    case plat::kWinIntensity:
      if (g_commands.intensityShown) OnCommand(623);
      break;
    case plat::kWinVideoPlayback: {
      CycleLock lock;
      VideoPlaybackClosed();
      break;
    }
    case plat::kWinVideoCapture: {
      // Without its window the camera is disconnected; "Open Video Window"
      // connects it again.
      CycleLock lock;
      CloseVideoWindow();
      UpdateVideoMenus();
      break;
    }
    default: break;
  }
}

// ============================================================ [SECTION] Panels

QColor Logical(int index) { return QColor::fromRgb(0xFF000000u | g_palette.logicalPalette[index & 255]); }

QFont Font(const char* family, int pixels, int bold = 0) {
  QFont f(family);
  f.setPixelSize(pixels);
  f.setBold(bold != 0);
  return f;
}

// The number part of a range text ("30 M" -> "30").
QString NumberPart(const char* text) {
  const QString t = QString::fromUtf8(text ? text : "");
  const int space = t.indexOf(' ');
  return space > 0 ? t.left(space) : t;
}

struct DialView {
  int dial;
  const char* caption;
  QString text;
  const char* unit;
  QColor textColour;
};

void DrawDial(QPainter& p, int column, const DialView& v) {
  const int r = kDialRadius, row = kDialRow;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  // Bezel with the 300-degree scale.
  p.setPen(QPen(Logical(122), 1));
  p.setBrush(QColor(24, 24, 24));
  p.drawEllipse(QPoint(column, row), r, r);
  for (int i = 0; i <= 10; ++i) {
    const double theta = (30.0 * i - 150.0) * M_PI / 180.0 - M_PI / 2.0;
    const double c = std::cos(theta), s = std::sin(theta);
    p.drawLine(QPointF(column + (r - 5) * c, row + (r - 5) * s), QPointF(column + (r - 1) * c, row + (r - 1) * s));
  }
  const int disc = 4 * r / 7;
  p.setPen(QPen(Logical(123), 1));
  p.setBrush(Logical(125));
  p.drawEllipse(QPoint(column, row), disc, disc);
  // Needle from the inner quarter to the tip the presses are judged against.
  int tx = 0, ty = 0;
  DialNeedleTip(v.dial, &tx, &ty);
  const double theta = std::atan2(ty - row, tx - column);
  const double inner = r / 4 + 1;
  p.setPen(QPen(Logical(120), 1.5));
  p.drawLine(QPointF(column + inner * std::cos(theta), row + inner * std::sin(theta)), QPointF(tx, ty));
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(v.textColour);
  p.setFont(Font(plat::qt::kSansFont, 11, 1));
  p.drawText(QRect(column - disc, row - 7, 2 * disc, 14), Qt::AlignCenter, v.text);
  p.setPen(Logical(123));
  p.setFont(Font(plat::qt::kSansFont, 9));
  p.drawText(QRect(column - r, row + r - 12, 2 * r, 12), Qt::AlignHCenter | Qt::AlignTop, v.unit);
  p.setFont(Font(plat::qt::kSansFont, 11));
  p.drawText(QRect(column - 40, row - r - 18, 80, 16), Qt::AlignCenter, v.caption);
  p.restore();
}

const char* RangeUnit(int units) { return units == 1 ? "FT" : units == 2 ? "YDS" : "M"; }

void DrawDials(QPainter& p) {
  const Settings& s = g_settings;
  const int head = s.RunMode == 0;
  const QColor headText = head ? QColor(255, 255, 255) : Logical(122);
  const QString range =
      NumberPart(HalfRangeActive() ? HalfRangeText(s.Units) : RangeText(s.Range, s.Units));
  DrawDial(p, kDialColumns[kDialRange], {kDialRange, "Range:", range, RangeUnit(s.Units), headText});
  DrawDial(p, kDialColumns[kDialGain], {kDialGain, "Gain:", QString::number(s.Gain), "dB", headText});
  DrawDial(p, kDialColumns[kDialDisplayGain],
           {kDialDisplayGain, "Display:", QString::number(s.DisplayGain), "%", QColor(255, 255, 255)});
  if (const char* mix = PanelMixLabel()) {
    // Profile mode has no persistence: its place names how echoes and points mix.
    p.setPen(QColor(255, 255, 255));
    p.setFont(Font(plat::qt::kSansFont, 11, 1));
    p.drawText(QRect(kDialColumns[kDialPersistence] - 40, kDialRow - 8, 80, 16), Qt::AlignCenter, mix);
  } else {
    DrawDial(p, kDialColumns[kDialPersistence],
             {kDialPersistence, "Persistence:", QString::number(s.Persistence), "sec", QColor(255, 255, 255)});
  }
}

// The entry box over the dial of the field being typed.
void DrawEntryBox(QPainter& p) {
  if (g_keys.field == kEntryNone) return;
  static const char* const kNames[] = {"", "Range", "Gain", "Display", "Persistence"};
  const int dial = g_keys.field == kEntryRange ? kDialRange
                   : g_keys.field == kEntryGain ? kDialGain
                   : g_keys.field == kEntryDisplayGain ? kDialDisplayGain
                                                        : kDialPersistence;
  const QRect box(kDialColumns[dial] - 45, kDialRow + kDialRadius + 6, 90, 22);
  p.fillRect(box, QColor(230, 230, 230));
  p.setPen(QColor(20, 20, 20));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  p.setFont(Font(plat::qt::kSansFont, 12));
  p.drawText(box.adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
             QString("%1: %2_").arg(kNames[g_keys.field]).arg(g_keys.text));
}

// The cursor readout: labels always, values while the cursor is over the picture.
void DrawReadout(QPainter& p) {
  const CursorReadout r = ComputeCursorReadout(g_app.mouseX, g_app.mouseY);
  p.setFont(Font(plat::qt::kSansFont, 12));
  p.setPen(Logical(123));
  p.drawText(QPoint(kReadoutLabelX, kReadoutRow1 + 12), r.label1);
  p.drawText(QPoint(kReadoutLabelX, kReadoutRow2 + 12), r.label2);
  if (!r.shown) return;
  p.drawText(QPoint(kReadoutValueX, kReadoutRow1 + 12), r.value1);
  p.drawText(QPoint(kReadoutValueX, kReadoutRow2 + 12), r.value2);
}

void DrawNavigation(QPainter& p) {
  const NavReadout r = ComputeNavReadout();
  p.setFont(Font(plat::qt::kSansFont, 12));
  p.setPen(Logical(123));
  const int rows[] = {kNavRowLat, kNavRowLng, kNavRowSpd};
  const char* const names[] = {"LAT:", "LNG:", "SPD:"};
  for (int i = 0; i < 3; ++i) p.drawText(QPoint(kNavLabelX, rows[i] + 12), names[i]);
  if (r.positionShown) {
    p.drawText(QPoint(kNavValueX, kNavRowLat + 12), QString::fromLatin1(r.latitude));
    p.drawText(QPoint(kNavValueX, kNavRowLng + 12), QString::fromLatin1(r.longitude));
  }
  if (!r.speedShown) return;
  p.drawText(QPoint(kNavValueX, kNavRowSpd + 12), QString::fromLatin1(r.speed));
  // The course over ground as an arrow, north up.
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(Logical(122), 1));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPoint(kCourseArrowX, kCourseArrowY), kCourseArrowRadius + 2, kCourseArrowRadius + 2);
  p.setPen(QPen(Logical(123), 1.5));
  const int* a = r.arrow;
  p.drawLine(a[2], a[3], a[0], a[1]);
  p.drawLine(a[4], a[5], a[0], a[1]);
  p.drawLine(a[6], a[7], a[0], a[1]);
  p.restore();
}

void DrawStatus(QPainter& p) {
  p.setFont(Font(plat::qt::kSansFont, 12));
  p.setPen(Logical(123));
  QString status;
  if (g_player.hold) status = "HOLD: display frozen";
  else if (g_settings.RunMode == 1)
    status = g_player.fileOpen ? QString("Playback: %1 records").arg(g_player.recordsRead) : QString("Playback: no file");
  else status = "Head";
  p.drawText(QPoint(10, 698 + 12), status);
  plat::qt::DrawHoldButton(p, kHoldX, kHoldY, g_player.hold);
  p.setPen(g_player.hold ? QColor(230, 60, 60) : Logical(123));
  p.drawText(QPoint(kHoldX + 20, kHoldY + 13), "HOLD");
}

// The Playback window: speed slider and position bar with their markers,
// black lines on the panel grey, laid out from the client's left L, right Rt
// and top T (here 0, width, 0).
void PaintPlayback(QPainter& p, int width) {
  const int L = 0, Rt = width, T = 0;
  p.fillRect(QRect(0, 0, width, 200), Logical(122));
  p.setPen(Qt::black);
  p.setFont(Font(plat::qt::kSansFont, 11));
  auto centred = [&](int x, int y, const QString& text) {
    p.drawText(QRect(x - 60, y, 120, 14), Qt::AlignHCenter | Qt::AlignTop, text);
  };
  // The mode's name stands on its own patch of panel over the slider, its
  // blanks hiding the line where a marker would be.
  auto opaqueCentred = [&](int x, int y, const QString& text) {
    const QFontMetrics m = p.fontMetrics();
    const int w = m.horizontalAdvance(text);
    const QRect box(x - w / 2, y, w, m.height());
    p.fillRect(box, Logical(122));
    p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, text);
  };
  auto scale = [&](int y) {
    p.drawLine(L + 15, y, Rt - 15, y);
    p.drawLine(L + 15, y - 4, L + 15, y + 5);
    p.drawLine(Rt - 15, y - 4, Rt - 15, y + 5);
  };
  // Speed slider.
  centred(L + 15, T + 7, "Slow");
  centred(Rt - 15, T + 7, "Fast");
  scale(T + 25);
  if (g_player.fastPlayback) {
    opaqueCentred((L + Rt) / 2, T + 18, "  Fast Playback  ");
  } else if (g_settings.RealtimePlayback) {
    opaqueCentred((L + Rt) / 2, T + 18, "  Realtime Speed  ");
  } else {
    int x = g_settings.PlaybackDelayX;
    if (x < L + 15) x = L + 15;
    if (x > Rt - 16) x = Rt - 16;
    p.drawLine(x, T + 20, x, T + 31);
    p.drawLine(x + 1, T + 20, x + 1, T + 31);
  }
  // Position bar and marker.
  centred(L + 15, T + 47, "0");
  centred(Rt - 15, T + 47, "100");
  scale(T + 65);
  if (g_player.fileOpen) {
    const int x = PositionMarkerX(L, Rt);
    p.drawLine(x, T + 60, x, T + 71);
    p.drawLine(x + 1, T + 60, x + 1, T + 71);
  }
}

// The Diagnostics window: labels from 10 px, values one label column
// further, rows from 6 px down, each value on a cleared rectangle.
void PaintDiagnostics(QPainter& p, int width, int height) {
  BeginDiagnosticsPaint();
  // The console's palette: the panel grey, black text, the warning red.
  const QColor panel = Logical(122), text = Logical(125), warning = Logical(127);
  p.fillRect(QRect(0, 0, width, height), panel);
  const QFont font = Font(plat::qt::kSansFont, 11);
  p.setFont(font);
  const QFontMetrics m(font);
  int labelWidth = 0;
  for (const char* label : kDiagnosticsLabels) labelWidth = std::max(labelWidth, m.horizontalAdvance(label));
  const int line = m.height(), labelX = 10, valueX = labelX + labelWidth + 8;
  for (int r = 0; r < kDiagnosticsRows; ++r) {
    const int y = 6 + r * line;
    if (y > height) break;
    p.setPen(text);
    p.drawText(QRect(labelX, y, labelWidth + 4, line), Qt::AlignLeft | Qt::AlignVCenter, kDiagnosticsLabels[r]);
    const QRect value(valueX, y, width - valueX, line);
    p.fillRect(value, panel);
    const int warn = r == kDiagVelocity && g_diagnostics.velocityWarning;
    p.setPen(warn ? warning : text);
    p.drawText(value, Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(g_diagnostics.rows[r]));
  }
  EndDiagnosticsPaint();
}

// The Altitude window: the text centred in a large serif font.
void PaintAltitude(QPainter& p, int width, int height) {
  p.fillRect(QRect(0, 0, width, height), Logical(125));
  p.setPen(Logical(123));
  p.setFont(Font(plat::qt::kSerifFont, std::max(12, std::min(width / 4, height / 2)), 1));
  p.drawText(QRect(0, 0, width, height), Qt::AlignCenter, QString::fromLatin1(s_altitudeText));
}

int AltitudeTextNow(char* out, int size) {
  return AltitudeText(out, size, g_detect.altitudeM, g_settings.ProfilePointDetection, g_settings.Units);
}

// The Video Playback window: the played frame at the top left.
void PaintVideoPlayback(QPainter& p, int width, int height) {
  p.fillRect(QRect(0, 0, width, height), Qt::black);
  const int w = g_video.playedWidth, h = g_video.playedHeight;
  if (w <= 0 || h <= 0) return;
  QImage picture(w, h, QImage::Format_BGR888);
  const size_t stride = static_cast<size_t>(plat::CameraRowBytes(w));
  for (int y = 0; y < h; ++y)
    std::memcpy(picture.scanLine(y), g_shownVideoFrame + stride * (h - 1 - y), static_cast<size_t>(w) * 3);
  p.drawImage(QPoint(0, 0), picture);
}

int PaintWindow(int window, QPainter& p, int width, int height) {
  CycleLock lock;
  switch (window) {
    case plat::kWinVideoPlayback: PaintVideoPlayback(p, width, height); return 1;
    case plat::kWinPlayback: PaintPlayback(p, width); return 1;
    case plat::kWinDiagnostics: PaintDiagnostics(p, width, height); return 1;
    case plat::kWinAltitude:
      AltitudeTextNow(s_altitudeText, sizeof s_altitudeText);
      PaintAltitude(p, width, height);
      return 1;
    default: break;
  }
  const int kind = WaterfallOfWindow(window);
  if (kind < 0) return 0;
  // Until the first picture arrives the window shows the picture background.
  if (!plat::LatestFrame(window)) {
    p.fillRect(QRect(0, 0, width, height), Logical(125));
    return 1;
  }
  return 0;
}

int OnWindowResized(int window, int width, int height, int* restoreW, int* restoreH) {
  const int kind = WaterfallOfWindow(window);
  if (kind < 0) return 0;
  CycleLock lock;
  return ResizeWaterfall(kind, width, height, restoreW, restoreH);
}

void OnWindowMinimised(int window, int minimised) {
  const int kind = WaterfallOfWindow(window);
  if (kind < 0) return;
  CycleLock lock;
  SetWaterfallMinimised(kind, minimised);
}

void OnWindowMoved(int window, int x, int y) {
  if (window != plat::kWinAltitude) return;
  // Kept in the settings, so the window opens there next time.
  pq::SetWindowPlace(window, x, y);
  CycleLock lock;
  g_settings.AltitudeWindowX = x;
  g_settings.AltitudeWindowY = y;
}

void OnWindowMouse(int window, QMouseEvent* e, int width, int) {
  if (window == plat::kWinTrackPlotter) {
    // Left zooms in, right out; the zoom is a setting, so it is written back.
    CycleLock lock;
    if (e->button() == Qt::LeftButton) TrackPlotterClick(1);
    else if (e->button() == Qt::RightButton) TrackPlotterClick(0);
    if (g_settingsFile.path[0]) SaveSettings(g_settingsFile.path);
    return;
  }
  if (window == plat::kWinSidescan) {
    // Left widens the fan symbols' angle by 5 degrees, right narrows it.
    CycleLock lock;
    if (e->button() == Qt::LeftButton) SidescanLeftClick();
    else if (e->button() == Qt::RightButton) SidescanRightClick();
    return;
  }
  if (window != plat::kWinPlayback || e->button() != Qt::LeftButton) return;
  const QPoint at = e->position().toPoint();
  {
    CycleLock lock;
    if (!SpeedSliderClick(at.x(), at.y(), 0, width, 0)) PositionBarClick(at.x(), at.y(), 0, width, 0);
  }
  if (QWidget* w = pq::Window(plat::kWinPlayback)) w->update();
  if (QWidget* c = pq::MainClient()) c->update();
}

void DrawReferenceButtons(QPainter& p) {
  if (g_background.building) {
    // The notice stands while the reference is being built.
    p.setFont(Font(plat::qt::kSansFont, 14));
    const QRect notice(508 - 160, 22, 320, 20);
    p.fillRect(notice, Logical(125));
    p.setPen(Logical(123));
    p.drawText(notice, Qt::AlignHCenter | Qt::AlignTop, "Building Background Reference....");
  }
  if (!ReferenceButtonsShown()) return;
  p.setFont(Font(plat::qt::kSansFont, 12));
  for (int i = 0; i < 3; ++i) {
    const QRect r(kReferenceX, kReferenceButtons[i].row, kReferenceW, kReferenceH);
    const int down = s_pressedButton == i;
    p.fillRect(r, QColor(170, 170, 170));
    p.setPen(down ? QColor(60, 60, 60) : QColor(235, 235, 235));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(down ? QColor(235, 235, 235) : QColor(60, 60, 60));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    p.setPen(Qt::black);
    p.drawText(r.translated(down, down), Qt::AlignCenter, kReferenceButtons[i].text);
  }
}

// The measuring line from the mark to the cursor, kept inside the picture,
// with the distance beside the cursor.
void DrawMeasuringLine(QPainter& p) {
  if (!s_mark.set || !MeasuringAllowed()) return;
  const QRect picture(pq::kPictureX, pq::kPictureY, kImageWidth, kImageHeight);
  const QPoint to(g_app.mouseX, g_app.mouseY);
  if (!picture.contains(to)) return;
  p.save();
  p.setClipRect(picture);
  const QColor colour = Logical(g_settings.Colors == 4 ? 125 : 123);
  p.setPen(QPen(colour, 1));
  p.drawLine(QPoint(s_mark.x, s_mark.y), to);
  p.drawEllipse(to, 3, 3);
  p.setFont(Font(plat::qt::kSansFont, 12));
  char text[32];
  std::snprintf(text, sizeof text, "%3.2f%s", MeasuredDistance(s_mark.x, s_mark.y, to.x(), to.y()),
                UnitSuffix(g_settings.Units));
  p.drawText(to + QPoint(8, -6), text);
  p.restore();
}

// The status boxes at the bottom left: "External Control" while datagrams
// keep arriving, "XMIT Disabled" in its visible blink phase, "No Connection"
// (alternating with the head's address) while the head cannot be reached,
// and the ping heartbeat, "*" on every second valid ping.
constexpr int kStatusBoxY = 720, kStatusBoxH = 20;
const QRect kControlBox(10, kStatusBoxY, 124, kStatusBoxH);
const QRect kXmitBox(140, kStatusBoxY, 110, kStatusBoxH);
const QRect kConnectionBox(256, kStatusBoxY, 124, kStatusBoxH);
const QRect kHeartbeatBox(386, kStatusBoxY, 20, kStatusBoxH);

void DrawStatusBox(QPainter& p, const QRect& r, const char* text) {
  p.fillRect(r, Logical(125));
  p.setPen(Logical(123));
  p.drawRect(r.adjusted(0, 0, -1, -1));
  p.setFont(Font(plat::qt::kSansFont, 12));
  p.drawText(r, Qt::AlignCenter, text);
}

void DrawStatusBoxes(QPainter& p) {
  if (g_extControl.boxShown) DrawStatusBox(p, kControlBox, "External Control");
  if (g_extControl.xmitBoxShown) DrawStatusBox(p, kXmitBox, "XMIT Disabled");
  // The acquisition thread sets these two through the platform's status boxes.
  char text[48];
  pq::StatusBoxText(plat::kBoxNoConnection, text, sizeof text);
  if (text[0]) DrawStatusBox(p, kConnectionBox, text);
  pq::StatusBoxText(plat::kBoxHeartbeat, text, sizeof text);
  if (text[0]) DrawStatusBox(p, kHeartbeatBox, text);
}

// The Profile waterfall layout's depth scale beside the waterfall picture:
// six ticks 80 rows apart, the depths of the waterfall band from its top
// (offset) in fifths of its height (span, cut at the picture's 500 samples).
void DrawWaterfallDepthScale(QPainter& p) {
  if (!WaterfallLayoutShown()) return;
  const double r = g_scan.geom.rangeM;
  const double a = g_settings.ProfileWaterfallOffset * r / 500.0;
  const int bottom = std::min(g_settings.ProfileWaterfallOffset + g_settings.ProfileWaterfallSpan, 500);
  const double b = 0.2 * (bottom * r / 500.0 - a);
  const double unit = g_settings.Units == 1 ? kFeetPerMetre : g_settings.Units == 2 ? kYardsPerMetre : 1.0;
  p.setPen(Logical(123));
  p.setFont(Font(plat::qt::kSansFont, 11));
  for (int i = 0; i < 6; ++i) {
    const int row = kWaterfallScaleTop + kWaterfallScaleStep * i;
    p.drawLine(kWaterfallScaleX0, row, kWaterfallScaleX1, row);
    const QString label = QString::asprintf("%3.1f%s", (a + i * b) * unit, UnitSuffix(g_settings.Units));
    p.drawText(QRect(kWaterfallScaleX1 + 3, row - 8, 1034 - kWaterfallScaleX1 - 3, 16),
               Qt::AlignLeft | Qt::AlignVCenter, label);
  }
}

void PaintPanels(QPainter& p) {
  CycleLock lock;
  char title[64];
  RangeTitleText(title, sizeof title);
  p.setPen(Logical(g_settings.Colors == 4 ? 121 : 123));
  p.setFont(Font(plat::qt::kSerifFont, 40, 1));
  p.drawText(QRect(10, 0, 295, 52), Qt::AlignLeft | Qt::AlignVCenter, title);
  // Right of the title, clear of the background-reference notice at the centre.
  plat::qt::DrawLogo(p, 640, 6, 190, 48);
  DrawDials(p);
  DrawEntryBox(p);
  DrawNavigation(p);
  DrawReadout(p);
  DrawStatus(p);
  DrawReferenceButtons(p);
  DrawMeasuringLine(p);
  DrawStatusBoxes(p);
  DrawWaterfallDepthScale(p);
}

// The picture's layout for the painter: the half-size waterfall layout and
// the display scale.
void OnPictureLayout(pq::PictureLayout* layout) {
  CycleLock lock;
  layout->halfSize = WaterfallLayoutShown();
  layout->scale = g_mainLayout.displayScale;
}

// What no event announces: the output socket reopened by a run-mode switch,
// and the Altitude window's text, redrawn only when it changes.
void Watch() {
  ArmExternalControl();
  char text[sizeof s_altitudeText];
  {
    CycleLock lock;
    AltitudeTextNow(text, sizeof text);
    // Fixes arrive while no ping runs too (no head, File mode paused).
    UpdateTrackPlot();
  }
  if (std::strcmp(text, s_altitudeText) != 0) {
    std::snprintf(s_altitudeText, sizeof s_altitudeText, "%s", text);
    if (QWidget* w = pq::Window(plat::kWinAltitude)) w->update();
  }
  // The GPS reader never touches a window: the navigation panel follows its
  // publishes from here, also while no ping repaints the main window.
  NavSnapshot nav;
  CopyNavSnapshot(&nav);
  if (nav.publishCount != s_navPublished) {
    s_navPublished = nav.publishCount;
    const QRect panel(kNavLabelX, kNavRowLat, pq::kMainWidth - kNavLabelX, kCourseArrowY + 20 - kNavRowLat);
    if (QWidget* c = pq::MainClient()) c->update(panel);
  }
}

}  // namespace

// ============================================================ [SECTION] Start and stop

void UpdatePlaybackLoop() {
  if (!s_loop || !g_app.running) return;
  const int playing = g_settings.RunMode == 1 && g_player.fileOpen;
  if (playing && !s_loop->isActive()) s_loop->start(0);
  if (!playing && !g_player.hold) s_loop->stop();
}

int StartConsoleApp(const ConsoleAppOptions& options) {
  StopConsoleApp();
  s_options = options;
  g_app = ConsoleAppState{};
  s_mark = MeasuringMark{};
  s_pressedButton = -1;
  s_overGate = 0;
  ResetDepthGate();
  QApplication::setFont(QFont(plat::qt::kSansFont, 9));
  QApplication::setWindowIcon(plat::qt::AppIcon());

  QSplashScreen* splash = nullptr;
  if (options.splash && options.commandLine.empty() && QGuiApplication::platformName() != "offscreen") {
    const QPixmap art = plat::qt::SplashPixmap();
    splash = new QSplashScreen(art.scaled(art.width() * 3 / 2, art.height() * 3 / 2, Qt::KeepAspectRatio,
                                          Qt::SmoothTransformation));
    splash->show();
    QApplication::processEvents();
  }

  pq::ConsoleHooks hooks;
  hooks.pictureLayout = OnPictureLayout;
  hooks.command = OnCommand;
  hooks.keyPress = OnKeyPress;
  hooks.keyRelease = OnKeyRelease;
  hooks.mouse = OnMouse;
  hooks.paintPanels = PaintPanels;
  hooks.closeRequested = OnCloseRequested;
  hooks.windowClosed = OnWindowClosed;
  hooks.paintWindow = PaintWindow;
  hooks.windowMouse = OnWindowMouse;
  hooks.windowResized = OnWindowResized;
  hooks.windowMinimised = OnWindowMinimised;
  hooks.windowMoved = OnWindowMoved;
  hooks.beginModal = OnBeginModal;
  hooks.endModal = OnEndModal;
  pq::Install(hooks);
  BuildMenu();
  if (!options.playFile.empty()) pq::PresetFileDialogAnswer(options.playFile.c_str());

  CreateConsole(nullptr);
  // The Altitude window keeps the place the operator gave it last time.
  pq::SetWindowPlace(plat::kWinAltitude, g_settings.AltitudeWindowX, g_settings.AltitudeWindowY);
  // As the window's creation does: the serial ports present now are the ones
  // the settings' port numbers index.
  EnumeratePorts();
  CheckMarksFromSettings();
  // A command line is a conversion run: it plays minimised.
  pq::ShowMain(!options.commandLine.empty());
  if (splash) {
    // Start-up takes a moment only; the picture stays a second over the
    // main window so that it can be seen at all.
    splash->raise();
    QTimer::singleShot(1000, splash, [splash] {
      splash->close();
      splash->deleteLater();
    });
  }
  const int line = StartConsole(options.commandLine.c_str());
  if (line == kCmdClose) {
    pq::Uninstall();
    return 0;
  }
  // A command line that names no file (blanks, or too long to be one) is an
  // ordinary start: the window the run would have hidden comes back.
  if (line == kCmdInteractive && !options.commandLine.empty()) pq::MainWindow()->showNormal();
  s_loop = new QTimer;
  s_loop->setSingleShot(true);
  QObject::connect(s_loop, &QTimer::timeout, s_loop, Tick);
  // The held press repeats 500 ms after it and then every 75 ms, until the
  // button comes up or the cursor leaves the dial.
  s_dialRepeat = new QTimer;
  s_dialRepeat->setSingleShot(true);
  QObject::connect(s_dialRepeat, &QTimer::timeout, s_dialRepeat, [] {
    if (DialRepeat(g_app.mouseX, g_app.mouseY)) s_dialRepeat->start(kDialRepeatMs);
    if (QWidget* c = pq::MainClient()) c->update();
  });
  g_app.running = 1;
  s_altitudeText[0] = '\0';
  ArmExternalControl();
  s_watch = new QTimer;
  QObject::connect(s_watch, &QTimer::timeout, s_watch, Watch);
  s_watch->start(kWatchMs);
  // The settings may show the windows that were open at the last exit (the
  // Altitude window came with the Profile tables, if at all).
  if (g_settings.DiagnosticsWindow) plat::ShowWindow(plat::kWinDiagnostics, 1);
  if (g_settings.TrackPlotterWindow && (g_settings.RunMode == 1 || g_settings.ComPortGPSEnable == 1)) {
    CycleLock lock;
    ShowTrackPlotter(1);
  }
  for (const int id : options.startCommands) OnCommand(id);
  g_app.startTicks = plat::CounterNow();
  if (options.runSeconds > 0)
    QTimer::singleShot(static_cast<int>(options.runSeconds * 1000.0), pq::MainWindow(), [] { plat::RequestClose(); });
  if (QWidget* c = pq::MainClient()) c->setFocus();
  UpdatePlaybackLoop();
  return 1;
}

void StopConsoleApp() {
  if (g_app.running && pq::MainWindow()) pq::MainWindow()->close();
  if (g_app.running) OnCloseRequested();
  delete s_loop;
  s_loop = nullptr;
  delete s_dialRepeat;
  s_dialRepeat = nullptr;
  delete s_watch;
  s_watch = nullptr;
  delete s_control;
  s_control = nullptr;
  s_controlFd = -1;
  DialRelease();
  if (pq::Installed()) pq::Uninstall();
}
