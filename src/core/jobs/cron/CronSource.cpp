#include "CronSource.h"

#include "CronScheduleWords.h"
#include "CronTable.h"
#include "FreshIds.h"
#include "ProcessRunner.h"
#include "SafeText.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// The user's own entries are labelled by their line in `crontab -l`.
const QString userTableName = QStringLiteral("crontab");

// A table larger than this is not one a person wrote; reading it would only stall the listing.
constexpr qint64 largestTable = 4 * 1024 * 1024;

struct Table {
    QList<CronEntry> entries;
    std::optional<QString> error;
};

bool isProgram(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// What a tool said, for the banner: its lines as lines, anything else that could hide or reorder
// text made visible.
QString visibleLines(const QString& text)
{
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        line = SafeText::visible(line);
    return lines.join(u'\n');
}

Table readOwnTable()
{
    // Bytes, not text: a table with one stray Latin-1 byte must not come back empty.
    const ProcessRunner::ByteResult result =
        ProcessRunner::runForBytes(Platform::crontabPath(), {QStringLiteral("-l")});
    if (result.status == 0)
        return {parseCronTable(QString::fromUtf8(result.stdOut), CronTableKind::user),
                std::nullopt};
    const QString reason = result.stdErr.trimmed();
    // The tool may say more first (that it has just made the spool, say).
    if (reason.section(u'\n', -1).startsWith(QStringLiteral("no crontab for ")))
        return {};
    return {{},
            QStringLiteral("无法读取 crontab：") +
                (reason.isEmpty() ? QStringLiteral("退出码 %1").arg(result.status)
                                  : visibleLines(reason))};
}

// Only regular files are read: a FIFO would block the listing until someone wrote to it.
std::optional<QList<CronEntry>> readSystemTable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > largestTable)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseCronTable(QString::fromUtf8(file.read(largestTable)), CronTableKind::system);
}

// cron reads only tables whose names are letters, digits, "_" and "-": that leaves out what the
// package manager keeps beside them ("x.dpkg-old") and hidden files.
QStringList systemTablePaths()
{
    static const QRegularExpression tableName(QStringLiteral("^[A-Za-z0-9_-]+$"));
    QStringList paths{Platform::systemCrontabPath()};
    const QDir folder(Platform::cronTablesFolder());
    const QStringList names =
        folder.entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (tableName.match(name).hasMatch())
            paths.append(folder.filePath(name));
    }
    return paths;
}

QString entryLabel(const QString& table, qsizetype line)
{
    return table + u':' + QString::number(line);
}

// Runs are remembered per line and command, so that an edited line starts afresh.
QString runKey(const QString& label, const QString& command)
{
    return label + u'\n' + command;
}

QString statusText(const std::optional<CronRuns::Run>& run)
{
    if (!run)
        return QStringLiteral("—");
    if (!run->exitCode)
        return QStringLiteral("运行中 (PID %1)").arg(run->pid);
    return QStringLiteral("已停止 (退出码 %1)").arg(*run->exitCode);
}

Job jobFor(const CronEntry& entry, JobScope scope, const QString& table, FreshIds& ids,
           const QDateTime& now)
{
    Job job;
    job.id = ids.next();
    job.identity = {JobSourceKind::cron, scope, entryLabel(table, entry.line)};
    job.name = entry.comment.value_or(cronCommandName(entry.command));
    job.statusText = statusText(std::nullopt);
    job.schedule = cronScheduleWords(entry);
    if (entry.fields) {
        if (const auto schedule = entry.fields->schedule())
            job.nextRun = schedule->nextRun(now);
    }
    job.program = entry.command;
    if (scope == JobScope::user) {
        job.domain = QStringLiteral("用户 cron");
        job.actions = {JobAction::start};
    } else {
        job.domain = QStringLiteral("系统 cron");
        job.domainTooltip = QStringLiteral("运行用户：") + entry.user;
        job.definitionPath = table;
        job.shippedWithSystem = true;
    }
    return job;
}

} // namespace

CronSource::CronSource(QObject* parent) : CronSource(CronRuns::shared(), parent) {}

CronSource::CronSource(std::shared_ptr<CronRuns> runs, QObject* parent)
    : JobSource(parent), m_runs(std::move(runs))
{
    connect(m_runs.get(), &CronRuns::runEnded, this, &JobSource::changed);
}

JobSourceKind CronSource::kind() const
{
    return JobSourceKind::cron;
}

JobSource::Listing CronSource::list()
{
    const bool hasTool = isProgram(Platform::crontabPath());
    if (!hasTool && !QFileInfo::exists(Platform::systemCrontabPath()) &&
        !QFileInfo(Platform::cronTablesFolder()).isDir())
        return {false, {}, std::nullopt};

    Listing listing;
    FreshIds ids;
    const QDateTime now = QDateTime::currentDateTime();
    if (hasTool) {
        const Table own = readOwnTable();
        listing.error = own.error;
        for (const CronEntry& entry : own.entries) {
            Job job = jobFor(entry, JobScope::user, userTableName, ids, now);
            const auto run = m_runs->run(runKey(job.identity.label, entry.command));
            job.statusText = statusText(run);
            if (run && !run->exitCode) {
                job.pid = run->pid;
                job.actions = {JobAction::stop};
            }
            listing.jobs.append(std::move(job));
        }
    }
    for (const QString& path : systemTablePaths()) {
        const auto entries = readSystemTable(path);
        for (const CronEntry& entry : entries.value_or(QList<CronEntry>{}))
            listing.jobs.append(jobFor(entry, JobScope::system, path, ids, now));
    }
    return listing;
}

JobSource::ActionResult CronSource::perform(const Job& job, JobAction action)
{
    const bool ownEntry =
        job.identity.source == JobSourceKind::cron && job.identity.scope == JobScope::user;
    if (!ownEntry || !job.program || (action != JobAction::start && action != JobAction::stop))
        return {false, QStringLiteral("cron 条目不支持此操作")};
    const QString key = runKey(job.identity.label, *job.program);
    if (action == JobAction::stop)
        return m_runs->stop(key);

    // Run what the table says now, not what an older listing said.
    const Table own = readOwnTable();
    if (own.error)
        return {false, *own.error};
    for (const CronEntry& entry : own.entries) {
        if (entryLabel(userTableName, entry.line) == job.identity.label &&
            entry.command == *job.program) {
            // What could not be read as text cannot be run as it was written.
            if (entry.command.contains(QChar::ReplacementCharacter))
                return {false,
                        QStringLiteral("这一条目的命令不是有效的 UTF-8 文本，无法从这里运行")};
            return m_runs->start(key, CronCommand::fromWritten(entry.command), entry.variables,
                                 Platform::homeDirectory());
        }
    }
    return {false, QStringLiteral("crontab 中的这一条目已更改或已删除，请刷新后重试")};
}
