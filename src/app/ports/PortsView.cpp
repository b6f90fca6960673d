#include "PortsView.h"

#include "AppSettings.h"
#include "CellDelegate.h"
#include "DesktopServices.h"
#include "ErrorBanner.h"
#include "PortsTableModel.h"
#include "RefreshLoop.h"
#include "Remembered.h"
#include "SafeText.h"
#include "Shortcuts.h"
#include "Stores.h"
#include "Style.h"
#include "Symbols.h"
#include "TableColumns.h"
#include "TextDelegate.h"
#include "ViewState.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using Column = PortsTableModel::Column;

const QList<TableColumns::Width> columnWidths = {
    {60, 70, 90}, {48, 52, 64}, {150, 200, 0}, {140, 220, 0},
    {60, 70, 90}, {80, 110, 0}, {56, 72, 0},   {70, 80, 100},
};
// The columns' names in the view state, in column order.
const QStringList columnNames = {"port", "protocol", "application", "directory",
                                 "pid",  "address",  "user",        "action"};
const QStringList sortOrders = {"ascending", "descending"};

constexpr int iconSize = 18;
constexpr int cellPadding = 6;

// The application cell: the icon (or a symbol in its place) and one or two lines of text.
class ApplicationDelegate : public CellDelegate {
public:
    using CellDelegate::CellDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        paintBackground(painter, option, index, Icon::drop);

        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        const QRect area = option.rect.adjusted(cellPadding, 0, -cellPadding, 0);
        const QRect iconRect(area.left(), area.center().y() - iconSize / 2 + 1, iconSize, iconSize);

        const QVariant icon = index.data(PortsTableModel::AppIconRole);
        if (icon.isValid()) {
            qvariant_cast<QIcon>(icon).paint(painter, iconRect);
        } else {
            const QColor color =
                selected ? palette.color(QPalette::HighlightedText) : Style::secondary(palette);
            Symbols::icon(index.data(PortsTableModel::SymbolRole).toString(), color)
                .paint(painter, iconRect);
        }

        const QRect textRect = area.adjusted(iconSize + 8, 0, 0, 0);
        const QString name = index.data(Qt::DisplayRole).toString();
        const QVariant subtitle = index.data(PortsTableModel::SubtitleRole);
        const QColor primary =
            selected ? palette.color(QPalette::HighlightedText) : Style::primary(palette);
        const QFont nameFont = option.font;
        const QFontMetrics nameMetrics(nameFont);

        painter->save();
        painter->setPen(primary);
        painter->setFont(nameFont);
        if (!subtitle.isValid()) {
            painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                              nameMetrics.elidedText(name, Qt::ElideRight, textRect.width()));
        } else {
            const QFont subFont = Style::font(Style::TextStyle::caption2);
            const QFontMetrics subMetrics(subFont);
            const int total = nameMetrics.height() + 1 + subMetrics.height();
            const int top = textRect.center().y() - total / 2 + 1;
            const QRect nameRect(textRect.left(), top, textRect.width(), nameMetrics.height());
            const QRect subRect(textRect.left(), top + nameMetrics.height() + 1, textRect.width(),
                                subMetrics.height());
            painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                              nameMetrics.elidedText(name, Qt::ElideRight, nameRect.width()));
            painter->setFont(subFont);
            painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                                     : Style::secondary(palette));
            painter->drawText(
                subRect, Qt::AlignLeft | Qt::AlignVCenter,
                subMetrics.elidedText(subtitle.toString(), Qt::ElideRight, subRect.width()));
        }
        painter->restore();
    }
};

