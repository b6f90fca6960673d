#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the screens ask of the desktop: the clipboard, opening and revealing files.
namespace DesktopServices {

// Replaces the clipboard's contents by this plain text.
void copyText(const QString& text);
// Puts table rows on the clipboard as tab-separated text under a line of column titles; tabs and
// line breaks inside a cell become blanks. Nothing happens without rows.
void copyRows(const QStringList& titles, const QList<QStringList>& rows);
// Opens a file or folder with its default application; the outcome is not reported.
void open(const QString& path);
// Shows a file or folder selected in the file browser; falls back to opening its parent folder.
void reveal(const QString& path);
// The same for a path given by its bytes, which need not be UTF-8.
void openPath(const QByteArray& path);
void revealPath(const QByteArray& path);

} // namespace DesktopServices
