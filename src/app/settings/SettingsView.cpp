#include "SettingsView.h"

#include "AppSettings.h"
#include "CommonPortsModel.h"
#include "Numbers.h"
#include "RowWidgets.h"
#include "Style.h"
#include "Symbols.h"
#include "TableColumns.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int symbolSize = 16;

// Blanks that may surround what the user typed: tabs and every Unicode space separator.
// Line breaks are not blanks here.
bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

SettingsView::SettingsView(AppSettings& settings, QWidget* parent)
    : QWidget(parent), m_settings(settings)
{
    m_model = new CommonPortsModel(m_settings, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    layout->addWidget(Style::divider(this));
    layout->addWidget(buildAddRow());
    layout->addWidget(buildErrorRow());
    layout->addWidget(Style::divider(this));
    layout->addWidget(buildTable(), 1);
    layout->addWidget(Style::divider(this));
    layout->addWidget(buildFooter());

    connect(m_model, &QAbstractItemModel::modelReset, this, &SettingsView::syncCount);
    applyPaletteColours();
    setAddError(std::nullopt);
    syncCount();
    new RowWidgets(*m_table, CommonPortsModel::actions,
                   [this](int row) { return buildRemoveButton(m_model->entry(row)); });
}

void SettingsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Also sent while the widget is being put together, before its parts exist.
    if (event->type() == QEvent::PaletteChange && m_symbol)
        applyPaletteColours();
}

void SettingsView::applyPaletteColours()
{
    m_symbol->setPixmap(
        Symbols::icon(QStringLiteral("slider.horizontal.3"), Style::accent(palette()))
            .pixmap(symbolSize, symbolSize));
    Style::setTextColour(*m_hint, Style::secondary(palette()));
    Style::setTextColour(*m_count, Style::secondary(palette()));
}

SettingsView::~SettingsView() = default;

QWidget* SettingsView::buildHeader()
{
    const Style::HeaderRow header = Style::headerRow(this, QStringLiteral("常用端口设置"));
    QWidget* bar = header.bar;
    QHBoxLayout* row = header.row;
    m_symbol = header.symbol;

    m_hint = new QLabel(QStringLiteral("在“端口 / 服务”勾选“只看常用端口”即可按此列表过滤"), bar);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setFont(Style::font(Style::TextStyle::caption));
    row->addWidget(m_hint);
    return bar;
}

QWidget* SettingsView::buildAddRow()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(8);

    m_port = new QLineEdit(bar);
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setPlaceholderText(QStringLiteral("端口号"));
    m_port->setFixedWidth(100);
    connect(m_port, &QLineEdit::returnPressed, this, &SettingsView::add);
    row->addWidget(m_port);

    m_note = new QLineEdit(bar);
    m_note->setObjectName(QStringLiteral("note"));
    m_note->setPlaceholderText(QStringLiteral("备注（可选），如 Vite / Django"));
    connect(m_note, &QLineEdit::returnPressed, this, &SettingsView::add);
    row->addWidget(m_note, 1);

    auto* addButton =
        new QPushButton(Symbols::icon(QStringLiteral("plus")), QStringLiteral("添加"), bar);
    addButton->setObjectName(QStringLiteral("add"));
    // Return in a field must not also press this button.
    addButton->setAutoDefault(false);
    connect(addButton, &QPushButton::clicked, this, &SettingsView::add);
    row->addWidget(addButton);
    return bar;
}

QWidget* SettingsView::buildErrorRow()
{
    m_errorRow = new QWidget(this);
    auto* row = new QHBoxLayout(m_errorRow);
    row->setContentsMargins(12, 0, 12, 6);
    m_error = new QLabel(m_errorRow);
    m_error->setObjectName(QStringLiteral("addError"));
    m_error->setTextFormat(Qt::PlainText);
    m_error->setFont(Style::font(Style::TextStyle::caption));
    m_error->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Style::setTextColour(*m_error, Style::destructive());
    row->addWidget(m_error, 1);
    return m_errorRow;
}

