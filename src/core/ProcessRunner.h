#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

// Runs one external program to completion and hands back what it printed and how it ended.
namespace ProcessRunner {

struct Result {
    QString stdOut;
    QString stdErr;
    qint32 status = -1;

    bool operator==(const Result&) const = default;
};

inline constexpr std::chrono::milliseconds defaultTimeLimit{30000};

// Runs the executable at exactly this path (no search path, no shell) with these arguments.
// Never fails: a program that cannot be started comes back with status -1 and a message in stdErr;
// one still running after the time limit is killed and comes back with status -1 as well.
Result run(const QString& executablePath, const QStringList& arguments);
Result run(const QString& executablePath, const QStringList& arguments,
           std::chrono::milliseconds timeLimit);

// The same run with standard output as the bytes the program wrote, for output that need not be
// UTF-8 (a file a person wrote, say); stdErr and status as above.
struct ByteResult {
    QByteArray stdOut;
    QString stdErr;
    qint32 status = -1;
};

ByteResult runForBytes(const QString& executablePath, const QStringList& arguments,
                       std::chrono::milliseconds timeLimit = defaultTimeLimit);

} // namespace ProcessRunner
