#pragma once

#include <QList>

class QTableView;

// Column widths of the screens' tables, kept within their bounds when the user drags a divider.
namespace TableColumns {

struct Width {
    // All zero: the column takes the width that the others leave.
    int min = 0;
    int ideal = 0;
    // Zero: no upper bound.
    int max = 0;
};

void apply(QTableView& view, const QList<Width>& widths);

} // namespace TableColumns
