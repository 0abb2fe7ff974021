#include "gui/dvDesktop.h"

#include <QApplication>
#include <QWidget>

#ifdef VELLUM_HAS_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#endif

namespace {

#ifdef VELLUM_HAS_DBUS
void sendNotification(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vellum"));
    call << QStringLiteral("Vellum Converter") << uint(0) << QStringLiteral("vellum") << summary << body
         << QStringList() << hints << int(-1);
    // No answer is awaited: without a notification service the call simply goes nowhere.
    bus.call(call, QDBus::NoBlock);
}

void sendProgress(double fraction, bool visible)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/com/vellum/converter"),
                                                     QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), fraction);
    properties.insert(QStringLiteral("progress-visible"), visible);
    signal << QStringLiteral("application://vellum.desktop") << properties;
    bus.send(signal);
}
#else
void sendNotification(const QString&, const QString&) {}
void sendProgress(double, bool) {}
#endif

} // namespace

TdvDesktop::TdvDesktop(QWidget* window)
    : QObject(window), Notifier(sendNotification), ProgressShower(sendProgress), FWindow(window)
{
}

void TdvDesktop::Notify(const QString& summary, const QString& body)
{
    // The task bar entry asks for attention on every desktop; a notification says what happened.
    QApplication::alert(FWindow);
    if (Notifier)
        Notifier(summary, body);
}

void TdvDesktop::SetProgress(double fraction, bool visible)
{
    // Only whole per cents reach the bus: thousands of rows must not become thousands of signals.
    fraction = qBound(0.0, double(qRound(fraction * 100)) / 100, 1.0);
    if (fraction == FLastFraction && visible == FLastVisible)
        return;
    FLastFraction = fraction;
    FLastVisible = visible;
    if (ProgressShower)
        ProgressShower(fraction, visible);
}
