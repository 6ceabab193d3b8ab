#pragma once

// The palette's symbols, named as the views name them ("checkmark.circle.fill",
// "scope", …): the freedesktop icon theme's icon for each where the desktop
// has one, else a glyph drawn by Tovrin, so no symbol is ever blank.

#include <QColor>
#include <QIcon>
#include <string_view>

namespace tovrin::desktop {

QIcon symbol(std::string_view name, QColor tint = QColor());
// The glyph drawn when the theme has no icon ("✓" for "checkmark.circle.fill").
QString fallbackGlyph(std::string_view name);

}  // namespace tovrin::desktop
