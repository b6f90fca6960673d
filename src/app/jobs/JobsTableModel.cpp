#include "JobsTableModel.h"

#include "NextRunText.h"
#include "SafeText.h"
#include "Stores.h"
#include "Style.h"
#include "Symbols.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QHash>

#include <algorithm>

namespace {

const QString noValue = QStringLiteral("—");

QColor dotColour(bool running)
{
    if (running)
        return Style::green();
    QColor faded = Style::secondary(QGuiApplication::palette());
    faded.setAlphaF(faded.alphaF() * 0.4);
    return faded;
}

QString busyText(JobAction action)
{
    switch (action) {
    case JobAction::start:
        return QStringLiteral("正在启动…");
    case JobAction::stop:
        return QStringLiteral("正在停止…");
    case JobAction::load:
        return QStringLiteral("正在加载…");
    case JobAction::unload:
        break;
    }
    return QStringLiteral("正在卸载…");
}

// Two listings of the same job differ in their ids at least; only the rest is shown.
bool sameShown(const Job& a, Job b)
{
    b.id = a.id;
    return a == b;
}

std::optional<QString> visible(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    return SafeText::visible(*text);
}

} // namespace

JobsTableModel::JobsTableModel(JobsStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store)
{
    connect(&m_store, &JobsStore::jobsChanged, this, [this] { sync(true); });
    for (auto signal : {&JobsStore::filterChanged, &JobsStore::hideSystemJobsChanged,
                        &JobsStore::runningOnlyChanged})
        connect(&m_store, signal, this, [this] { sync(false); });
    connect(&m_store, &JobsStore::runningActionsChanged, this, &JobsTableModel::syncBusy);
    m_rows = m_store.filtered();
}

QString JobsTableModel::tintIdentity(const JobIdentity& job)
{
    return QStringLiteral("%1/%2/").arg(int(job.source)).arg(int(job.scope)) + job.label;
}

void JobsTableModel::sync(bool listed)
{
    // A listing the user asked for shows the spinner meanwhile; what it brings is expected.
    const bool unasked = listed && !m_store.isLoading();
    const QList<Job> next = m_store.filtered();
    QHash<JobIdentity, int> positions;
    for (int i = 0; i < next.size(); ++i)
        positions.insert(next[i].identity, i);

    // Rows that went, in runs from the bottom up.
    for (int last = int(m_rows.size()) - 1; last >= 0;) {
        if (positions.contains(m_rows[last].identity)) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !positions.contains(m_rows[first - 1].identity))
            --first;
        beginRemoveRows({}, first, last);
        m_rows.remove(first, last - first + 1);
        endRemoveRows();
        last = first - 1;
    }
    // The rows that stay are in the new order already unless a job's place changed.
    for (int i = 1; i < m_rows.size(); ++i) {
        if (positions.value(m_rows[i - 1].identity) > positions.value(m_rows[i].identity)) {
            beginResetModel();
            m_rows = next;
            endResetModel();
            return;
        }
    }
    // The rows before i are those of `next` before i. At i, a row that stays is changed in
    // place; a new job is inserted there with the new jobs that follow it.
    for (int i = 0; i < next.size();) {
        if (i < m_rows.size() && m_rows[i].identity == next[i].identity) {
            const bool differs = !sameShown(m_rows[i], next[i]);
            m_rows[i] = next[i];
            if (differs)
                changed(i, i);
            ++i;
            continue;
        }
        int end = i + 1;
        while (end < next.size() &&
               (i >= m_rows.size() || next[end].identity != m_rows[i].identity))
            ++end;
        beginInsertRows({}, i, end - 1);
        m_rows.insert(i, end - i, Job());
        std::copy(next.begin() + i, next.begin() + end, m_rows.begin() + i);
        endInsertRows();
        if (unasked) {
            for (int row = i; row < end; ++row)
                m_tint.mark(tintIdentity(m_rows[row].identity));
        }
        i = end;
    }
}

void JobsTableModel::syncBusy()
{
    for (int row = 0; row < m_rows.size(); ++row) {
        const JobIdentity& identity = m_rows[row].identity;
        const bool busy = m_store.runningAction(identity).has_value();
        if (busy == m_busy.contains(identity))
            continue;
        if (busy)
            m_busy.insert(identity);
        else
            m_busy.remove(identity);
        changed(row, row);
    }
    // Actions on jobs that are no longer shown end too.
    for (auto it = m_busy.begin(); it != m_busy.end();) {
        if (!m_store.runningAction(*it))
            it = m_busy.erase(it);
        else
            ++it;
    }
}

void JobsTableModel::changed(int first, int last)
{
    emit dataChanged(index(first, 0), index(last, numberOfColumns - 1));
}

int JobsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int JobsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(Column::numberOfColumns);
}

const Job& JobsTableModel::job(int row) const
{
    return m_rows.at(row);
}

bool JobsTableModel::isBusy(int row) const
{
    return m_store.runningAction(m_rows.at(row).identity).has_value();
}

int JobsTableModel::runningCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(),
                             [](const Job& job) { return job.pid.has_value(); }));
}

QVariant JobsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (Column(section)) {
    case dot:
    case status:
        return QStringLiteral("状态");
    case name:
        return QStringLiteral("名称");
    case schedule:
        return QStringLiteral("调度");
    case nextRun:
        return QStringLiteral("下次运行");
    case program:
        return QStringLiteral("程序 / 命令");
    case domain:
        return QStringLiteral("域");
    case actions:
        return QStringLiteral("操作");
    case numberOfColumns:
        break;
    }
    return {};
}

Qt::ItemFlags JobsTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    // The program line opens a read-only field on click so that it can be selected and copied.
    if (index.isValid() && index.column() == program && job(index.row()).program)
        result |= Qt::ItemIsEditable;
    return result;
}

QVariant JobsTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Job& row = m_rows.at(index.row());
    const bool running = row.pid.has_value();
    const QPalette palette = QGuiApplication::palette();

    if (role == runningRole)
        return running;
    if (role == Qt::BackgroundRole)
        return m_tint.isEmpty() ? QVariant()
                                : m_tint.background(tintIdentity(row.identity), palette);
    if (role == busyRole)
        return isBusy(index.row());

    switch (Column(index.column())) {
    case dot:
        if (role == Qt::DecorationRole)
            return dotColour(running);
        if (role == Qt::ToolTipRole)
            return row.statusText;
        break;
    case name:
        if (role == Qt::DisplayRole)
            return SafeText::visible(row.name);
        if (role == secondLineRole)
            return SafeText::visible(row.identity.label);
        // A screen reader reads both lines.
        if (role == Qt::AccessibleTextRole)
            return SafeText::visible(row.name) + u'\n' + SafeText::visible(row.identity.label);
        break;
    case schedule:
        if (role == Qt::DisplayRole)
            return visible(row.schedule).value_or(noValue);
        if (role == Qt::DecorationRole && row.schedule)
            return Symbols::icon(QStringLiteral("clock"));
        if (role == Qt::ToolTipRole && row.schedule)
            return SafeText::visible(*row.schedule);
        if (role == Qt::FontRole)
            return Style::font(Style::TextStyle::caption);
        if (role == Qt::ForegroundRole)
            return row.schedule ? Style::primary(palette) : Style::tertiary(palette);
        break;
    case nextRun:
        if (role == Qt::DisplayRole)
            return NextRunText::cell(row.nextRun, QDateTime::currentDateTime());
        if (role == Qt::ToolTipRole) {
            const QString tooltip = NextRunText::tooltip(row);
            return tooltip.isEmpty() ? QVariant() : QVariant(tooltip);
        }
        if (role == Qt::FontRole)
            return Style::font(Style::TextStyle::caption);
        if (role == Qt::ForegroundRole)
            return row.nextRun ? Style::primary(palette) : Style::tertiary(palette);
        break;
    case program:
        if (role == Qt::DisplayRole)
            return visible(row.program).value_or(noValue);
        if (role == Qt::EditRole && row.program)
            return SafeText::visible(*row.program);
        if (role == Qt::ToolTipRole && row.program)
            return SafeText::visible(*row.program);
        if (role == Qt::FontRole && row.program)
            return Style::font(Style::TextStyle::caption, true);
        if (role == Qt::ForegroundRole)
            return row.program ? Style::secondary(palette) : Style::tertiary(palette);
        break;
    case domain:
        if (role == Qt::DisplayRole)
            return row.domain;
        // It may name what a file says, such as the user of a system cron entry.
        if (role == Qt::ToolTipRole && row.domainTooltip)
            return SafeText::visible(*row.domainTooltip);
        if (role == Qt::FontRole)
            return Style::font(Style::TextStyle::caption);
        if (role == Qt::ForegroundRole)
            return Style::secondary(palette);
        break;
    case status:
        if (role == Qt::DisplayRole) {
            if (const std::optional<JobAction> action = m_store.runningAction(row.identity))
                return busyText(*action);
            return row.statusText;
        }
        if (role == Qt::FontRole)
            return Style::font(Style::TextStyle::caption);
        if (role == Qt::ForegroundRole)
            return running ? Style::primary(palette) : Style::secondary(palette);
        break;
    case actions:
    case numberOfColumns:
        break;
    }
    return {};
}
