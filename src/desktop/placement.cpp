#include "desktop/placement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>

namespace tovrin::desktop {

void centreOnce(QWidget& window) {
  // Kept on the window itself, so each window is placed by itself.
  if (window.property("tovrinPlaced").toBool()) return;
  window.setProperty("tovrinPlaced", true);
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

}  // namespace tovrin::desktop
