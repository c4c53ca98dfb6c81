#include "DesktopNotices.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
constexpr int CallTimeoutMilliseconds = 5000;
constexpr int DefaultExpiry = -1;
constexpr uchar UrgencyNormal = 1;
constexpr uchar UrgencyCritical = 2;
} // namespace

TDesktopNotices::TDesktopNotices(const QDBusConnection& bus, TFallback fallback, QObject* parent)
    : QObject(parent), FBus(bus), FFallback(std::move(fallback)) {
    if (FBus.isConnected()) {
        FBus.connect(QString(), NotificationsPath, NotificationsInterface, QStringLiteral("ActionInvoked"),
                     this, SLOT(ActionInvoked(uint, QString)));
    }
}

void TDesktopNotices::Fallback(const TNotice& notice) {
    if (FFallback) {
        FFallback(notice);
    }
}

// The first notice asks the service what it can show; its answer, or its
// silence, decides for the notices waiting behind it.
void TDesktopNotices::Show(const TNotice& notice) {
    if (!FBus.isConnected()) {
        Fallback(notice);
        return;
    }
    if (FBodyMarkup) {
        Send(notice);
        return;
    }
    FWaiting.append(notice);
    if (FAskingCapabilities) {
        return;
    }
    FAskingCapabilities = true;
    const QDBusMessage ask = QDBusMessage::createMethodCall(
        NotificationsService, NotificationsPath, NotificationsInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(ask, CallTimeoutMilliseconds), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        FAskingCapabilities = false;
        const QDBusPendingReply<QStringList> reply = *call;
        const QList<TNotice> waiting = std::exchange(FWaiting, {});
        if (reply.isError()) {
            // No service answers: asked again with the next notice.
            for (const TNotice& waited : waiting) {
                Fallback(waited);
            }
            return;
        }
        FBodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
        for (const TNotice& waited : waiting) {
            Send(waited);
        }
    });
}

void TDesktopNotices::Send(const TNotice& notice) {
    QDBusMessage call = QDBusMessage::createMethodCall(NotificationsService, NotificationsPath,
                                                       NotificationsInterface, QStringLiteral("Notify"));
    // A service that reads markup would take "<" or "&" in a name for a tag.
    const QString body = *FBodyMarkup ? notice.FBody.toHtmlEscaped() : notice.FBody;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(notice.FProblem ? UrgencyCritical : UrgencyNormal));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("pairwell"));
    call << QStringLiteral("Pairwell") << uint(0) << QStringLiteral("pairwell") << notice.FTitle << body
         << QStringList{OpenLogActionKey, OpenLogActionLabel} << hints << DefaultExpiry;
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call, CallTimeoutMilliseconds), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, notice](QDBusPendingCallWatcher* sent) {
        sent->deleteLater();
        const QDBusPendingReply<uint> reply = *sent;
        if (reply.isError()) {
            FBodyMarkup.reset(); // the service went away: ask again next time
            Fallback(notice);
            return;
        }
        FSentIds.append(reply.value());
        emit Delivered(reply.value());
    });
}

void TDesktopNotices::ActionInvoked(uint id, const QString& actionKey) {
    if (FSentIds.contains(id) && actionKey == OpenLogActionKey) {
        emit OpenLogRequested();
    }
}
