#include "CommonPortsModel.h"

#include "Style.h"

#include <QGuiApplication>

CommonPortsModel::CommonPortsModel(AppSettings& settings, QObject* parent)
    : QAbstractTableModel(parent), m_settings(settings), m_rows(settings.commonPorts())
{
    connect(&m_settings, &AppSettings::commonPortsChanged, this, &CommonPortsModel::reload);
}

void CommonPortsModel::reload()
{
    beginResetModel();
    m_rows = m_settings.commonPorts();
    endResetModel();
}

int CommonPortsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CommonPortsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(Column::numberOfColumns);
}

const CommonPort& CommonPortsModel::entry(int row) const
{
    return m_rows.at(row);
}

Qt::ItemFlags CommonPortsModel::flags(const QModelIndex& index) const
{
    // Rows are not selectable.
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QVariant CommonPortsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (Column(section)) {
    case port:
        return QStringLiteral("端口");
    case note:
        return QStringLiteral("备注");
    case actions:
        return QStringLiteral("操作");
    case numberOfColumns:
        break;
    }
    return {};
}

QVariant CommonPortsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const CommonPort& row = m_rows.at(index.row());
    const QPalette palette = QGuiApplication::palette();
    switch (Column(index.column())) {
    case port:
        if (role == Qt::DisplayRole)
            return QString::number(row.port);
        if (role == Qt::FontRole)
            return Style::font(Style::TextStyle::body, true, true);
        break;
    case note:
        if (role == Qt::DisplayRole)
            return row.note.isEmpty() ? QStringLiteral("—") : row.note;
        if (role == Qt::ForegroundRole)
            return row.note.isEmpty() ? Style::tertiary(palette) : Style::primary(palette);
        break;
    case actions:
    case numberOfColumns:
        break;
    }
    return {};
}
