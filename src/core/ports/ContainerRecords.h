#pragma once

#include "ContainerLookup.h"
#include "PortScanner.h"
#include "platform/Platform.h"

#include <QHash>
#include <QList>
#include <QProcessEnvironment>

#include <future>
#include <optional>

// The containers behind a scan's records: the machine's container engines are asked while the
// sockets are walked, then the record of each socket that serves a container is named after it.
namespace ContainerRecords {

// Starts one listing of every engine found (2 s at most); call it before walking the sockets.
std::future<QList<Containers::EngineListing>> startListing();

// Sets the container of each record whose socket serves one, and the result's engineProblem when
// a container was left unnamed because an engine failed. `processes` holds the facts of the
// records' processes, by pid; records without a pid are named only by a published port.
void describe(PortScanner::ScanResult& result,
              const QHash<qint32, Platform::ProcessFacts>& processes,
              const QList<Containers::EngineListing>& listings);

namespace testing {
// Looks for the engines as this environment says (DOCKER_HOST, XDG_RUNTIME_DIR) instead of the
// program's own; nullopt goes back to the program's.
void setEnvironment(const std::optional<QProcessEnvironment>& environment);
} // namespace testing

} // namespace ContainerRecords
