#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// A private cron spool for the test program that compiles this file in (it is no part of the
// support library, so that no other program enters a namespace). Before main() runs, and so
// before any thread exists, the program enters a mount namespace of its own in which a scratch
// folder is bound over /var/spool/cron/crontabs: the real `crontab` then reads and writes only
// there, from every thread and child of this program, while the machine's own spool stays as it
// was.
namespace CronSandbox {

// Why there is no private spool (not root, no cron, no namespaces), or nothing when there is one.
std::optional<QString> unavailableReason();

// The scratch folder that stands in for the spool.
QString spool();

// Whether the machine's own spool still holds what it held before the namespace was entered,
// seen through a descriptor opened before the bind.
bool realSpoolUnchanged();

// For as long as it lives: a scratch home directory as HOME, scratch files in place of the
// system table and its folder of further tables, and no table of the user's own in the private
// spool. Everything is put back when it goes.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    QString home() const;
    QString systemTable() const;
    QString tablesFolder() const;
    QString ownSpoolFile() const;

    // Writes a file whole (a gtest failure when it cannot).
    static void write(const QString& path, const QByteArray& contents);
    // Installs the user's own table with the real tool, which checks every line.
    void installOwnTable(const QByteArray& contents);
    // A file in the home directory: its text, or empty when there is none.
    QString inHome(const QString& name) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
};

} // namespace CronSandbox
