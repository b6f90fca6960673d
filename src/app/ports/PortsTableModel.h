#pragma once

#include "Models.h"
#include "RowTint.h"
#include "ScanChanges.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QCollatorSortKey>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class PortsStore;

// The ports table: the store's filtered records, sorted by the table's sort order. A new scan
// changes only the rows that changed: rows are known by their process, port and protocol, since
// every scan gives its records new ids.
class PortsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { port, protocol, application, directory, pid, address, user, action };
    static constexpr int columns = action + 1;
    enum Role {
        // The record's id in the scan now shown.
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
    // Whether a listening address takes connections on every network interface.
    static bool isExposed(const QString& address);
    // What tells a row apart from every other of the same scan and stays the same from one scan
    // to the next: its process, port and protocol.
    static QString identity(const ServicePort& record);
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
    // The row showing the record with this id, or -1.
    int rowOf(const QUuid& id) const;

    static bool isSortable(int column);
    QList<SortKey> sortOrder() const;
    void setSortOrder(const QList<SortKey>& order);
    // A header click: the column moves to the front ascending, or turns round when already first.
    void sortByClick(int column);

    // Reads the store's filtered list again and sorts it.
    void reload();

    // The rows that appeared with the last scans.
    RowTint& tint() { return m_tint; }
    // Whether the row is to be painted at the tint's next frame.
    bool isTinted(int row) const
    {
        return !m_tint.isEmpty() && m_tint.isTinted(identity(record(row)));
    }

signals:
    void sortOrderChanged();
    // Around the changes a new scan makes to the rows.
    void scanAboutToBeApplied();
    void scanApplied();

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
    // Made once: making one costs more than the keys of a scan's new records.
    QCollator m_collator;
    // The collation key of each text met: records come and go, their texts mostly stay.
    QHash<QString, QCollatorSortKey> m_sortKeys;
    // The last scan's records, each with its identity and its collation keys, which a record
    // keeps from one scan to the next while its texts stay the same.
    QList<ServicePort> m_all;
    // Held by pointer, so that a record's keys pass to the record that follows it for nothing.
    std::vector<std::shared_ptr<const TextKeys>> m_keys;
    // Each record's place in the whole list under the sort order, made when first needed after a
    // scan or a new order: a keystroke then only orders the filtered rows by those places.
    std::vector<int> m_rank;
    // m_shown[row] indexes m_all.
    std::vector<int> m_shown;
    // Rows of the first scan shown are not new.
    bool m_scanShown = false;
    RowTint m_tint;
    QString m_loginName;
    QFont m_portFont;
    QFont m_captionFont;
    QFont m_captionMonoFont;
    QFont m_bodyMonoFont;
    QIcon m_exposedIcon;
    // Icons by the icon name the scan found, loaded when a row first shows one.
    mutable QHash<QString, std::optional<QIcon>> m_icons;

    void applyScan();
    void removeRowsNotKept(std::vector<char> kept);
    void insertRowsInOrder(std::vector<int> added);
    void emitChanged(const std::vector<char>& changed);
    // Puts the rows in order again, keeping selections and other held indexes on their records.
    void reorder();
    // Puts the rows in the order `reorderRows` leaves them in, the same way.
    void rearrange(const std::function<void()>& reorderRows);
    // Each record's collation keys: those of the record of the last scan it follows (whose keys
    // it takes over) when it is the same, else made anew.
    std::vector<std::shared_ptr<const TextKeys>> keysFor(const QList<ServicePort>& all,
                                                         const ScanChanges& changes);
    QCollatorSortKey sortKey(const QString& text);
    static std::vector<int> indexesOf(const QList<ServicePort>& all,
                                      const QList<ServicePort>& filtered);
    int compare(const SortKey& key, int a, int b) const;
    bool precedes(int a, int b) const;
    void rankAll();
    void sortRows();
    std::optional<QIcon> iconFor(const ServicePort& record) const;
};
