// The Qt 6 Widgets backend. Owns the nine windows of the console (the main
// window with its menu bar and client, the secondary windows), the menu
// actions by command identifier, the progress box and the cursor state, and
// turns every plat:: call into widgets.
//
// Pictures: the painters read the newest published frame of their window
// (platform/frame_handoff.h) and blit it as an indexed QImage with the
// frame's own colour table; a blit only asks for a repaint. Repaints, titles,
// menu states and boxes asked for from another thread are posted to the
// user-interface thread with a queued invocation; repaint requests are
// folded so that a fast ping rate posts at most one per window at a time.
//
// Dialogs: a plat::Dialog is turned into a modal QDialog after the handler's
// kDlgInit has added its controls. Each operator action updates the Dialog
// record, calls the handler exactly as the recording backend does, and the
// widgets are then brought back in line with the record; when the handler
// has ended the dialog, the QDialog closes with its result.
#include "platform/qt/qt_backend.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/camera.h"
#include "platform/dialog.h"
#include "platform/frame_handoff.h"
#include "platform/qt/artwork.h"

namespace plat::qt {

namespace {

// ============================================================ windows

struct WindowSpec {
  const char* title;
  int child;       // shown over the main window, placed in its client coordinates
  int x, y, w, h;
  int black;       // background black, otherwise grey
};

// Indexed by plat::WindowId. Child windows sit at client coordinates of the
// main window; owned windows at screen coordinates.
const WindowSpec kWindows[kWinCount] = {
    {"Orvale Multibeam Sonar", 0, 0, 0, kMainWidth, kMainHeight, 1},
    {"Diagnostics", 1, 2, 61, 170, 170, 0},
    {"Playback", 1, 840, 17, 170, 170, 0},  // sized from the font at creation
    {"Video Playback", 0, 0, 0, 320, 240, 1},
    {"Track Plotter", 0, 754, 390, 276, 240, 1},
    {"Altitude", 1, 10, 62, 170, 170, 0},
    {"Sidescan", 0, 8, 400, 300, 200, 1},
    {"Echo Sounder", 0, 900, 600, 300, 200, 1},
    {"Intensity", 0, 600, 600, 300, 200, 1},
    {"Video", 0, 0, 0, 160, 120, 1},
};

ConsoleHooks g_hooks;
std::atomic<long> g_paints[kWinCount] = {};  // paint events per window since Install
int g_installs = 0;  // counts Install: the frames published before it are gone

QImage FrameImage(const Frame& f) {
  QImage img(f.pixels, f.width, f.height, f.width, QImage::Format_Indexed8);
  QList<QRgb> colours(256);
  for (int i = 0; i < 256; ++i) colours[i] = 0xFF000000u | (f.palette[i] & 0x00FFFFFFu);
  img.setColorTable(colours);
  return img;
}

// A secondary window: its published picture, or its plain background.
class SecondaryWindow : public QWidget {
 public:
  SecondaryWindow(int id, QWidget* owner)
      : QWidget(owner, kWindows[id].child ? Qt::Tool : Qt::Window), id_(id) {
    setWindowTitle(kWindows[id].title);
    if (id == kWinPlayback) resize(PlaybackWindowWidth(), PlaybackWindowHeight());
    else resize(kWindows[id].w, kWindows[id].h);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    g_paints[id_].fetch_add(1, std::memory_order_relaxed);
    QPainter p(this);
    p.fillRect(rect(), kWindows[id_].black ? QColor(0, 0, 0) : QColor(192, 192, 192));
    const Frame* f = LatestFrame(id_);
    if (f) p.drawImage(QPoint(0, 0), FrameImage(*f));
    const int drawn = g_hooks.paintWindow ? g_hooks.paintWindow(id_, p, width(), height()) : 0;
    if (!f && !drawn) {
      // Nothing to show yet: the window names itself, also where no window
      // manager draws a caption.
      p.setPen(kWindows[id_].black ? QColor(90, 90, 90) : QColor(110, 110, 110));
      p.drawText(rect(), Qt::AlignCenter, windowTitle());
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (g_hooks.windowMouse) g_hooks.windowMouse(id_, e, width(), height());
  }
  // The history windows hand their keys to the main window, so the operator
  // can steer the console with one of them in front.
  void keyPressEvent(QKeyEvent* e) override {
    if (PassesKeys() && g_hooks.keyPress) g_hooks.keyPress(e);
    else QWidget::keyPressEvent(e);
  }
  void keyReleaseEvent(QKeyEvent* e) override {
    if (PassesKeys() && g_hooks.keyRelease) g_hooks.keyRelease(e);
    else QWidget::keyReleaseEvent(e);
  }
  void resizeEvent(QResizeEvent* e) override {
    QWidget::resizeEvent(e);
    int w = width(), h = height();
    if (!g_hooks.windowResized || !g_hooks.windowResized(id_, w, h, &w, &h)) return;
    if (w == width() && h == height()) return;
    // Resizing from inside the resize would fight the window manager's drag.
    QPointer<QWidget> self(this);
    QMetaObject::invokeMethod(
        this, [self, w, h] { if (self) self->resize(w, h); }, Qt::QueuedConnection);
  }
  void moveEvent(QMoveEvent* e) override;
  int PassesKeys() const { return id_ == kWinSidescan || id_ == kWinEchoSounder || id_ == kWinIntensity; }
  void changeEvent(QEvent* e) override {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && g_hooks.windowMinimised)
      g_hooks.windowMinimised(id_, isMinimized() ? 1 : 0);
  }
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    hide();
    if (g_hooks.windowClosed) g_hooks.windowClosed(id_);
  }

