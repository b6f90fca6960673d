#pragma once

#include "CellDelegate.h"

#include <QStyledItemDelegate>

// How the scheduled-jobs table draws the cells that are more than a line of text.
namespace JobDelegates {

// The status column's dot: a filled 9 × 9 circle in the row's colour.
class Dot : public CellDelegate {
public:
    using CellDelegate::CellDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// The name column: the name, and below it the label, smaller and fainter.
class Name : public CellDelegate {
public:
    using CellDelegate::CellDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The program column: cut in the middle when too long; a click on the selected row opens the
// whole text in a read-only field, where it can be selected and copied.
class Program : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace JobDelegates
