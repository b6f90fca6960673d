#pragma once

#include "Models.h"

#include <QAbstractTableModel>
#include <QCollatorSortKey>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QUuid>

#include <optional>
#include <vector>

class PortsStore;

// The ports table: the store's filtered records, sorted by the table's sort order.
class PortsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { port, protocol, application, directory, pid, address, user, action };
    static constexpr int columns = action + 1;
    enum Role {
        IdRole = Qt::UserRole + 1,
        // The second line of the application cell: the command, when the process is an app's.
        SubtitleRole,
        // The application's icon, when one was found.
        AppIconRole,
        // The symbol drawn in place of an application's icon: "shippingbox" for a container's
        // row, else "terminal".
        SymbolRole,
    };

    // Whether the row's process can be terminated from the table: it has one the scan could see.
    static bool canTerminate(const ServicePort& record) { return record.pid > 0; }
    // What the application column shows and sorts by: the container, else the display name.
    static QString applicationText(const ServicePort& record);

    struct SortKey {
        Column column = port;
        Qt::SortOrder order = Qt::AscendingOrder;
        bool operator==(const SortKey&) const = default;
    };

    explicit PortsTableModel(PortsStore& store, QObject* parent = nullptr);
    ~PortsTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const ServicePort& record(int row) const;
    // The row showing the record with this identity, or -1.
    int rowOf(const QUuid& id) const;

    static bool isSortable(int column);
    QList<SortKey> sortOrder() const;
    void setSortOrder(const QList<SortKey>& order);
    // A header click: the column moves to the front ascending, or turns round when already first.
    void sortByClick(int column);

    // Reads the store's filtered list again and sorts it.
    void reload();

signals:
    void sortOrderChanged();

private:
    struct TextKeys {
        QCollatorSortKey protocol;
        QCollatorSortKey displayName;
        QCollatorSortKey workingDir;
        QCollatorSortKey address;
        QCollatorSortKey user;
    };

    PortsStore& m_store;
    QList<SortKey> m_sortOrder;
    QList<ServicePort> m_filtered;
    // The last scan's records, with their collation keys made once per scan (records never
    // change), and each record's place in the whole list under the sort order, made once per
    // scan and order: a keystroke then only orders the filtered rows by those places.
    QList<ServicePort> m_all;
    QHash<QUuid, int> m_indexOf;
    std::vector<TextKeys> m_keys;
    std::vector<int> m_rank;
    // m_order[row] indexes m_filtered.
    std::vector<int> m_order;
    QString m_loginName;
    QFont m_portFont;
    QFont m_captionFont;
    QFont m_captionMonoFont;
    QFont m_bodyMonoFont;
    // Icons by the icon name the scan found, loaded when a row first shows one.
    mutable QHash<QString, std::optional<QIcon>> m_icons;

    void rebuildKeys();
    void rankAll();
    void sortRows();
    std::optional<QIcon> iconFor(const ServicePort& record) const;
};
