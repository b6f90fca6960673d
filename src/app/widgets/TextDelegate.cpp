#include "TextDelegate.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextOption>

namespace {

// Texts no cell shows any more are dropped now and then, all at once.
constexpr qsizetype keptTexts = 4096;

} // namespace

void TextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    QStyleOptionViewItem background = item;
    background.text.clear();
    background.icon = QIcon();
    background.features &=
        ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    // As the common style lays out a cell with its icon on the left: the icon with a margin on
    // either side, then the text, with a margin on either side of its own.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    QRect textRect = item.rect;
    const bool hasIcon = item.features & QStyleOptionViewItem::HasDecoration;
    if (hasIcon) {
        const int iconWidth = item.decorationSize.width() + 2 * margin;
        const QRect iconArea(item.rect.left(), item.rect.top(), iconWidth, item.rect.height());
        const QIcon::Mode mode = !(item.state & QStyle::State_Enabled)   ? QIcon::Disabled
                                 : (item.state & QStyle::State_Selected) ? QIcon::Selected
                                                                         : QIcon::Normal;
        item.icon.paint(painter,
                        QStyle::alignedRect(item.direction, item.decorationAlignment,
                                            item.decorationSize, iconArea),
                        item.decorationAlignment, mode, QIcon::Off);
        textRect.setLeft(iconArea.right() + 1);
    }
    if (item.text.isEmpty())
        return;
    textRect.adjust(margin, 0, -margin, 0);

    QPalette::ColorGroup group =
        item.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(item.state & QStyle::State_Active))
        group = QPalette::Inactive;
    const QStaticText& text = laidOut(item.text, item.font, textRect.width(), item.textElideMode);
    const QRect place =
        QStyle::alignedRect(item.direction, item.displayAlignment,
                            text.size().toSize().boundedTo(textRect.size()), textRect);
    painter->save();
    painter->setFont(item.font);
    painter->setPen(item.palette.color(
        group, item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setClipRect(textRect, Qt::IntersectClip);
    painter->drawStaticText(place.topLeft(), text);
    painter->restore();
}

const QStaticText& TextDelegate::laidOut(const QString& text, const QFont& font, int width,
                                         Qt::TextElideMode elide) const
{
    Key key{text, font, width, elide};
    auto found = m_laidOut.constFind(key);
    if (found != m_laidOut.cend())
        return *found;
    if (m_laidOut.size() >= keptTexts)
        m_laidOut.clear();
    QStaticText laid(QFontMetrics(font).elidedText(text, elide, width));
    laid.setTextFormat(Qt::PlainText);
    QTextOption options;
    options.setWrapMode(QTextOption::NoWrap);
    laid.setTextOption(options);
    laid.setPerformanceHint(QStaticText::AggressiveCaching);
    laid.prepare(QTransform(), font);
    return *m_laidOut.emplace(std::move(key), std::move(laid));
}
