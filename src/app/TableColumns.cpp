#include "TableColumns.h"

#include <QHeaderView>
#include <QTableView>

#include <algorithm>

namespace TableColumns {

void apply(QTableView& view, const QList<Width>& widths)
{
    QHeaderView* header = view.horizontalHeader();
    int smallest = 20;
    for (const Width& width : widths) {
        if (width.min > 0)
            smallest = std::min(smallest, width.min);
    }
    header->setMinimumSectionSize(smallest);
    header->setStretchLastSection(false);
    for (int section = 0; section < widths.size(); ++section) {
        const Width& width = widths.at(section);
        if (width.ideal == 0) {
            header->setSectionResizeMode(section, QHeaderView::Stretch);
            continue;
        }
        header->setSectionResizeMode(section, QHeaderView::Interactive);
        header->resizeSection(section, width.ideal);
    }
    QObject::connect(header, &QHeaderView::sectionResized, header,
                     [header, widths](int section, int, int size) {
                         if (section < 0 || section >= widths.size())
                             return;
                         const Width& width = widths.at(section);
                         if (width.ideal == 0)
                             return;
                         int bounded = std::max(size, width.min);
                         if (width.max > 0)
                             bounded = std::min(bounded, width.max);
                         if (bounded != size)
                             header->resizeSection(section, bounded);
                     });
}

} // namespace TableColumns
