#pragma once

#include <QIcon>
#include <QString>

// The one table of symbols the screens use: a symbol name ("network", "arrow.clockwise", ...)
// maps to an icon-theme name, with a Qt standard icon as fallback, so that no button is blank.
namespace Symbols {

// The icon for a symbol name. Never null for a name of the table.
QIcon icon(const QString& symbolName);

// Makes sure an icon theme is in use, also where the platform names none (offscreen, bare X).
void ensureIconTheme();

} // namespace Symbols
