#pragma once

#include <QByteArray>
#include <QString>

// What the screens ask of the desktop: the clipboard, opening and revealing files.
namespace DesktopServices {

// Replaces the clipboard's contents by this plain text.
void copyText(const QString& text);
// Opens a file or folder with its default application; the outcome is not reported.
void open(const QString& path);
// Shows a file or folder selected in the file browser; falls back to opening its parent folder.
void reveal(const QString& path);
// The same for a path given by its bytes, which need not be UTF-8.
void openPath(const QByteArray& path);
void revealPath(const QByteArray& path);

} // namespace DesktopServices
