#include "JobsTableModel.h"

#include "Stores.h"
#include "Style.h"
#include "Symbols.h"

#include <QGuiApplication>

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

} // namespace

JobsTableModel::JobsTableModel(LaunchdStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store)
{
    for (auto signal : {&LaunchdStore::jobsChanged, &LaunchdStore::filterChanged,
                        &LaunchdStore::hideAppleChanged, &LaunchdStore::runningOnlyChanged})
        connect(&m_store, signal, this, &JobsTableModel::reload);
    m_rows = m_store.filtered();
}

void JobsTableModel::reload()
{
    beginResetModel();
    m_rows = m_store.filtered();
    endResetModel();
}

int JobsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int JobsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(Column::numberOfColumns);
}

const LaunchdJob& JobsTableModel::job(int row) const
{
    return m_rows.at(row);
}

int JobsTableModel::runningCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(),
                             [](const LaunchdJob& job) { return job.pid.has_value(); }));
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
    const LaunchdJob& row = m_rows.at(index.row());
    const bool running = row.pid.has_value();
    const QPalette palette = QGuiApplication::palette();

    if (role == runningRole)
        return running;

    switch (Column(index.column())) {
    case dot:
        if (role == Qt::DecorationRole)
            return dotColour(running);
        if (role == Qt::ToolTipRole)
            return row.statusText();
        break;
    case name:
        if (role == Qt::DisplayRole)
            return row.friendlyName();
        if (role == secondLineRole)
            return row.label;
        break;
    case schedule:
        if (role == Qt::DisplayRole)
            return row.schedule.value_or(noValue);
        if (role == Qt::DecorationRole && row.schedule)
            return Symbols::icon(QStringLiteral("clock"));
        if (role == Qt::ToolTipRole && row.schedule)
            return *row.schedule;
        if (role == Qt::FontRole)
            return Style::font(Style::TextStyle::caption);
        if (role == Qt::ForegroundRole)
            return row.schedule ? Style::primary(palette) : Style::tertiary(palette);
        break;
    case program:
        if (role == Qt::DisplayRole)
            return row.program.value_or(noValue);
        if (role == Qt::EditRole && row.program)
            return *row.program;
        if (role == Qt::ToolTipRole && row.program)
            return *row.program;
        if (role == Qt::FontRole && row.program)
            return Style::font(Style::TextStyle::caption, true);
        if (role == Qt::ForegroundRole)
            return row.program ? Style::secondary(palette) : Style::tertiary(palette);
        break;
    case domain:
        if (role == Qt::DisplayRole)
            return rawValue(row.domain);
        if (role == Qt::FontRole)
            return Style::font(Style::TextStyle::caption);
        if (role == Qt::ForegroundRole)
            return Style::secondary(palette);
        break;
    case status:
        if (role == Qt::DisplayRole)
            return row.statusText();
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
