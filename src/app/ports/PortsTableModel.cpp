#include "PortsTableModel.h"

#include "AppIconProvider.h"
#include "SafeText.h"
#include "Stores.h"
#include "Style.h"
#include "Symbols.h"
#include "platform/Platform.h"

#include <QCollator>
#include <QGuiApplication>
#include <QLocale>

#include <algorithm>
#include <limits>
#include <numeric>

namespace {

// The application cell's tooltip: the command line, and the service the process runs in.
QString applicationToolTip(const ServicePort& p)
{
    QStringList lines;
    if (p.commandLine)
        lines.append(SafeText::visible(*p.commandLine));
    if (p.service)
        lines.append(QStringLiteral("systemd 服务：") + SafeText::visible(p.service->name));
    return lines.join(QLatin1Char('\n'));
}

// Qt collates the C locale by code points and then ignores numeric mode; sort as a real locale
// would when the system names none.
QCollator makeCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setIgnorePunctuation(false);
    return collator;
}

template <typename T> int compareNumbers(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// More separate removals or insertions than this are made as one: each costs the view a walk over
// all rows.
constexpr int scatteredChanges = 4;

} // namespace

PortsTableModel::PortsTableModel(PortsStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store), m_sortOrder({SortKey{}}),
      m_collator(makeCollator()), m_loginName(Platform::loginName()),
      m_portFont(Style::font(Style::TextStyle::body, true, true)),
      m_captionFont(Style::font(Style::TextStyle::caption)),
      m_captionMonoFont(Style::font(Style::TextStyle::caption, true)),
      m_bodyMonoFont(Style::font(Style::TextStyle::body, true)),
      m_exposedIcon(Symbols::icon(QStringLiteral("network")))
{
    connect(&m_store, &PortsStore::portsChanged, this, &PortsTableModel::applyScan);
    connect(&m_store, &PortsStore::filterChanged, this, &PortsTableModel::reload);
    connect(&m_store, &PortsStore::commonOnlyChanged, this, &PortsTableModel::reload);
    applyScan();
}

PortsTableModel::~PortsTableModel() = default;

int PortsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int PortsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns;
}

const ServicePort& PortsTableModel::record(int row) const
{
    return m_all.at(m_shown.at(static_cast<size_t>(row)));
}

int PortsTableModel::rowOf(const QUuid& id) const
{
    for (size_t row = 0; row < m_shown.size(); ++row) {
        if (m_all.at(m_shown[row]).id == id)
            return static_cast<int>(row);
    }
    return -1;
}

bool PortsTableModel::isExposed(const QString& address)
{
    return address == u"*" || address == u"0.0.0.0" || address == u"::" ||
           address == u"::ffff:0.0.0.0";
}

QString PortsTableModel::identity(const ServicePort& record)
{
    return QString::number(record.pid) + QLatin1Char('/') + QString::number(record.port) +
           QLatin1Char('/') + record.networkProtocol;
}

QString PortsTableModel::applicationText(const ServicePort& record)
{
    return SafeText::visible(record.container ? record.container->displayName()
                                              : record.displayName());
}

QVariant PortsTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ServicePort& p = record(index.row());
    const QPalette palette = QGuiApplication::palette();
    const int column = index.column();

    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (column) {
        case port:
            return QString::number(p.port);
        case protocol:
            return p.networkProtocol;
        case application:
            return applicationText(p);
        case directory: {
            const auto shown = p.displayWorkingDir();
            return shown ? SafeText::visible(*shown) : QStringLiteral("—");
        }
        case pid:
            return canTerminate(p) ? QString::number(p.pid) : QStringLiteral("—");
        case address:
            return p.address;
        case user:
            return SafeText::visible(p.user);
        case action:
            return QStringLiteral("终止");
        default:
            return {};
        }
    case Qt::FontRole:
        switch (column) {
        case port:
            return m_portFont;
        case protocol:
        case user:
            return m_captionFont;
        case directory:
            return p.workingDir ? m_captionMonoFont : QVariant();
        case pid:
            return m_bodyMonoFont;
        case address:
            return m_captionMonoFont;
        default:
            return {};
        }
    case Qt::ForegroundRole:
        switch (column) {
        case protocol:
        case pid:
        case address:
        case user:
            return Style::secondary(palette);
        case directory:
            return p.workingDir ? Style::secondary(palette) : Style::tertiary(palette);
        default:
            return {};
        }
    case Qt::ToolTipRole:
        if (column == directory && p.workingDir)
            return SafeText::visible(*p.workingDir);
        if (column == application) {
            const QString tip = applicationToolTip(p);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        if (column == address && isExposed(p.address))
            return QStringLiteral("对所有网络接口开放，其他机器可以连接");
        if (column == action) {
            if (!canTerminate(p))
                return QStringLiteral("属于其他用户，需要管理员权限");
            return p.user == m_loginName ? QStringLiteral("终止该进程")
                                         : QStringLiteral("属于其他用户，可能需要管理员权限");
        }
        return {};
    case Qt::DecorationRole:
        if (column == address && isExposed(p.address))
            return m_exposedIcon;
        return {};
    case Qt::BackgroundRole:
        return m_tint.isEmpty() ? QVariant() : m_tint.background(identity(p), palette);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case IdRole:
        return p.id;
    case SubtitleRole:
        if (p.container)
            return SafeText::visible(p.container->image.value_or(p.command));
        return p.appName ? QVariant(SafeText::visible(p.command)) : QVariant();
    case SymbolRole:
        return p.container ? QStringLiteral("shippingbox") : QStringLiteral("terminal");
    case AppIconRole:
        if (column != application || p.container)
            return {};
        if (const auto icon = iconFor(p))
            return *icon;
        return {};
    default:
        return {};
    }
}

