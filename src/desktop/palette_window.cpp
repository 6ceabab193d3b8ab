#include "desktop/palette_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/overloaded.h"
#include "desktop/symbols.h"
#include "ui/palette_controls.h"

namespace tovrin::desktop {
namespace {

constexpr int kWidth = 680;
const QColor kOrange(230, 126, 34);
const QColor kGreen(46, 160, 67);
const QColor kRed(207, 34, 46);

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

QLabel* label(const QString& text, QWidget* parent, const char* role = nullptr) {
  auto* l = new QLabel(text, parent);
  l->setWordWrap(true);
  if (role != nullptr) l->setObjectName(role);
  return l;
}

QLabel* markdown(const std::string& text, QWidget* parent) {
  auto* l = label(q(text), parent);
  l->setTextFormat(Qt::MarkdownText);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

QLabel* icon(std::string_view name, QWidget* parent, int size, QColor tint = QColor()) {
  auto* l = new QLabel(parent);
  l->setPixmap(symbol(name, tint).pixmap(size, size));
  l->setFixedSize(size, size);
  return l;
}

// Secondary and tertiary text, and the small caption font; from the
// application's defaults each time, so a label restyled stays as asked.
void tone(QLabel* l, int alpha, bool caption) {
  QPalette p = QApplication::palette(l);
  QColor c = p.color(QPalette::WindowText);
  c.setAlpha(alpha);
  p.setColor(QPalette::WindowText, c);
  l->setPalette(p);
  QFont f = QApplication::font(l);
  if (caption) f.setPointSizeF(f.pointSizeF() * 0.85);
  l->setFont(f);
}

void colour(QLabel* l, const QColor& c) {
  QPalette p = QApplication::palette(l);
  p.setColor(QPalette::WindowText, c);
  l->setPalette(p);
  l->setFont(QApplication::font(l));
}

QString rgba(QColor c, int alpha) {
  return QString("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(alpha);
}

QFrame* divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setObjectName("divider");
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  return line;
}

// Widgets added to a window already on screen stay hidden until shown;
// shown here at once, so the height fitted next counts them.
void showAll(QLayout* layout) {
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (QWidget* w = item->widget()) w->show();
    if (QLayout* inner = item->layout()) showAll(inner);
  }
}

// A scroll area that grows with its content up to `cap` pixels.
QScrollArea* capped(QWidget* inner, int cap, QWidget* parent) {
  auto* area = new QScrollArea(parent);
  area->setWidget(inner);
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  inner->adjustSize();
  area->setFixedHeight(std::min(cap, inner->sizeHint().height() + 2));
  return area;
}

}  // namespace

PaletteWindow::PaletteWindow(std::shared_ptr<PaletteViewModel> vm, Texts texts, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      vm_(std::move(vm)),
      texts_(std::move(texts)) {
  setObjectName("TovrinPalette");
  setWindowTitle("Tovrin");
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedWidth(kWidth);
  resignTimer_ = new QTimer(this);
  resignTimer_->setSingleShot(true);
  resignTimer_->setInterval(150);
  connect(resignTimer_, &QTimer::timeout, this, [this] {
    if (isVisible() && !isActiveWindow()) hide();
  });
  // While the onboarding shows, access may be granted elsewhere (the
  // desktop's settings, a command line): asked again every second, the
  // palette appears by itself.
  trustTimer_ = new QTimer(this);
  trustTimer_->setInterval(1000);
  connect(trustTimer_, &QTimer::timeout, this, [this] {
    if (!isVisible() || vm_->recheckTrust()) trustTimer_->stop();
  });

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSizeConstraint(QLayout::SetFixedSize);
  panel_ = new QFrame(this);
  panel_->setObjectName("panel");
  panel_->setFixedWidth(kWidth);
  applyTheme();
  outer->addWidget(panel_);
  auto* column = new QVBoxLayout(panel_);
  column->setContentsMargins(14, 10, 14, 8);
  column->setSpacing(8);

  // Command bar.
  auto* bar = new QHBoxLayout();
  bar->addWidget(icon("text.viewfinder", panel_, 24));
  input_ = new QLineEdit(panel_);
  input_->setObjectName("command");
  input_->setPlaceholderText("What do you want to do?");
  input_->setFrame(false);
  input_->setStyleSheet("background: transparent;");
  QFont big = input_->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  input_->setFont(big);
  input_->installEventFilter(this);
  bar->addWidget(input_, 1);
  busy_ = label("…", panel_, "busy");
  tone(busy_, 140, false);
  bar->addWidget(busy_);
  badge_ = label({}, panel_, "badge");
  badge_->setWordWrap(false);
  bar->addWidget(badge_);
  column->addLayout(bar);
  column->addWidget(divider(panel_));

  content_ = new QWidget(panel_);
  content_->setObjectName("content");
  new QVBoxLayout(content_);
  content_->layout()->setContentsMargins(0, 0, 0, 0);
  column->addWidget(content_);
  column->addWidget(divider(panel_));

  // Footer.
  auto* footer = new QHBoxLayout();
  modelStatus_ = label(q(texts_.modelStatus), panel_, "modelStatus");
  modelStatus_->setWordWrap(false);
  tone(modelStatus_, 150, true);
  footer->addWidget(modelStatus_);
  footer->addStretch(1);
  auto* keys = label("↵ run · esc close", panel_, "keys");
  keys->setWordWrap(false);
  tone(keys, 150, true);
  footer->addWidget(keys);
  auto* inspector = new QToolButton(panel_);
  inspector->setObjectName("inspectorButton");
  inspector->setIcon(symbol("scope"));
  inspector->setToolTip("Element Inspector");
  inspector->setAutoRaise(true);
  connect(inspector, &QToolButton::clicked, this, &PaletteWindow::inspectorRequested);
  footer->addWidget(inspector);
  auto* settings = new QToolButton(panel_);
  settings->setObjectName("settingsButton");
  settings->setIcon(symbol("gearshape"));
  settings->setToolTip("Settings");
  settings->setAutoRaise(true);
  connect(settings, &QToolButton::clicked, this, &PaletteWindow::settingsRequested);
  footer->addWidget(settings);
  column->addLayout(footer);

  connect(input_, &QLineEdit::textEdited, this, [this](const QString& text) {
    vm_->input = text.toStdString();
    vm_->inputChanged();
  });
  // The view model may change from any callback; the view follows on the
  // interface thread, where the view model's observers run.
  vm_->onChange([guard = QPointer<PaletteWindow>(this)] {
    if (guard) guard->render();
  });
  render();
}

PaletteWindow::~PaletteWindow() = default;

void PaletteWindow::applyTheme() {
  // The panel's colours come from the theme's palette, so that a dark
  // theme's light text never lands on a light panel.
  const QPalette theme = QApplication::palette();
  const QColor text = theme.color(QPalette::WindowText);
  panel_->setStyleSheet(
      QString("#panel { background: %1; border: 0.5px solid %2;"
              " border-radius: 12px; } #divider { color: %3; }")
          .arg(rgba(theme.color(QPalette::Window), 245), rgba(text, 60), rgba(text, 30)));
}

void PaletteWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ApplicationPaletteChange) {
    applyTheme();
    tone(busy_, 140, false);
    tone(modelStatus_, 150, true);
    if (auto* keys = findChild<QLabel*>("keys")) tone(keys, 150, true);
    render();  // the labels' tones are taken from the palette as they are made
  }
  QWidget::changeEvent(event);
}

