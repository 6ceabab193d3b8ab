#include "desktop/symbols.h"

#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <array>

namespace tovrin::desktop {
namespace {

struct SymbolName {
  std::string_view symbol;
  const char* themeIcon;  // freedesktop icon naming
  const char* glyph;      // drawn when the theme has none
};

constexpr std::array kSymbols = {
    SymbolName{"text.viewfinder", "edit-find", "⌕"},
    SymbolName{"exclamationmark.triangle", "dialog-warning", "⚠"},
    SymbolName{"return", "keyboard-enter", "↵"},
    SymbolName{"checkmark.circle.fill", "emblem-ok", "✓"},
    SymbolName{"xmark.octagon.fill", "dialog-error", "✗"},
    SymbolName{"sparkles", "dialog-information", "✦"},
    SymbolName{"exclamationmark.shield.fill", "security-medium", "⚠"},
    SymbolName{"scope", "zoom-in", "◎"},
    SymbolName{"text.quote", "format-text-blockquote", "❝"},
    SymbolName{"gearshape", "preferences-system", "⚙"},
    SymbolName{"lock.shield", "security-high", ""},
    SymbolName{"checkmark.seal.fill", "emblem-default", "✓"},
    SymbolName{"xmark.seal.fill", "emblem-unreadable", "✗"},
    SymbolName{"doc.text", "text-x-generic", "☰"},
    SymbolName{"text.alignleft", "format-justify-left", "≡"},
    SymbolName{"magnifyingglass", "edit-find", "⌕"},
    SymbolName{"cursorarrow.click", "input-mouse", "➚"},
    SymbolName{"arrow.up.and.down", "view-sort", "↕"},
    SymbolName{"arrow.down", "go-down", "↓"},
    SymbolName{"arrow.up", "go-up", "↑"},
    SymbolName{"arrow.down.to.line", "go-bottom", "⇊"},
    SymbolName{"arrow.up.to.line", "go-top", "⇈"},
    SymbolName{"arrow.clockwise", "view-refresh", "↻"},
    SymbolName{"rectangle.dashed", "select-rectangular", "⬚"},
};

const SymbolName* find(std::string_view name) {
  for (const SymbolName& s : kSymbols) {
    if (s.symbol == name) return &s;
  }
  return nullptr;
}

// A padlock: no font on a plain Debian desktop has one.
void drawLock(QPainter& painter, const QColor& colour) {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(colour, 6));
  painter.setBrush(Qt::NoBrush);
  painter.drawArc(QRect(18, 6, 28, 34), 0, 180 * 16);
  painter.drawLine(18, 23, 18, 30);
  painter.drawLine(46, 23, 46, 30);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawRoundedRect(QRect(10, 28, 44, 32), 6, 6);
}

QIcon drawn(const QString& glyph, const QColor& tint) {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  if (glyph.isEmpty()) {
    drawLock(painter, tint.isValid() ? tint : QColor(110, 110, 110));
    painter.end();
    return QIcon(pixmap);
  }
  painter.setRenderHint(QPainter::TextAntialiasing);
  QFont font = painter.font();
  font.setPixelSize(48);
  painter.setFont(font);
  painter.setPen(tint.isValid() ? tint : QColor(110, 110, 110));
  painter.drawText(pixmap.rect(), Qt::AlignCenter, glyph);
  painter.end();
  return QIcon(pixmap);
}

}  // namespace

QString fallbackGlyph(std::string_view name) {
  const SymbolName* s = find(name);
  return QString::fromUtf8(s ? s->glyph : "•");
}

QIcon symbol(std::string_view name, QColor tint) {
  // Made once each: the palette asks again every time it redraws.
  static QHash<QString, QIcon> made;
  const QString key = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) + '|' +
                      (tint.isValid() ? tint.name(QColor::HexArgb) : QString());
  if (auto it = made.constFind(key); it != made.constEnd()) return *it;
  QIcon icon;
  const SymbolName* s = find(name);
  // A tinted symbol (success green, failure red) is drawn so the colour
  // carries its meaning whatever the icon theme looks like.
  if (s && !tint.isValid()) icon = QIcon::fromTheme(QString::fromLatin1(s->themeIcon));
  if (icon.isNull()) icon = drawn(fallbackGlyph(name), tint);
  made[key] = icon;
  return icon;
}

}  // namespace tovrin::desktop
