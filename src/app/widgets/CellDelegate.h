#pragma once

#include <QApplication>
#include <QStyle>
#include <QStyledItemDelegate>

// A delegate that paints its own content over the cell's ordinary background (selection, hover,
// alternating rows), which it first draws as the style would, without the text and, when asked,
// without the icon.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    enum class Icon { keep, drop };

    void paintBackground(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index, Icon icon) const
    {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.text.clear();
        if (icon == Icon::drop) {
            item.features &= ~QStyleOptionViewItem::HasDecoration;
            item.icon = QIcon();
        }
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    }
};