void PaletteWindow::setModelStatus(const std::string& text) {
  texts_.modelStatus = text;
  modelStatus_->setText(q(text));
}

void PaletteWindow::setNote(const std::string& text) {
  note_ = text;
  render();
}

void PaletteWindow::setBrowserToRestart(const std::string& name) {
  browserToRestart_ = name;
  askingRestart_ = false;
  render();
}

void PaletteWindow::present() {
  resignTimer_->stop();
  steppedAside_ = false;
  vm_->reset();
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    const QRect area = screen->availableGeometry();
    top_ = area.top() + static_cast<int>(0.22 * area.height());
    move(area.center().x() - kWidth / 2, top_);
  }
  render();
  show();
  raise();
  activateWindow();
  // Typing must reach the command field at once, before the window
  // manager's word that the panel is active comes back.
  QApplication::setActiveWindow(this);
  input_->setFocus(Qt::ActiveWindowFocusReason);
  vm_->opened();
}

void PaletteWindow::render() {
  if (rendering_) return;
  rendering_ = true;
  if (input_->text().toStdString() != vm_->input) input_->setText(q(vm_->input));
  const bool working = std::holds_alternative<PaletteViewModel::Working>(vm_->phase());
  busy_->setVisible(working);
  const bool ended = wasWorking_ && !working;
  wasWorking_ = working;

  if (const auto& target = vm_->target()) {
    const std::string& name =
        target->app.localizedName.empty() ? target->app.bundleID : target->app.localizedName;
    badge_->setText(q(name));
    tone(badge_, 150, true);
  } else {
    badge_->setText(fallbackGlyph("exclamationmark.triangle") + " No browser");
    colour(badge_, kOrange);
  }

  // The content is rebuilt for each change: it holds a few widgets at most.
  QLayout* old = content_->layout();
  while (QLayoutItem* item = old->takeAt(0)) {
    // Hidden at once, deleted once the event that led here is done.
    if (QWidget* w = item->widget()) w->hide(), w->deleteLater();
    if (QLayout* l = item->layout()) {
      while (QLayoutItem* inner = l->takeAt(0)) {
        if (QWidget* w = inner->widget()) w->hide(), w->deleteLater();
        delete inner;
      }
    }
    delete item;
  }
  auto* into = static_cast<QVBoxLayout*>(old);
  if (!note_.empty()) {
    auto* note = label(q(note_), content_, "note");
    colour(note, kOrange);
    into->addWidget(note);
  }
  if (!shortcutOffer_.empty()) {
    auto* row = new QHBoxLayout();
    auto* add = new QPushButton(q(shortcutOffer_), content_);
    add->setObjectName("addShortcutButton");
    add->setFocusPolicy(Qt::NoFocus);
    connect(add, &QPushButton::clicked, this, &PaletteWindow::shortcutOfferTaken);
    row->addWidget(add);
    row->addStretch(1);
    into->addLayout(row);
  }
  if (!vm_->trusted()) {
    if (!trustTimer_->isActive()) trustTimer_->start();
    buildOnboarding(into);
  } else {
    trustTimer_->stop();
    std::visit(Overloaded{
                   [&](const PaletteViewModel::Idle&) { buildIdle(into); },
                   [&](const PaletteViewModel::Working& w) {
                     auto* row = label("… " + q(w.status), content_, "working");
                     tone(row, 150, false);
                     into->addWidget(row);
                   },
                   [&](const ActionResult& r) { buildResult(into, r); },
                   [&](const Confirmation& c) { buildConfirmation(into, c); },
                   [&](const ChoiceSet& s) { buildChoice(into, s); },
               },
               vm_->phase());
  }
  showAll(into);
  rendering_ = false;
  fitHeight();
  if (ended) handBack();
}

