#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

// The one table of symbols the screens use: a symbol name ("network", "arrow.clockwise", ...)
// maps to an icon-theme name, with a Qt standard icon as fallback, so that no button is blank.
namespace Symbols {

// The icon for a symbol name, drawn in the palette's text colour. Never null for a name of the
// table.
QIcon icon(const QString& symbolName);
// The same icon with its monochrome shapes painted in this colour (e.g. the accent colour).
QIcon icon(const QString& symbolName, const QColor& color);
// Every symbol name of the table.
QStringList names();

// Makes sure an icon theme is in use, also where the platform names none (offscreen, bare X).
void ensureIconTheme();

} // namespace Symbols
