#include "LaunchdView.h"

#include "CellDelegate.h"
#include "DesktopServices.h"
#include "ErrorBanner.h"
#include "JobsTableModel.h"
#include "RowWidgets.h"
#include "Stores.h"
#include "Style.h"
#include "Symbols.h"
#include "TableColumns.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int dotSize = 9;
constexpr int symbolSize = 16;

// The status column's dot: a filled 9 × 9 circle in the row's colour.
class DotDelegate : public CellDelegate {
public:
    using CellDelegate::CellDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        paintBackground(painter, option, index, Icon::drop);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(index.data(Qt::DecorationRole).value<QColor>());
        const QRectF circle(0, 0, dotSize, dotSize);
        painter->drawEllipse(circle.translated(QRectF(option.rect).center() - circle.center()));
        painter->restore();
    }
};

// The name column: the friendly name, and below it the label, smaller and fainter.
class NameDelegate : public CellDelegate {
public:
    using CellDelegate::CellDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        paintBackground(painter, option, index, Icon::keep);

        const QFont nameFont = option.font;
        const QFont labelFont = Style::font(Style::TextStyle::caption2);
        const QFontMetrics nameMetrics(nameFont);
        const QFontMetrics labelMetrics(labelFont);
        const QRect area = option.rect.adjusted(4, 0, -4, 0);
        const int height = nameMetrics.height() + 1 + labelMetrics.height();
        const int top = area.top() + (area.height() - height) / 2;
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;

        painter->save();
        painter->setFont(nameFont);
        painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                                 : Style::primary(palette));
        painter->drawText(
            QRect(area.left(), top, area.width(), nameMetrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter,
            nameMetrics.elidedText(index.data().toString(), Qt::ElideRight, area.width()));
        painter->setFont(labelFont);
        painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                                 : Style::secondary(palette));
        painter->drawText(
            QRect(area.left(), top + nameMetrics.height() + 1, area.width(), labelMetrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter,
            labelMetrics.elidedText(index.data(JobsTableModel::secondLineRole).toString(),
                                    Qt::ElideRight, area.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        const int height = QFontMetrics(option.font).height() + 1 +
                           QFontMetrics(Style::font(Style::TextStyle::caption2)).height();
        return {240, height + 8};
    }
};

// The program column: cut in the middle when too long; a click on the selected row opens the
// whole text in a read-only field, where it can be selected and copied.
class ProgramDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override
    {
        auto* field = new QLineEdit(parent);
        field->setObjectName(QStringLiteral("programField"));
        field->setReadOnly(true);
        field->setFrame(false);
        field->setFont(Style::font(Style::TextStyle::caption, true));
        return field;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* field = static_cast<QLineEdit*>(editor);
        field->setText(index.data(Qt::EditRole).toString());
        field->setToolTip(field->text());
        field->selectAll();
    }

    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

QToolButton* actionButton(QWidget* parent, const QString& objectName, const QString& symbol,
                          const QString& title, const QString& tooltip)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setIcon(Symbols::icon(symbol));
    button->setIconSize(QSize(symbolSize, symbolSize));
    button->setToolTip(tooltip);
    if (title.isEmpty()) {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    } else {
        button->setText(title);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    return button;
}

} // namespace

LaunchdView::LaunchdView(QWidget* parent)
    : QWidget(parent), m_store(std::make_shared<LaunchdStore>())
{
    m_model = new JobsTableModel(*m_store, this);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addWidget(buildToolbar());
    m_layout->addWidget(Style::divider(this));
    m_layout->addWidget(buildTable(), 1);
    m_layout->addWidget(Style::divider(this));
    m_layout->addWidget(buildStatusBar());

    connect(m_store.get(), &LaunchdStore::runningOnlyChanged, this, &LaunchdView::syncToolbar);
    connect(m_store.get(), &LaunchdStore::hideAppleChanged, this, &LaunchdView::syncToolbar);
    connect(m_store.get(), &LaunchdStore::filterChanged, this, &LaunchdView::syncToolbar);
    connect(m_store.get(), &LaunchdStore::isLoadingChanged, this, &LaunchdView::syncToolbar);
    connect(m_store.get(), &LaunchdStore::isLoadingChanged, this, &LaunchdView::syncStatusBar);
    connect(m_store.get(), &LaunchdStore::lastErrorChanged, this, &LaunchdView::syncBanner);
    connect(m_model, &QAbstractItemModel::modelReset, this, &LaunchdView::syncStatusBar);

    applyPaletteColours();
    syncToolbar();
    syncBanner();
    syncStatusBar();
    new RowWidgets(*m_table, JobsTableModel::actions,
                   [this](int row) { return buildActionCell(m_model->job(row)); });
}

