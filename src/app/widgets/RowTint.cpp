#include "RowTint.h"

#include "Style.h"

#include <QBrush>
#include <QPalette>

namespace {

constexpr qreal strongest = 0.35;
constexpr int frameMs = 80;

} // namespace

RowTint::RowTint(QObject* parent) : QObject(parent)
{
    m_clock.start();
    m_frames.setInterval(frameMs);
    connect(&m_frames, &QTimer::timeout, this, &RowTint::step);
}

void RowTint::mark(const QString& identity)
{
    m_marked.insert(identity, m_clock.elapsed());
    if (!m_frames.isActive())
        m_frames.start();
}

QVariant RowTint::background(const QString& identity, const QPalette& palette) const
{
    const auto marked = m_marked.constFind(identity);
    if (marked == m_marked.cend())
        return {};
    const qreal age =
        static_cast<qreal>(m_clock.elapsed() - *marked) / static_cast<qreal>(duration.count());
    if (age >= 1.0)
        return {};
    QColor colour = Style::accent(palette);
    colour.setAlphaF(strongest * (1.0 - age));
    return QBrush(colour);
}

void RowTint::step()
{
    const qint64 now = m_clock.elapsed();
    m_marked.removeIf(
        [now](const auto& entry) { return now - entry.value() >= duration.count() + frameMs; });
    if (m_marked.isEmpty())
        m_frames.stop();
    emit faded();
}
