#pragma once

#include <QIcon>
#include <QString>

#include <optional>

// Finds the icon a desktop application's entry names.
namespace AppIconProvider {

// The icon for an entry's icon name: a name in the icon theme, or an absolute path of an image
// file. Nothing for no name, or for a name that gives no image.
std::optional<QIcon> icon(const std::optional<QString>& iconName);

} // namespace AppIconProvider
