#pragma once

#include "AppSettings.h"

#include <QAbstractTableModel>

// The common-ports table of the settings screen: the user's list in its own order.
class CommonPortsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { port, note, actions, numberOfColumns };

    explicit CommonPortsModel(AppSettings& settings, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const CommonPort& entry(int row) const;

private:
    AppSettings& m_settings;
    QList<CommonPort> m_rows;

    void reload();
};
