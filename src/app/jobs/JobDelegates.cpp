#include "JobDelegates.h"

#include "JobsTableModel.h"
#include "Style.h"

#include <QLineEdit>
#include <QPainter>

namespace JobDelegates {

namespace {

constexpr int dotSize = 9;

} // namespace

void Dot::paint(QPainter* painter, const QStyleOptionViewItem& option,
                const QModelIndex& index) const
{
    paintBackground(painter, option, index, Icon::drop);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(index.data(Qt::DecorationRole).value<QColor>());
    const QRectF circle(0, 0, dotSize, dotSize);
    painter->drawEllipse(circle.translated(QRectF(option.rect).center() - circle.center()));
    painter->restore();
}

void Name::paint(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const
{
    paintBackground(painter, option, index, Icon::keep);

    const QFont nameFont = option.font;
    const QFont labelFont = Style::font(Style::TextStyle::caption2);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics labelMetrics(labelFont);
    const QRect area = option.rect.adjusted(4, 0, -4, 0);
    const int height = nameMetrics.height() + 1 + labelMetrics.height();
    const int top = area.top() + (area.height() - height) / 2;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;

    painter->save();
    painter->setFont(nameFont);
    painter->setPen(selected ? palette.color(QPalette::HighlightedText) : Style::primary(palette));
    painter->drawText(
        QRect(area.left(), top, area.width(), nameMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        nameMetrics.elidedText(index.data().toString(), Qt::ElideRight, area.width()));
    painter->setFont(labelFont);
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                             : Style::secondary(palette));
    painter->drawText(
        QRect(area.left(), top + nameMetrics.height() + 1, area.width(), labelMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        labelMetrics.elidedText(index.data(JobsTableModel::secondLineRole).toString(),
                                Qt::ElideRight, area.width()));
    painter->restore();
}

QSize Name::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const int height = QFontMetrics(option.font).height() + 1 +
                       QFontMetrics(Style::font(Style::TextStyle::caption2)).height();
    return {240, height + 8};
}

QWidget* Program::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                               const QModelIndex&) const
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QStringLiteral("programField"));
    field->setReadOnly(true);
    field->setFrame(false);
    field->setFont(Style::font(Style::TextStyle::caption, true));
    return field;
}

void Program::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* field = static_cast<QLineEdit*>(editor);
    field->setText(index.data(Qt::EditRole).toString());
    field->setToolTip(field->text());
    field->selectAll();
}

void Program::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {}

void Program::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideMiddle;
}

} // namespace JobDelegates