// The directory cell: truncated at its head; opens a read-only field to select and copy from.
class DirectoryDelegate : public TextDelegate {
public:
    using TextDelegate::TextDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override
    {
        auto* field = new QLineEdit(parent);
        field->setObjectName(QStringLiteral("directoryField"));
        field->setReadOnly(true);
        field->setFrame(false);
        field->setFont(index.data(Qt::FontRole).value<QFont>());
        field->setToolTip(index.data(Qt::ToolTipRole).toString());
        return field;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* field = static_cast<QLineEdit*>(editor);
        field->setText(index.data(Qt::DisplayRole).toString());
        field->setCursorPosition(field->text().size());
    }

    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        TextDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideLeft;
    }
};

// The terminate button of each row, drawn by the delegate so that large tables stay light.
class TerminateDelegate : public CellDelegate {
public:
    using CellDelegate::CellDelegate;

    static QRect buttonRect(const QRect& cell, const QFont& font)
    {
        const QFontMetrics metrics(font);
        const int width = 14 + 4 + metrics.horizontalAdvance(QStringLiteral("终止")) + 8;
        const int height = std::max(metrics.height(), 14) + 6;
        return QRect(cell.left() + cellPadding, cell.center().y() - height / 2 + 1,
                     std::min(width, cell.width() - 2 * cellPadding), height);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        paintBackground(painter, option, index, Icon::keep);

        const QRect button = buttonRect(option.rect, option.font);
        const bool enabled = index.flags() & Qt::ItemIsEnabled;
        const QColor color = enabled ? Style::destructive()
                                     : option.palette.color(QPalette::Disabled, QPalette::Text);
        painter->save();
        const QRect iconRect(button.left() + 4, button.center().y() - 7 + 1, 14, 14);
        Symbols::icon(QStringLiteral("stop.circle"), color).paint(painter, iconRect);
        painter->setPen(color);
        painter->setFont(option.font);
        painter->drawText(button.adjusted(22, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

// Shows the Delete key beside a menu entry that the key also reaches; the table's own action
// takes the key press.
void showKey(QAction& action)
{
    action.setShortcut(Shortcuts::terminate());
    action.setShortcutContext(Qt::WidgetShortcut);
    action.setShortcutVisibleInContextMenu(true);
}

QMessageBox* makeConfirmation(QWidget* parent, const QString& title, const QString& message)
{
    auto* box = new QMessageBox(parent);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message);
    box->setTextFormat(Qt::PlainText);
    return box;
}

QPushButton* addDestructiveButton(QMessageBox& box, const QString& text)
{
    QPushButton* button = box.addButton(text, QMessageBox::DestructiveRole);
    Style::setTextColour(*button, Style::destructive());
    return button;
}

} // namespace

PortsView::PortsView(QWidget* parent) : QWidget(parent), m_store(std::make_shared<PortsStore>())
{
    m_model = new PortsTableModel(*m_store, this);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addWidget(makeToolbar());
    m_layout->addWidget(Style::divider(this));
    m_table = new QTableView(this);
    setUpTable();
    m_layout->addWidget(m_table, 1);
    m_layout->addWidget(Style::divider(this));
    m_layout->addWidget(makeStatusBar());

    connect(m_store.get(), &PortsStore::isLoadingChanged, this, &PortsView::updateLoading);
    connect(m_store.get(), &PortsStore::lastErrorChanged, this, &PortsView::updateBanner);
    connect(m_store.get(), &PortsStore::commonOnlyChanged, this,
            [this] { m_commonOnly->setChecked(m_store->commonOnly()); });
    connect(m_store.get(), &PortsStore::filterChanged, this, [this] {
        if (m_search->text() != m_store->filter())
            m_search->setText(m_store->filter());
    });
    // The common-only rows depend on the settings' list.
    connect(&AppSettings::shared(), &AppSettings::commonPortsChanged, m_model,
            &PortsTableModel::reload);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        restoreSelection();
        updateStatus();
    });
    // A scan changes rows in place: the selection and the current row stay on their records.
    connect(m_model, &PortsTableModel::scanAboutToBeApplied, this, [this] {
        rememberTopRow();
        m_restoringSelection = true;
    });
    connect(m_model, &PortsTableModel::scanApplied, this, [this] {
        m_restoringSelection = false;
        takeSelection();
        keepTopRow();
        updateStatus();
    });
    connect(&m_model->tint(), &RowTint::faded, this, &PortsView::repaintTintedRows);

