#pragma once

// Shared by the tests of Tovrin's own windows: where a window opens.

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QWidget>

namespace tovrin::desktop {

// The window, just presented, is centred on the screen; moved, hidden and
// presented again, it stays where it was moved to.
template <typename Window>
void expectCentredThenWhereLeft(Window& window) {
  QApplication::processEvents();
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  // Within the frame the window gains once shown.
  EXPECT_LE((window.frameGeometry().center() - centre).manhattanLength(), 16);
  window.move(20, 30);
  window.hide();
  window.present();
  EXPECT_EQ(window.pos(), QPoint(20, 30));
}

}  // namespace tovrin::desktop