void PaletteWindow::handBack() {
  // The command may have brought the browser to the front; the palette
  // takes the keyboard back to show its outcome and take the next one, but
  // not from a window the user went to while it worked.
  const bool elsewhere = !isActiveWindow() && userElsewhere_ && userElsewhere_();
  const bool wasAside = std::exchange(steppedAside_, false);
  if (elsewhere) {
    if (wasAside) {
      if (const auto* result = std::get_if<ActionResult>(&vm_->phase()))
        emit outcomeUnseen(q(result->headline));
    }
    return;
  }
  if (!isVisible() && !wasAside) return;  // closed by the user meanwhile
  show();
  raise();
  activateWindow();
  QApplication::setActiveWindow(this);
  input_->setFocus(Qt::ActiveWindowFocusReason);
}

void PaletteWindow::setShortcutOffer(const std::string& text) {
  if (text == shortcutOffer_) return;
  shortcutOffer_ = text;
  render();
}

void PaletteWindow::setUserElsewhere(std::function<bool()> userElsewhere) {
  userElsewhere_ = std::move(userElsewhere);
}

void PaletteWindow::dismiss() {
  steppedAside_ = false;
  hide();
}

void PaletteWindow::stepAside() {
  if (!isVisible()) return;
  steppedAside_ = true;
  hide();
}

void PaletteWindow::fitHeight() {
  // Grows and shrinks with the content, the top edge staying where it is.
  content_->layout()->activate();
  panel_->layout()->activate();
  adjustSize();
  if (top_ >= 0 && y() != top_) move(x(), top_);
}

