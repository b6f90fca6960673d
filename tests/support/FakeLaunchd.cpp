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
if [ "$1" = list ] && [ ! -f "$d/status-list" ]; then cat "$d/table.txt"; exit 0; fi
[ "$1" = list ] || echo "on stdout"
cat "$d/err-$1" >&2 2>/dev/null
exit "$(cat "$d/status-$1" 2>/dev/null || echo 0)")sh");
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

void FakeLaunchd::answer(const QString& subcommand, int status, const QByteArray& errorOutput)
{
    writeFile(m_dir.filePath("status-" + subcommand), QByteArray::number(status));
    writeFile(m_dir.filePath("err-" + subcommand), errorOutput);
}

void FakeLaunchd::hangOn(const QString& subcommand)
{
    writeFile(m_dir.filePath("hang-" + subcommand), {});
}

void FakeLaunchd::release()
{
    writeFile(m_dir.filePath("released"), {});
}

QString FakeLaunchd::file(int folder, const QString& fileName) const
{
    return m_folders.at(folder) + "/" + fileName;
}

void FakeLaunchd::writeDefinition(int folder, const QString& fileName, const QString& body)
{
    writeFile(file(folder, fileName),
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