    m_loop = new RefreshLoop(*this, autoRefreshInterval, [this] { return m_store->rescan(); });
    connect(m_store.get(), &PortsStore::scanEnded, m_loop, &RefreshLoop::refreshEnded);
    connect(m_autoRefresh, &QCheckBox::toggled, m_loop, &RefreshLoop::setEnabled);
    Remembered::checkBox(*m_autoRefresh, QStringLiteral("ports/autoRefresh"));

    updateColors();
    updateLoading();
    updateStatus();
    updateBanner();
}

PortsView::~PortsView() = default;

PortsStore& PortsView::store() const
{
    return *m_store;
}

PortsTableModel& PortsView::model() const
{
    return *m_model;
}

QTableView& PortsView::table() const
{
    return *m_table;
}

QSet<QUuid> PortsView::selection() const
{
    return m_selection;
}

void PortsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        m_store->refresh();
}

bool PortsView::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched != m_table->viewport() ||
        (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
         type != QEvent::MouseButtonDblClick))
        return QWidget::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint position = mouse->position().toPoint();
    const QModelIndex index = m_table->indexAt(position);
    if (mouse->button() != Qt::LeftButton || !index.isValid() || index.column() != Column::action ||
        !TerminateDelegate::buttonRect(m_table->visualRect(index), m_table->font())
             .contains(position))
        return QWidget::eventFilter(watched, event);
    // A disabled button takes the click all the same, so that it selects nothing either.
    if (type == QEvent::MouseButtonRelease && (index.flags() & Qt::ItemIsEnabled))
        confirmKill(m_model->record(index.row()));
    return true;
}

void PortsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateColors();
}

QWidget* PortsView::makeToolbar()
{
    const Style::HeaderRow header = Style::headerRow(this, QStringLiteral("后台服务 / 端口"));
    QWidget* bar = header.bar;
    QHBoxLayout* row = header.row;
    m_symbol = header.symbol;

    m_autoRefresh = new QCheckBox(QStringLiteral("自动刷新"), bar);
    m_autoRefresh->setObjectName(QStringLiteral("autoRefresh"));
    m_autoRefresh->setChecked(true);
    row->addWidget(m_autoRefresh, 0, Qt::AlignVCenter);

    m_commonOnly = new QCheckBox(QStringLiteral("只看常用端口"), bar);
    m_commonOnly->setObjectName(QStringLiteral("commonOnly"));
    m_commonOnly->setChecked(m_store->commonOnly());
    connect(m_commonOnly, &QCheckBox::toggled, this,
            [this](bool checked) { m_store->setCommonOnly(checked); });
    Remembered::checkBox(*m_commonOnly, QStringLiteral("ports/commonOnly"));
    row->addWidget(m_commonOnly, 0, Qt::AlignVCenter);

    m_search = new QLineEdit(bar);
    m_search->setPlaceholderText(QStringLiteral("搜索端口、应用、目录或地址"));
    m_search->setToolTip(Shortcuts::withKeys(QStringLiteral("搜索"), {Shortcuts::search()}));
    Shortcuts::clearOnEscape(*m_search);
    m_search->setFixedWidth(240);
    m_search->setText(m_store->filter());
    connect(m_search, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_store->setFilter(text); });
    row->addWidget(m_search, 0, Qt::AlignVCenter);

    m_refresh = new QToolButton(bar);
    m_refresh->setObjectName(QStringLiteral("refresh"));
    m_refresh->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise")));
    m_refresh->setToolTip(Shortcuts::withKeys(QStringLiteral("刷新"), Shortcuts::refresh()));
    m_refresh->setAccessibleName(QStringLiteral("刷新"));
    connect(m_refresh, &QToolButton::clicked, this, [this] { m_store->refresh(); });
    row->addWidget(m_refresh, 0, Qt::AlignVCenter);
    return bar;
}

