#include "ErrorBanner.h"

#include "Style.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QToolButton>

namespace {

constexpr int symbolSize = 16;

class Strip : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        QColor fill = Style::orange();
        fill.setAlphaF(0.12);
        painter.fillRect(event->rect(), fill);
    }
};

} // namespace

ErrorBanner::ErrorBanner(const QString& message, std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), m_onDismiss(std::move(onDismiss))
{
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* strip = new Strip(this);
    outer->addWidget(strip);

    auto* row = new QHBoxLayout(strip);
    m_row = row;
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(8);

    auto* symbol = new QLabel(strip);
    symbol->setObjectName(QStringLiteral("errorBannerSymbol"));
    symbol->setPixmap(
        Symbols::icon(QStringLiteral("exclamationmark.triangle.fill"), Style::orange())
            .pixmap(symbolSize, symbolSize));
    symbol->setFixedSize(symbolSize, symbolSize);
    row->addWidget(symbol, 0, Qt::AlignVCenter);

    m_text = new QLabel(strip);
    m_text->setObjectName(QStringLiteral("errorBannerText"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setFont(Style::font(Style::TextStyle::callout));
    m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_text->setText(message);
    row->addWidget(m_text, 1, Qt::AlignVCenter);

    auto* dismiss = new QToolButton(strip);
    dismiss->setObjectName(QStringLiteral("errorBannerDismiss"));
    dismiss->setAutoRaise(true);
    dismiss->setIcon(Symbols::icon(QStringLiteral("xmark")));
    dismiss->setFocusPolicy(Qt::NoFocus);
    dismiss->setCursor(Qt::ArrowCursor);
    connect(dismiss, &QToolButton::clicked, this, [this] {
        if (m_onDismiss)
            m_onDismiss();
    });
    row->addWidget(dismiss, 0, Qt::AlignVCenter);
}

QString ErrorBanner::message() const
{
    return m_text->text();
}

void ErrorBanner::setMessage(const QString& message)
{
    m_text->setText(message);
}

void ErrorBanner::setAction(const QString& symbolName, const QString& text,
                            std::function<void()> action)
{
    m_onAction = std::move(action);
    if (!m_action) {
        m_action = new QToolButton(m_row->parentWidget());
        m_action->setObjectName(QStringLiteral("errorBannerAction"));
        m_action->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        connect(m_action, &QToolButton::clicked, this, [this] {
            if (m_onAction)
                m_onAction();
        });
        // Before the dismiss button, which stays last.
        m_row->insertWidget(m_row->count() - 1, m_action, 0, Qt::AlignVCenter);
    }
    m_action->setIcon(Symbols::icon(symbolName));
    m_action->setText(text);
}
