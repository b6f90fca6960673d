#pragma once

#include <QString>
#include <QStringView>

// The command of a cron entry as cron runs it. In the written command, the first "%" that no
// backslash escapes ends what the shell runs; everything after it is the command's standard
// input, with each further unescaped "%" a line break. An escaped "\%" is a plain "%" in both.
struct CronCommand {
    QString shellCommand;
    QString input;

    static CronCommand fromWritten(QStringView written);

    bool operator==(const CronCommand&) const = default;
};

// A short name for an entry without a comment: the base name of the first word the shell runs
// ("backup" for "/usr/local/bin/backup --all"); a first word in quotes counts whole.
QString cronCommandName(QStringView written);