QWidget* PortsView::makeStatusBar()
{
    const Style::StatusRow status =
        Style::statusRow(this, QStringLiteral("提示：终止其他用户/系统进程需以管理员身份运行"));
    m_busy = status.busy;
    m_status = status.summary;
    m_status->setObjectName(QStringLiteral("statusText"));
    m_hint = status.hint;
    m_hint->setObjectName(QStringLiteral("statusHint"));
    return status.bar;
}

void PortsView::setUpTable()
{
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->verticalHeader()->hide();

    const int rowHeight = QFontMetrics(font()).height() +
                          QFontMetrics(Style::font(Style::TextStyle::caption2)).height() + 10;
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(std::max(rowHeight, iconSize + 10));

    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(Column::port, Qt::AscendingOrder);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The working directory takes the width to spare: long paths are what gets cut otherwise.
    TableColumns::apply(*m_table, columnWidths, Column::directory)
        ->remember(QStringLiteral("ports"), columnNames);
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { m_model->sortByClick(column); });
    connect(m_model, &PortsTableModel::sortOrderChanged, this, [this, header] {
        const auto order = m_model->sortOrder();
        if (!order.isEmpty())
            header->setSortIndicator(order.first().column, order.first().order);
    });
    // The header turns its indicator by itself on a click, also on the column without sorting.
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this, header] {
        const auto order = m_model->sortOrder();
        if (!order.isEmpty() && (header->sortIndicatorSection() != order.first().column ||
                                 header->sortIndicatorOrder() != order.first().order)) {
            const QSignalBlocker block(header);
            header->setSortIndicator(order.first().column, order.first().order);
        }
    });

    auto* text = new TextDelegate(m_table);
    for (const Column column :
         {Column::port, Column::protocol, Column::pid, Column::address, Column::user})
        m_table->setItemDelegateForColumn(column, text);
    m_table->setItemDelegateForColumn(Column::application, new ApplicationDelegate(m_table));
    m_table->setItemDelegateForColumn(Column::directory, new DirectoryDelegate(m_table));
    m_table->setItemDelegateForColumn(Column::action, new TerminateDelegate(m_table));
    // The terminate buttons take their clicks before the table, so that they leave the
    // selection as it was.
    m_table->viewport()->installEventFilter(this);

    connect(m_table, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == Column::directory && (m_model->flags(index) & Qt::ItemIsEditable))
            m_table->edit(index);
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { takeSelection(); });
    connect(m_table, &QTableView::customContextMenuRequested, this, &PortsView::showContextMenu);
    Shortcuts::addWidgetAction(*m_table, Shortcuts::copy(), [this] { copySelectedRows(); });
    Shortcuts::addWidgetAction(*m_table, Shortcuts::terminate(), [this] { terminateSelected(); });
    rememberSortOrder();
}

void PortsView::rememberSortOrder()
{
    const QString columnKey = QStringLiteral("ports/sortColumn");
    const QString orderKey = QStringLiteral("ports/sortOrder");
    {
        const ViewState& state = ViewState::shared();
        const std::optional<QString> column =
            state.choice(columnKey, columnNames.mid(0, Column::action));
        const std::optional<QString> order = state.choice(orderKey, sortOrders);
        if (column && order) {
            m_model->setSortOrder(
                {{static_cast<Column>(columnNames.indexOf(*column)),
                  *order == sortOrders[0] ? Qt::AscendingOrder : Qt::DescendingOrder}});
        }
    }
    // The first key decides the order; later ones only break its ties.
    auto keep = [this, columnKey, orderKey](bool changed) {
        const PortsTableModel::SortKey first = m_model->sortOrder().value(0);
        const QString column = columnNames.at(first.column);
        const QString order = sortOrders.at(first.order == Qt::AscendingOrder ? 0 : 1);
        ViewState& state = ViewState::shared();
        if (changed) {
            state.set(columnKey, column);
            state.set(orderKey, order);
        } else {
            state.keep(columnKey, column);
            state.keep(orderKey, order);
        }
    };
    keep(false);
    connect(m_model, &PortsTableModel::sortOrderChanged, this, [keep] { keep(true); });
}

