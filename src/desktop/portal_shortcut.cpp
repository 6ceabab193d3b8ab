#include "desktop/portal_shortcut.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace tovrin::desktop {

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcutEntry& entry) {
  out.beginStructure();
  out << entry.id << entry.options;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcutEntry& entry) {
  in.beginStructure();
  in >> entry.id >> entry.options;
  in.endStructure();
  return in;
}

void registerPortalTypes() {
  static const bool once = [] {
    qDBusRegisterMetaType<PortalShortcutEntry>();
    qDBusRegisterMetaType<PortalShortcutList>();
    return true;
  }();
  (void)once;
}

namespace {

constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kShortcutID = "toggle";

QString pathOf(const QVariant& value) {
  if (value.userType() == qMetaTypeId<QDBusObjectPath>())
    return value.value<QDBusObjectPath>().path();
  return value.toString();
}

}  // namespace

QString portalTrigger(const HotkeyPreset& preset) {
  switch (preset.id) {
    case 1:
      return "CTRL+space";
    case 2:
      return "LOGO+SHIFT+space";
    case 3:
      return "ALT+LOGO+space";
    default:
      return "ALT+space";
  }
}

PortalShortcut::PortalShortcut(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  registerPortalTypes();
  bus_.connect(kPortalService, kPortalPath, kShortcutsInterface, "Activated", this,
               SLOT(onActivated(QDBusMessage)));
}

PortalShortcut::~PortalShortcut() {
  closeSession();
}

QString PortalShortcut::requestPath(const QString& token) const {
  // The portal names a request after the caller's unique name, ":1.42"
  // becoming "1_42", and the token the caller gave.
  QString sender = bus_.baseService().mid(1).replace('.', '_');
  return QString(kPortalPath) + "/request/" + sender + "/" + token;
}

void PortalShortcut::closeSession() {
  if (session_.isEmpty()) return;
  bus_.call(QDBusMessage::createMethodCall(kPortalService, session_,
                                           "org.freedesktop.portal.Session", "Close"),
            QDBus::NoBlock);
  session_.clear();
  bound_ = false;
}

void PortalShortcut::bind(const HotkeyPreset& preset) {
  // A chord chosen anew is proposed to the desktop even where it has one
  // bound already; at start, what it has bound is enough.
  listFirst_ = session_.isEmpty();
  // The old chord's session goes first: two shortcuts never stay bound.
  closeSession();
  trigger_ = portalTrigger(preset);
  ++serial_;
  step_ = Step::creatingSession;
  // KDE Plasma 5.27's portal binds the shortcuts passed with the session
  // (its BindShortcuts only opens System Settings); later portals ignore
  // them there and bind on BindShortcuts.
  request("CreateSession",
          {QVariantMap{{"handle_token", QString("tovrin_create_%1").arg(serial_)},
                       {"session_handle_token", QString("tovrin_%1").arg(serial_)},
                       {"shortcuts", QVariant::fromValue(wanted())}}},
          QString("tovrin_create_%1").arg(serial_));
}

void PortalShortcut::requestBinding() {
  step_ = Step::binding;
  const QString token = QString("tovrin_bind_%1").arg(serial_);
  request("BindShortcuts",
          {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(wanted()), QString(),
           QVariantMap{{"handle_token", token}}},
          token);
}

PortalShortcutList PortalShortcut::wanted() const {
  return {{kShortcutID, QVariantMap{{"description", "Open or close the Tovrin palette"},
                                    {"preferred_trigger", trigger_}}}};
}

void PortalShortcut::request(const QString& method, QList<QVariant> arguments,
                             const QString& token) {
  if (!pendingRequest_.isEmpty()) {
    bus_.disconnect(kPortalService, pendingRequest_, kRequestInterface, "Response", this,
                    SLOT(onResponse(QDBusMessage)));
  }
  pendingRequest_ = requestPath(token);
  bus_.connect(kPortalService, pendingRequest_, kRequestInterface, "Response", this,
               SLOT(onResponse(QDBusMessage)));
  QDBusMessage call =
      QDBusMessage::createMethodCall(kPortalService, kPortalPath, kShortcutsInterface, method);
  call.setArguments(arguments);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
  const Step step = step_;
  connect(
      watcher, &QDBusPendingCallWatcher::finished, this, [this, step](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (step_ != step) return;  // replaced meanwhile
        QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
          step_ = Step::idle;
          emit failed(reply.error().type() == QDBusError::ServiceUnknown ||
                              reply.error().type() == QDBusError::UnknownInterface ||
                              reply.error().type() == QDBusError::UnknownMethod
                          ? "this desktop offers no global shortcuts to programs"
                          : "the desktop's shortcut service refused: " + reply.error().message());
          return;
        }
        // Older portals answer on a path of their own choosing.
        const QString path = reply.value().path();
        if (path != pendingRequest_) {
          bus_.disconnect(kPortalService, pendingRequest_, kRequestInterface, "Response", this,
                          SLOT(onResponse(QDBusMessage)));
          pendingRequest_ = path;
          bus_.connect(kPortalService, pendingRequest_, kRequestInterface, "Response", this,
                       SLOT(onResponse(QDBusMessage)));
        }
      });
}

void PortalShortcut::onResponse(const QDBusMessage& message) {
  if (message.path() != pendingRequest_ || message.arguments().size() < 2) return;
  bus_.disconnect(kPortalService, pendingRequest_, kRequestInterface, "Response", this,
                  SLOT(onResponse(QDBusMessage)));
  pendingRequest_.clear();
  const uint response = message.arguments().at(0).toUInt();
  const auto results = qdbus_cast<QVariantMap>(message.arguments().at(1));
  const Step step = std::exchange(step_, Step::idle);
  if (response != 0) {
    // 1: the user said no in the desktop's dialog; 2: anything else.
    emit failed(response == 1 ? "the shortcut was declined in the desktop's dialog"
                              : "the desktop's shortcut service could not bind it");
    return;
  }
  if (step == Step::creatingSession) {
    session_ = pathOf(results.value("session_handle"));
    if (session_.isEmpty()) {
      emit failed("the desktop's shortcut service gave no session");
      return;
    }
    // Bound already (with the session, or by the user earlier)? Asking to
    // bind again would open the desktop's dialog or settings for nothing.
    if (!listFirst_) {
      requestBinding();
      return;
    }
    step_ = Step::listing;
    const QString token = QString("tovrin_list_%1").arg(serial_);
    request("ListShortcuts",
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap{{"handle_token", token}}},
            token);
    return;
  }
  QString trigger;
  bool ours = false;
  if (results.contains("shortcuts")) {
    for (const PortalShortcutEntry& entry :
         qdbus_cast<PortalShortcutList>(results.value("shortcuts"))) {
      if (entry.id != kShortcutID) continue;
      ours = true;
      trigger = entry.options.value("trigger_description").toString();
    }
  }
  if (step == Step::listing && !ours) {
    requestBinding();
    return;
  }
  if (step != Step::binding && step != Step::listing) return;
  if (!ours) {
    emit failed("the desktop did not bind the shortcut");
    return;
  }
  bound_ = true;
  emit bound(trigger);
}

void PortalShortcut::onActivated(const QDBusMessage& message) {
  const QList<QVariant> args = message.arguments();
  if (!bound_ || args.size() < 2) return;
  if (pathOf(args.at(0)) != session_ || args.at(1).toString() != kShortcutID) return;
  emit activated();
}

}  // namespace tovrin::desktop
