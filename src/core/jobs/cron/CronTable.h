#pragma once

#include "CronFields.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>

// One entry of a crontab: a line that schedules a command.
struct CronEntry {
    // Where it is written, counting from 1.
    qsizetype line = 0;
    // The comment on the line directly above, without "#" and blanks; none when that line is
    // blank, an assignment, an entry, a commented-out entry or the table's column legend.
    std::optional<QString> comment;
    // When it runs, as written: "*/5 * * * *", "@daily", "@reboot".
    QString timing;
    bool atReboot = false;
    // The five fields, those of a shorthand too; none for "@reboot" and unknown shorthands.
    std::optional<CronFields> fields;
    // The user it runs as, in the system's tables; empty in a user's own.
    QString user;
    // The command as written, "%" and all.
    QString command;
    // The variables assigned above the entry, in order; cron hands them to the command.
    QList<std::pair<QString, QString>> variables;

    bool operator==(const CronEntry&) const = default;
};

// The system's tables name the user of each entry after its fields; a user's own do not.
enum class CronTableKind { user, system };

// The entries of a crontab. Blank lines, comments and variable assignments are not entries, nor
// is a line that ends before its command.
QList<CronEntry> parseCronTable(QStringView text, CronTableKind kind);
