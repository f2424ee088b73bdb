// A message in the desktop's notification area, through the freedesktop notification service on
// the session bus. GUI thread only.
#pragma once

#include <QString>

namespace clipwright {

// Sends the notification without waiting for it to be shown; false, quietly, when Qt was built
// here without D-Bus, or there is no session bus or no notification service on it.
bool NotifyDesktop(const QString& summary, const QString& body);

} // namespace clipwright