void PaletteWindow::buildIdle(QVBoxLayout* into) {
  if (auto preview = vm_->preview()) {
    auto* row = new QHBoxLayout();
    row->addWidget(icon("return", content_, 14));
    auto* text = label(q(*preview), content_, "preview");
    tone(text, 150, false);
    row->addWidget(text, 1);
    into->addLayout(row);
  }
  auto* chips = new QHBoxLayout();
  for (const Suggestion& s : vm_->suggestions()) {
    auto* chip = new QPushButton(symbol(s.icon), q(s.title), content_);
    chip->setObjectName("chip");
    chip->setFlat(true);
    chip->setFocusPolicy(Qt::NoFocus);
    connect(chip, &QPushButton::clicked, this, [this, s] { vm_->use(s); });
    chips->addWidget(chip);
  }
  chips->addStretch(1);
  into->addLayout(chips);
  if (vm_->input.empty() && !vm_->target()) {
    auto* hint = label("Bring " + QString::fromStdString(BrowserRegistry::supportedNames()) +
                           " to the front, then open Tovrin.",
                       content_, "noBrowserHint");
    colour(hint, kOrange);
    into->addWidget(hint);
  }
}

void PaletteWindow::buildResult(QVBoxLayout* into, const ActionResult& result) {
  auto* header = new QHBoxLayout();
  switch (result.kind) {
    case ActionResult::Kind::success:
      header->addWidget(icon("checkmark.circle.fill", content_, 18, kGreen));
      break;
    case ActionResult::Kind::failure:
      header->addWidget(icon("xmark.octagon.fill", content_, 18, kRed));
      break;
    case ActionResult::Kind::info:
      header->addWidget(icon("sparkles", content_, 18));
      break;
  }
  auto* headline = markdown(result.headline, content_);
  headline->setObjectName("headline");
  header->addWidget(headline, 1);
  if (result.copyText) {
    auto* copy = new QPushButton("Copy", content_);
    copy->setObjectName("copyButton");
    copy->setFocusPolicy(Qt::NoFocus);
    connect(copy, &QPushButton::clicked, this, [text = *result.copyText] {
      QClipboard* clipboard = QGuiApplication::clipboard();
      clipboard->clear();
      clipboard->setText(q(text));
    });
    header->addWidget(copy);
  }
  into->addLayout(header);

  if (result.body && !result.body->empty()) {
    auto* body = markdown(*result.body, nullptr);
    body->setObjectName("body");
    into->addWidget(capped(body, 260, content_));
  }
  if (!result.items.empty()) {
    auto* list = new QWidget();
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);
    for (const FoundItem& item : result.items) {
      auto* row =
          new QPushButton(symbol(item.element ? "scope" : "text.quote"), q(item.text), list);
      row->setObjectName("item");
      row->setFlat(true);
      row->setFocusPolicy(Qt::NoFocus);
      row->setStyleSheet("text-align: left;");
      if (item.element)
        connect(row, &QPushButton::clicked, this, [this, item] { vm_->reveal(item); });
      rows->addWidget(row);
    }
    into->addWidget(capped(list, 220, content_));
  }
  if (!result.debug.empty()) {
    auto* why = new QPushButton("Why?", content_);
    why->setObjectName("whyButton");
    why->setFlat(true);
    why->setFocusPolicy(Qt::NoFocus);
    connect(why, &QPushButton::clicked, this, [this] {
      vm_->showWhy = !vm_->showWhy;
      render();
    });
    auto* row = new QHBoxLayout();
    row->addWidget(why);
    row->addStretch(1);
    into->addLayout(row);
    if (vm_->showWhy) {
      QString lines;
      for (const std::string& line : result.debug)
        lines += (lines.isEmpty() ? "" : "\n") + q(line);
      auto* trail = label(lines, content_, "trail");
      QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
      mono.setPixelSize(11);
      trail->setFont(mono);
      trail->setTextInteractionFlags(Qt::TextSelectableByMouse);
      trail->setContentsMargins(6, 4, 6, 4);
      tone(trail, 160, false);
      into->addWidget(trail);
    }
  }
}

