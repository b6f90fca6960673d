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
    writeFile(script,
              QStringLiteral("#!/bin/sh\n"
                             "dir='%1'\n"
                             "printf '%s\\n' \"$*\" >> \"$dir/calls.log\"\n"
                             "if [ \"$1\" = list ]; then cat \"$dir/table.txt\"; exit 0; fi\n"
                             "if [ -f \"$dir/fail-$1\" ]; then\n"
                             "  cat \"$dir/fail-$1\" >&2\n"
                             "  exit 3\n"
                             "fi\n"
                             "exit 0\n")
                  .arg(root)
                  .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setTable({});

    Platform::testing::setLaunchctlPath(script);
    Platform::testing::setLaunchdFolders(m_folders);
}

FakeLaunchd::~FakeLaunchd()
{
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

QString FakeLaunchd::writeDefinition(int folder, const QString& fileName, const QString& body)
{
    const QString path = m_folders.at(folder) + "/" + fileName;
    writeFile(path, plistXml(body).toUtf8());
    return path;
}

QStringList FakeLaunchd::calls() const
{
    QFile log(m_dir.filePath("calls.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int FakeLaunchd::listCount() const
{
    return int(calls().count(QStringLiteral("list")));
}

QString FakeLaunchd::plistXml(const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\"><dict>\n%1\n</dict></plist>\n")
        .arg(body);
}
