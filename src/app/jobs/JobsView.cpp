#include "JobsView.h"

#include "DesktopServices.h"
#include "ErrorBanner.h"
#include "JobActionCell.h"
#include "JobDelegates.h"
#include "JobsTableModel.h"
#include "RefreshLoop.h"
#include "Remembered.h"
#include "RowWidgets.h"
#include "SafeText.h"
#include "Shortcuts.h"
#include "Stores.h"
#include "Style.h"
#include "Symbols.h"
#include "TableColumns.h"
#include "platform/Platform.h"

#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int symbolSize = 16;

// The columns' names in the view state, in column order.
const QStringList columnNames = {"dot",     "name",   "schedule", "nextRun",
                                 "program", "domain", "status",   "actions"};

// What the status bar says the list holds, for each scheduler shown.
QString noteFor(JobSourceKind source)
{
    switch (source) {
    case JobSourceKind::launchd:
        return QStringLiteral("仅显示带调度（周期/间隔）的 launchd 任务");
    case JobSourceKind::systemd:
        return QStringLiteral("仅显示 systemd 定时器（timer）");
    case JobSourceKind::cron:
        return QStringLiteral("cron 条目：用户 crontab、/etc/crontab 与 /etc/cron.d");
    }
    return QString();
}

} // namespace

JobsView::JobsView(QWidget* parent) : JobsView(std::make_shared<JobsStore>(), parent) {}

JobsView::JobsView(std::shared_ptr<JobsStore> store, QWidget* parent)
    : QWidget(parent), m_store(std::move(store))
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

    JobsStore* jobs = m_store.get();
    for (auto signal : {&JobsStore::runningOnlyChanged, &JobsStore::hideSystemJobsChanged,
                        &JobsStore::filterChanged, &JobsStore::isLoadingChanged})
        connect(jobs, signal, this, &JobsView::syncToolbar);
    connect(jobs, &JobsStore::isLoadingChanged, this, &JobsView::syncStatusBar);
    connect(jobs, &JobsStore::lastErrorChanged, this, &JobsView::syncBanner);
    connect(jobs, &JobsStore::presentSourcesChanged, this, &JobsView::syncHint);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_model, signal, this, &JobsView::syncStatusBar);
    connect(m_model, &QAbstractItemModel::modelReset, this, &JobsView::syncStatusBar);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &JobsView::syncStatusBar);
    connect(&m_model->tint(), &RowTint::faded, m_table->viewport(), qOverload<>(&QWidget::update));
    m_poll = new RefreshLoop(*this, pollInterval, [jobs] { return jobs->poll(); });
    connect(jobs, &JobsStore::listingEnded, m_poll, &RefreshLoop::refreshEnded);

    applyPaletteColours();
    syncToolbar();
    syncBanner();
    syncStatusBar();
    syncHint();
    new RowWidgets(*m_table, JobsTableModel::actions, [this](int row) -> QWidget* {
        const Job job = m_model->job(row);
        return new JobActionCell(
            job, m_model->isBusy(row),
            [store = m_store.get(), job](JobAction action) { store->perform(job, action); });
    });
}

JobsView::~JobsView() = default;

JobsStore& JobsView::store() const
{
    return *m_store;
}

QLineEdit& JobsView::searchField() const
{
    return *m_search;
}

void JobsView::refreshNow()
{
    if (m_refresh->isEnabled())
        m_store->refresh();
}

void JobsView::copySelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QList<QStringList> lines;
    for (int row : rows) {
        const Job& job = m_model->job(row);
        auto text = [](const std::optional<QString>& value) {
            return value ? SafeText::visible(*value) : QString();
        };
        lines.append(
            {SafeText::visible(job.name), SafeText::visible(job.identity.label), text(job.schedule),
             job.nextRun ? job.nextRun->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                         : QString(),
             text(job.program), job.domain, job.statusText});
    }
    DesktopServices::copyRows({QStringLiteral("名称"), QStringLiteral("Label"),
                               QStringLiteral("调度"), QStringLiteral("下次运行"),
                               QStringLiteral("程序 / 命令"), QStringLiteral("域"),
                               QStringLiteral("状态")},
                              lines);
}

void JobsView::setPollInterval(std::chrono::milliseconds interval)
{
    m_poll->setInterval(interval);
}

void JobsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Showing again after the window was minimised is not a new appearance of the screen.
    if (!event->spontaneous())
        m_store->refresh();
}

void JobsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Also sent while the widget is being put together, before its parts exist.
    if (event->type() == QEvent::PaletteChange && m_symbol)
        applyPaletteColours();
}

void JobsView::applyPaletteColours()
{
    m_symbol->setPixmap(
        Symbols::icon(QStringLiteral("clock.badge.checkmark"), Style::accent(palette()))
            .pixmap(symbolSize, symbolSize));
    Style::setTextColour(*m_summary, Style::secondary(palette()));
    Style::setTextColour(*m_hint, Style::tertiary(palette()));
}

