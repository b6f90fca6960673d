#pragma once

#include <QIcon>
#include <QString>

#include <optional>

// Finds the icon of the desktop application behind a process.
namespace AppIconProvider {

// The running application's icon for this pid; else the installed application's icon for the
// bundle identifier; else nothing.
std::optional<QIcon> icon(const std::optional<QString>& bundleID, qint32 pid);

} // namespace AppIconProvider
