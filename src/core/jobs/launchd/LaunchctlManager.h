#pragma once

#include "Models.h"

#include <QList>
#include <QString>

// Reads the launchd job table and job definitions, and starts, stops, loads and unloads jobs.
namespace LaunchctlManager {

struct ActionResult {
    bool success = false;
    QString message;

    bool operator==(const ActionResult&) const = default;
};

// The live job table joined with the definition files, sorted by label. Blocks; call it off the
// main thread.
QList<LaunchdJob> list();

ActionResult start(const LaunchdJob& job);
ActionResult stop(const LaunchdJob& job);
ActionResult load(const LaunchdJob& job);
ActionResult unload(const LaunchdJob& job);

} // namespace LaunchctlManager
