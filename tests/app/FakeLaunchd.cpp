#include "FakeLaunchd.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>

namespace {

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(contents);
}

} // namespace

FakeLaunchd::FakeLaunchd()
{
    const QString root = m_dir.path();
    m_folders = {root + "/home/Library/LaunchAgents", root + "/Library/LaunchAgents",
                 root + "/Library/LaunchDaemons", root + "/System/Library/LaunchAgents",
                 root + "/System/Library/LaunchDaemons"};
    for (const QString& folder : m_folders)
        QDir().mkpath(folder);

    const QString script = root + "/launchctl";
    writeFile(script, "#!/bin/sh\nd='" + root.toUtf8() + R"sh('
printf '%s\n' "$*" >> "$d/calls.log"
if [ -f "$d/hang-$1" ]; then while [ ! -f "$d/released" ]; do sleep 0.05; done; fi
if [ "$1" = list ]; then cat "$d/table.txt"; exit 0; fi
if [ -f "$d/fail-$1" ]; then cat "$d/fail-$1" >&2; exit 3; fi)sh");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setTable({});

    Platform::testing::setLaunchctlPath(script);
    Platform::testing::setLaunchdFolders(m_folders);
}

FakeLaunchd::~FakeLaunchd()
{
    release();
    Platform::testing::setLaunchctlPath(std::nullopt);
    Platform::testing::setLaunchdFolders(std::nullopt);
}

void FakeLaunchd::setTable(const QList<QStringList>& rows)
{
    QString table = QStringLiteral("PID\tStatus\tLabel\n");
    for (const QStringList& row : rows)
        table += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
    writeFile(m_dir.filePath("table.txt"), table.toUtf8());
}

void FakeLaunchd::failWith(const QString& subcommand, const QString& errorOutput)
{
    writeFile(m_dir.filePath("fail-" + subcommand), errorOutput.toUtf8());
}

void FakeLaunchd::hangOn(const QString& subcommand)
{
    writeFile(m_dir.filePath("hang-" + subcommand), {});
}

void FakeLaunchd::release()
{
    writeFile(m_dir.filePath("released"), {});
}

void FakeLaunchd::writeDefinition(int folder, const QString& fileName, const QString& body)
{
    writeFile(m_folders.at(folder) + "/" + fileName,
              ("<plist version=\"1.0\"><dict>" + body + "</dict></plist>\n").toUtf8());
}

QStringList FakeLaunchd::calls() const
{
    QFile log(m_dir.filePath("calls.log"));
    return log.open(QIODevice::ReadOnly)
               ? QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
               : QStringList();
}

int FakeLaunchd::listCount() const
{
    return int(calls().count(QStringLiteral("list")));
}