QWidget* SettingsView::buildTable()
{
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("commonPorts"));
    m_table->setModel(m_model);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setSortingEnabled(false);
    m_table->setContextMenuPolicy(Qt::NoContextMenu);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(30);
    m_table->horizontalHeader()->setSectionsClickable(false);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    TableColumns::apply(*m_table, {{70, 90, 120}, {}, {70, 80, 100}});
    return m_table;
}

QWidget* SettingsView::buildFooter()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 8);

    m_count = new QLabel(bar);
    m_count->setObjectName(QStringLiteral("count"));
    m_count->setFont(Style::font(Style::TextStyle::caption));
    row->addWidget(m_count);
    row->addStretch(1);

    m_reset = new QPushButton(Symbols::icon(QStringLiteral("arrow.counterclockwise")),
                              QStringLiteral("重置为默认"), bar);
    m_reset->setObjectName(QStringLiteral("reset"));
    m_reset->setAutoDefault(false);
    Style::setTextColour(*m_reset, Style::destructive());
    connect(m_reset, &QPushButton::clicked, this, &SettingsView::askToReset);
    row->addWidget(m_reset);
    return bar;
}

QWidget* SettingsView::buildRemoveButton(const CommonPort& entry)
{
    auto* remove = new QToolButton;
    remove->setObjectName(QStringLiteral("remove"));
    remove->setAutoRaise(true);
    remove->setIcon(Symbols::icon(QStringLiteral("trash")));
    remove->setIconSize(QSize(symbolSize, symbolSize));
    remove->setText(QStringLiteral("删除"));
    remove->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Style::setTextColour(*remove, Style::destructive());
    connect(remove, &QToolButton::clicked, this, [this, entry] { m_settings.remove(entry); });
    return remove;
}

void SettingsView::syncCount()
{
    m_count->setText(QStringLiteral("共 %1 个常用端口").arg(m_model->rowCount()));
}

void SettingsView::setAddError(const std::optional<QString>& message)
{
    m_error->setText(message.value_or(QString()));
    m_errorRow->setVisible(message.has_value());
}

void SettingsView::add()
{
    setAddError(std::nullopt);
    const QString portText = trimBlanks(m_port->text());
    const std::optional<qint64> port = parseInt64Strict(portText);
    if (!port) {
        setAddError(QStringLiteral("请输入有效的端口号。"));
        return;
    }
    if (*port < 1 || *port > 65535) {
        setAddError(QStringLiteral("端口号需在 1–65535 之间。"));
        return;
    }
    if (m_settings.portNumbers().contains(*port)) {
        setAddError(QStringLiteral("端口 %1 已在列表中。").arg(*port));
        return;
    }
    m_settings.add(*port, trimBlanks(m_note->text()));
    m_port->clear();
    m_note->clear();
}

void SettingsView::askToReset()
{
    if (m_confirmReset)
        return;
    m_confirmReset = new QMessageBox(this);
    m_confirmReset->setObjectName(QStringLiteral("confirmReset"));
    m_confirmReset->setIcon(QMessageBox::Warning);
    m_confirmReset->setWindowTitle(QStringLiteral("重置为默认常用端口？"));
    m_confirmReset->setText(QStringLiteral("重置为默认常用端口？"));
    m_confirmReset->setInformativeText(
        QStringLiteral("这会丢弃你当前的自定义列表，恢复到内置默认端口。"));
    QPushButton* reset =
        m_confirmReset->addButton(QStringLiteral("重置"), QMessageBox::DestructiveRole);
    reset->setObjectName(QStringLiteral("confirm"));
    Style::setTextColour(*reset, Style::destructive());
    QPushButton* cancel =
        m_confirmReset->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    m_confirmReset->setDefaultButton(cancel);
    m_confirmReset->setEscapeButton(cancel);
    connect(m_confirmReset, &QMessageBox::finished, this, [this, reset] {
        const bool confirmed = m_confirmReset->clickedButton() == reset;
        m_confirmReset->deleteLater();
        m_confirmReset = nullptr;
        if (confirmed)
            m_settings.setCommonPorts(AppSettings::defaultPorts());
    });
    m_confirmReset->open();
}
