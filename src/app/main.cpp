#include "MainWindow.h"
#include "Symbols.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPalette>
#include <QStyleFactory>

namespace {

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(40, 40, 42);
    const QColor base(30, 30, 32);
    const QColor text(235, 235, 235);
    const QColor disabled(130, 130, 130);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(46, 46, 48));
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Light, QColor(70, 70, 72));
    palette.setColor(QPalette::Midlight, QColor(60, 60, 62));
    palette.setColor(QPalette::Mid, QColor(50, 50, 52));
    palette.setColor(QPalette::Dark, QColor(20, 20, 22));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Link, QColor(10, 132, 255));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, disabled);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    return palette;
}

// The desktop's light or dark preference, as the settings portal publishes it (1: dark). Asked
// without waiting, so that a missing or slow portal never holds up the window.
void followColorScheme()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *finished;
                         if (reply.isError())
                             return;
                         QVariant value = reply.value().variant();
                         // The value comes wrapped in one more variant.
                         if (value.canConvert<QDBusVariant>())
                             value = value.value<QDBusVariant>().variant();
                         if (value.toUInt() != 1)
                             return;
                         QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
                         QApplication::setPalette(darkPalette());
                     });
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrow"));
    QApplication::setQuitOnLastWindowClosed(true);
    Symbols::ensureIconTheme();
    QApplication::setWindowIcon(Symbols::icon(QStringLiteral("network")));
    followColorScheme();

    MainWindow window;
    window.show();
    window.raise();
    window.activateWindow();
    return QApplication::exec();
}
