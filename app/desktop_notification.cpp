#include "app/desktop_notification.h"

#ifdef CLIPWRIGHT_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QStringList>
#include <QVariantMap>
#endif

namespace clipwright {

bool NotifyDesktop(const QString& summary, const QString& body) {
#ifdef CLIPWRIGHT_HAVE_DBUS
    const QString service = "org.freedesktop.Notifications";
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Asked first so that no service is started on the bus's behalf for a passing message.
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusInterface notifications(service, "/org/freedesktop/Notifications", service, bus);
    if (!notifications.isValid())
        return false;
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (the
    // server's default).
    notifications.asyncCall("Notify", QString("Clipwright"), 0u, QString("com.vexlane.Clipwright"),
                            summary, body, QStringList(), QVariantMap(), -1);
    return true;
#else
    (void)summary;
    (void)body;
    return false;
#endif
}

} // namespace clipwright