LaunchdView::~LaunchdView() = default;

LaunchdStore& LaunchdView::store() const
{
    return *m_store;
}

void LaunchdView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Showing again after the window was minimised is not a new appearance of the screen.
    if (!event->spontaneous())
        m_store->refresh();
}

void LaunchdView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Also sent while the widget is being put together, before its parts exist.
    if (event->type() == QEvent::PaletteChange && m_symbol)
        applyPaletteColours();
}

void LaunchdView::applyPaletteColours()
{
    m_symbol->setPixmap(
        Symbols::icon(QStringLiteral("clock.badge.checkmark"), Style::accent(palette()))
            .pixmap(symbolSize, symbolSize));
    Style::setTextColour(*m_summary, Style::secondary(palette()));
    Style::setTextColour(*m_hint, Style::tertiary(palette()));
}

QWidget* LaunchdView::buildToolbar()
{
    const Style::HeaderRow header = Style::headerRow(this, QStringLiteral("定时任务"));
    QWidget* bar = header.bar;
    QHBoxLayout* row = header.row;
    m_symbol = header.symbol;

    m_runningOnly = new QCheckBox(QStringLiteral("只显示运行中"), bar);
    m_runningOnly->setObjectName(QStringLiteral("runningOnly"));
    connect(m_runningOnly, &QCheckBox::toggled, this,
            [this](bool on) { m_store->setRunningOnly(on); });
    row->addWidget(m_runningOnly);

    m_hideApple = new QCheckBox(QStringLiteral("隐藏 Apple 系统项"), bar);
    m_hideApple->setObjectName(QStringLiteral("hideApple"));
    connect(m_hideApple, &QCheckBox::toggled, this, [this](bool on) { m_store->setHideApple(on); });
    row->addWidget(m_hideApple);

    m_search = new QLineEdit(bar);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("搜索名称 / Label"));
    m_search->setClearButtonEnabled(true);
    m_search->setFixedWidth(220);
    connect(m_search, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_store->setFilter(text); });
    row->addWidget(m_search);

    m_refresh = new QToolButton(bar);
    m_refresh->setObjectName(QStringLiteral("refresh"));
    m_refresh->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise")));
    m_refresh->setToolTip(QStringLiteral("刷新"));
    connect(m_refresh, &QToolButton::clicked, this, [this] { m_store->refresh(); });
    row->addWidget(m_refresh);
    return bar;
}

QWidget* LaunchdView::buildTable()
{
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("jobs"));
    m_table->setModel(m_model);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSortingEnabled(false);
    m_table->setContextMenuPolicy(Qt::NoContextMenu);
    m_table->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::DoubleClicked);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->setIconSize(QSize(12, 12));

    auto* names = new NameDelegate(m_table);
    m_table->setItemDelegateForColumn(JobsTableModel::dot, new DotDelegate(m_table));
    m_table->setItemDelegateForColumn(JobsTableModel::name, names);
    m_table->setItemDelegateForColumn(JobsTableModel::program, new ProgramDelegate(m_table));

    QStyleOptionViewItem option;
    option.font = m_table->font();
    const int rowHeight = std::max(names->sizeHint(option, {}).height(), 30);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(rowHeight);

    TableColumns::apply(*m_table,
                        {{40, 44, 50},
                         {180, 240, 0},
                         {120, 160, 0},
                         {150, 220, 0},
                         {80, 96, 120},
                         {100, 140, 0},
                         {230, 270, 0}},
                        JobsTableModel::program);
    return m_table;
}

QWidget* LaunchdView::buildStatusBar()
{
    const Style::StatusRow status =
        Style::statusRow(this, QStringLiteral("仅显示带调度（周期/间隔）的 launchd 任务"));
    m_spinner = status.busy;
    m_summary = status.summary;
    m_summary->setObjectName(QStringLiteral("summary"));
    m_hint = status.hint;
    m_hint->setObjectName(QStringLiteral("hint"));
    return status.bar;
}

