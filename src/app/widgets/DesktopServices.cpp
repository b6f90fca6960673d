#include "DesktopServices.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace {

QString parentFolder(const QString& path)
{
    QString cleaned = QDir::cleanPath(path);
    if (cleaned == QLatin1String("/"))
        return cleaned;
    return QFileInfo(cleaned).absolutePath();
}

} // namespace

namespace DesktopServices {

void copyText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    auto* data = new QMimeData;
    data->setText(text);
    clipboard->setMimeData(data);
}

void open(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void reveal(const QString& path)
{
    const QString fallback = parentFolder(path);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        open(fallback);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())} << QString();
    // Asynchronous, so that a slow or absent file manager never blocks the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallback](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             open(fallback);
                         finished->deleteLater();
                     });
}

} // namespace DesktopServices