QLineEdit& PortsView::searchField() const
{
    return *m_search;
}

void PortsView::refreshNow()
{
    if (m_refresh->isEnabled())
        m_store->refresh();
}

void PortsView::terminateSelected()
{
    const QList<ServicePort> records = resolve(m_selection);
    if (records.size() == 1) {
        if (PortsTableModel::canTerminate(records.first()))
            confirmKill(records.first());
        return;
    }
    QList<ServicePort> killable;
    for (const ServicePort& record : records) {
        if (PortsTableModel::canTerminate(record))
            killable.append(record);
    }
    if (!killable.isEmpty())
        confirmKillMultiple(killable);
}

void PortsView::copySelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QStringList titles;
    for (int column = 0; column < Column::action; ++column)
        titles.append(m_model->headerData(column, Qt::Horizontal).toString());
    QList<QStringList> lines;
    for (int row : rows) {
        const ServicePort& record = m_model->record(row);
        QStringList cells;
        for (int column = 0; column < Column::action; ++column) {
            QString text = m_model->index(row, column).data().toString();
            // The whole directory, not its short form with "~".
            if (column == Column::directory)
                text = record.workingDir ? SafeText::visible(*record.workingDir) : QString();
            cells.append(text == QStringLiteral("—") ? QString() : text);
        }
        lines.append(cells);
    }
    DesktopServices::copyRows(titles, lines);
}

void PortsView::updateColors()
{
    if (!m_symbol || !m_status || !m_hint)
        return;
    m_symbol->setPixmap(
        Symbols::icon(QStringLiteral("network"), Style::accent(palette())).pixmap(18, 18));
    Style::setTextColour(*m_status, Style::secondary(palette()));
    Style::setTextColour(*m_hint, Style::tertiary(palette()));
}

void PortsView::updateLoading()
{
    const bool loading = m_store->isLoading();
    m_refresh->setEnabled(!loading);
    m_busy->setVisible(loading);
    updateStatus();
}

void PortsView::updateStatus()
{
    m_status->setText(m_store->isLoading()
                          ? QStringLiteral("正在扫描…")
                          : QStringLiteral("共 %1 个监听端口").arg(m_model->rowCount()));
}

void PortsView::updateBanner()
{
    const std::optional<QString> error = m_store->lastError();
    if (m_banner) {
        m_layout->removeWidget(m_banner);
        m_banner->deleteLater();
        m_banner = nullptr;
    }
    if (!error)
        return;
    m_banner = new ErrorBanner(
        *error, [store = m_store.get()] { store->setLastError(std::nullopt); }, this);
    m_banner->setObjectName(QStringLiteral("errorBanner"));
    if (!m_store->lingering().isEmpty()) {
        m_banner->setAction(QStringLiteral("stop.circle.fill"),
                            QStringLiteral("强制终止 (SIGKILL)"),
                            [store = m_store.get()] { store->killLingering(); });
    }
    m_layout->insertWidget(2, m_banner);
    m_banner->show();
}

void PortsView::takeSelection()
{
    if (m_restoringSelection)
        return;
    m_selection.clear();
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        m_selection.insert(m_model->record(index.row()).id);
}

void PortsView::restoreSelection()
{
    if (m_selection.isEmpty())
        return;
    QItemSelection rows;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_selection.contains(m_model->record(row).id))
            rows.select(m_model->index(row, 0), m_model->index(row, PortsTableModel::columns - 1));
    }
    if (rows.isEmpty())
        return;
    m_restoringSelection = true;
    m_table->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    m_restoringSelection = false;
}