QVariant PortsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList titles = {"端口", "协议",     "来源应用", "启动目录",
                                       "PID",  "监听地址", "用户",     "操作"};
    return titles.value(section);
}

Qt::ItemFlags PortsTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    // The directory opens in a read-only field so that it can be selected and copied.
    if (index.isValid() && index.column() == directory && record(index.row()).workingDir)
        result |= Qt::ItemIsEditable;
    if (index.isValid() && index.column() == action && !canTerminate(record(index.row())))
        result &= ~Qt::ItemIsEnabled;
    return result;
}

bool PortsTableModel::isSortable(int column)
{
    return column >= port && column < action;
}

QList<PortsTableModel::SortKey> PortsTableModel::sortOrder() const
{
    return m_sortOrder;
}

void PortsTableModel::setSortOrder(const QList<SortKey>& order)
{
    if (order == m_sortOrder)
        return;
    m_sortOrder = order;
    m_rank.clear();
    reorder();
    emit sortOrderChanged();
}

void PortsTableModel::reorder()
{
    rearrange([this] { sortRows(); });
}

void PortsTableModel::rearrange(const std::function<void()>& reorderRows)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> held;
    held.reserve(static_cast<size_t>(before.size()));
    for (const QModelIndex& index : before)
        held.push_back(index.isValid() ? m_shown[static_cast<size_t>(index.row())] : -1);
    reorderRows();
    if (!before.isEmpty()) {
        std::vector<int> rowOfRecord(static_cast<size_t>(m_all.size()), -1);
        for (size_t row = 0; row < m_shown.size(); ++row)
            rowOfRecord[static_cast<size_t>(m_shown[row])] = static_cast<int>(row);
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i) {
            const int record = held[static_cast<size_t>(i)];
            after.append(record < 0
                             ? QModelIndex()
                             : index(rowOfRecord[static_cast<size_t>(record)], before[i].column()));
        }
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void PortsTableModel::sortByClick(int column)
{
    if (!isSortable(column))
        return;
    QList<SortKey> order = m_sortOrder;
    if (!order.isEmpty() && order.first().column == column) {
        order.first().order =
            order.first().order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    } else {
        order.removeIf([column](const SortKey& key) { return key.column == column; });
        order.prepend(SortKey{static_cast<Column>(column), Qt::AscendingOrder});
    }
    setSortOrder(order);
}

void PortsTableModel::reload()
{
    beginResetModel();
    m_shown = indexesOf(m_all, m_store.filtered());
    sortRows();
    endResetModel();
}

std::vector<int> PortsTableModel::indexesOf(const QList<ServicePort>& all,
                                            const QList<ServicePort>& filtered)
{
    std::vector<int> indexes(static_cast<size_t>(filtered.size()));
    if (filtered.constData() == all.constData()) {
        std::iota(indexes.begin(), indexes.end(), 0);
        return indexes;
    }
    // The filtered list keeps the order of the whole list it was drawn from.
    qsizetype at = 0;
    size_t found = 0;
    for (const ServicePort& record : filtered) {
        while (at < all.size() && all.at(at).id != record.id)
            ++at;
        if (at == all.size())
            break;
        indexes[found++] = static_cast<int>(at++);
    }
    indexes.resize(found);
    return indexes;
}

