#include "TableColumns.h"

#include "ViewState.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

namespace TableColumns {

namespace {

// Larger than any screen: a kept width beyond it is damaged, not dragged.
constexpr int widestColumn = 20000;

} // namespace

QList<int> share(const QList<Width>& widths, const QMap<int, int>& dragged, int available,
                 int fillColumn)
{
    QList<int> result(widths.size(), 0);
    QList<int> flexible;
    qint64 sumIdeal = 0;
    qint64 sumMin = 0;
    for (int column = 0; column < widths.size(); ++column) {
        if (dragged.contains(column)) {
            result[column] = dragged.value(column);
            available -= result[column];
        } else if (widths[column].ideal > 0) {
            flexible.append(column);
            sumIdeal += widths[column].ideal;
            sumMin += widths[column].min;
        }
    }

    if (available >= sumIdeal) {
        for (int column : flexible)
            result[column] = widths[column].ideal;
        // The spare goes to one column that can take any width: the chosen one while the user
        // has not sized it, else the first such column.
        auto unbounded = [&](int column) { return widths[column].max == 0; };
        int taker = flexible.contains(fillColumn) && unbounded(fillColumn) ? fillColumn : -1;
        if (taker < 0) {
            const auto found = std::find_if(flexible.begin(), flexible.end(), unbounded);
            taker = found == flexible.end() ? -1 : *found;
        }
        if (taker >= 0)
            result[taker] += static_cast<int>(available - sumIdeal);
        return result;
    }
    if (available <= sumMin) {
        for (int column : flexible)
            result[column] = widths[column].min;
        return result;
    }

    // Each column gives up the same part of the room it has between its ideal and least width.
    const qint64 excess = sumIdeal - available;
    const qint64 room = sumIdeal - sumMin;
    qint64 given = 0;
    for (int column : flexible) {
        const Width& width = widths[column];
        const qint64 cut = (width.ideal - width.min) * excess / room;
        result[column] = static_cast<int>(width.ideal - cut);
        given += cut;
    }
    // What rounding left over, a pixel each from columns that still have room.
    for (int i = 0; given < excess; i = (i + 1) % flexible.size()) {
        const int column = flexible[i];
        if (result[column] > widths[column].min) {
            --result[column];
            ++given;
        }
    }
    return result;
}

Layout::Layout(QTableView& view, QList<Width> widths, int fillColumn)
    : QObject(&view), m_viewport(view.viewport()), m_header(view.horizontalHeader()),
      m_widths(std::move(widths)), m_fillColumn(fillColumn)
{
    int smallest = 20;
    for (const Width& width : m_widths) {
        if (width.min > 0)
            smallest = std::min(smallest, width.min);
    }
    m_header->setMinimumSectionSize(smallest);
    m_header->setStretchLastSection(false);
    for (int column = 0; column < m_widths.size(); ++column) {
        const Width& width = m_widths.at(column);
        if (width.ideal == 0) {
            m_header->setSectionResizeMode(column, QHeaderView::Stretch);
            continue;
        }
        m_header->setSectionResizeMode(column, QHeaderView::Interactive);
        m_header->resizeSection(column, width.ideal);
    }
    connect(m_header, &QHeaderView::sectionResized, this,
            [this](int column, int, int size) { onSectionResized(column, size); });
    m_viewport->installEventFilter(this);
    m_header->viewport()->installEventFilter(this);
    fit();
}

void Layout::remember(const QString& group, const QStringList& names)
{
    m_group = group;
    m_names = names;
    ViewState& state = ViewState::shared();
    for (int column = 0; column < m_widths.size() && column < names.size(); ++column) {
        const Width& width = m_widths.at(column);
        if (width.ideal == 0)
            continue;
        const QString key = keyOf(column);
        const std::optional<int> kept =
            state.number(key, width.min, width.max > 0 ? width.max : widestColumn);
        if (kept)
            m_dragged.insert(column, *kept);
        // A damaged value goes with the next write.
        state.keep(key, kept ? QVariant(*kept) : QVariant());
    }
    fit();
}

void Layout::fit()
{
    if (stretches())
        return;
    const QList<int> sizes = share(m_widths, m_dragged, m_viewport->width(), m_fillColumn);
    m_fitting = true;
    for (int column = 0; column < sizes.size(); ++column) {
        if (m_header->sectionSize(column) != sizes[column])
            m_header->resizeSection(column, sizes[column]);
    }
    m_fitting = false;
}

bool Layout::eventFilter(QObject* watched, QEvent* event)
{
    // The table may be half destroyed here, as its viewport goes: only pointers are compared.
    if (watched == m_viewport) {
        if (event->type() == QEvent::Resize)
            fit();
    } else if (event->type() == QEvent::MouseButtonPress) {
        m_dragChanged = false;
    } else if (event->type() == QEvent::MouseButtonRelease && m_dragChanged) {
        // Once the header has ended the drag, the other columns share what it left them.
        m_dragChanged = false;
        QMetaObject::invokeMethod(this, &Layout::fit, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

bool Layout::stretches() const
{
    return std::any_of(m_widths.begin(), m_widths.end(),
                       [](const Width& width) { return width.ideal == 0; });
}

int Layout::bounded(int column, int width) const
{
    const Width& bounds = m_widths.at(column);
    width = std::max(width, bounds.min);
    if (bounds.max > 0)
        width = std::min(width, bounds.max);
    return width;
}

void Layout::onSectionResized(int column, int size)
{
    if (m_fitting || column < 0 || column >= m_widths.size() || m_widths.at(column).ideal == 0)
        return;
    // Only the user resizes a column while no fit runs: by a drag or a double click.
    const int width = bounded(column, size);
    if (width != size) {
        m_fitting = true;
        m_header->resizeSection(column, width);
        m_fitting = false;
    }
    m_dragged.insert(column, width);
    m_dragChanged = true;
    if (!m_group.isEmpty() && column < m_names.size())
        ViewState::shared().set(keyOf(column), width);
}

QString Layout::keyOf(int column) const
{
    return m_group + QStringLiteral("/columnWidths/") + m_names.at(column);
}

Layout* apply(QTableView& view, const QList<Width>& widths, int fillColumn)
{
    return new Layout(view, widths, fillColumn);
}

} // namespace TableColumns
