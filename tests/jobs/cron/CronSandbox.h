#pragma once

#include <QString>

#include <optional>

// A private cron spool for this test program. Before main() runs, and so before any thread
// exists, the program enters a mount namespace of its own in which a scratch folder is bound over
// /var/spool/cron/crontabs: the real `crontab` then reads and writes only there, from every
// thread and child of this program, while the machine's own spool stays as it was.
namespace CronSandbox {

// Why there is no private spool (not root, no cron, no namespaces), or nothing when there is one.
std::optional<QString> unavailableReason();

// The scratch folder that stands in for the spool.
QString spool();

// Whether the machine's own spool still holds what it held before the namespace was entered,
// seen through a descriptor opened before the bind.
bool realSpoolUnchanged();

} // namespace CronSandbox
