#pragma once

#include "Models.h"

#include <QList>
#include <QString>

// Lists the listening sockets of this machine with their owning processes.
namespace PortScanner {

// Runs the socket listing, parses it, adds application and working-directory facts, sorts.
// Blocks for as long as the listing tool runs; call it off the main thread.
QList<ServicePort> scan();

// Turns the listing tool's field output into records, in output order, without duplicates.
QList<ServicePort> parse(const QString& output);

} // namespace PortScanner