void PortsTableModel::applyScan()
{
    emit scanAboutToBeApplied();
    const QList<ServicePort> all = m_store.ports();
    const ScanChanges changes = m_store.changesSince(m_all);
    // Where each record of the last scan is in this one.
    std::vector<int> now(static_cast<size_t>(m_all.size()), -1);
    for (size_t i = 0; i < changes.follows.size(); ++i) {
        if (changes.follows[i] >= 0)
            now[static_cast<size_t>(changes.follows[i])] = static_cast<int>(i);
    }
    std::vector<std::shared_ptr<const TextKeys>> keys = keysFor(all, changes);

    // The rows of records that are gone, or no longer pass the filter, go first.
    const std::vector<int> shownNow = indexesOf(all, m_store.filtered());
    std::vector<char> shown(static_cast<size_t>(all.size()), 0);
    for (const int i : shownNow)
        shown[static_cast<size_t>(i)] = 1;
    std::vector<char> kept(m_shown.size(), 0);
    for (size_t row = 0; row < m_shown.size(); ++row) {
        const int i = now[static_cast<size_t>(m_shown[row])];
        kept[row] = i >= 0 && shown[static_cast<size_t>(i)];
    }
    removeRowsNotKept(kept);

    // The rows left show this scan's records from here on.
    std::vector<char> changed(m_shown.size(), 0);
    for (size_t row = 0; row < m_shown.size(); ++row) {
        const int i = now[static_cast<size_t>(m_shown[row])];
        changed[row] = !changes.same[static_cast<size_t>(i)];
        m_shown[row] = i;
    }
    m_all = all;
    m_keys = std::move(keys);
    m_rank.clear();
    emitChanged(changed);
    // A record that changed may belong elsewhere under the sort order now; the others keep their
    // order among themselves.
    for (size_t row = 0; row < m_shown.size(); ++row) {
        if (!changed[row])
            continue;
        if ((row > 0 && precedes(m_shown[row], m_shown[row - 1])) ||
            (row + 1 < m_shown.size() && precedes(m_shown[row + 1], m_shown[row]))) {
            reorder();
            break;
        }
    }

    std::vector<char> present(static_cast<size_t>(all.size()), 0);
    for (const int i : m_shown)
        present[static_cast<size_t>(i)] = 1;
    std::vector<int> added;
    for (const int i : shownNow) {
        if (!present[static_cast<size_t>(i)])
            added.push_back(i);
    }
    if (m_scanShown) {
        for (const int i : added)
            m_tint.mark(identity(all.at(i)));
    }
    insertRowsInOrder(std::move(added));
    m_scanShown = m_scanShown || !all.isEmpty();
    emit scanApplied();
}

std::vector<std::shared_ptr<const PortsTableModel::TextKeys>>
PortsTableModel::keysFor(const QList<ServicePort>& all, const ScanChanges& changes)
{
    std::vector<std::shared_ptr<const TextKeys>> keys;
    keys.reserve(static_cast<size_t>(all.size()));
    for (qsizetype i = 0; i < all.size(); ++i) {
        const ServicePort& p = all.at(i);
        const int j = changes.follows[static_cast<size_t>(i)];
        if (j >= 0 && changes.same[static_cast<size_t>(i)]) {
            // Each record of the last scan is followed once at most, and its keys go with it.
            keys.push_back(std::move(m_keys[static_cast<size_t>(j)]));
            continue;
        }
        keys.push_back(std::make_shared<const TextKeys>(
            TextKeys{sortKey(p.networkProtocol), sortKey(applicationText(p)),
                     sortKey(SafeText::visible(p.workingDirSortKey())), sortKey(p.address),
                     sortKey(SafeText::visible(p.user))}));
    }
    return keys;
}

QCollatorSortKey PortsTableModel::sortKey(const QString& text)
{
    auto found = m_sortKeys.constFind(text);
    if (found == m_sortKeys.cend()) {
        // Texts no record holds any more are dropped now and then, all at once.
        if (m_sortKeys.size() > 8 * (m_all.size() + 256))
            m_sortKeys.clear();
        found = m_sortKeys.emplace(text, m_collator.sortKey(text));
    }
    return *found;
}

void PortsTableModel::removeRowsNotKept(std::vector<char> kept)
{
    int removals = 0;
    for (size_t row = 0; row < kept.size(); ++row)
        removals += !kept[row] && (row == 0 || kept[row - 1]);
    if (removals > scatteredChanges) {
        // The rows to go move to the end first, all in one.
        rearrange([&] {
            std::vector<int> order;
            order.reserve(m_shown.size());
            for (size_t row = 0; row < kept.size(); ++row) {
                if (kept[row])
                    order.push_back(m_shown[row]);
            }
            const size_t keptCount = order.size();
            for (size_t row = 0; row < kept.size(); ++row) {
                if (!kept[row])
                    order.push_back(m_shown[row]);
            }
            m_shown = std::move(order);
            std::fill(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(keptCount), 1);
            std::fill(kept.begin() + static_cast<std::ptrdiff_t>(keptCount), kept.end(), 0);
        });
    }
    // From the bottom, so that the rows still to go keep their numbers.
    for (int last = static_cast<int>(kept.size()) - 1; last >= 0; --last) {
        if (kept[static_cast<size_t>(last)])
            continue;
        int first = last;
        while (first > 0 && !kept[static_cast<size_t>(first - 1)])
            --first;
        beginRemoveRows({}, first, last);
        m_shown.erase(m_shown.begin() + first, m_shown.begin() + last + 1);
        endRemoveRows();
        last = first;
    }
}

