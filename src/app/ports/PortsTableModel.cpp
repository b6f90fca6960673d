#include "PortsTableModel.h"

#include "AppIconProvider.h"
#include "SafeText.h"
#include "Stores.h"
#include "Style.h"
#include "platform/Platform.h"

#include <QCollator>
#include <QGuiApplication>
#include <QLocale>

#include <algorithm>
#include <limits>

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

} // namespace

PortsTableModel::PortsTableModel(PortsStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store), m_sortOrder({SortKey{}}),
      m_loginName(Platform::loginName()),
      m_portFont(Style::font(Style::TextStyle::body, true, true)),
      m_captionFont(Style::font(Style::TextStyle::caption)),
      m_captionMonoFont(Style::font(Style::TextStyle::caption, true)),
      m_bodyMonoFont(Style::font(Style::TextStyle::body, true))
{
    connect(&m_store, &PortsStore::portsChanged, this, [this] {
        rebuildKeys();
        reload();
    });
    connect(&m_store, &PortsStore::filterChanged, this, &PortsTableModel::reload);
    connect(&m_store, &PortsStore::commonOnlyChanged, this, &PortsTableModel::reload);
    rebuildKeys();
    reload();
}

PortsTableModel::~PortsTableModel() = default;

int PortsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_order.size());
}

int PortsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns;
}

const ServicePort& PortsTableModel::record(int row) const
{
    return m_filtered.at(m_order.at(static_cast<size_t>(row)));
}

int PortsTableModel::rowOf(const QUuid& id) const
{
    for (size_t row = 0; row < m_order.size(); ++row) {
        if (m_filtered.at(m_order[row]).id == id)
            return static_cast<int>(row);
    }
    return -1;
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
        if (column == action) {
            if (!canTerminate(p))
                return QStringLiteral("属于其他用户，需要管理员权限");
            return p.user == m_loginName ? QStringLiteral("终止该进程")
                                         : QStringLiteral("属于其他用户，可能需要管理员权限");
        }
        return {};
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
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<QUuid> ids;
    ids.reserve(before.size());
    for (const QModelIndex& index : before)
        ids.append(index.isValid() ? record(index.row()).id : QUuid());
    sortRows();
    if (!before.isEmpty()) {
        QHash<QUuid, int> rows;
        for (size_t row = 0; row < m_order.size(); ++row)
            rows.insert(m_filtered.at(m_order[row]).id, static_cast<int>(row));
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            after.append(index(rows.value(ids[i], -1), before[i].column()));
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit sortOrderChanged();
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
    m_filtered = m_store.filtered();
    sortRows();
    endResetModel();
}

void PortsTableModel::rebuildKeys()
{
    const QCollator collator = makeCollator();
    m_all = m_store.ports();
    m_indexOf.clear();
    m_indexOf.reserve(m_all.size());
    m_keys.clear();
    m_keys.reserve(static_cast<size_t>(m_all.size()));
    for (qsizetype i = 0; i < m_all.size(); ++i) {
        const ServicePort& p = m_all.at(i);
        m_indexOf.insert(p.id, static_cast<int>(i));
        m_keys.push_back(
            TextKeys{collator.sortKey(p.networkProtocol), collator.sortKey(applicationText(p)),
                     collator.sortKey(SafeText::visible(p.workingDirSortKey())),
                     collator.sortKey(p.address), collator.sortKey(SafeText::visible(p.user))});
    }
    m_rank.clear();
}

void PortsTableModel::rankAll()
{
    const size_t count = m_keys.size();
    std::vector<int> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = static_cast<int>(i);

    const auto compare = [&](const SortKey& key, int a, int b) {
        const ServicePort& pa = m_all.at(a);
        const ServicePort& pb = m_all.at(b);
        const TextKeys& ka = m_keys[static_cast<size_t>(a)];
        const TextKeys& kb = m_keys[static_cast<size_t>(b)];
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
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        for (const SortKey& key : m_sortOrder) {
            const int result = compare(key, a, b);
            if (result != 0)
                return key.order == Qt::AscendingOrder ? result < 0 : result > 0;
        }
        return false;
    });
    m_rank.assign(count, 0);
    for (size_t place = 0; place < count; ++place)
        m_rank[static_cast<size_t>(order[place])] = static_cast<int>(place);
}

void PortsTableModel::sortRows()
{
    if (m_rank.size() != m_keys.size() || m_rank.empty())
        rankAll();
    // The filtered rows keep the scan's order, so ordering them by their places in the whole
    // sorted list is the same stable sort as sorting them by themselves.
    const qsizetype count = m_filtered.size();
    std::vector<std::pair<int, int>> places(static_cast<size_t>(count));
    for (qsizetype i = 0; i < count; ++i) {
        const int index = m_indexOf.value(m_filtered.at(i).id, -1);
        const int place =
            index < 0 ? std::numeric_limits<int>::max() : m_rank[static_cast<size_t>(index)];
        places[static_cast<size_t>(i)] = {place, static_cast<int>(i)};
    }
    std::sort(places.begin(), places.end());
    m_order.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < places.size(); ++i)
        m_order[i] = places[i].second;
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
