#include "ColorScheme.h"
#include "DesktopServices.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// A private session bus for this test program, started before anything connects to one.
struct PrivateBus {
    qint64 pid = 0;
    QString address;

    PrivateBus()
    {
        QProcess daemon;
        daemon.start("/usr/bin/dbus-daemon",
                     {"--session", "--fork", "--print-address=1", "--print-pid=1"});
        if (!daemon.waitForFinished(5000))
            return;
        const QStringList lines = QString::fromUtf8(daemon.readAllStandardOutput()).split('\n');
        if (lines.size() < 2)
            return;
        address = lines[0].trimmed();
        pid = lines[1].trimmed().toLongLong();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    ~PrivateBus()
    {
        if (pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
} bus;

// Stands in for the desktop's file manager, which does not exist on this machine.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QPair<QStringList, QString>> shown;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        shown.append({uris, startupId});
    }
};

TEST(Reveal, AsksTheFileManagerAndOpensTheParentOnlyWhenNoneAnswers)
{
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    Opener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");

    // No file manager on the bus yet: the parent folder opens.
    DesktopServices::reveal("/srv/shop app");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opener.opened.isEmpty(); }, 8000));
    EXPECT_EQ(opener.opened.first(), QUrl::fromLocalFile("/srv"));

    FileManager manager;
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "file-manager");
    ASSERT_TRUE(service.isConnected());
    ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &manager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));

    DesktopServices::reveal("/srv/shop app");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !manager.shown.isEmpty(); }, 8000));
    EXPECT_EQ(manager.shown.first().first, QStringList{"file:///srv/shop%20app"});
    EXPECT_EQ(manager.shown.first().second, "");
    QTest::qWait(100);
    EXPECT_EQ(opener.opened.size(), 1);

    service.unregisterService("org.freedesktop.FileManager1");
    QDBusConnection::disconnectFromBus("file-manager");
    QDesktopServices::unsetUrlHandler("file");
}

// Stands in for the desktop's settings portal.
class Portal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint scheme = 0;

public slots:
    QDBusVariant Read(const QString& group, const QString& key)
    {
        if (group != "org.freedesktop.appearance" || key != "color-scheme")
            return QDBusVariant(QString());
        // Wrapped twice, as the real portal answers.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
    }
};

TEST(ColorScheme, FollowsTheDesktopsLightOrDarkPreference)
{
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    Portal portal;
    portal.scheme = 1;
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "portal");
    ASSERT_TRUE(service.registerObject("/org/freedesktop/portal/desktop", &portal,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.portal.Desktop"));

    const QColor light = QApplication::palette().color(QPalette::Window);
    ASSERT_GT(light.lightness(), 128);
    ColorScheme::follow();
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return QApplication::palette().color(QPalette::Window).lightness() < 80; }, 8000));
    EXPECT_GT(QApplication::palette().color(QPalette::WindowText).lightness(), 200);

    // The desktop turns light again while the program runs.
    auto change = [&](uint scheme) {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
        signal << QString("org.freedesktop.appearance") << QString("color-scheme")
               << QVariant::fromValue(QDBusVariant(scheme));
        ASSERT_TRUE(service.send(signal));
    };
    change(2);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QApplication::palette().color(QPalette::Window) == light; }, 8000));
    change(1);
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return QApplication::palette().color(QPalette::Window).lightness() < 80; }, 8000));
    ColorScheme::apply(false);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), light);

    service.unregisterService("org.freedesktop.portal.Desktop");
    QDBusConnection::disconnectFromBus("portal");
}

} // namespace

#include "DesktopBusTest.moc"
