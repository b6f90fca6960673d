#pragma once

#include "ServicePort.h"

#include <QList>

#include <vector>

// How one scan's records follow those of the scan before. Every scan gives its records new ids,
// so a record follows the one with the same process, port and protocol (the n-th of several such
// records follows the n-th). Worked out where the scan runs, so that the screen only applies it.
struct ScanChanges {
    // The records the changes start from (sharing their data).
    QList<ServicePort> before;
    // For each record of the new scan: the index in `before` of the record it follows, or -1.
    std::vector<int> follows;
    // For each record of the new scan that follows one: whether all but the id is the same.
    std::vector<char> same;

    static ScanChanges between(const QList<ServicePort>& before, const QList<ServicePort>& after);
};
