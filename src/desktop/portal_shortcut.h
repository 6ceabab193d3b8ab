#pragma once

// The global hotkey through the desktop's GlobalShortcuts portal, where
// windows cannot grab keys themselves (Wayland). The portal owns the chord:
// Tovrin proposes the preset's, the desktop may let the user pick another,
// and the portal says when it is pressed. Every call is asynchronous, so the
// palette never waits on the portal.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <string>

#include "ui/palette_controls.h"

namespace tovrin::desktop {

inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";

// One shortcut as the portal passes them, a(sa{sv}) on the bus.
struct PortalShortcutEntry {
  QString id;
  QVariantMap options;
};
using PortalShortcutList = QList<PortalShortcutEntry>;
QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcutEntry& entry);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcutEntry& entry);
void registerPortalTypes();

// "ALT+space" for the first preset: the chord in the shortcuts notation the
// portal takes as a preferred trigger.
QString portalTrigger(const HotkeyPreset& preset);

class PortalShortcut final : public QObject {
  Q_OBJECT

 public:
  explicit PortalShortcut(QDBusConnection bus, QObject* parent = nullptr);
  ~PortalShortcut() override;

  // Closes the session of the chord bound before, if any, then asks for a
  // new one with the preset's chord proposed. Ends in bound or failed.
  void bind(const HotkeyPreset& preset);
  [[nodiscard]] bool isBound() const { return !session_.isEmpty() && bound_; }

 signals:
  // The portal took the shortcut; `trigger` is how it says to press it
  // (empty when it does not say).
  void bound(const QString& trigger);
  // In words for the user: why there is no hotkey.
  void failed(const QString& reason);
  void activated();

 private slots:
  void onResponse(const QDBusMessage& message);
  void onActivated(const QDBusMessage& message);

 private:
  enum class Step { idle, creatingSession, listing, binding };
  QString requestPath(const QString& token) const;
  // Tovrin's one shortcut, with the chord it proposes.
  PortalShortcutList wanted() const;
  void requestBinding();
  // Calls the portal with a request handle of ours, listened to first so
  // its answer cannot be missed.
  void request(const QString& method, QList<QVariant> arguments, const QString& token);
  void closeSession();

  QDBusConnection bus_;
  Step step_ = Step::idle;
  QString pendingRequest_;  // the request path whose Response is awaited
  QString session_;
  QString trigger_;  // the proposed chord
  bool bound_ = false;
  bool listFirst_ = true;  // ask what is bound before binding
  unsigned serial_ = 0;
};

}  // namespace tovrin::desktop

Q_DECLARE_METATYPE(tovrin::desktop::PortalShortcutEntry)
