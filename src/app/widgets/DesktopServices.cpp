#include "DesktopServices.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace {

// A file URL that keeps every byte of the path, also those that are not UTF-8.
QUrl fileUrl(const QByteArray& path)
{
    return QUrl::fromEncoded("file://" + path.toPercentEncoding("/"));
}

QByteArray parentFolder(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
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

void copyRows(const QStringList& titles, const QList<QStringList>& rows)
{
    if (rows.isEmpty())
        return;
    auto line = [](const QStringList& cells) {
        QStringList clean;
        for (QString cell : cells) {
            for (QChar& c : cell) {
                if (c == u'\t' || c == u'\n' || c == u'\r')
                    c = u' ';
            }
            clean.append(cell);
        }
        return clean.join(u'\t');
    };
    QStringList lines{line(titles)};
    for (const QStringList& row : rows)
        lines.append(line(row));
    copyText(lines.join(u'\n') + u'\n');
}

void open(const QString& path)
{
    openPath(QFile::encodeName(path));
}

void reveal(const QString& path)
{
    revealPath(QFile::encodeName(path));
}

void openPath(const QByteArray& path)
{
    QDesktopServices::openUrl(fileUrl(path));
}

void revealPath(const QByteArray& path)
{
    const QByteArray fallback = parentFolder(path);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openPath(fallback);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(fileUrl(path).toEncoded())} << QString();
    // Asynchronous, so that a slow or absent file manager never blocks the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallback](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             openPath(fallback);
                         finished->deleteLater();
                     });
}

} // namespace DesktopServices
