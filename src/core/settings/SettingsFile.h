#pragma once

#include <QSettings>

// Kestrow.conf in the user's configuration folder, which holds the common-ports list and what the
// window remembers, each under keys of its own.
inline QSettings openSettingsFile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrow"),
                     QStringLiteral("Kestrow"));
}
