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

// Sizes every column at its ideal width and keeps it within its bounds. When fillColumn names a
// column without an upper bound, that column takes up whatever width the table has to spare,
// and gives it back (down to its ideal width) when the table narrows.
void apply(QTableView& view, const QList<Width>& widths, int fillColumn = -1);

} // namespace TableColumns