void PaletteWindow::buildConfirmation(QVBoxLayout* into, const Confirmation& confirmation) {
  auto* header = new QHBoxLayout();
  header->addWidget(icon("exclamationmark.shield.fill", content_, 22, kOrange));
  auto* title = label(q(confirmation.title), content_, "confirmTitle");
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  header->addWidget(title, 1);
  into->addLayout(header);
  auto* message = label(q(confirmation.message), content_, "confirmMessage");
  tone(message, 150, false);
  into->addWidget(message);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  auto* cancel = new QPushButton("Cancel", content_);
  cancel->setObjectName("cancelButton");
  cancel->setFocusPolicy(Qt::NoFocus);
  connect(cancel, &QPushButton::clicked, this, [this] { vm_->cancel(); });
  buttons->addWidget(cancel);
  auto* go = new QPushButton(q(confirmation.confirmLabel), content_);
  go->setObjectName("confirmButton");
  go->setFocusPolicy(Qt::NoFocus);
  go->setStyleSheet(
      "QPushButton { background: rgb(230,126,34); color: white; border-radius: 5px;"
      " padding: 4px 14px; font-weight: bold; }");
  connect(go, &QPushButton::clicked, this, [this, confirmation] { vm_->confirm(confirmation); });
  buttons->addWidget(go);
  into->addLayout(buttons);
}

void PaletteWindow::buildChoice(QVBoxLayout* into, const ChoiceSet& choices) {
  auto* prompt = label(q(choices.prompt), content_, "choicePrompt");
  tone(prompt, 150, true);
  into->addWidget(prompt);
  for (std::size_t i = 0; i < choices.options.size(); ++i) {
    const ChoiceOption& option = choices.options[i];
    const bool selected = static_cast<int>(i) == vm_->selected;
    auto* row = new QPushButton(content_);
    row->setObjectName(selected ? "selectedOption" : "option");
    row->setFocusPolicy(Qt::NoFocus);
    row->setFlat(!selected);
    row->setText(QString("%1   %2\n      %3%4")
                     .arg(i + 1)
                     .arg(q(option.title), q(option.subtitle), selected ? "   ↵" : ""));
    row->setStyleSheet(selected ? "QPushButton { text-align: left; background: palette(highlight);"
                                  " color: palette(highlighted-text); border-radius: 6px;"
                                  " padding: 4px; }"
                                : "QPushButton { text-align: left; padding: 4px; }");
    connect(row, &QPushButton::clicked, this, [this, i] { vm_->pick(static_cast<int>(i)); });
    into->addWidget(row);
  }
  auto* hint = label(texts_.outlines
                         ? "↑↓ to preview (the element is outlined in the browser) · ↵ to choose"
                         : "↑↓ to move · ↵ to choose · outlines are not available on this desktop",
                     content_, "choiceHint");
  tone(hint, 110, true);
  into->addWidget(hint);
}

// The one button of a view that does what the view is about.
constexpr const char* kProminent =
    "QPushButton { background: palette(highlight); color: palette(highlighted-text);"
    " border-radius: 5px; padding: 4px 14px; }";

