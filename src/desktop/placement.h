#pragma once

// Where Tovrin's own windows open.

class QWidget;

namespace tovrin::desktop {

// Centres the window on the screen under the pointer (the primary one when
// none is), once: after that, wherever the user moved it is where it
// reopens.
void centreOnce(QWidget& window);

}  // namespace tovrin::desktop
