#include "NextRunText.h"

#include <QStringList>

namespace NextRunText {

namespace {

QString full(const QDateTime& moment)
{
    return moment.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

QString cell(const std::optional<QDateTime>& nextRun, const QDateTime& now)
{
    if (!nextRun)
        return QStringLiteral("—");
    const QDateTime local = nextRun->toLocalTime();
    const QString time = local.toString(QStringLiteral("HH:mm"));
    const QDate today = now.toLocalTime().date();
    if (local.date() == today)
        return QStringLiteral("今天 ") + time;
    if (local.date() == today.addDays(1))
        return QStringLiteral("明天 ") + time;
    return local.toString(QStringLiteral("MM-dd ")) + time;
}

QString tooltip(const Job& job)
{
    QStringList lines;
    if (job.nextRun)
        lines.append(full(*job.nextRun));
    if (job.tracksLastRun)
        lines.append(QStringLiteral("上次运行：") +
                     (job.lastRun ? full(*job.lastRun) : QStringLiteral("从未")));
    return lines.join(u'\n');
}

} // namespace NextRunText
