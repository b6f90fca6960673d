#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class QHeaderView;
class QTableView;
class QWidget;

// Column widths of the screens' tables. The columns share the width the table has: each gets its
// ideal width when there is room, and all shrink together from their ideal toward their least
// width before a horizontal scroll bar appears. A width the user drags stays as dragged (within
// the column's bounds), and the others share what is left.
namespace TableColumns {

struct Width {
    // All zero: the column takes the width that the others leave.
    int min = 0;
    int ideal = 0;
    // Zero: no upper bound.
    int max = 0;
};

// The widths of the columns without a dragged width, for `available` pixels: all at their ideal
// with the spare going to `fillColumn` (a column without an upper bound); or shrunk toward their
// least widths, each by its share of the room it has to shrink, adding up to `available`; or all
// at their least widths when even those do not fit. Dragged columns keep their width and take
// theirs out of `available` first.
QList<int> share(const QList<Width>& widths, const QMap<int, int>& dragged, int available,
                 int fillColumn);

class Layout : public QObject {
    Q_OBJECT

public:
    Layout(QTableView& view, QList<Width> widths, int fillColumn);

    // Keeps the widths the user drags in the view state under `group`, one key per column named
    // in `names` (in column order), and puts back those kept from an earlier run.
    void remember(const QString& group, const QStringList& names);
    // The columns the user has sized, with their widths.
    QMap<int, int> dragged() const { return m_dragged; }
    // Lays the columns out again for the table's width.
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* const m_viewport;
    QHeaderView* const m_header;
    const QList<Width> m_widths;
    const int m_fillColumn;
    QMap<int, int> m_dragged;
    QString m_group;
    QStringList m_names;
    bool m_fitting = false;
    // A drag changed a width since the mouse went down on the header.
    bool m_dragChanged = false;

    bool stretches() const;
    int bounded(int column, int width) const;
    void onSectionResized(int column, int newSize);
    QString keyOf(int column) const;
};

// Sizes the table's columns and keeps them in their bounds, now and as the table resizes.
Layout* apply(QTableView& view, const QList<Width>& widths, int fillColumn = -1);

} // namespace TableColumns
