#include "RowWidgets.h"

#include <QEvent>
#include <QScrollBar>
#include <QTableView>

RowWidgets::RowWidgets(QTableView& view, int column, Factory factory)
    : QObject(&view), m_view(view), m_column(column), m_factory(std::move(factory))
{
    QAbstractItemModel* model = view.model();
    connect(model, &QAbstractItemModel::modelReset, this, &RowWidgets::fillVisibleRows);
    // Removed rows take their widgets along and bring later rows up; inserted ones have none.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, &RowWidgets::fillVisibleRows);
    connect(model, &QAbstractItemModel::dataChanged, this, &RowWidgets::replaceChanged);
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this,
            &RowWidgets::fillVisibleRows);
    m_viewport = view.viewport();
    m_viewport->installEventFilter(this);
    fillVisibleRows();
}

bool RowWidgets::eventFilter(QObject* watched, QEvent* event)
{
    // Compared by address only: while the table is being destroyed its viewport still sends
    // events, and the table must not be asked anything then.
    if ((event->type() == QEvent::Resize || event->type() == QEvent::Show) && watched == m_viewport)
        fillVisibleRows();
    return QObject::eventFilter(watched, event);
}

void RowWidgets::fillVisibleRows()
{
    // A hidden table has no rows on screen; it also may be on its way out, its parents half
    // gone. Showing it fills the rows.
    if (!m_view.isVisible())
        return;
    QAbstractItemModel* model = m_view.model();
    const int rows = model->rowCount();
    if (rows == 0)
        return;
    int first = m_view.rowAt(0);
    if (first < 0)
        first = 0;
    int last = m_view.rowAt(m_view.viewport()->height() - 1);
    if (last < 0)
        last = rows - 1;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model->index(row, m_column);
        if (!m_view.indexWidget(index))
            m_view.setIndexWidget(index, m_factory(row));
    }
}

void RowWidgets::replaceChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (m_column < topLeft.column() || m_column > bottomRight.column())
        return;
    QAbstractItemModel* model = m_view.model();
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const QModelIndex index = model->index(row, m_column);
        // The old widget is deleted later, so this may come from one of its own buttons.
        if (m_view.indexWidget(index))
            m_view.setIndexWidget(index, m_factory(row));
    }
}
