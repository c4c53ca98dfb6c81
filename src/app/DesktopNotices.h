#pragma once

#include "Notifier.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <functional>
#include <optional>

class QDBusPendingCallWatcher;

// The freedesktop notification service's names.
inline const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
inline const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
inline const QString NotificationsInterface = QStringLiteral("org.freedesktop.Notifications");
// The action of every notice: the whole notice, and its button.
inline const QString OpenLogActionKey = QStringLiteral("default");
inline const QString OpenLogActionLabel = QStringLiteral("查看日志");

// Shows notices through the desktop's notification service on a D-Bus
// connection. Where no service answers, the fallback shows them instead (the
// tray icon's message). Invoking a notice's action asks for the log page.
class TDesktopNotices : public QObject, public TNoticeSink {
    Q_OBJECT
public:
    using TFallback = std::function<void(const TNotice&)>;

    TDesktopNotices(const QDBusConnection& bus, TFallback fallback, QObject* parent = nullptr);

    void Show(const TNotice& notice) override;

signals:
    void OpenLogRequested();
    // The service took the notice under this id.
    void Delivered(uint id);

private slots:
    void ActionInvoked(uint id, const QString& actionKey);

private:
    void Send(const TNotice& notice);
    void Fallback(const TNotice& notice);

    QDBusConnection FBus;
    TFallback FFallback;
    // Whether the service shows markup in a body; unknown until it says.
    std::optional<bool> FBodyMarkup;
    bool FAskingCapabilities = false;
    QList<TNotice> FWaiting;
    QList<uint> FSentIds;
};