void PortsTableModel::insertRowsInOrder(std::vector<int> added)
{
    const auto before = [this](int a, int b) { return precedes(a, b); };
    std::sort(added.begin(), added.end(), before);
    // The row of those shown now before which each record goes.
    std::vector<size_t> place(added.size());
    int places = 0;
    size_t row = 0;
    for (size_t next = 0; next < added.size(); ++next) {
        while (row < m_shown.size() && precedes(m_shown[row], added[next]))
            ++row;
        place[next] = row;
        places += next == 0 || place[next - 1] != row;
    }
    if (places > scatteredChanges) {
        // They go in at the end, all in one, and then to their places.
        const auto shown = static_cast<std::ptrdiff_t>(m_shown.size());
        beginInsertRows({}, static_cast<int>(shown),
                        static_cast<int>(shown) + static_cast<int>(added.size()) - 1);
        m_shown.insert(m_shown.end(), added.begin(), added.end());
        endInsertRows();
        rearrange([&] {
            std::inplace_merge(m_shown.begin(), m_shown.begin() + shown, m_shown.end(), before);
        });
        return;
    }
    // Every record that goes before the same row goes in at once; those put in before it have
    // moved that row down.
    for (size_t next = 0; next < added.size();) {
        size_t end = next + 1;
        while (end < added.size() && place[end] == place[next])
            ++end;
        const auto first = static_cast<std::ptrdiff_t>(place[next] + next);
        beginInsertRows({}, static_cast<int>(first),
                        static_cast<int>(first) + static_cast<int>(end - next) - 1);
        m_shown.insert(m_shown.begin() + first, added.begin() + static_cast<std::ptrdiff_t>(next),
                       added.begin() + static_cast<std::ptrdiff_t>(end));
        endInsertRows();
        next = end;
    }
}

void PortsTableModel::emitChanged(const std::vector<char>& changed)
{
    for (size_t first = 0; first < changed.size(); ++first) {
        if (!changed[first])
            continue;
        size_t last = first;
        while (last + 1 < changed.size() && changed[last + 1])
            ++last;
        emit dataChanged(index(static_cast<int>(first), 0),
                         index(static_cast<int>(last), columns - 1));
        first = last;
    }
}

int PortsTableModel::compare(const SortKey& key, int a, int b) const
{
    const ServicePort& pa = m_all.at(a);
    const ServicePort& pb = m_all.at(b);
    const TextKeys& ka = *m_keys[static_cast<size_t>(a)];
    const TextKeys& kb = *m_keys[static_cast<size_t>(b)];
    switch (key.column) {
    case port:
        return compareNumbers(pa.port, pb.port);
    case pid:
        return compareNumbers(pa.pid, pb.pid);
    case protocol:
        return ka.protocol.compare(kb.protocol);
    case application:
        return ka.displayName.compare(kb.displayName);
    case directory:
        return ka.workingDir.compare(kb.workingDir);
    case address:
        return ka.address.compare(kb.address);
    case user:
        return ka.user.compare(kb.user);
    default:
        return 0;
    }
}

// The sort order, then the scan's own order: the order of a stable sort of the scan's list.
bool PortsTableModel::precedes(int a, int b) const
{
    for (const SortKey& key : m_sortOrder) {
        const int result = compare(key, a, b);
        if (result != 0)
            return key.order == Qt::AscendingOrder ? result < 0 : result > 0;
    }
    return a < b;
}

void PortsTableModel::rankAll()
{
    const size_t count = m_keys.size();
    std::vector<int> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = static_cast<int>(i);
    std::sort(order.begin(), order.end(), [this](int a, int b) { return precedes(a, b); });
    m_rank.assign(count, 0);
    for (size_t place = 0; place < count; ++place)
        m_rank[static_cast<size_t>(order[place])] = static_cast<int>(place);
}

void PortsTableModel::sortRows()
{
    if (m_rank.size() != m_keys.size() || m_rank.empty())
        rankAll();
    std::sort(m_shown.begin(), m_shown.end(), [this](int a, int b) {
        return m_rank[static_cast<size_t>(a)] < m_rank[static_cast<size_t>(b)];
    });
}

std::optional<QIcon> PortsTableModel::iconFor(const ServicePort& record) const
{
    if (!record.iconName)
        return std::nullopt;
    if (const auto found = m_icons.constFind(*record.iconName); found != m_icons.constEnd())
        return *found;
    const std::optional<QIcon> icon = AppIconProvider::icon(record.iconName);
    m_icons.insert(*record.iconName, icon);
    return icon;
}
