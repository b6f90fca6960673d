#pragma once

#include <QObject>

#include <functional>

class QModelIndex;
class QTableView;
class QWidget;

// Puts a widget into one column of a table's rows, made only for the rows on screen as they
// scroll into view, so that a long list costs no more than a screenful of widgets.
class RowWidgets : public QObject {
    Q_OBJECT

public:
    using Factory = std::function<QWidget*(int row)>;

    // The table must have its model. The widgets follow its resets and its rows as they are
    // inserted and removed; a row whose cell in `column` changes gets a new widget.
    RowWidgets(QTableView& view, int column, Factory factory);

    // Fills the rows now on screen that have no widget yet; nothing while the table is hidden.
    void fillVisibleRows();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void replaceChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);

    QTableView& m_view;
    QObject* m_viewport = nullptr;
    int m_column;
    Factory m_factory;
};
