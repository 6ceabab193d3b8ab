#include "desktop/outline.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace tovrin::desktop {
namespace {

constexpr int kMargin = 4;
constexpr int kRing = 3;

// Work that touches windows runs on the interface thread, whoever asks.
void onInterfaceThread(std::function<void()> work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  if (QThread::currentThread() == app->thread()) {
    work();
  } else {
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
  }
}

}  // namespace

OutlineWindow::OutlineWindow()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
  setObjectName("TovrinOutline");
  setWindowTitle("Tovrin outline");
  setAttribute(Qt::WA_ShowWithoutActivating);
}

void OutlineWindow::outline(const Frame& frame) {
  const QRect area(static_cast<int>(std::floor(frame.x)) - kMargin,
                   static_cast<int>(std::floor(frame.y)) - kMargin,
                   static_cast<int>(std::ceil(frame.width)) + 2 * kMargin,
                   static_cast<int>(std::ceil(frame.height)) + 2 * kMargin);
  setGeometry(area);
  // Only the ring is part of the window: the element stays visible and
  // clickable inside it, with or without a compositor.
  const QRect inner = rect().adjusted(kRing, kRing, -kRing, -kRing);
  setMask(QRegion(rect()).subtracted(QRegion(inner)));
  show();
  raise();
  update();
}

void OutlineWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(255, 149, 0));
}

std::vector<Frame> QtOverlay::screens() {
  std::vector<Frame> out;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect g = screen->geometry();
    Frame f{static_cast<double>(g.x()), static_cast<double>(g.y()), static_cast<double>(g.width()),
            static_cast<double>(g.height())};
    if (screen == QGuiApplication::primaryScreen()) {
      out.insert(out.begin(), f);
    } else {
      out.push_back(f);
    }
  }
  return out;
}

void QtOverlay::showOutline(const Frame& frame, double) {
  onInterfaceThread([this, frame] {
    if (!window_) window_ = std::make_unique<OutlineWindow>();
    window_->outline(frame);
  });
}

void QtOverlay::hideOutline() {
  onInterfaceThread([this] {
    if (window_) window_->hide();
  });
}

void QtTimers::after(double seconds, std::function<void()> task) {
  const int ms = seconds > 0 && std::isfinite(seconds)
                     ? static_cast<int>(std::min(seconds * 1000.0, 86400000.0))
                     : 0;
  onInterfaceThread(
      [ms, task = std::move(task)] { QTimer::singleShot(ms, QCoreApplication::instance(), task); });
}

}  // namespace tovrin::desktop