QWidget* JobsView::buildToolbar()
{
    const Style::HeaderRow header = Style::headerRow(this, QStringLiteral("定时任务"));
    QWidget* bar = header.bar;
    QHBoxLayout* row = header.row;
    m_symbol = header.symbol;

    m_runningOnly = new QCheckBox(QStringLiteral("只显示运行中"), bar);
    m_runningOnly->setObjectName(QStringLiteral("runningOnly"));
    m_runningOnly->setChecked(m_store->runningOnly());
    connect(m_runningOnly, &QCheckBox::toggled, this,
            [this](bool on) { m_store->setRunningOnly(on); });
    Remembered::checkBox(*m_runningOnly, QStringLiteral("jobs/runningOnly"));
    row->addWidget(m_runningOnly);

    // What the system itself ships is Apple's on macOS.
    m_hideSystemJobs = new QCheckBox(Platform::isMacOS() ? QStringLiteral("隐藏 Apple 系统项")
                                                         : QStringLiteral("隐藏系统自带项"),
                                     bar);
    m_hideSystemJobs->setObjectName(QStringLiteral("hideSystemJobs"));
    m_hideSystemJobs->setChecked(m_store->hideSystemJobs());
    connect(m_hideSystemJobs, &QCheckBox::toggled, this,
            [this](bool on) { m_store->setHideSystemJobs(on); });
    Remembered::checkBox(*m_hideSystemJobs, QStringLiteral("jobs/hideSystemJobs"));
    row->addWidget(m_hideSystemJobs);

    m_search = new QLineEdit(bar);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("搜索名称 / Label"));
    m_search->setClearButtonEnabled(true);
    m_search->setToolTip(Shortcuts::withKeys(QStringLiteral("搜索"), {Shortcuts::search()}));
    Shortcuts::clearOnEscape(*m_search);
    m_search->setFixedWidth(220);
    connect(m_search, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_store->setFilter(text); });
    row->addWidget(m_search);

    m_refresh = new QToolButton(bar);
    m_refresh->setObjectName(QStringLiteral("refresh"));
    m_refresh->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise")));
    m_refresh->setToolTip(Shortcuts::withKeys(QStringLiteral("刷新"), Shortcuts::refresh()));
    m_refresh->setAccessibleName(QStringLiteral("刷新"));
    connect(m_refresh, &QToolButton::clicked, this, [this] { m_store->refresh(); });
    row->addWidget(m_refresh);
    return bar;
}

QWidget* JobsView::buildTable()
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

    auto* names = new JobDelegates::Name(m_table);
    m_table->setItemDelegateForColumn(JobsTableModel::dot, new JobDelegates::Dot(m_table));
    m_table->setItemDelegateForColumn(JobsTableModel::name, names);
    m_table->setItemDelegateForColumn(JobsTableModel::program, new JobDelegates::Program(m_table));

    QStyleOptionViewItem option;
    option.font = m_table->font();
    const int rowHeight = std::max(names->sizeHint(option, {}).height(), 30);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(rowHeight);

    TableColumns::apply(*m_table,
                        {{40, 44, 50},
                         {180, 240, 0},
                         {120, 160, 0},
                         {90, 100, 130},
                         {150, 220, 0},
                         {80, 96, 120},
                         {100, 140, 0},
                         {230, 270, 0}},
                        JobsTableModel::program)
        ->remember(QStringLiteral("jobs"), columnNames);
    Shortcuts::addWidgetAction(*m_table, Shortcuts::copy(), [this] { copySelectedRows(); });
    return m_table;
}

QWidget* JobsView::buildStatusBar()
{
    const Style::StatusRow status = Style::statusRow(this, QString());
    m_spinner = status.busy;
    m_summary = status.summary;
    m_summary->setObjectName(QStringLiteral("summary"));
    m_hint = status.hint;
    m_hint->setObjectName(QStringLiteral("hint"));
    return status.bar;
}

void JobsView::syncToolbar()
{
    const QSignalBlocker runningBlocker(m_runningOnly);
    const QSignalBlocker systemBlocker(m_hideSystemJobs);
    m_runningOnly->setChecked(m_store->runningOnly());
    m_hideSystemJobs->setChecked(m_store->hideSystemJobs());
    if (m_search->text() != m_store->filter()) {
        const QSignalBlocker searchBlocker(m_search);
        m_search->setText(m_store->filter());
    }
    m_refresh->setEnabled(!m_store->isLoading());
}

void JobsView::syncBanner()
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
    std::weak_ptr<JobsStore> store = m_store;
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

void JobsView::syncStatusBar()
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

void JobsView::syncHint()
{
    QStringList notes;
    for (const JobSourceKind source : m_store->presentSources()) {
        const QString note = noteFor(source);
        if (!note.isEmpty())
            notes.append(note);
    }
    if (notes.isEmpty())
        notes.append(
            noteFor(Platform::isMacOS() ? JobSourceKind::launchd : JobSourceKind::systemd));
    m_hint->setText(notes.join(QStringLiteral("；")));
}