 private:
  int id_;
};

// The camera's live picture: while shown, a timer looks for a new frame
// every 66 ms and copies it out of the camera's latest-frame buffer.
class CaptureWindow : public SecondaryWindow {
 public:
  explicit CaptureWindow(QWidget* owner)
      : SecondaryWindow(kWinVideoCapture, owner), rows_(static_cast<size_t>(kCameraMaxFrameBytes)) {
    preview_.setInterval(kPreviewMs);
    QObject::connect(&preview_, &QTimer::timeout, this, [this] { Pull(); });
  }

 protected:
  void showEvent(QShowEvent* e) override {
    SecondaryWindow::showEvent(e);
    preview_.start();
    Pull();
  }
  void hideEvent(QHideEvent* e) override {
    preview_.stop();
    SecondaryWindow::hideEvent(e);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!picture_.isNull()) p.drawImage(QPoint(0, 0), picture_);
  }

 private:
  static constexpr int kPreviewMs = 66;
  void Pull() {
    int w = 0, h = 0;
    int64_t sequence = 0;
    if (!CopyLatestCameraFrame(rows_.data(), rows_.size(), &w, &h, &sequence) || sequence == sequence_) return;
    sequence_ = sequence;
    if (picture_.width() != w || picture_.height() != h) picture_ = QImage(w, h, QImage::Format_BGR888);
    const size_t stride = static_cast<size_t>(CameraRowBytes(w));
    for (int y = 0; y < h; ++y)
      std::memcpy(picture_.scanLine(y), rows_.data() + stride * (h - 1 - y), static_cast<size_t>(w) * 3);
    update();
  }
  QTimer preview_;
  std::vector<uint8_t> rows_;
  QImage picture_;
  int64_t sequence_ = 0;
};

// The main window's client: the picture at (2, 61), the panels around it.
class MainClientWidget : public QWidget {
 public:
  MainClientWidget() {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    cross_ = CrossHairCursor();
  }
  int fixedShape = -1;  // cursor set by the console (size, cross) until the arrow returns