void PaletteWindow::buildOnboarding(QVBoxLayout* into) {
  auto* header = new QHBoxLayout();
  header->addWidget(icon("lock.shield", content_, 28));
  auto* title = label("Tovrin needs Accessibility access", content_, "onboardingTitle");
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  title->setFont(bold);
  header->addWidget(title, 1);
  into->addLayout(header);
  into->addWidget(label(
      "Your desktop exposes every button, link and text field in your browser through its "
      "accessibility interface (AT-SPI). Tovrin uses it to read the page you're looking at and to "
      "click, type and scroll for you — nothing else.",
      content_, "onboardingWhy"));
  for (const char* row : {"Page content stays in memory on this computer and is never saved",
                          "No network, no analytics, no screenshots, no cloud AI",
                          "Risky clicks (purchases, sending, deleting) always ask first"}) {
    auto* line = label(QString("✓  ") + row, content_, "reassurance");
    tone(line, 170, false);
    into->addWidget(line);
  }
  into->addWidget(
      label("Turn on assistive technology support, then restart your browser. Chromium, Chrome, "
            "Brave and Edge also need --force-renderer-accessibility; “tovrin doctor --fix” "
            "sets up both.",
            content_, "onboardingWhat"));
  auto* buttons = new QHBoxLayout();
  auto* grant = new QPushButton("Turn On Accessibility…", content_);
  grant->setObjectName("grantButton");
  grant->setFocusPolicy(Qt::NoFocus);
  grant->setStyleSheet(kProminent);
  connect(grant, &QPushButton::clicked, this, &PaletteWindow::turnOnAccessibilityRequested);
  buttons->addWidget(grant);
  if (!browserToRestart_.empty() && !askingRestart_) {
    auto* restart = new QPushButton(
        QString::fromStdString("Restart " + browserToRestart_ + " with Accessibility…"), content_);
    restart->setObjectName("restartBrowserButton");
    restart->setFocusPolicy(Qt::NoFocus);
    // Quitting the user's browser is asked about first, here in the panel:
    // a dialog would take the focus and the panel would hide under it.
    connect(restart, &QPushButton::clicked, this, [this] {
      askingRestart_ = true;
      render();
    });
    buttons->addWidget(restart);
  }
  auto* enabled = new QPushButton("I've enabled it", content_);
  enabled->setObjectName("enabledButton");
  enabled->setFocusPolicy(Qt::NoFocus);
  connect(enabled, &QPushButton::clicked, this, [this] { vm_->refreshContext(); });
  buttons->addWidget(enabled);
  buttons->addStretch(1);
  into->addLayout(buttons);
  if (browserToRestart_.empty() || !askingRestart_) return;
  into->addWidget(label(QString::fromStdString("Restart " + browserToRestart_ +
                                               " with accessibility on? Its open tabs are "
                                               "restored."),
                        content_, "restartQuestion"));
  auto* ask = new QHBoxLayout();
  ask->addStretch(1);
  auto* cancel = new QPushButton("Cancel", content_);
  cancel->setObjectName("restartCancel");
  cancel->setFocusPolicy(Qt::NoFocus);
  connect(cancel, &QPushButton::clicked, this, [this] {
    askingRestart_ = false;
    render();
  });
  ask->addWidget(cancel);
  auto* go = new QPushButton("Restart", content_);
  go->setObjectName("restartConfirm");
  go->setFocusPolicy(Qt::NoFocus);
  go->setStyleSheet(kProminent);
  connect(go, &QPushButton::clicked, this, [this] {
    askingRestart_ = false;
    emit restartBrowserRequested();
    render();
  });
  ask->addWidget(go);
  into->addLayout(ask);
}

void PaletteWindow::returnPressed() {
  const auto& phase = vm_->phase();
  if (const auto* c = std::get_if<Confirmation>(&phase)) {
    Confirmation confirmation = *c;  // the phase changes under the call
    vm_->confirm(confirmation);
  } else if (std::holds_alternative<ChoiceSet>(phase)) {
    vm_->pick(vm_->selected);
  } else {
    vm_->input = input_->text().toStdString();
    vm_->submit();
  }
}

bool PaletteWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == input_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      returnPressed();
      return true;
    }
    PaletteKey pk;
    switch (key->key()) {
      case Qt::Key_Up:
        pk.keyCode = 126;
        break;
      case Qt::Key_Down:
        pk.keyCode = 125;
        break;
      case Qt::Key_Escape:
        pk.keyCode = 53;
        break;
      default:
        pk.characters = key->text().toStdString();
        break;
    }
    switch (handleKey(*vm_, pk)) {
      case KeyRouting::passThrough:
        return false;
      case KeyRouting::consumed:
        return true;
      case KeyRouting::consumedAndClose:
        hide();
        return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool PaletteWindow::event(QEvent* event) {
  // A command that types or presses keys brings the browser to the front
  // while it works: that is not the user leaving the palette.
  if (event->type() == QEvent::WindowDeactivate &&
      !std::holds_alternative<PaletteViewModel::Working>(vm_->phase())) {
    // Another window took the focus: the palette steps aside shortly after,
    // unless the focus came straight back (a click on one of its buttons).
    if (isVisible()) resignTimer_->start();
  }
  return QWidget::event(event);
}

void PaletteWindow::hideEvent(QHideEvent* event) {
  resignTimer_->stop();
  // A note stays with a panel that only stepped aside for a command, and so
  // does that command's page; closed, the palette keeps nothing of a page.
  if (!steppedAside_) {
    note_.clear();
    vm_->closed();
  }
  QWidget::hideEvent(event);
  emit hidden();
}

QStringList PaletteWindow::shownTexts() const {
  QStringList out;
  for (QWidget* w : content_->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(content_)) continue;
    if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) out << l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) out << b->text();
  }
  out << badge_->text() << modelStatus_->text();
  return out;
}

}  // namespace tovrin::desktop
