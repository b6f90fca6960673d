#include "AppIconProvider.h"

#include "Symbols.h"

#include <QFileInfo>

namespace AppIconProvider {

std::optional<QIcon> icon(const std::optional<QString>& iconName)
{
    if (!iconName || iconName->isEmpty())
        return std::nullopt;
    QIcon icon;
    if (QFileInfo(*iconName).isAbsolute()) {
        if (QFileInfo(*iconName).isFile())
            icon = QIcon(*iconName);
    } else {
        Symbols::ensureIconTheme();
        icon = QIcon::fromTheme(*iconName);
    }
    if (icon.isNull() || icon.pixmap(18, 18).isNull())
        return std::nullopt;
    return icon;
}

} // namespace AppIconProvider