void PortsView::repaintTintedRows()
{
    // Only the rows on screen: tinted rows further down cost nothing until they are scrolled to.
    QWidget* viewport = m_table->viewport();
    const int first = m_table->rowAt(0);
    if (first < 0)
        return;
    int last = m_table->rowAt(viewport->height() - 1);
    if (last < 0)
        last = m_model->rowCount() - 1;
    for (int row = first; row <= last; ++row) {
        if (m_model->isTinted(row))
            viewport->update(0, m_table->rowViewportPosition(row), viewport->width(),
                             m_table->rowHeight(row));
    }
}

void PortsView::rememberTopRow()
{
    // A table at its top shows what arrives there; one scrolled further down stays where it is.
    const int top = m_table->rowAt(0);
    m_topRow = top > 0 ? QPersistentModelIndex(m_model->index(top, 0)) : QPersistentModelIndex();
}

void PortsView::keepTopRow()
{
    const int row = m_topRow.isValid() ? m_topRow.row() : -1;
    m_topRow = QPersistentModelIndex();
    if (row < 0 || row == m_table->rowAt(0))
        return;
    // The scroll range follows the new row count only once the table has laid itself out.
    m_table->doItemsLayout();
    m_table->scrollTo(m_model->index(row, 0), QAbstractItemView::PositionAtTop);
}

QList<ServicePort> PortsView::resolve(const QSet<QUuid>& ids) const
{
    QList<ServicePort> records;
    for (const QUuid& id : ids) {
        if (const auto record = m_store->port(id))
            records.append(*record);
    }
    return records;
}

void PortsView::showContextMenu(const QPoint& position)
{
    const QModelIndex index = m_table->indexAt(position);
    if (!index.isValid())
        return;
    const QUuid clicked = m_model->record(index.row()).id;
    const QList<ServicePort> records =
        resolve(m_selection.contains(clicked) ? m_selection : QSet<QUuid>{clicked});
    if (records.isEmpty())
        return;

    QMenu menu(this);
    if (records.size() == 1) {
        const ServicePort record = records.first();
        if (record.workingDir) {
            const QByteArray path = record.workingDirPath();
            menu.addAction(Symbols::icon(QStringLiteral("folder")), QStringLiteral("打开目录"),
                           this, [path] { DesktopServices::openPath(path); });
            menu.addAction(Symbols::icon(QStringLiteral("magnifyingglass")),
                           QStringLiteral("在 Finder 中显示"), this,
                           [path] { DesktopServices::revealPath(path); });
            menu.addAction(Symbols::icon(QStringLiteral("doc.on.doc")),
                           QStringLiteral("复制目录路径"), this,
                           [dir = *record.workingDir] { DesktopServices::copyText(dir); });
            menu.addSeparator();
        }
        menu.addAction(Symbols::icon(QStringLiteral("number")), QStringLiteral("复制端口号"), this,
                       [port = record.port] { DesktopServices::copyText(QString::number(port)); });
        const bool stoppable = record.container && record.container->canStop();
        if (PortsTableModel::canTerminate(record) || record.service || stoppable)
            menu.addSeparator();
        if (PortsTableModel::canTerminate(record)) {
            QAction* terminate =
                menu.addAction(Symbols::icon(QStringLiteral("stop.circle"), Style::destructive()),
                               QStringLiteral("终止进程"));
            showKey(*terminate);
            connect(terminate, &QAction::triggered, this, [this, record] { confirmKill(record); });
        }
        if (record.service) {
            menu.addAction(Symbols::icon(QStringLiteral("power"), Style::destructive()),
                           QStringLiteral("停止服务 ") + SafeText::visible(record.service->name),
                           this, [this, record] { m_store->stopService(record); });
        }
        if (stoppable) {
            menu.addAction(Symbols::icon(QStringLiteral("shippingbox"), Style::destructive()),
                           QStringLiteral("停止容器 ") + SafeText::visible(record.container->name),
                           this, [this, record] { m_store->stopContainer(record); });
        }
    } else {
        // Processes the scan could not see cannot be terminated from here.
        QList<ServicePort> killable;
        for (const ServicePort& record : records) {
            if (PortsTableModel::canTerminate(record))
                killable.append(record);
        }
        if (killable.isEmpty())
            return;
        const QString label =
            tr("一键终止选中的 %lld 项")
                .replace(QStringLiteral("%lld"), QString::number(killable.size()));
        QAction* terminate = menu.addAction(
            Symbols::icon(QStringLiteral("stop.circle.fill"), Style::destructive()), label);
        showKey(*terminate);
        connect(terminate, &QAction::triggered, this,
                [this, killable] { confirmKillMultiple(killable); });
    }
    menu.exec(m_table->viewport()->mapToGlobal(position));
}

