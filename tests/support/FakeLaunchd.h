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
    // Makes the sub-command end with this status and error output (an action also prints
    // something on its standard output, which is never the reason).
    void answer(const QString& subcommand, int status, const QByteArray& errorOutput = {});
    void failWith(const QString& subcommand, const QString& errorOutput)
    {
        answer(subcommand, 3, errorOutput.toUtf8());
    }
    // Makes the sub-command hang until release() is called.
    void hangOn(const QString& subcommand);
    void release();

    // The folders in the order launchd reads them: 0 (user agents) .. 4 (system daemons).
    const QStringList& folders() const { return m_folders; }
    QString file(int folder, const QString& fileName) const;
    // Writes an XML definition with this body into a folder.
    void writeDefinition(int folder, const QString& fileName, const QString& body);

    // Every command line the fake received so far, one argument list joined by blanks each.
    QStringList calls() const;
    int listCount() const;

private:
    QTemporaryDir m_dir;
    QStringList m_folders;
};
