#pragma once

#include <QStringList>
#include <QTemporaryDir>

// A launchctl stand-in and five launchd folders in a temporary directory, wired into the
// program through the platform's test seams for as long as the object lives.
class FakeLaunchd {
public:
    FakeLaunchd();
    ~FakeLaunchd();

    // The table that "launchctl list" prints: one row per (pid or "-", status, label).
    void setTable(const QList<QStringList>& rows);
    // Makes the sub-command fail with this error output (maybe empty).
    void failWith(const QString& subcommand, const QString& errorOutput);
    // Makes the sub-command hang until release() is called.
    void hangOn(const QString& subcommand);
    void release();

    // Writes an XML definition into folder 0 (user agents) .. 4 (system daemons).
    void writeDefinition(int folder, const QString& fileName, const QString& body);

    // Every command line the fake received so far, one argument list joined by blanks each.
    QStringList calls() const;
    int listCount() const;

private:
    QTemporaryDir m_dir;
    QStringList m_folders;
};
