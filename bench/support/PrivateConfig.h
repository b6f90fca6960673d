#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

// Points the settings at a folder of their own while it lives, so that a benchmark neither starts
// from the choices a user's Kestrow remembers (auto-refresh off, another sort order) nor leaves
// its own behind for the next program. Made before the application object.
class PrivateConfig {
public:
    PrivateConfig() { qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8()); }

private:
    QTemporaryDir dir_;
};