QWidget* LaunchdView::buildActionCell(const LaunchdJob& job)
{
    auto* cell = new QWidget;
    auto* row = new QHBoxLayout(cell);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(6);

    QToolButton* startStop =
        job.pid ? actionButton(cell, QStringLiteral("stop"), QStringLiteral("pause.circle"),
                               QStringLiteral("停止"), QStringLiteral("停止运行（保持已加载）"))
                : actionButton(cell, QStringLiteral("start"), QStringLiteral("play.circle"),
                               QStringLiteral("启动"), QStringLiteral("立即启动"));
    const Action startOrStop = job.pid ? &LaunchctlManager::stop : &LaunchctlManager::start;
    connect(startStop, &QToolButton::clicked, this,
            [this, job, startOrStop] { perform(job, startOrStop); });
    row->addWidget(startStop);

    auto* unload = actionButton(cell, QStringLiteral("unload"), QStringLiteral("eject.circle"),
                                QStringLiteral("卸载"), QStringLiteral("卸载（bootout）"));
    connect(unload, &QToolButton::clicked, this,
            [this, job] { perform(job, &LaunchctlManager::unload); });
    row->addWidget(unload);

    if (job.plistPath) {
        const QString path = *job.plistPath;
        auto* load =
            actionButton(cell, QStringLiteral("load"), QStringLiteral("tray.and.arrow.down"),
                         QString(), QStringLiteral("从 plist 加载（bootstrap）"));
        connect(load, &QToolButton::clicked, this,
                [this, job] { perform(job, &LaunchctlManager::load); });
        row->addWidget(load);

        auto* open = actionButton(cell, QStringLiteral("open"), QStringLiteral("doc.text"),
                                  QString(), QStringLiteral("打开配置文件"));
        connect(open, &QToolButton::clicked, this, [path] { DesktopServices::open(path); });
        row->addWidget(open);

        auto* reveal = actionButton(cell, QStringLiteral("reveal"), QStringLiteral("folder"),
                                    QString(), QStringLiteral("在 Finder 中显示"));
        connect(reveal, &QToolButton::clicked, this, [path] { DesktopServices::reveal(path); });
        row->addWidget(reveal);
    }
    row->addStretch(1);
    return cell;
}

void LaunchdView::syncToolbar()
{
    const QSignalBlocker runningBlocker(m_runningOnly);
    const QSignalBlocker appleBlocker(m_hideApple);
    m_runningOnly->setChecked(m_store->runningOnly());
    m_hideApple->setChecked(m_store->hideApple());
    if (m_search->text() != m_store->filter()) {
        const QSignalBlocker searchBlocker(m_search);
        m_search->setText(m_store->filter());
    }
    m_refresh->setEnabled(!m_store->isLoading());
}

void LaunchdView::syncBanner()
{
    const std::optional<QString> error = m_store->lastError();
    if (!error) {
        if (m_banner) {
            // The banner's own dismiss button may be what brought us here.
            m_layout->removeWidget(m_banner);
            m_banner->hide();
            m_banner->deleteLater();
            m_banner = nullptr;
        }
        return;
    }
    if (m_banner) {
        m_banner->setMessage(*error);
        return;
    }
    std::weak_ptr<LaunchdStore> store = m_store;
    m_banner = new ErrorBanner(
        *error,
        [store] {
            if (auto alive = store.lock())
                alive->setLastError(std::nullopt);
        },
        this);
    m_banner->setObjectName(QStringLiteral("errorBanner"));
    // Directly below the toolbar's divider.
    m_layout->insertWidget(2, m_banner);
}

void LaunchdView::syncStatusBar()
{
    const bool loading = m_store->isLoading();
    m_spinner->setVisible(loading);
    if (loading) {
        m_summary->setText(QStringLiteral("正在读取…"));
        return;
    }
    m_summary->setText(QStringLiteral("共 %1 个定时任务 · %2 个运行中")
                           .arg(m_model->rowCount())
                           .arg(m_model->runningCount()));
}

void LaunchdView::perform(const LaunchdJob& job, Action action)
{
    const LaunchctlManager::ActionResult result = action(job);
    if (!result.success) {
        m_store->setLastError(QStringLiteral("[") + job.label + QStringLiteral("] ") +
                              result.message);
        return;
    }
    m_store->setLastError(std::nullopt);
    m_store->refresh();
}
