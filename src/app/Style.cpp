#include "Style.h"

#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>

namespace {

// Point sizes relative to the application font, in the proportions of a desktop type ramp.
qreal relativeSize(Style::TextStyle style)
{
    switch (style) {
    case Style::TextStyle::headline:
    case Style::TextStyle::body:
        return 0.0;
    case Style::TextStyle::callout:
        return -1.0;
    case Style::TextStyle::caption:
        return -1.5;
    case Style::TextStyle::caption2:
        return -2.0;
    }
    return 0.0;
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(alpha);
    return color;
}

} // namespace

namespace Style {

QFont font(TextStyle style, bool monospaced, bool bold)
{
    const QFont base = QGuiApplication::font();
    QFont result = base;
    if (monospaced) {
        result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        result.setStyleHint(QFont::Monospace);
    }
    qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    size = std::max(size + relativeSize(style), 6.0);
    result.setPointSizeF(size);
    if (style == TextStyle::headline)
        result.setWeight(QFont::DemiBold);
    if (bold)
        result.setWeight(QFont::Bold);
    return result;
}

QColor primary(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Text);
}

QColor secondary(const QPalette& palette)
{
    return withAlpha(primary(palette), 0.62);
}

QColor tertiary(const QPalette& palette)
{
    return withAlpha(primary(palette), 0.38);
}

QColor accent(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Highlight);
}

QColor orange()
{
    return QColor(255, 149, 0);
}

QColor green()
{
    return QColor(52, 199, 89);
}

QColor destructive()
{
    return QColor(215, 0, 21);
}

void setTextColour(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    palette.setColor(QPalette::Text, colour);
    widget.setPalette(palette);
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

HeaderRow headerRow(QWidget* parent, const QString& title)
{
    HeaderRow header{};
    header.bar = new QWidget(parent);
    header.row = new QHBoxLayout(header.bar);
    header.row->setContentsMargins(12, 12, 12, 12);
    header.row->setSpacing(10);

    header.symbol = new QLabel(header.bar);
    header.symbol->setObjectName(QStringLiteral("toolbarSymbol"));
    header.row->addWidget(header.symbol, 0, Qt::AlignVCenter);

    header.title = new QLabel(title, header.bar);
    header.title->setObjectName(QStringLiteral("toolbarTitle"));
    header.title->setFont(font(TextStyle::headline));
    header.row->addWidget(header.title, 0, Qt::AlignVCenter);
    header.row->addStretch(1);
    return header;
}

} // namespace Style
