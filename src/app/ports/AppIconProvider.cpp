#include "AppIconProvider.h"

#include "Symbols.h"
#include "platform/Platform.h"

#include <QFileInfo>

namespace {

// An icon name of a desktop entry: a theme name, or an absolute path of an image file.
std::optional<QIcon> iconNamed(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    QIcon icon;
    if (QFileInfo(name).isAbsolute()) {
        if (QFileInfo(name).isFile())
            icon = QIcon(name);
    } else {
        Symbols::ensureIconTheme();
        icon = QIcon::fromTheme(name);
    }
    if (icon.isNull() || icon.pixmap(18, 18).isNull())
        return std::nullopt;
    return icon;
}

} // namespace

namespace AppIconProvider {

std::optional<QIcon> icon(const std::optional<QString>& bundleID, qint32 pid)
{
    if (const auto running = Platform::runningApplication(pid)) {
        if (!running->iconName)
            return std::nullopt;
        return iconNamed(*running->iconName);
    }
    if (!bundleID)
        return std::nullopt;
    const auto installed = Platform::installedApplication(*bundleID);
    if (!installed)
        return std::nullopt;
    if (installed->iconName) {
        if (auto found = iconNamed(*installed->iconName))
            return found;
    }
    // An installed application without a usable icon of its own still gets the generic one.
    return iconNamed(QStringLiteral("application-x-executable"));
}

} // namespace AppIconProvider
