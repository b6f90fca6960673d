#include "Style.h"

#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>

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

// A small indeterminate progress spinner.
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent)
    {
        setFixedSize(16, 16);
        m_timer.setInterval(80);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % 12;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { m_timer.start(); }
    void hideEvent(QHideEvent*) override { m_timer.stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const QColor base = Style::secondary(palette());
        for (int i = 0; i < 12; ++i) {
            QColor tick = base;
            tick.setAlphaF(base.alphaF() * (0.15 + 0.85 * ((i + 12 - m_step) % 12) / 11.0));
            painter.setPen(QPen(tick, 1.6, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -3.5), QPointF(0, -7));
            painter.rotate(30);
        }
    }

private:
    QTimer m_timer;
    int m_step = 0;
};

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

StatusRow statusRow(QWidget* parent, const QString& hint)
{
    StatusRow status{};
    status.bar = new QWidget(parent);
    status.bar->setFont(font(TextStyle::caption));
    auto* row = new QHBoxLayout(status.bar);
    row->setContentsMargins(12, 6, 12, 6);

    status.busy = new Spinner(status.bar);
    status.busy->setObjectName(QStringLiteral("spinner"));
    row->addWidget(status.busy, 0, Qt::AlignVCenter);

    status.summary = new QLabel(status.bar);
    row->addWidget(status.summary, 0, Qt::AlignVCenter);
    row->addStretch(1);

    status.hint = new QLabel(hint, status.bar);
    row->addWidget(status.hint, 0, Qt::AlignVCenter);
    return status;
}

} // namespace Style