  void FollowMouse(const QPoint& at) {
    if (fixedShape == kCursorSizeNS) {
      setCursor(Qt::SizeVerCursor);
      return;
    }
    const QRect picture(kPictureX, kPictureY, kFrameMaxWidth, kFrameMaxHeight);
    if (fixedShape == kCursorCross || picture.contains(at)) setCursor(cross_);
    else setCursor(Qt::ArrowCursor);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    g_paints[kWinMain].fetch_add(1, std::memory_order_relaxed);
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    PictureLayout layout;
    if (g_hooks.pictureLayout) g_hooks.pictureLayout(&layout);
    if (const Frame* f = LatestFrame(kWinMain)) DrawPicture(p, *f, layout);
    if (g_hooks.paintPanels) g_hooks.paintPanels(p);
  }
  static void DrawPicture(QPainter& p, const Frame& f, const PictureLayout& layout) {
    const QImage picture = FrameImage(f);
    if (layout.halfSize) {
      // Half size with averaging, as a half-tone stretch shows it; made once
      // per published frame, since the status strip repaints far more often.
      static QImage half;
      static const Frame* halfOf = nullptr;
      static int64_t halfSequence = -1;
      static int halfInstall = -1;
      if (halfOf != &f || halfSequence != f.sequence || halfInstall != g_installs || half.isNull()) {
        half = picture.copy(kHalfPictureFirstColumn, 0, kHalfPictureColumns, f.height)
                   .convertToFormat(QImage::Format_RGB32)
                   .scaled(kHalfPictureColumns / 2, f.height / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        halfOf = &f;
        halfSequence = f.sequence;
        halfInstall = g_installs;
      }
      p.drawImage(QPoint(kHalfPictureX, kPictureY), half);
      if (const Frame* w = LatestFrame(kFrameProfileWaterfall))
        p.drawImage(QPoint(kWaterfallPictureX, kWaterfallPictureY), FrameImage(*w));
      return;
    }
    if (layout.scale == 1.0 || layout.scale <= 0.0) {
      p.drawImage(QPoint(kPictureX, kPictureY), picture);
      return;
    }
    const QRect target(kPictureX, kPictureY, static_cast<int>(f.width * layout.scale + 0.5),
                       static_cast<int>(f.height * layout.scale + 0.5));
    p.drawImage(target, picture);
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (g_hooks.keyPress) g_hooks.keyPress(e);
  }
  void keyReleaseEvent(QKeyEvent* e) override {
    if (g_hooks.keyRelease) g_hooks.keyRelease(e);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    FollowMouse(e->position().toPoint());
    if (g_hooks.mouse) g_hooks.mouse(e);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (g_hooks.mouse) g_hooks.mouse(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (g_hooks.mouse) g_hooks.mouse(e);
  }

 private:
  QCursor cross_;
};

class MainWindowWidget : public QMainWindow {
 protected:
  void closeEvent(QCloseEvent* e) override {
    if (g_hooks.closeRequested && !g_hooks.closeRequested()) {
      e->ignore();
      return;
    }
    e->accept();
  }
};

// The status boxes as last set, from any thread: short texts in fixed
// arrays, so the heartbeat of every ping allocates nothing.
constexpr int kBoxTextBytes = 48;
std::mutex g_boxMutex;
char g_boxText[kBoxCount][kBoxTextBytes] = {};
int g_boxChanges[kBoxCount] = {};

struct QtState {
  QPointer<MainWindowWidget> main;
  QPointer<MainClientWidget> client;
  QPointer<QWidget> windows[kWinCount];
  std::map<int, QAction*> actions;  // by command identifier
  std::vector<QActionGroup*> groups;
  QPointer<QProgressDialog> progress;
  int waitCursor = 0;
  int modal = 0;
  std::string presetFile;
  std::atomic<int> repaintPending[kWinCount] = {};
  std::atomic<int> stripRepaintPending{0};
  int fitted[kWinCount] = {};  // placed by FitWindow: showing keeps that place
  QPoint place[kWinCount];     // where a window shown from hidden goes; the table's, or SetWindowPlace
};
QtState* g_qt = nullptr;

// Around every modal wait (box, dialog, file dialog): counted for the loop,
// and the console may give up what it holds while the operator reads.
class ModalScope {
 public:
  ModalScope() {
    ++g_qt->modal;
    if (g_hooks.beginModal) token_ = g_hooks.beginModal();
  }
  ~ModalScope() {
    if (g_hooks.endModal) g_hooks.endModal(token_);
    if (g_qt) --g_qt->modal;
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  int token_ = 0;
};

int OnUiThread() { return qApp && QThread::currentThread() == qApp->thread(); }

// Runs fn on the user-interface thread: now when called there (and `queue`
// is 0), otherwise later through the event loop.
template <class Fn>
void OnUi(Fn fn, int queue = 0) {
  if (!g_qt) return;
  if (!queue && OnUiThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(qApp, fn, Qt::QueuedConnection);
}

void RequestRepaint(int window) {
  if (!g_qt || window < 0 || window >= kWinCount) return;
  // One request in flight per window: a second blit before the paint adds nothing.
  if (g_qt->repaintPending[window].exchange(1)) return;
  OnUi(
      [window] {
        if (!g_qt) return;
        g_qt->repaintPending[window].store(0);
        QWidget* w = window == kWinMain ? static_cast<QWidget*>(g_qt->client) : g_qt->windows[window].data();
        if (w) w->update();
      },
      1);
}

void SecondaryWindow::moveEvent(QMoveEvent* e) {
  QWidget::moveEvent(e);
  // Placing a hidden window is the backend's own doing, not the operator's.
  if (!g_hooks.windowMoved || !g_qt || !isVisible()) return;
  QPoint at = pos();
  if (kWindows[id_].child && g_qt->client) at = g_qt->client->mapFromGlobal(at);
  g_hooks.windowMoved(id_, at.x(), at.y());
}

void PlaceWindow(int id, QWidget* w) {
  const WindowSpec& s = kWindows[id];
  const QPoint at = g_qt->place[id];
  if (s.child && g_qt->client) w->move(g_qt->client->mapToGlobal(at));
  else w->move(at);
}

// The Track Plotter rests in the lower right corner of the main window's
// client. Like the fitted windows it is placed again once shown, when the
// window manager's frame is known.
void PlaceClientLowerRight(QWidget* w) {
  if (!g_qt->client) return;
  const QRect frame = w->frameGeometry();
  const QPoint corner = g_qt->client->mapToGlobal(QPoint(g_qt->client->width(), g_qt->client->height()));
  w->move(corner.x() - frame.width(), corner.y() - frame.height());
}

// A fitted window rests at the main window's lower right: 4 pixels in from
// its right edge, its bottom on the main window's bottom frame. The frame
// the window manager draws is known only once the window has been shown, so
// showing places it again.
void PlaceLowerRight(QWidget* w) {
  if (!g_qt->main) return;
  const QRect frame = w->frameGeometry(), inner = w->geometry();
  const int border = inner.x() - frame.x();
  const QRect main = g_qt->main->frameGeometry();
  w->move(main.x() + main.width() - frame.width() - 4, main.y() + main.height() - frame.height() - border);
}

// ============================================================ backend functions

int QtMessageBox(const char* caption, const char* text, int icon) {
  const QString c = QString::fromUtf8(caption ? caption : "");
  const QString t = QString::fromUtf8(text ? text : "");
  const QMessageBox::Icon i = icon == kIconInformation ? QMessageBox::Information : QMessageBox::Warning;
  if (!OnUiThread()) {
    // The caller must not wait for the operator: the box shows on its own.
    OnUi([c, t, i] {
      auto* box = new QMessageBox(i, c, t, QMessageBox::Ok, g_qt ? g_qt->main.data() : nullptr);
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->open();
    });
    return 1;
  }
  QMessageBox box(i, c, t, QMessageBox::Ok, g_qt ? g_qt->main.data() : nullptr);
  {
    ModalScope modal;
    box.exec();
  }
  return 1;
}

void QtSetWindowTitle(int window, const char* title) {
  if (window < 0 || window >= kWinCount) return;
  const QString t = QString::fromUtf8(title ? title : "");
  OnUi([window, t] {
    if (QWidget* w = Window(window)) w->setWindowTitle(t);
  });
}

void QtShowWindow(int window, int shown) {
  if (window < kWinMain || window >= kWinCount) return;
  if (window == kWinMain) {
    // A remote may hide the console's main window and show it again (normal).
    OnUi([shown] {
      if (!g_qt->main) return;
      if (!shown) {
        g_qt->main->hide();
        return;
      }
      g_qt->main->showNormal();
      g_qt->main->update();
    });
    return;
  }
  OnUi([window, shown] {
    QWidget* w = g_qt->windows[window];
    if (!w) return;
    if (shown) {
      const int placing = !w->isVisible() && !g_qt->fitted[window];
      if (placing) PlaceWindow(window, w);
      w->show();
      if (g_qt->fitted[window]) PlaceLowerRight(w);
      else if (placing && window == kWinTrackPlotter) PlaceClientLowerRight(w);
      // Without a window system (the offscreen tests) there is no stacking.
      if (QGuiApplication::platformName() != "offscreen") w->raise();
    } else {
      w->hide();
    }
  });
}

void QtInvalidate(int window, int, int, int, int) { RequestRepaint(window); }

void QtCheckMenuItem(int id, int checked) {
  OnUi([id, checked] {
    auto it = g_qt->actions.find(id);
    if (it == g_qt->actions.end()) return;
    it->second->setCheckable(true);
    it->second->setChecked(checked != 0);
  });
}

void QtEnableMenuItem(int id, int enabled) {
  OnUi([id, enabled] {
    auto it = g_qt->actions.find(id);
    if (it != g_qt->actions.end()) it->second->setEnabled(enabled != 0);
  });
}

void QtSetMenuItemText(int id, const char* text) {
  const QString t = QString::fromUtf8(text ? text : "");
  OnUi([id, t] {
    auto it = g_qt->actions.find(id);
    if (it != g_qt->actions.end()) it->second->setText(t);
  });
}

void QtBlitImage(const uint8_t*, int, int, const uint32_t*, int, int, int, int) {
  // plat::BlitImage has published the picture already; only the paint is due.
  RequestRepaint(kWinMain);
}

void QtProgressBegin(const char* title, const char* text) {
  const QString ti = QString::fromUtf8(title ? title : ""), te = QString::fromUtf8(text ? text : "");
  OnUi([ti, te] {
    if (!g_qt->progress) {
      g_qt->progress = new QProgressDialog(g_qt->main);
      g_qt->progress->setCancelButton(nullptr);
      g_qt->progress->setRange(0, 100);
      g_qt->progress->setMinimumDuration(0);
      g_qt->progress->setAutoClose(false);
      g_qt->progress->setAutoReset(false);
    }
    g_qt->progress->setWindowTitle(ti);
    g_qt->progress->setLabelText(te);
    g_qt->progress->setValue(0);
    if (g_qt->main && g_qt->main->isVisible() && !g_qt->main->isMinimized()) {
      g_qt->progress->show();
      g_qt->progress->repaint();
    }
  });
}

void QtProgressSet(int percent) {
  OnUi([percent] {
    if (!g_qt->progress) return;
    g_qt->progress->setValue(percent < 0 ? 0 : percent > 100 ? 100 : percent);
    if (g_qt->progress->isVisible()) g_qt->progress->repaint();
  });
}

void QtProgressEnd() {
  OnUi([] {
    if (g_qt->progress) g_qt->progress->hide();
  });
}

// "Sonar Files (*.K41)|*.K41|..." as Qt name filters; the patterns match
// either case, as the file systems of the recordings' origin did.
QStringList NameFilters(const char* filter) {
  QStringList out;
  const QStringList parts = QString::fromUtf8(filter ? filter : "").split('|');
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns;
    for (const QString& pat : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      patterns += pat + " " + pat.toLower() + " ";
    }
    QString desc = parts[i];
    const int paren = desc.indexOf('(');
    if (paren > 0) desc = desc.left(paren).trimmed();
    out << desc + " (" + patterns.trimmed() + ")";
  }
  return out;
}

int CopyOut(const QByteArray& bytes, char* out, size_t outSize, int withFinalNul) {
  const size_t need = static_cast<size_t>(bytes.size()) + (withFinalNul ? 2 : 1);
  if (need > outSize) return 0;
  std::memcpy(out, bytes.constData(), static_cast<size_t>(bytes.size()));
  out[bytes.size()] = 0;
  if (withFinalNul) out[bytes.size() + 1] = 0;
  return 1;
}

int QtFileDialog(const FileDialogRequest& r, char* out, size_t outSize) {
  if (!OnUiThread() || !g_qt) return 0;
  if (!g_qt->presetFile.empty()) {
    const QByteArray path = QByteArray::fromStdString(g_qt->presetFile);
    g_qt->presetFile.clear();
    return CopyOut(path, out, outSize, 1);
  }
  QFileDialog dlg(g_qt->main, QString::fromUtf8(r.title ? r.title : ""));
  dlg.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(r.save ? QFileDialog::AnyFile : r.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  const QStringList filters = NameFilters(r.filter);
  if (!filters.isEmpty()) dlg.setNameFilters(filters);
  if (r.defaultExt && r.defaultExt[0]) dlg.setDefaultSuffix(QString::fromUtf8(r.defaultExt));
  if (r.initialName && r.initialName[0]) dlg.selectFile(QString::fromUtf8(r.initialName));
  int ok = 0;
  {
    ModalScope modal;
    ok = dlg.exec() == QDialog::Accepted;
  }
  if (!ok) return 0;
  const QStringList files = dlg.selectedFiles();
  if (files.isEmpty()) return 0;
  if (files.size() == 1) return CopyOut(files[0].toLocal8Bit(), out, outSize, 1);
  // Several files: the directory, then each name, each NUL-ended, then a second NUL.
  QByteArray list = QFileInfo(files[0]).absolutePath().toLocal8Bit();
  for (const QString& f : files) {
    list.append('\0');
    list.append(QFileInfo(f).fileName().toLocal8Bit());
  }
  return CopyOut(list, out, outSize, 1);
}

// ============================================================ dialogs

class DialogView : public QDialog {
 public:
  DialogView(Dialog& d, DialogHandler handler, QWidget* parent) : QDialog(parent), d_(d), handler_(handler) {
    setWindowTitle(QString::fromUtf8(d.title));
    setModal(true);
    Build();
    Sync();
  }

  void reject() override {
    // Escape or the close box: the handler sees Cancel, as from a script.
    if (!handler_(d_, kDlgCommand, kIdCancel, 0) || !d_.ended) EndDialog(d_, 0);
    Finish();
  }

 private:
  struct Bound {
    int id;
    QWidget* widget;
  };

  Control* Find(int id) { return FindControl(d_, id); }

  QString Text(const char* t) { return QString::fromUtf8(t ? t : ""); }

  void Build() {
    auto* outer = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    outer->addLayout(grid);
    outer->addLayout(buttons);
    int row = 0;
    // A static straight after an edit or a drop-down is its unit ("dB",
    // "usec") and sits to its right; radio groups are set a little apart.
    int fieldRow = -1, lastGroup = -1;
    for (int i = 0; i < d_.count; ++i) {
      Control& c = d_.controls[i];
      const int id = c.id;
      const QString name = QString("ctl%1").arg(id);
      const int unitRow = fieldRow;
      fieldRow = -1;
      if (c.kind == kRadio) {
        if (lastGroup >= 0 && c.buddy != lastGroup) grid->setRowMinimumHeight(row++, 8);
        lastGroup = c.buddy;
      } else if (c.kind != kSpin) {
        lastGroup = -1;
      }
      switch (c.kind) {
        case kEdit: {
          auto* edit = new QLineEdit(this);
          edit->setObjectName(name);
          auto* label = new QLabel(Text(c.label), this);
          label->setBuddy(edit);
          grid->addWidget(label, row, 0);
          auto* cell = new QHBoxLayout;
          cell->addWidget(edit);
          // A spin control that steps this edit sits beside it.
          for (int k = 0; k < d_.count; ++k) {
            const Control& s = d_.controls[k];
            if (s.kind == kSpin && s.buddy == id) cell->addLayout(SpinButtons(s.id));
          }
          fieldRow = row;
          grid->addLayout(cell, row++, 1);
          connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& t) {
            Control* ctl = Find(id);
            if (!ctl) return;
            std::snprintf(ctl->text, sizeof ctl->text, "%s", t.toUtf8().constData());
            Event(kDlgEditChange, id, 0);
          });
          bound_.push_back({id, edit});
          break;
        }
        case kSpin: {
          if (Find(c.buddy) && Find(c.buddy)->kind == kEdit) {  // drawn with its edit
            fieldRow = unitRow;
            break;
          }
          grid->addLayout(SpinButtons(id), row++, 1);
          break;
        }
        case kDropDown: {
          auto* combo = new QComboBox(this);
          combo->setObjectName(name);
          auto* label = new QLabel(Text(c.label), this);
          label->setBuddy(combo);
          grid->addWidget(label, row, 0);
          fieldRow = row;
          grid->addWidget(combo, row++, 1);
          connect(combo, qOverload<int>(&QComboBox::activated), this, [this, id](int index) {
            SetSelection(d_, id, index);
            Event(kDlgCommand, id, 0);
          });
          bound_.push_back({id, combo});
          break;
        }
        case kRadio: {
          auto* radio = new QRadioButton(Text(c.label), this);
          radio->setObjectName(name);
          radio->setAutoExclusive(false);  // groups are the dialog record's business
          grid->addWidget(radio, row++, 0, 1, 3);
          connect(radio, &QRadioButton::clicked, this, [this, id](bool) {
            Control* ctl = Find(id);
            if (!ctl) return;
            for (int k = 0; k < d_.count; ++k)
              if (d_.controls[k].kind == kRadio && d_.controls[k].buddy == ctl->buddy) d_.controls[k].checked = 0;
            ctl->checked = 1;
            Event(kDlgCommand, id, 0);
          });
          bound_.push_back({id, radio});
          break;
        }
        case kCheck: {
          auto* check = new QCheckBox(Text(c.label), this);
          check->setObjectName(name);
          grid->addWidget(check, row++, 0, 1, 3);
          connect(check, &QCheckBox::clicked, this, [this, id](bool on) {
            if (Control* ctl = Find(id)) ctl->checked = on ? 1 : 0;
            Event(kDlgCommand, id, 0);
          });
          bound_.push_back({id, check});
          break;
        }
        case kStatic: {
          auto* label = new QLabel(this);
          label->setObjectName(name);
          if (unitRow >= 0) {
            grid->addWidget(label, unitRow, 2);
          } else if (c.label[0] && c.text[0]) {
            // A caption with its value ("Range:" "30 M"): both stay in view.
            grid->addWidget(new QLabel(Text(c.label), this), row, 0);
            grid->addWidget(label, row++, 1, 1, 2);
            captioned_.push_back(id);
          } else {
            grid->addWidget(label, row++, 0, 1, 3);
          }
          bound_.push_back({id, label});
          break;
        }
        case kButton: {
          auto* button = new QPushButton(Text(c.label), this);
          button->setObjectName(name);
          button->setAutoDefault(false);
          if (id == kIdOk) button->setDefault(true);
          buttons->addWidget(button);
          connect(button, &QPushButton::clicked, this, [this, id] {
            if (!handler_(d_, kDlgCommand, id, 0) && (id == kIdOk || id == kIdCancel))
              EndDialog(d_, id == kIdOk ? 1 : 0);
            After();
          });
          bound_.push_back({id, button});
          break;
        }
        default: break;
      }
    }
  }

  QVBoxLayout* SpinButtons(int spinId) {
    auto* box = new QVBoxLayout;
    box->setSpacing(0);
    for (int dir : {1, -1}) {
      auto* b = new QToolButton(this);
      b->setObjectName(QString("ctl%1%2").arg(spinId).arg(dir > 0 ? "up" : "down"));
      b->setArrowType(dir > 0 ? Qt::UpArrow : Qt::DownArrow);
      b->setAutoRepeat(true);
      b->setFixedSize(18, 12);
      connect(b, &QToolButton::clicked, this, [this, spinId, dir] {
        Control* s = Find(spinId);
        if (s && s->enabled) Event(kDlgSpin, spinId, dir);
      });
      box->addWidget(b);
      spins_.push_back({spinId, b});
    }
    return box;
  }

  void Event(int event, int id, int delta) {
    handler_(d_, event, id, delta);
    After();
  }

  void After() {
    if (d_.ended) Finish();
    else Sync();
  }

  void Finish() {
    if (finished_) return;
    finished_ = 1;
    done(d_.result);
  }

  // Brings every widget in line with the dialog record.
  void Sync() {
    for (const Bound& b : bound_) {
      const Control* c = Find(b.id);
      if (!c) continue;
      QSignalBlocker block(b.widget);
      b.widget->setEnabled(c->enabled != 0);
      b.widget->setVisible(c->visible != 0);
      switch (c->kind) {
        case kEdit: {
          auto* e = static_cast<QLineEdit*>(b.widget);
          const QString t = Text(c->text);
          if (e->text() != t) e->setText(t);
          e->setReadOnly(c->readOnly != 0);
          break;
        }
        case kDropDown: {
          auto* combo = static_cast<QComboBox*>(b.widget);
          QStringList items;
          for (int k = 0; k < c->itemCount && k < kMaxItems; ++k) items << Text(c->items[k]);
          QStringList now;
          for (int k = 0; k < combo->count(); ++k) now << combo->itemText(k);
          if (now != items) {
            combo->clear();
            combo->addItems(items);
          }
          combo->setCurrentIndex(c->selection);
          break;
        }
        case kRadio: static_cast<QRadioButton*>(b.widget)->setChecked(c->checked != 0); break;
        case kCheck: static_cast<QCheckBox*>(b.widget)->setChecked(c->checked != 0); break;
        case kStatic: {
          const int captioned = std::find(captioned_.begin(), captioned_.end(), b.id) != captioned_.end();
          static_cast<QLabel*>(b.widget)->setText(Text(c->text[0] || captioned ? c->text : c->label));
          break;
        }
        case kButton: static_cast<QPushButton*>(b.widget)->setText(Text(c->label)); break;
        default: break;
      }
    }
    for (const Bound& b : spins_) {
      const Control* c = Find(b.id);
      if (c) b.widget->setEnabled(c->enabled != 0);
    }
  }

  Dialog& d_;
  DialogHandler handler_;
  std::vector<Bound> bound_;
  std::vector<Bound> spins_;
  std::vector<int> captioned_;  // statics shown as a caption beside their value
  int finished_ = 0;
};

// Centres the dialog on a client point of the main window, moved back inside
// the screen when it would cross the right or bottom edge.
void PlaceDialog(QDialog& dlg, const Dialog& d) {
  dlg.adjustSize();
  if (!g_qt->client) return;
  const QPoint centre = g_qt->client->mapToGlobal(QPoint(d.centreX, d.centreY));
  QPoint topLeft(centre.x() - dlg.width() / 2, centre.y() - dlg.height() / 2);
  if (const QScreen* screen = g_qt->main ? g_qt->main->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    if (topLeft.x() + dlg.width() > area.right()) topLeft.setX(area.right() - dlg.width());
    if (topLeft.y() + dlg.height() > area.bottom()) topLeft.setY(area.bottom() - dlg.height());
  }
  dlg.move(topLeft);
}

int QtRunDialog(Dialog& d, int (*handler)(Dialog&, int, int, int)) {
  if (!OnUiThread() || !g_qt || !handler) return 0;
  handler(d, kDlgInit, 0, 0);
  if (d.ended) return d.result;
  DialogView view(d, handler, g_qt->main);
  PlaceDialog(view, d);
  {
    ModalScope modal;
    view.exec();
  }
  if (!d.ended) EndDialog(d, 0);
  return d.result;
}

void QtSetCursor(int shape) {
  OnUi([shape] {
    if (shape == kCursorWait) {
      if (!g_qt->waitCursor) QApplication::setOverrideCursor(Qt::WaitCursor);
      g_qt->waitCursor = 1;
      return;
    }
    if (g_qt->waitCursor) QApplication::restoreOverrideCursor();
    g_qt->waitCursor = 0;
    if (!g_qt->client) return;
    g_qt->client->fixedShape = shape == kCursorArrow ? -1 : shape;
    g_qt->client->FollowMouse(g_qt->client->mapFromGlobal(QCursor::pos()));
  });
}

void QtStatusBox(int box, const char* text) {
  if (box < 0 || box >= kBoxCount) return;
  {
    std::lock_guard<std::mutex> hold(g_boxMutex);
    const char* t = text ? text : "";
    // The heartbeat is erased on every ping: an unchanged box costs nothing.
    if (std::strncmp(g_boxText[box], t, kBoxTextBytes - 1) == 0) return;
    std::snprintf(g_boxText[box], kBoxTextBytes, "%s", t);
    ++g_boxChanges[box];
  }
  // Only the strip of the boxes, not the whole picture, and one request in
  // flight at a time, so a fast heartbeat cannot flood the event queue.
  if (!g_qt || g_qt->stripRepaintPending.exchange(1)) return;
  OnUi(
      [] {
        if (!g_qt) return;
        g_qt->stripRepaintPending.store(0);
        if (g_qt->client) g_qt->client->update(QRect(0, kStatusStripY, kMainWidth, kStatusStripH));
      },
      1);
}

void QtRequestClose() {
  // Queued: the close handler must not run inside the command that asked.
  OnUi(
      [] {
        if (g_qt && g_qt->main) g_qt->main->close();
      },
      1);
}

void QtFitWindow(int window, int clientWidth, int clientHeight) {
  if (window <= kWinMain || window >= kWinCount) return;
  OnUi([window, clientWidth, clientHeight] {
    QWidget* w = g_qt->windows[window];
    if (!w) return;
    w->resize(clientWidth, clientHeight);
    g_qt->fitted[window] = 1;
    PlaceLowerRight(w);
  });
}

size_t QtGrabWindow(int window, uint8_t* out, size_t outSize, int* width, int* height) {
  if (!OnUiThread() || !g_qt) return 0;
  QWidget* w = Window(window);
  if (!w) return 0;
  // The widgets painted now, from the newest published pictures: this works
  // minimised and without a screen.
  const QImage shot = w->grab().toImage().convertToFormat(QImage::Format_BGR888);
  if (shot.isNull()) return 0;
  const int wd = shot.width(), ht = shot.height();
  const size_t stride = static_cast<size_t>(CameraRowBytes(wd));
  if (stride * ht > outSize) return 0;
  for (int y = 0; y < ht; ++y) {
    uint8_t* row = out + stride * (ht - 1 - y);
    std::memcpy(row, shot.constScanLine(y), static_cast<size_t>(wd) * 3);
    for (size_t pad = static_cast<size_t>(wd) * 3; pad < stride; ++pad) row[pad] = 0;
  }
  *width = wd;
  *height = ht;
  return stride * ht;
}

const Backend kQtBackend = {
    QtMessageBox,  QtSetWindowTitle, QtShowWindow,  QtInvalidate,   QtCheckMenuItem,
    QtEnableMenuItem, QtSetMenuItemText, QtBlitImage, QtProgressBegin, QtProgressSet,
    QtProgressEnd, QtFileDialog,     QtRunDialog,   QtSetCursor,    QtRequestClose,
    QtStatusBox,   QtFitWindow,   QtGrabWindow,
};

}  // namespace

// ============================================================ public

int Install(const ConsoleHooks& hooks) {
  if (g_qt) Uninstall();
  g_hooks = hooks;
  {
    std::lock_guard<std::mutex> hold(g_boxMutex);
    for (int b = 0; b < kBoxCount; ++b) {
      g_boxText[b][0] = 0;
      g_boxChanges[b] = 0;
    }
  }
  for (std::atomic<long>& n : g_paints) n.store(0);
  ++g_installs;
  g_qt = new QtState;
  auto* main = new MainWindowWidget;
  main->setWindowTitle(kWindows[kWinMain].title);
  main->setWindowIcon(AppIcon());
  main->setAttribute(Qt::WA_DeleteOnClose, false);
  auto* client = new MainClientWidget;
  main->setCentralWidget(client);
  main->setFixedSize(kMainWidth, kMainHeight);
  g_qt->main = main;
  g_qt->client = client;
  g_qt->windows[kWinMain] = main;
  for (int w = 0; w < kWinCount; ++w) g_qt->place[w] = QPoint(kWindows[w].x, kWindows[w].y);
  for (int w = kWinMain + 1; w < kWinCount; ++w)
    g_qt->windows[w] = w == kWinVideoCapture ? new CaptureWindow(main) : new SecondaryWindow(w, main);
  SetBackend(&kQtBackend);
  return 1;
}

void Uninstall() {
  SetBackend(nullptr);
  if (!g_qt) return;
  delete g_qt->progress.data();
  if (g_qt->waitCursor) QApplication::restoreOverrideCursor();
  delete g_qt->main.data();  // owns the client, the menus and the secondary windows
  delete g_qt;
  g_qt = nullptr;
  g_hooks = ConsoleHooks{};
}

int Installed() { return g_qt != nullptr; }

void BuildMenuBar(const MenuTitle* titles, int titleCount, const MenuEntry* items, int itemCount) {
  if (!g_qt || !g_qt->main) return;
  QMenuBar* bar = g_qt->main->menuBar();
  bar->clear();
  g_qt->actions.clear();
  for (QActionGroup* g : g_qt->groups) delete g;
  g_qt->groups.clear();
  std::map<int, QActionGroup*> groups;
  auto hook = [](int id) {
    return [id] {
      if (g_hooks.command) g_hooks.command(id);
    };
  };
  for (int t = 0; t < titleCount; ++t) {
    if (titles[t].directCommand) {
      QAction* a = bar->addAction(QString::fromUtf8(titles[t].title));
      a->setObjectName(QString("cmd%1").arg(titles[t].directCommand));
      QObject::connect(a, &QAction::triggered, a, hook(titles[t].directCommand));
      g_qt->actions[titles[t].directCommand] = a;
      continue;
    }
    QMenu* popup = bar->addMenu(QString::fromUtf8(titles[t].title));
    std::map<std::string, QMenu*> submenus;
    for (int i = 0; i < itemCount; ++i) {
      const MenuEntry& e = items[i];
      if (e.popup != t || !e.text) continue;
      QMenu* into = popup;
      if (e.submenu) {
        QMenu*& sub = submenus[e.submenu];
        if (!sub) sub = popup->addMenu(QString::fromUtf8(e.submenu));
        into = sub;
      }
      // "Text\tCtrl+S": the part after the tab is shown as the accelerator;
      // the keys themselves reach the console as keys, not as shortcuts.
      QAction* a = into->addAction(QString::fromUtf8(e.text));
      a->setObjectName(QString("cmd%1").arg(e.id));
      a->setCheckable(e.checkable != 0);
      if (e.group) {
        QActionGroup*& g = groups[e.group];
        if (!g) {
          g = new QActionGroup(g_qt->main);
          g->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
          g_qt->groups.push_back(g);
        }
        g->addAction(a);
      }
      QObject::connect(a, &QAction::triggered, a, hook(e.id));
      g_qt->actions[e.id] = a;
    }
  }
}

void ShowMain(int minimised) {
  if (!g_qt || !g_qt->main) return;
  if (minimised) g_qt->main->showMinimized();
  else g_qt->main->show();
  g_qt->client->setFocus();
}

QMainWindow* MainWindow() { return g_qt ? g_qt->main.data() : nullptr; }
QWidget* MainClient() { return g_qt ? g_qt->client.data() : nullptr; }
QWidget* Window(int window) {
  if (!g_qt || window < 0 || window >= kWinCount) return nullptr;
  return g_qt->windows[window].data();
}

void SetWindowPlace(int window, int x, int y) {
  if (g_qt && window > kWinMain && window < kWinCount) g_qt->place[window] = QPoint(x, y);
}

namespace {
QFontMetrics PanelFontMetrics() {
  QFont f(kSansFont);
  f.setPixelSize(11);
  return QFontMetrics(f);
}
}  // namespace

int PlaybackWindowWidth() { return 25 * PanelFontMetrics().averageCharWidth(); }
int PlaybackWindowHeight() { return 8 * PanelFontMetrics().height() - 1; }

void PresetFileDialogAnswer(const char* path) {
  if (g_qt) g_qt->presetFile = path ? path : "";
}

int ModalOpen() { return g_qt ? g_qt->modal : 0; }

void StatusBoxText(int box, char* out, int size) {
  if (size <= 0) return;
  out[0] = 0;
  if (box < 0 || box >= kBoxCount) return;
  std::lock_guard<std::mutex> hold(g_boxMutex);
  std::snprintf(out, static_cast<size_t>(size), "%s", g_boxText[box]);
}

int StatusBoxChanges(int box) {
  if (box < 0 || box >= kBoxCount) return 0;
  std::lock_guard<std::mutex> hold(g_boxMutex);
  return g_boxChanges[box];
}

long PaintCount(int window) {
  return window >= 0 && window < kWinCount ? g_paints[window].load(std::memory_order_relaxed) : 0;
}

}  // namespace plat::qt
