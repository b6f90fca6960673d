#include "TableColumns.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

namespace TableColumns {
namespace {

// Grows or shrinks the fill column so that the columns span the table's visible width.
class FillToWidth : public QObject {
public:
    FillToWidth(QTableView& view, int column, int ideal)
        : QObject(&view), m_view(view), m_column(column), m_ideal(ideal)
    {
        view.viewport()->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            fill();
        return false;
    }

private:
    void fill()
    {
        QHeaderView* header = m_view.horizontalHeader();
        const int spare = m_view.viewport()->width() - header->length();
        const int current = header->sectionSize(m_column);
        const int wanted = std::max(m_ideal, current + spare);
        if (wanted != current)
            header->resizeSection(m_column, wanted);
    }

    QTableView& m_view;
    int m_column;
    int m_ideal;
};

} // namespace

void apply(QTableView& view, const QList<Width>& widths, int fillColumn)
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
    if (fillColumn >= 0 && fillColumn < widths.size() && widths.at(fillColumn).max == 0 &&
        widths.at(fillColumn).ideal > 0) {
        new FillToWidth(view, fillColumn, widths.at(fillColumn).ideal);
    }
}

} // namespace TableColumns