void PortsView::confirmKill(const ServicePort& record)
{
    const QString title =
        QStringLiteral("终止进程 %1（PID %2）？")
            .arg(SafeText::visible(record.displayName()), QString::number(record.pid));
    QString message = QStringLiteral("将停止占用端口 %1 的进程。").arg(record.port);
    if (record.service && record.service->restarts) {
        message += QLatin1Char('\n') +
                   QStringLiteral("该进程由 systemd 服务 %1 管理，终止后可能会被自动重启。")
                       .arg(SafeText::visible(record.service->name));
    }
    const auto& container = record.container;
    // A process inside the container is no proxy: ending it may end the container.
    if (container && !container->insideContainer) {
        message +=
            QLatin1Char('\n') + QStringLiteral("该端口由容器 %1 提供，终止代理进程不会停止容器。")
                                    .arg(SafeText::visible(container->name));
    }
    std::unique_ptr<QMessageBox> box(makeConfirmation(this, title, message));
    // The first button of the accept role leads; further ones follow it.
    QPushButton* stop = nullptr;
    if (container && container->canStop()) {
        stop = box->addButton(QStringLiteral("停止容器"), QMessageBox::AcceptRole);
        stop->setIcon(Symbols::icon(QStringLiteral("shippingbox")));
    }
    QPushButton* term = box->addButton(QStringLiteral("终止 (SIGTERM)"), QMessageBox::AcceptRole);
    QPushButton* kill = addDestructiveButton(*box, QStringLiteral("强制终止 (SIGKILL)"));
    QPushButton* cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->exec();

    QAbstractButton* chosen = box->clickedButton();
    if (chosen == term)
        m_store->kill(record, false);
    else if (chosen == kill)
        m_store->kill(record, true);
    else if (stop && chosen == stop)
        m_store->stopContainer(record);
}

void PortsView::confirmKillMultiple(const QList<ServicePort>& records)
{
    QStringList ports;
    for (const ServicePort& record : records)
        ports.append(QString::number(record.port));
    const QString title = tr("一键终止选中的 %lld 个进程？")
                              .replace(QStringLiteral("%lld"), QString::number(records.size()));
    const QString message = QStringLiteral("涉及端口：") + ports.join(QStringLiteral(", "));
    std::unique_ptr<QMessageBox> box(makeConfirmation(this, title, message));
    QPushButton* term =
        box->addButton(QStringLiteral("全部终止 (SIGTERM)"), QMessageBox::AcceptRole);
    QPushButton* kill = addDestructiveButton(*box, QStringLiteral("全部强制终止 (SIGKILL)"));
    QPushButton* cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->exec();

    QAbstractButton* chosen = box->clickedButton();
    if (chosen != term && chosen != kill)
        return;
    m_store->killMany(records, chosen == kill);
    m_selection.clear();
    m_restoringSelection = true;
    m_table->selectionModel()->clearSelection();
    m_restoringSelection = false;
}
